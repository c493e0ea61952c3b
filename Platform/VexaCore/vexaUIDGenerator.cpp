#include "vexaUIDGenerator.h"

#include <array>

vexa::UIDGenerator::UIDGenerator(const char *prefix, unsigned int lengthOfRandomPart)
  : m_Prefix(prefix ? prefix : ""), m_LengthOfRandomPart(lengthOfRandomPart)
{
  std::random_device device;
  std::seed_seq seed{device(), device(), device(), device()};
  m_Engine.seed(seed);
}

std::string vexa::UIDGenerator::GetUID()
{
  static const char alphabet[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  std::uniform_int_distribution<int> pick(0, static_cast<int>(sizeof(alphabet)) - 2);
  std::string uid = m_Prefix;
  uid.reserve(m_Prefix.size() + m_LengthOfRandomPart);
  for (unsigned int i = 0; i < m_LengthOfRandomPart; ++i)
    uid.push_back(alphabet[pick(m_Engine)]);
  return uid;
}
