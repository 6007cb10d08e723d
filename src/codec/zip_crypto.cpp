// Traditional PKWARE decryption (ZIP application note, section 6.1).
#include "codec/zip_crypto.h"

#include "codec/crc32.h"

namespace selfx {

namespace {

constexpr std::uint32_t kKeyMultiplier = 134775813;  // 0x08088405, the note's LCG factor
static_assert(kKeyMultiplier == 0x08088405);
// Flag bit 3: sizes and CRC follow the data in a descriptor, so the writer could not know the
// CRC when it wrote the header and put the DOS time's high byte in the check byte instead.
constexpr std::uint16_t kFlagDataDescriptor = 0x0008;

}  // namespace

void InitKeys(ZipKeys& keys, const std::string& password) {
  keys.key0 = 0x12345678;
  keys.key1 = 0x23456789;
  keys.key2 = 0x34567890;
  for (char c : password) UpdateKeys(keys, static_cast<std::uint8_t>(c));
}

void UpdateKeys(ZipKeys& keys, std::uint8_t plain) {
  keys.key0 = CrcStep(plain, keys.key0);
  keys.key1 = (keys.key1 + (keys.key0 & 0xFF)) * kKeyMultiplier + 1;
  keys.key2 = CrcStep(static_cast<std::uint8_t>(keys.key1 >> 24), keys.key2);
}

std::uint8_t KeystreamByte(const ZipKeys& keys) {
  // t has 16 bits, but the product t × (t xor 1) needs 32 before its second byte is taken.
  std::uint32_t t = (keys.key2 & 0xFFFF) | 2;
  return static_cast<std::uint8_t>((t * (t ^ 1)) >> 8);
}

void DecryptBuffer(ZipKeys& keys, std::uint8_t* buffer, std::uint32_t count) {
  // The keys live in locals for the loop; the keystream byte is always taken before the keys
  // advance, and they advance with the plaintext, never the ciphertext.
  std::uint32_t key0 = keys.key0;
  std::uint32_t key1 = keys.key1;
  std::uint32_t key2 = keys.key2;
  for (std::uint32_t i = 0; i < count; ++i) {
    std::uint32_t t = (key2 & 0xFFFF) | 2;
    std::uint8_t plain = static_cast<std::uint8_t>(buffer[i] ^ ((t * (t ^ 1)) >> 8));
    buffer[i] = plain;
    key0 = CrcStep(plain, key0);
    key1 = (key1 + (key0 & 0xFF)) * kKeyMultiplier + 1;
    key2 = CrcStep(static_cast<std::uint8_t>(key1 >> 24), key2);
  }
  keys.key0 = key0;
  keys.key1 = key1;
  keys.key2 = key2;
}

bool CheckEncryptionHeader(ZipKeys& keys, std::uint8_t* work, std::uint8_t n, std::uint16_t flags,
                           std::uint32_t crc, std::uint16_t time, const std::string& password) {
  if (password.empty()) return false;  // refused without touching the keys
  InitKeys(keys, password);
  for (int i = 0; i < n; ++i) {
    std::uint8_t plain = static_cast<std::uint8_t>(work[n + i] ^ KeystreamByte(keys));
    UpdateKeys(keys, plain);
    work[i] = plain;
  }
  if (n == 0) return false;
  std::uint8_t check = (flags & kFlagDataDescriptor) ? static_cast<std::uint8_t>(time >> 8)
                                                     : static_cast<std::uint8_t>(crc >> 24);
  return work[n - 1] == check;
}

}  // namespace selfx
