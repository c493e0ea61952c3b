#ifndef vexaSlotScratch_h
#define vexaSlotScratch_h

// Per-participant working buffers of the parallel kernels; used inside this
// library only.

#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

namespace vexa
{
  /**
   * Objects of type T kept across calls and lent out one per slot of a
   * parallel call (see ParallelForEachSlot), so that a steady stream of calls
   * allocates none and no thread-local storage ties them to threads. Taking
   * and giving back lock once per call. Thread-safe.
   */
  template <class T>
  class SlotScratch
  {
  public:
    class Loan
    {
    public:
      Loan(SlotScratch &owner, std::vector<std::unique_ptr<T>> objects) : m_Owner(owner), m_Objects(std::move(objects))
      {
      }
      ~Loan() { m_Owner.Give(std::move(m_Objects)); }
      Loan(const Loan &) = delete;
      Loan &operator=(const Loan &) = delete;
      T &operator[](unsigned int slot) const { return *m_Objects[slot]; }

    private:
      SlotScratch &m_Owner;
      std::vector<std::unique_ptr<T>> m_Objects;
    };

    /** Objects for `slots` participants (made when too few are kept). */
    std::unique_ptr<Loan> Take(unsigned int slots)
    {
      std::vector<std::unique_ptr<T>> objects;
      objects.reserve(slots);
      {
        std::lock_guard<std::mutex> lock(m_Mutex);
        while (objects.size() < slots && !m_Free.empty())
        {
          objects.push_back(std::move(m_Free.back()));
          m_Free.pop_back();
        }
      }
      while (objects.size() < slots)
        objects.emplace_back(new T());
      return std::unique_ptr<Loan>(new Loan(*this, std::move(objects)));
    }

  private:
    void Give(std::vector<std::unique_ptr<T>> objects)
    {
      std::lock_guard<std::mutex> lock(m_Mutex);
      for (auto &o : objects)
        if (m_Free.size() < MaxKept)
          m_Free.push_back(std::move(o));
    }

    // enough for a few concurrent callers on a large machine
    static constexpr std::size_t MaxKept = 256;
    std::mutex m_Mutex;
    std::vector<std::unique_ptr<T>> m_Free;
  };
}

#endif
