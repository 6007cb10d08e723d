// CRC-32: a byte-wise table for the key schedule, and slicing-by-16 for the bulk of the data.
//
// The byte-wise loop costs a table lookup and a dependent shift per byte, which caps a stored
// entry's copy at a few hundred MB/s. Slicing-by-16 folds sixteen bytes per step through
// sixteen tables: table t holds the CRC of byte i followed by t zero bytes, so the lookups of
// one step are independent of each other and only the final XOR depends on the register. The
// register's arithmetic is linear over GF(2), which is why the result is bit-identical to the
// byte-wise loop.
#include "codec/crc32.h"

#include <cstddef>
#include <cstring>

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

}  // namespace

void BuildCrcTable() {
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
  while (left >= kSlices) {
    // The register meets the first four bytes; the other twelve enter with no register bits
    // left to mix, so they go through the tables of fewer trailing zeros.
    std::uint32_t w0 = LoadLittle32(p) ^ c;
    std::uint32_t w1 = LoadLittle32(p + 4);
    std::uint32_t w2 = LoadLittle32(p + 8);
    std::uint32_t w3 = LoadLittle32(p + 12);
    c = SliceTable[15][w0 & 0xFF] ^ SliceTable[14][(w0 >> 8) & 0xFF] ^
        SliceTable[13][(w0 >> 16) & 0xFF] ^ SliceTable[12][w0 >> 24] ^
        SliceTable[11][w1 & 0xFF] ^ SliceTable[10][(w1 >> 8) & 0xFF] ^
        SliceTable[9][(w1 >> 16) & 0xFF] ^ SliceTable[8][w1 >> 24] ^
        SliceTable[7][w2 & 0xFF] ^ SliceTable[6][(w2 >> 8) & 0xFF] ^
        SliceTable[5][(w2 >> 16) & 0xFF] ^ SliceTable[4][w2 >> 24] ^
        SliceTable[3][w3 & 0xFF] ^ SliceTable[2][(w3 >> 8) & 0xFF] ^
        SliceTable[1][(w3 >> 16) & 0xFF] ^ SliceTable[0][w3 >> 24];
    p += kSlices;
    left -= kSlices;
  }
  while (left-- > 0) c = CrcStep(*p++, c);
  crc = c;
}

}  // namespace selfx
