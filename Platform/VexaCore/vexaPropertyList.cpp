#include "vexaPropertyList.h"

namespace vexa
{
  PropertyList::PropertyList(const PropertyList &other) : itk::Object()
  {
    // a clone owns copies, so that changing one list's values leaves the other's
    for (const auto &entry : other.GetMap())
    {
      itk::LightObject::Pointer copy = entry.second->Clone();
      m_Properties[entry.first] = dynamic_cast<BaseProperty *>(copy.GetPointer());
    }
  }

  BaseProperty::Pointer PropertyList::GetProperty(const std::string &key) const
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    const auto it = m_Properties.find(key);
    return it == m_Properties.end() ? nullptr : it->second;
  }

  void PropertyList::SetProperty(const std::string &key, BaseProperty *property)
  {
    {
      std::lock_guard<std::mutex> lock(m_Mutex);
      if (property)
        m_Properties[key] = property;
      else
        m_Properties.erase(key);
    }
    Modified();
  }

  bool PropertyList::DeleteProperty(const std::string &key)
  {
    bool removed;
    {
      std::lock_guard<std::mutex> lock(m_Mutex);
      removed = m_Properties.erase(key) > 0;
    }
    if (removed)
      Modified();
    return removed;
  }

  PropertyList::PropertyMap PropertyList::GetMap() const
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_Properties;
  }

  bool PropertyList::IsEmpty() const
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_Properties.empty();
  }
}
