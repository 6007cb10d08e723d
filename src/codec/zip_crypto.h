// The traditional PKWARE encryption of the ZIP application note: three 32-bit keys, one
// keystream byte per data byte, and the one-byte password check of the 12-byte header.
#pragma once

#include <cstdint>
#include <string>

namespace selfx {

// The key state of one encrypted entry: set up by InitKeys (or CheckEncryptionHeader), advanced
// by every plaintext byte. Whoever decrypts or encrypts an entry keeps its own.
struct ZipKeys {
  std::uint32_t key0;
  std::uint32_t key1;
  std::uint32_t key2;
};

// The 12 bytes in front of an encrypted entry's data.
constexpr int kEncryptionHeaderSize = 12;

void InitKeys(ZipKeys& keys, const std::string& password);
void UpdateKeys(ZipKeys& keys, std::uint8_t plain);
std::uint8_t KeystreamByte(const ZipKeys& keys);
// Decrypts in place; the key state runs on from one call to the next.
void DecryptBuffer(ZipKeys& keys, std::uint8_t* buffer, std::uint32_t count);

// work: 2 × n bytes; bytes n..2n-1 hold the encrypted header as read and stay untouched,
// bytes 0..n-1 receive the decrypted header. True when the password is accepted; the keys
// are then ready for the entry's data. flags, crc and time come from the central directory.
// An empty password is refused without touching the keys.
bool CheckEncryptionHeader(ZipKeys& keys, std::uint8_t* work, std::uint8_t n, std::uint16_t flags,
                           std::uint32_t crc, std::uint16_t time, const std::string& password);

}  // namespace selfx
