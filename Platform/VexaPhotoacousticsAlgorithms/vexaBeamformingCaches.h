#ifndef vexaBeamformingCaches_h
#define vexaBeamformingCaches_h

// What the beamforming kernel keeps from one call to the next: the plans of
// the last few geometries and the channel buffers of finished calls. Used
// inside this library only.

#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

namespace vexa
{
  /**
   * The plans of the last few geometries, most recent first, within a total
   * of `maxBytes` (the most recent plan is kept whatever its size) and at most
   * `maxPlans` of them.
   *
   * Plan is immutable once made and has a `key` (compared with ==) and its
   * size in `bytes`. Thread-safe: one mutex guards the list and is never held
   * while a plan is made, so a call of another geometry need not wait for one
   * being made; two calls that make the same plan at once both make it, and
   * the second one takes the first one's. A caller holds its own reference,
   * so an eviction never pulls a plan from under it. A plan that fails to be
   * made (its maker throws) leaves the cache as it was.
   */
  template <class Plan>
  class BeamformingPlanCache
  {
  public:
    BeamformingPlanCache(std::size_t maxPlans, std::size_t maxBytes) : m_MaxPlans(maxPlans), m_MaxBytes(maxBytes) {}

    /** The plan of `key`, made by `make()` (which returns a std::shared_ptr<const Plan>) when none is kept. */
    template <class Key, class Make>
    std::shared_ptr<const Plan> Get(const Key &key, Make make)
    {
      {
        std::lock_guard<std::mutex> lock(m_Mutex);
        for (auto it = m_Plans.begin(); it != m_Plans.end(); ++it)
          if ((*it)->key == key)
          {
            std::shared_ptr<const Plan> plan = *it;
            m_Plans.erase(it);
            m_Plans.insert(m_Plans.begin(), plan);
            return plan;
          }
      }
      std::shared_ptr<const Plan> plan = make();
      std::lock_guard<std::mutex> lock(m_Mutex);
      for (const auto &other : m_Plans)
        if (other->key == key)
          return other; // made by another thread meanwhile
      m_Plans.insert(m_Plans.begin(), plan);
      std::size_t total = 0;
      std::size_t keep = 0;
      for (; keep < m_Plans.size() && keep < m_MaxPlans; ++keep)
      {
        total += m_Plans[keep]->bytes;
        if (keep > 0 && total > m_MaxBytes)
          break;
      }
      m_Plans.resize(keep);
      return plan;
    }

  private:
    const std::size_t m_MaxPlans;
    const std::size_t m_MaxBytes;
    std::mutex m_Mutex;
    std::vector<std::shared_ptr<const Plan>> m_Plans;
  };

  /**
   * Float buffers handed back by finished calls, kept for the next ones: a
   * few at most (so that concurrent callers each find one), the oldest
   * dropped first. Thread-safe: one mutex guards the list; allocation and
   * freeing happen outside it.
   */
  class BeamformingBufferCache
  {
  public:
    struct Buffer
    {
      std::unique_ptr<float[]> data;
      std::size_t size = 0;
    };

    BeamformingBufferCache() { m_Free.reserve(MaxBuffers); }

    /** The one cache of the library. */
    static BeamformingBufferCache &Instance();

    /**
     * A kept buffer of at least `size` floats (and not much more, so that a
     * small call does not hold a large buffer), or a new one; its contents
     * are undefined. Throws std::bad_alloc when a new one cannot be had.
     */
    Buffer Take(std::size_t size);

    /** Keeps `buffer` for a later Take. Never throws (a loan gives its buffer back from its destructor). */
    void Give(Buffer buffer) noexcept;

  private:
    static constexpr std::size_t MaxBuffers = 4;
    std::mutex m_Mutex;
    std::vector<Buffer> m_Free;
  };

  /** A buffer of the library's cache for the length of a scope: given back at its end, also by an exception. */
  class BeamformingBufferLoan
  {
  public:
    explicit BeamformingBufferLoan(std::size_t size) : m_Buffer(BeamformingBufferCache::Instance().Take(size)) {}
    ~BeamformingBufferLoan() { BeamformingBufferCache::Instance().Give(std::move(m_Buffer)); }
    BeamformingBufferLoan(const BeamformingBufferLoan &) = delete;
    BeamformingBufferLoan &operator=(const BeamformingBufferLoan &) = delete;
    float *Get() const { return m_Buffer.data.get(); }

  private:
    BeamformingBufferCache::Buffer m_Buffer;
  };
}

#endif
