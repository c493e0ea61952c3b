#ifndef vexaPropertyList_h
#define vexaPropertyList_h

#include "VexaCoreExports.h"

#include "vexaBaseProperty.h"

#include <vexaCommon.h>

#include <itkObject.h>

#include <map>
#include <mutex>
#include <string>

namespace vexa
{
  /**
   * A named set of properties of a datum or a process, by key.
   *
   * Thread-safe: any thread may set, replace, remove and read entries. The
   * list holds the property objects; a reader gets its own reference, so a
   * property replaced meanwhile stays valid for it. Writers that want
   * readers on other threads to see a consistent value replace the property
   * (SetProperty with a new object) instead of changing it in place.
   */
  class VEXACORE_EXPORT PropertyList : public itk::Object
  {
  public:
    vexaClassMacroItkParent(PropertyList, itk::Object);
    vexaNewMacro(PropertyList);

    using PropertyMap = std::map<std::string, BaseProperty::Pointer>;

    /** The property under `key`, or null. */
    BaseProperty::Pointer GetProperty(const std::string &key) const;

    /** Stores `property` under `key` (null removes the entry) and marks the list modified. */
    void SetProperty(const std::string &key, BaseProperty *property);

    /** Removes the entry; false when there was none. */
    bool DeleteProperty(const std::string &key);

    /** A copy of the entries (the properties themselves are shared). */
    PropertyMap GetMap() const;

    bool IsEmpty() const;

    /** The value of a property of type P under `key` into `value`; false (value untouched) when there is none of that type. */
    template <class P, class T>
    bool GetPropertyValue(const std::string &key, T &value) const
    {
      const BaseProperty::Pointer property = GetProperty(key);
      const auto *typed = dynamic_cast<const P *>(property.GetPointer());
      if (!typed)
        return false;
      value = typed->GetValue();
      return true;
    }

  protected:
    PropertyList() = default;
    PropertyList(const PropertyList &other);
    ~PropertyList() override = default;
    vexaCloneMacro(PropertyList);

  private:
    mutable std::mutex m_Mutex;
    PropertyMap m_Properties;
  };
}

#endif
