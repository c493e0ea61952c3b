#include "ctkServiceReference.h"

#include <cstdint>
#include <string>
#include <vector>

namespace
{
  template <typename T>
  bool Take(const us::Any &any, QVariant &out)
  {
    if (const T *value = us::any_cast<T>(&any))
    {
      out = QVariant::fromValue(*value);
      return true;
    }
    return false;
  }
}

QVariant ctkServiceReference::getProperty(const QString &key) const
{
  const us::Any any = m_Reference.GetProperty(key.toStdString());
  if (any.Empty())
    return QVariant();
  if (const std::string *text = us::any_cast<std::string>(&any))
    return QString::fromStdString(*text);
  if (const std::vector<std::string> *texts = us::any_cast<std::vector<std::string>>(&any))
  {
    QStringList list;
    for (const std::string &text : *texts)
      list << QString::fromStdString(text);
    return list;
  }
  QVariant value;
  if (Take<bool>(any, value) || Take<int>(any, value) || Take<unsigned int>(any, value) || Take<long>(any, value) ||
      Take<unsigned long>(any, value) || Take<long long>(any, value) || Take<unsigned long long>(any, value) ||
      Take<short>(any, value) || Take<unsigned short>(any, value) || Take<double>(any, value) ||
      Take<float>(any, value))
    return value;
  return QString::fromStdString(any.ToString());
}

QStringList ctkServiceReference::getPropertyKeys() const
{
  QStringList keys;
  for (const std::string &key : m_Reference.GetPropertyKeys())
    keys << QString::fromStdString(key);
  return keys;
}
