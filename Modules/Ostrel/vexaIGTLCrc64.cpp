#include "vexaIGTLCrc64.h"

#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <immintrin.h>
#define VEXA_IGTL_CRC64_CLMUL 1
#endif

// The CRC register R of a message M of n bits started from the value I is
// (I * x^n + M * x^64) mod P, polynomials over GF(2) with the first bit of M
// the highest coefficient. Both implementations compute exactly that.

namespace
{
  constexpr std::uint64_t Polynomial = 0x42F0E1EBA9EA3693ull; // P without its x^64 term
  constexpr std::uint64_t TopBit = std::uint64_t(1) << 63;

  /** x^k mod P. */
  constexpr std::uint64_t PowerOfX(unsigned k)
  {
    std::uint64_t r = 1;
    for (unsigned i = 0; i < k; ++i)
      r = (r & TopBit) ? (r << 1) ^ Polynomial : r << 1;
    return r;
  }

  /** table[k][b] = b * x^(64 + 8k) mod P: what byte b contributes from k bytes before the end of a word. */
  struct SliceTables
  {
    std::uint64_t table[8][256];
  };

  constexpr SliceTables MakeSliceTables()
  {
    SliceTables t{};
    for (unsigned b = 0; b < 256; ++b)
    {
      std::uint64_t r = std::uint64_t(b) << 56;
      for (int bit = 0; bit < 8; ++bit)
        r = (r & TopBit) ? (r << 1) ^ Polynomial : r << 1;
      t.table[0][b] = r;
    }
    for (unsigned k = 1; k < 8; ++k)
      for (unsigned b = 0; b < 256; ++b)
      {
        const std::uint64_t previous = t.table[k - 1][b];
        t.table[k][b] = t.table[0][previous >> 56] ^ (previous << 8);
      }
    return t;
  }

  constexpr SliceTables Tables = MakeSliceTables();

  inline std::uint64_t LoadBigEndian64(const unsigned char *p)
  {
    std::uint64_t v;
    std::memcpy(&v, p, sizeof(v));
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    v = __builtin_bswap64(v);
#endif
    return v;
  }

  std::uint64_t SliceBy8Bytes(const unsigned char *p, std::size_t length, std::uint64_t crc)
  {
    const auto &t = Tables.table;
    while (length >= 8)
    {
      const std::uint64_t v = crc ^ LoadBigEndian64(p);
      crc = t[7][v >> 56] ^ t[6][(v >> 48) & 0xff] ^ t[5][(v >> 40) & 0xff] ^ t[4][(v >> 32) & 0xff] ^
            t[3][(v >> 24) & 0xff] ^ t[2][(v >> 16) & 0xff] ^ t[1][(v >> 8) & 0xff] ^ t[0][v & 0xff];
      p += 8;
      length -= 8;
    }
    while (length-- > 0)
      crc = t[0][(crc >> 56) ^ *p++] ^ (crc << 8);
    return crc;
  }

#ifdef VEXA_IGTL_CRC64_CLMUL
  // Folding: a 128-bit part X = Xh * x^64 + Xl followed by D more bits is
  // congruent to Xh * (x^(D+64) mod P) + Xl * (x^D mod P), two 64 x 64-bit
  // carry-less products of 127 bits. Four parts of 16 bytes are folded over
  // 64 bytes at a time, then into one, then over the remaining 16-byte
  // blocks; the last 16 bytes of the fold and the tail go through the tables.
  // Bytes are reversed on loading, so that the first byte of a block is the
  // top of the 128-bit value, as the CRC reads it.

#define VEXA_CLMUL_TARGET __attribute__((target("pclmul,ssse3")))

  constexpr std::uint64_t XPow128 = PowerOfX(128);
  constexpr std::uint64_t XPow192 = PowerOfX(128 + 64);
  constexpr std::uint64_t XPow512 = PowerOfX(512);
  constexpr std::uint64_t XPow576 = PowerOfX(512 + 64);

  VEXA_CLMUL_TARGET inline __m128i ByteReversal()
  {
    return _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  }

  VEXA_CLMUL_TARGET inline __m128i LoadBlock(const unsigned char *p, __m128i reversal)
  {
    return _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p)), reversal);
  }

  VEXA_CLMUL_TARGET inline __m128i Fold(__m128i x, __m128i constants, __m128i next)
  {
    const __m128i high = _mm_clmulepi64_si128(x, constants, 0x11);
    const __m128i low = _mm_clmulepi64_si128(x, constants, 0x00);
    return _mm_xor_si128(_mm_xor_si128(high, low), next);
  }

  VEXA_CLMUL_TARGET std::uint64_t CarryLessBytes(const unsigned char *p, std::size_t length, std::uint64_t crc)
  {
    if (length < 128)
      return SliceBy8Bytes(p, length, crc);
    const __m128i reversal = ByteReversal();
    const __m128i over512 = _mm_set_epi64x(static_cast<long long>(XPow576), static_cast<long long>(XPow512));
    const __m128i over128 = _mm_set_epi64x(static_cast<long long>(XPow192), static_cast<long long>(XPow128));

    // The start value counts as if it stood over the first 8 bytes.
    __m128i x0 = _mm_xor_si128(LoadBlock(p, reversal), _mm_set_epi64x(static_cast<long long>(crc), 0));
    __m128i x1 = LoadBlock(p + 16, reversal);
    __m128i x2 = LoadBlock(p + 32, reversal);
    __m128i x3 = LoadBlock(p + 48, reversal);
    p += 64;
    length -= 64;
    while (length >= 64)
    {
      x0 = Fold(x0, over512, LoadBlock(p, reversal));
      x1 = Fold(x1, over512, LoadBlock(p + 16, reversal));
      x2 = Fold(x2, over512, LoadBlock(p + 32, reversal));
      x3 = Fold(x3, over512, LoadBlock(p + 48, reversal));
      p += 64;
      length -= 64;
    }
    __m128i x = Fold(x0, over128, x1);
    x = Fold(x, over128, x2);
    x = Fold(x, over128, x3);
    while (length >= 16)
    {
      x = Fold(x, over128, LoadBlock(p, reversal));
      p += 16;
      length -= 16;
    }
    unsigned char rest[16];
    _mm_storeu_si128(reinterpret_cast<__m128i *>(rest), _mm_shuffle_epi8(x, reversal));
    return SliceBy8Bytes(p, length, SliceBy8Bytes(rest, sizeof(rest), 0));
  }

  bool ProcessorHasCarryLessMultiply()
  {
    unsigned int a = 0, b = 0, c = 0, d = 0;
    if (__get_cpuid(1, &a, &b, &c, &d) == 0)
      return false;
    return (c & bit_PCLMUL) != 0 && (c & bit_SSSE3) != 0;
  }
#else
  bool ProcessorHasCarryLessMultiply() { return false; }
  std::uint64_t CarryLessBytes(const unsigned char *p, std::size_t length, std::uint64_t crc)
  {
    return SliceBy8Bytes(p, length, crc);
  }
#endif

  using Implementation = std::uint64_t (*)(const unsigned char *, std::size_t, std::uint64_t);

  Implementation Chosen()
  {
    static const Implementation chosen = ProcessorHasCarryLessMultiply() ? &CarryLessBytes : &SliceBy8Bytes;
    return chosen;
  }
}

namespace vexa
{
  std::uint64_t IGTLCrc64(const void *data, std::size_t length, std::uint64_t crc)
  {
    if (length == 0)
      return crc;
    return Chosen()(static_cast<const unsigned char *>(data), length, crc);
  }

  namespace IGTLCrc64Implementations
  {
    std::uint64_t SliceBy8(const void *data, std::size_t length, std::uint64_t crc)
    {
      return length == 0 ? crc : SliceBy8Bytes(static_cast<const unsigned char *>(data), length, crc);
    }

    bool HasCarryLessMultiply()
    {
      static const bool has = ProcessorHasCarryLessMultiply();
      return has;
    }

    std::uint64_t CarryLessMultiply(const void *data, std::size_t length, std::uint64_t crc)
    {
      if (length == 0)
        return crc;
      if (!HasCarryLessMultiply())
        return SliceBy8Bytes(static_cast<const unsigned char *>(data), length, crc);
      return CarryLessBytes(static_cast<const unsigned char *>(data), length, crc);
    }

    const char *InUse() { return Chosen() == &SliceBy8Bytes ? "slice-by-8" : "carry-less multiply"; }
  }
}
