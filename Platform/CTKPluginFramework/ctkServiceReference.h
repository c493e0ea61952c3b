#ifndef ctkServiceReference_h
#define ctkServiceReference_h

#include "CTKPluginFrameworkExports.h"

#include <usServiceReference.h>

#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QVariant>

/**
 * A service of the registry as plug-ins see it. Valid references stay
 * usable after the service went: they then convert to false and their
 * properties are those the service had last.
 */
class CTKPLUGINFRAMEWORK_EXPORT ctkServiceReference
{
public:
  ctkServiceReference() = default;
  explicit ctkServiceReference(const us::ServiceReferenceU &reference) : m_Reference(reference) {}

  /**
   * The property under `key` (case ignored) as a QVariant: texts as QString,
   * numbers and flags as their own type, lists of texts as QStringList, any
   * other value as its text; an invalid QVariant when there is none.
   */
  QVariant getProperty(const QString &key) const;
  QStringList getPropertyKeys() const;

  explicit operator bool() const { return static_cast<bool>(m_Reference); }
  bool operator==(const ctkServiceReference &other) const { return m_Reference == other.m_Reference; }
  bool operator!=(const ctkServiceReference &other) const { return !(*this == other); }
  bool operator<(const ctkServiceReference &other) const { return m_Reference < other.m_Reference; }

  /** The registry's reference underneath. */
  const us::ServiceReferenceU &GetUsReference() const { return m_Reference; }

private:
  us::ServiceReferenceU m_Reference;
};

Q_DECLARE_METATYPE(ctkServiceReference)

#endif
