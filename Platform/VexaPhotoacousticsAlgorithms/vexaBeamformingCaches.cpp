#include "vexaBeamformingCaches.h"

vexa::BeamformingBufferCache &vexa::BeamformingBufferCache::Instance()
{
  static BeamformingBufferCache cache;
  return cache;
}

vexa::BeamformingBufferCache::Buffer vexa::BeamformingBufferCache::Take(std::size_t size)
{
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    for (auto it = m_Free.begin(); it != m_Free.end(); ++it)
      if (it->size >= size && it->size <= 2 * size + (1u << 20))
      {
        Buffer b = std::move(*it);
        m_Free.erase(it);
        return b;
      }
  }
  Buffer b;
  b.data.reset(new float[size]);
  b.size = size;
  return b;
}

void vexa::BeamformingBufferCache::Give(Buffer buffer) noexcept
{
  Buffer dropped; // freed after the lock is let go
  std::lock_guard<std::mutex> lock(m_Mutex);
  if (m_Free.size() >= MaxBuffers)
  {
    dropped = std::move(m_Free.front()); // the oldest
    m_Free.erase(m_Free.begin());
  }
  m_Free.push_back(std::move(buffer)); // within the capacity reserved at construction
}
