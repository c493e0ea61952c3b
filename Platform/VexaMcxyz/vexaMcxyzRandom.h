#ifndef vexaMcxyzRandom_h
#define vexaMcxyzRandom_h

#include <cmath>
#include <cstdint>

namespace vexa
{
  namespace mcxyz
  {
    /**
     * The random stream of one transport thread: xoshiro256** (Blackman and
     * Vigna), a small, fast generator with a period of 2^256 - 1.
     *
     * Streams are made from a run seed and a stream number; the four state
     * words come from SplitMix64 over a mix of both, which is the seeding the
     * generator's authors recommend. Streams of different numbers therefore
     * start at unrelated points of the period, so threads never share numbers,
     * and a (seed, stream) pair always gives the same sequence.
     */
    class RandomStream
    {
    public:
      RandomStream(std::uint64_t seed, std::uint64_t streamNumber)
      {
        std::uint64_t sm = seed ^ (0xD1B54A32D192ED03ull * (streamNumber + 1));
        for (std::uint64_t &word : m_State)
          word = SplitMix64(sm);
      }

      std::uint64_t Next()
      {
        const std::uint64_t result = Rotl(m_State[1] * 5, 7) * 9;
        const std::uint64_t t = m_State[1] << 17;
        m_State[2] ^= m_State[0];
        m_State[3] ^= m_State[1];
        m_State[1] ^= m_State[2];
        m_State[0] ^= m_State[3];
        m_State[2] ^= t;
        m_State[3] = Rotl(m_State[3], 45);
        return result;
      }

      /** Uniform in (0, 1]: never 0, so that -log() of it is finite. */
      double UniformOpenClosed() { return static_cast<double>((Next() >> 11) + 1) * 0x1.0p-53; }

      /** Uniform in [0, 1). */
      double Uniform() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }

      static std::uint64_t SplitMix64(std::uint64_t &x)
      {
        std::uint64_t z = (x += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
      }

    private:
      static std::uint64_t Rotl(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }

      std::uint64_t m_State[4];
    };
  }
}

#endif
