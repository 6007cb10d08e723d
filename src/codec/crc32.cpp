// CRC-32: a byte-wise table for the key schedule, carry-less multiplication for long runs where
// the processor has it, and slicing-by-16 for the rest of the data.
//
// The byte-wise loop costs a table lookup and a dependent shift per byte, which caps a stored
// entry's copy at a few hundred MB/s. Slicing-by-16 folds sixteen bytes per step through
// sixteen tables: table t holds the CRC of byte i followed by t zero bytes, so the lookups of
// one step are independent of each other and only the final XOR depends on the register. The
// register's arithmetic is linear over GF(2), which is why the result is bit-identical to the
// byte-wise loop.
//
// Slicing still spends sixteen table lookups per sixteen bytes. With PCLMULQDQ the register's
// remainder is carried forward over 64 bytes at a time by multiplying with x^n mod P, four
// 128-bit lanes side by side, and only the last 128 bits are reduced to 32 (Barrett). That is
// the same polynomial arithmetic, so the result is the same bits again; the instruction is
// checked for once at start-up, and the table path stays for processors without it.
#include "codec/crc32.h"

#include <cstddef>
#include <cstring>

#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
#include <cpuid.h>
#include <immintrin.h>
#define SELFX_CRC_CARRYLESS 1
#if defined(__x86_64__) && !defined(SELFX_COMPACT_DECODER)
// The 64-bit builds other than the stub's also carry a wide folding loop, for processors with
// VPCLMULQDQ on 512-bit registers.
#define SELFX_CRC_WIDE 1
#endif
#endif

namespace selfx {

std::uint32_t CrcTable[256];

namespace {

constexpr std::uint32_t kCrcPolynomial = 0xEDB88320;  // x^32 + x^26 + ... + 1, reflected
constexpr int kSlices = 16;

// SliceTable[0] is CrcTable; SliceTable[t][i] = CRC of byte i followed by t zero bytes.
std::uint32_t SliceTable[kSlices][256];

inline std::uint32_t LoadLittle32(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
         (static_cast<std::uint32_t>(bytes[2]) << 16) |
         (static_cast<std::uint32_t>(bytes[3]) << 24);
}

#ifdef SELFX_CRC_CARRYLESS
bool ProcessorHasCarryless() {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
  constexpr unsigned kPclmulqdq = 1u << 1, kSse41 = 1u << 19;
  return (ecx & kPclmulqdq) && (ecx & kSse41);
}

// Carries x 128 bits forward and adds the next 128 bits of data.
__attribute__((target("pclmul,sse4.1"))) inline __m128i FoldOnce(__m128i x, __m128i k,
                                                                 __m128i next) {
  return _mm_xor_si128(
      _mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11)), next);
}

// The last steps of a fold: x holds the 128 bits folded so far, count more bytes (a multiple
// of 16) follow at in; they are folded in 16 at a time, and the result reduced to the 32-bit
// register.
__attribute__((target("pclmul,sse4.1"))) std::uint32_t FinishCarryless(__m128i x1,
                                                                       const __m128i* in,
                                                                       std::size_t count) {
  const __m128i k3k4 = _mm_set_epi64x(0x00ccaa009e, 0x01751997d0);
  const __m128i k5 = _mm_set_epi64x(0, 0x0163cd6124);
  const __m128i polynomial = _mm_set_epi64x(0x01f7011641, 0x01db710641);
  const __m128i low32 = _mm_setr_epi32(~0, 0, ~0, 0);
  while (count >= 16) {
    x1 = FoldOnce(x1, k3k4, _mm_loadu_si128(in));
    ++in;
    count -= 16;
  }
  // 128 bits to 64, then Barrett's reduction to the 32-bit remainder.
  x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), _mm_clmulepi64_si128(x1, k3k4, 0x10));
  x1 = _mm_xor_si128(_mm_srli_si128(x1, 4),
                     _mm_clmulepi64_si128(_mm_and_si128(x1, low32), k5, 0x00));
  __m128i t = _mm_clmulepi64_si128(_mm_and_si128(x1, low32), polynomial, 0x10);
  t = _mm_clmulepi64_si128(_mm_and_si128(t, low32), polynomial, 0x00);
  return static_cast<std::uint32_t>(_mm_extract_epi32(_mm_xor_si128(x1, t), 1));
}

// Folds count bytes (a multiple of 16, at least 64) into the register. The constants are
// x^k mod P for the fold distances, bit-reflected and shifted as the reflected register
// wants them: 4x128 bits for the four-lane loop, 128 bits for merging the lanes and for
// single steps, 64 bits for the last half, then P and floor(x^64 / P) for Barrett's
// reduction.
__attribute__((target("pclmul,sse4.1"))) std::uint32_t FoldCarryless(const std::uint8_t* p,
                                                                     std::size_t count,
                                                                     std::uint32_t crc) {
  const __m128i k1k2 = _mm_set_epi64x(0x01c6e41596, 0x0154442bd4);
  const __m128i k3k4 = _mm_set_epi64x(0x00ccaa009e, 0x01751997d0);
  const __m128i* in = reinterpret_cast<const __m128i*>(p);

  __m128i x1 = _mm_xor_si128(_mm_loadu_si128(in), _mm_cvtsi32_si128(static_cast<int>(crc)));
  __m128i x2 = _mm_loadu_si128(in + 1);
  __m128i x3 = _mm_loadu_si128(in + 2);
  __m128i x4 = _mm_loadu_si128(in + 3);
  in += 4;
  count -= 64;
  while (count >= 64) {
    __m128i h1 = _mm_clmulepi64_si128(x1, k1k2, 0x11);
    __m128i h2 = _mm_clmulepi64_si128(x2, k1k2, 0x11);
    __m128i h3 = _mm_clmulepi64_si128(x3, k1k2, 0x11);
    __m128i h4 = _mm_clmulepi64_si128(x4, k1k2, 0x11);
    x1 = _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x1, k1k2, 0x00), h1),
                       _mm_loadu_si128(in));
    x2 = _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x2, k1k2, 0x00), h2),
                       _mm_loadu_si128(in + 1));
    x3 = _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x3, k1k2, 0x00), h3),
                       _mm_loadu_si128(in + 2));
    x4 = _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x4, k1k2, 0x00), h4),
                       _mm_loadu_si128(in + 3));
    in += 4;
    count -= 64;
  }
  // The four lanes into one, then the remaining 16-byte blocks.
  x1 = FoldOnce(x1, k3k4, x2);
  x1 = FoldOnce(x1, k3k4, x3);
  x1 = FoldOnce(x1, k3k4, x4);
  return FinishCarryless(x1, in, count);
}

#ifdef SELFX_CRC_WIDE
bool ProcessorHasWideCarryless() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("vpclmulqdq") && __builtin_cpu_supports("avx512f");
}

// Four 512-bit registers of four 128-bit lanes each: sixteen lanes side by side, 256 bytes a
// step, each lane carried forward by x^2048 mod P. Then the registers into one (x^512), its
// four lanes into one (x^384, x^256, x^128 for the first three), and the 128-bit steps finish.
// The same polynomial arithmetic as FoldCarryless, with the constants for these distances.
__attribute__((target("vpclmulqdq,avx512f,pclmul,sse4.1"))) inline __m512i FoldWide(__m512i x,
                                                                                    __m512i k,
                                                                                    __m512i next) {
  return _mm512_ternarylogic_epi64(_mm512_clmulepi64_epi128(x, k, 0x00),
                                   _mm512_clmulepi64_epi128(x, k, 0x11), next, 0x96);
}

__attribute__((target("pclmul,sse4.1"))) inline __m128i FoldLane(__m128i x, __m128i k) {
  return _mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11));
}

// Folds count bytes (a multiple of 16, at least 256) into the register.
__attribute__((target("vpclmulqdq,avx512f,pclmul,sse4.1"))) std::uint32_t FoldCarrylessWide(
    const std::uint8_t* p, std::size_t count, std::uint32_t crc) {
  // Each lane's constant pair, high half first as _mm512_set_epi64 takes them.
  const __m512i k2048 = _mm512_set_epi64(0x01322d1430, 0x011542778a, 0x01322d1430, 0x011542778a,
                                         0x01322d1430, 0x011542778a, 0x01322d1430, 0x011542778a);
  const __m512i k512 = _mm512_set_epi64(0x01c6e41596, 0x0154442bd4, 0x01c6e41596, 0x0154442bd4,
                                        0x01c6e41596, 0x0154442bd4, 0x01c6e41596, 0x0154442bd4);
  const __m128i k384 = _mm_set_epi64x(0x0174359406, 0x003db1ecdc);
  const __m128i k256 = _mm_set_epi64x(0x015a546366, 0x00f1da05aa);
  const __m128i k128 = _mm_set_epi64x(0x00ccaa009e, 0x01751997d0);

  __m512i x0 = _mm512_xor_si512(_mm512_loadu_si512(p), _mm512_set_epi64(0, 0, 0, 0, 0, 0, 0, crc));
  __m512i x1 = _mm512_loadu_si512(p + 64);
  __m512i x2 = _mm512_loadu_si512(p + 128);
  __m512i x3 = _mm512_loadu_si512(p + 192);
  p += 256;
  count -= 256;
  while (count >= 256) {
    x0 = FoldWide(x0, k2048, _mm512_loadu_si512(p));
    x1 = FoldWide(x1, k2048, _mm512_loadu_si512(p + 64));
    x2 = FoldWide(x2, k2048, _mm512_loadu_si512(p + 128));
    x3 = FoldWide(x3, k2048, _mm512_loadu_si512(p + 192));
    p += 256;
    count -= 256;
  }
  x0 = FoldWide(x0, k512, x1);
  x0 = FoldWide(x0, k512, x2);
  x0 = FoldWide(x0, k512, x3);
  while (count >= 64) {
    x0 = FoldWide(x0, k512, _mm512_loadu_si512(p));
    p += 64;
    count -= 64;
  }
  // The lanes through memory: GCC 12's lane extractions warn of an uninitialised operand.
  alignas(64) __m128i lanes[4];
  _mm512_store_si512(lanes, x0);
  __m128i x = _mm_xor_si128(_mm_xor_si128(FoldLane(lanes[0], k384), FoldLane(lanes[1], k256)),
                            _mm_xor_si128(FoldLane(lanes[2], k128), lanes[3]));
  return FinishCarryless(x, reinterpret_cast<const __m128i*>(p), count);
}
#endif
#endif

bool carryless_available = false;
bool wide_carryless_available = false;

}  // namespace

bool UseCarrylessCrc = false;
bool UseWideCarrylessCrc = false;

bool CarrylessCrcAvailable() { return carryless_available; }
bool WideCarrylessCrcAvailable() { return wide_carryless_available; }

void BuildCrcTable() {
#ifdef SELFX_CRC_CARRYLESS
  carryless_available = ProcessorHasCarryless();
#endif
#ifdef SELFX_CRC_WIDE
  wide_carryless_available = carryless_available && ProcessorHasWideCarryless();
#endif
  UseCarrylessCrc = carryless_available;
  UseWideCarrylessCrc = wide_carryless_available;
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t c = i;
    for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? (c >> 1) ^ kCrcPolynomial : c >> 1;
    CrcTable[i] = c;
    SliceTable[0][i] = c;
  }
  for (int t = 1; t < kSlices; ++t) {
    for (int i = 0; i < 256; ++i) {
      std::uint32_t previous = SliceTable[t - 1][i];
      SliceTable[t][i] = CrcTable[previous & 0xFF] ^ (previous >> 8);
    }
  }
}

void UpdateCrcBytewise(const std::uint8_t* buffer, std::int32_t count, std::uint32_t& crc) {
  std::uint32_t c = crc;
  for (std::int32_t i = 0; i < count; ++i) c = CrcStep(buffer[i], c);
  crc = c;
}

void UpdateCrc(const std::uint8_t* buffer, std::int32_t count, std::uint32_t& crc) {
  if (count <= 0) return;
  std::uint32_t c = crc;
  std::size_t left = static_cast<std::size_t>(count);
  const std::uint8_t* p = buffer;
#ifdef SELFX_CRC_CARRYLESS
  if (UseCarrylessCrc && left >= 64) {
    std::size_t folded = left & ~static_cast<std::size_t>(15);
#ifdef SELFX_CRC_WIDE
    if (UseWideCarrylessCrc && folded >= 256)
      c = FoldCarrylessWide(p, folded, c);
    else
#endif
      c = FoldCarryless(p, folded, c);
    p += folded;
    left -= folded;
  }
#endif
  while (left >= kSlices) {
    // The register meets the first four bytes; the other twelve enter with no register bits
    // left to mix, so they go through the tables of fewer trailing zeros.
    std::uint32_t w0 = LoadLittle32(p) ^ c;
    std::uint32_t w1 = LoadLittle32(p + 4);
    std::uint32_t w2 = LoadLittle32(p + 8);
    std::uint32_t w3 = LoadLittle32(p + 12);
    c = SliceTable[15][w0 & 0xFF] ^ SliceTable[14][(w0 >> 8) & 0xFF] ^
        SliceTable[13][(w0 >> 16) & 0xFF] ^ SliceTable[12][w0 >> 24] ^ SliceTable[11][w1 & 0xFF] ^
        SliceTable[10][(w1 >> 8) & 0xFF] ^ SliceTable[9][(w1 >> 16) & 0xFF] ^
        SliceTable[8][w1 >> 24] ^ SliceTable[7][w2 & 0xFF] ^ SliceTable[6][(w2 >> 8) & 0xFF] ^
        SliceTable[5][(w2 >> 16) & 0xFF] ^ SliceTable[4][w2 >> 24] ^ SliceTable[3][w3 & 0xFF] ^
        SliceTable[2][(w3 >> 8) & 0xFF] ^ SliceTable[1][(w3 >> 16) & 0xFF] ^
        SliceTable[0][w3 >> 24];
    p += kSlices;
    left -= kSlices;
  }
  while (left-- > 0) c = CrcStep(*p++, c);
  crc = c;
}

}  // namespace selfx
