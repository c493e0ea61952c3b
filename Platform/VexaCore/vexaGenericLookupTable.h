#ifndef vexaGenericLookupTable_h
#define vexaGenericLookupTable_h

#include "vexaException.h"

#include <map>
#include <ostream>

namespace vexa
{
  /** A table from identifiers to values of type T. */
  template <typename T>
  class GenericLookupTable
  {
  public:
    using IdentifierType = unsigned int;
    using ValueType = T;
    using LookupTableType = std::map<IdentifierType, ValueType>;

    void SetTableValue(IdentifierType id, const ValueType &value) { m_LookupTable[id] = value; }
    bool ValueExists(IdentifierType id) const { return m_LookupTable.find(id) != m_LookupTable.end(); }
    /** The value under id; vexa::Exception when there is none. */
    ValueType GetTableValue(IdentifierType id) const
    {
      const auto found = m_LookupTable.find(id);
      if (found == m_LookupTable.end())
        vexaThrow() << "The lookup table has no value for identifier " << id << ".";
      return found->second;
    }
    const LookupTableType &GetLookupTable() const { return m_LookupTable; }

    bool operator==(const GenericLookupTable &other) const { return m_LookupTable == other.m_LookupTable; }
    bool operator!=(const GenericLookupTable &other) const { return !(*this == other); }

  private:
    LookupTableType m_LookupTable;
  };

  /** "[id: value, id: value]" in identifier order. */
  template <typename T>
  std::ostream &operator<<(std::ostream &os, const GenericLookupTable<T> &table)
  {
    os << "[";
    bool first = true;
    for (const auto &entry : table.GetLookupTable())
    {
      if (!first)
        os << ", ";
      first = false;
      os << entry.first << ": " << entry.second;
    }
    return os << "]";
  }
}

#endif
