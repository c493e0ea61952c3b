#ifndef vexaDataNode_h
#define vexaDataNode_h

#include "VexaCoreExports.h"

#include "vexaBaseData.h"
#include "vexaLevelWindow.h"
#include "vexaPropertyList.h"

#include <vexaCommon.h>
#include <vexaEventMacro.h>

#include <itkDataObject.h>

#include <mutex>
#include <string>

namespace vexa
{
  class BaseRenderer
  {
  public:
    vexaEventMacro(RendererResetEvent, itk::AnyEvent);
  };

  /**
   * One entry of the data storage: a datum with its properties ("name",
   * "visible", "levelwindow", ...). There are no per-renderer property
   * lists: the renderer arguments of the toolkit's signatures are accepted
   * and ignored.
   *
   * Thread-safe for what worker threads do with a node: reading and setting
   * the data and the properties. Setters replace the stored property object,
   * so a reader never sees a value half written. Modified events (ITK's
   * observers) are fired on the setting thread; observe them only from the
   * thread that changes the node.
   */
  class VEXACORE_EXPORT DataNode : public itk::DataObject
  {
  public:
    vexaClassMacroItkParent(DataNode, itk::DataObject);
    vexaNewMacro(DataNode);

    vexaEventMacro(InteractorChangedEvent, itk::AnyEvent);

    BaseData::Pointer GetData() const;
    /** Makes `data` the node's datum (null empties the node) and marks the node modified when it changed. */
    virtual void SetData(BaseData *data);

    /** The node's own properties (never null). */
    PropertyList::Pointer GetPropertyList(const BaseRenderer *renderer = nullptr) const;

    BaseProperty::Pointer GetProperty(const char *key, const BaseRenderer *renderer = nullptr) const;
    void SetProperty(const char *key, BaseProperty *property, const BaseRenderer *renderer = nullptr);

    void SetStringProperty(const char *key, const std::string &value, const BaseRenderer *renderer = nullptr);
    void SetBoolProperty(const char *key, bool value, const BaseRenderer *renderer = nullptr);
    void SetIntProperty(const char *key, int value, const BaseRenderer *renderer = nullptr);
    void SetFloatProperty(const char *key, float value, const BaseRenderer *renderer = nullptr);
    void SetDoubleProperty(const char *key, double value, const BaseRenderer *renderer = nullptr);

    /** Each getter: false (value untouched) when there is no property of that kind under the key. */
    bool GetStringProperty(const char *key, std::string &value, const BaseRenderer *renderer = nullptr) const;
    bool GetBoolProperty(const char *key, bool &value, const BaseRenderer *renderer = nullptr) const;
    bool GetIntProperty(const char *key, int &value, const BaseRenderer *renderer = nullptr) const;
    bool GetFloatProperty(const char *key, float &value, const BaseRenderer *renderer = nullptr) const;
    bool GetDoubleProperty(const char *key, double &value, const BaseRenderer *renderer = nullptr) const;

    /** The "name" property; the name of a node without one is "No Name!". */
    bool GetName(std::string &name, const BaseRenderer *renderer = nullptr, const char *key = "name") const;
    std::string GetName() const;
    void SetName(const std::string &name);
    void SetName(const char *name);

    /** The "visible" property; a node without one is visible. */
    bool IsVisible(const BaseRenderer *renderer = nullptr, const char *key = "visible") const;
    void SetVisibility(bool visible, const BaseRenderer *renderer = nullptr, const char *key = "visible");

    bool GetLevelWindow(LevelWindow &levelWindow,
                        const BaseRenderer *renderer = nullptr,
                        const char *key = "levelwindow") const;
    void SetLevelWindow(const LevelWindow &levelWindow,
                        const BaseRenderer *renderer = nullptr,
                        const char *key = "levelwindow");

    /** Newest of the node's, its properties' and its datum's modification times. */
    itk::ModifiedTimeType GetMTime() const override;

  protected:
    DataNode();
    DataNode(const DataNode &other);
    ~DataNode() override;
    vexaCloneMacro(DataNode);

  private:
    mutable std::mutex m_DataMutex;
    BaseData::Pointer m_Data;
    const PropertyList::Pointer m_Properties;
  };
}

#endif
