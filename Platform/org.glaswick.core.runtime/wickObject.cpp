#include "wickObject.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace
{
  std::atomic<long> g_LiveObjects{0};
}

namespace wick
{
  Object::Object() { ++g_LiveObjects; }
  Object::Object(const Object &) { ++g_LiveObjects; }
  Object::~Object() { --g_LiveObjects; }

  void *Object::operator new(std::size_t size) { return ::operator new(size); }
  void Object::operator delete(void *object) noexcept { ::operator delete(object); }

  long Object::GetNumberOfLiveObjects() { return g_LiveObjects.load(); }
}
