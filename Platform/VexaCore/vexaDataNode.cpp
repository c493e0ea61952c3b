#include "vexaDataNode.h"

#include "vexaProperties.h"

#include <algorithm>

namespace vexa
{
  DataNode::DataNode() : m_Properties(PropertyList::New()) {}

  DataNode::DataNode(const DataNode &other)
    : itk::DataObject(), m_Data(other.GetData()), m_Properties(other.m_Properties->Clone())
  {
  }

  DataNode::~DataNode() = default;

  BaseData::Pointer DataNode::GetData() const
  {
    std::lock_guard<std::mutex> lock(m_DataMutex);
    return m_Data;
  }

  void DataNode::SetData(BaseData *data)
  {
    BaseData::Pointer previous;
    {
      std::lock_guard<std::mutex> lock(m_DataMutex);
      if (m_Data.GetPointer() == data)
        return;
      previous = m_Data; // released after the lock
      m_Data = data;
    }
    Modified();
  }

  PropertyList::Pointer DataNode::GetPropertyList(const BaseRenderer *) const { return m_Properties; }

  BaseProperty::Pointer DataNode::GetProperty(const char *key, const BaseRenderer *) const
  {
    return key ? m_Properties->GetProperty(key) : nullptr;
  }

  void DataNode::SetProperty(const char *key, BaseProperty *property, const BaseRenderer *)
  {
    if (!key)
      return;
    m_Properties->SetProperty(key, property);
    Modified();
  }

  void DataNode::SetStringProperty(const char *key, const std::string &value, const BaseRenderer *renderer)
  {
    SetProperty(key, StringProperty::New(value), renderer);
  }

  void DataNode::SetBoolProperty(const char *key, bool value, const BaseRenderer *renderer)
  {
    SetProperty(key, BoolProperty::New(value), renderer);
  }

  void DataNode::SetIntProperty(const char *key, int value, const BaseRenderer *renderer)
  {
    SetProperty(key, IntProperty::New(value), renderer);
  }

  void DataNode::SetFloatProperty(const char *key, float value, const BaseRenderer *renderer)
  {
    SetProperty(key, FloatProperty::New(value), renderer);
  }

  void DataNode::SetDoubleProperty(const char *key, double value, const BaseRenderer *renderer)
  {
    SetProperty(key, DoubleProperty::New(value), renderer);
  }

  bool DataNode::GetStringProperty(const char *key, std::string &value, const BaseRenderer *) const
  {
    return key && m_Properties->GetPropertyValue<StringProperty>(key, value);
  }

  bool DataNode::GetBoolProperty(const char *key, bool &value, const BaseRenderer *) const
  {
    return key && m_Properties->GetPropertyValue<BoolProperty>(key, value);
  }

  bool DataNode::GetIntProperty(const char *key, int &value, const BaseRenderer *) const
  {
    return key && m_Properties->GetPropertyValue<IntProperty>(key, value);
  }

  bool DataNode::GetFloatProperty(const char *key, float &value, const BaseRenderer *) const
  {
    return key && m_Properties->GetPropertyValue<FloatProperty>(key, value);
  }

  bool DataNode::GetDoubleProperty(const char *key, double &value, const BaseRenderer *) const
  {
    return key && m_Properties->GetPropertyValue<DoubleProperty>(key, value);
  }

  bool DataNode::GetName(std::string &name, const BaseRenderer *renderer, const char *key) const
  {
    return GetStringProperty(key, name, renderer);
  }

  std::string DataNode::GetName() const
  {
    std::string name = "No Name!";
    GetName(name);
    return name;
  }

  void DataNode::SetName(const std::string &name) { SetStringProperty("name", name); }

  void DataNode::SetName(const char *name) { SetStringProperty("name", name ? name : ""); }

  bool DataNode::IsVisible(const BaseRenderer *renderer, const char *key) const
  {
    bool visible = true;
    GetBoolProperty(key, visible, renderer);
    return visible;
  }

  void DataNode::SetVisibility(bool visible, const BaseRenderer *renderer, const char *key)
  {
    SetBoolProperty(key, visible, renderer);
  }

  bool DataNode::GetLevelWindow(LevelWindow &levelWindow, const BaseRenderer *, const char *key) const
  {
    return key && m_Properties->GetPropertyValue<LevelWindowProperty>(key, levelWindow);
  }

  void DataNode::SetLevelWindow(const LevelWindow &levelWindow, const BaseRenderer *renderer, const char *key)
  {
    SetProperty(key, LevelWindowProperty::New(levelWindow), renderer);
  }

  itk::ModifiedTimeType DataNode::GetMTime() const
  {
    itk::ModifiedTimeType time = std::max(Superclass::GetMTime(), m_Properties->GetMTime());
    if (const BaseData::Pointer data = GetData())
      time = std::max(time, data->GetMTime());
    return time;
  }
}
