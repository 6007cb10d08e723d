// The traditional PKWARE encryption of the ZIP application note: three 32-bit keys, one
// keystream byte per data byte, and the one-byte password check of the 12-byte header.
#pragma once

#include <cstdint>
#include <string>

#include "base/per_thread.h"
namespace selfx {

struct ZipDecryptorState {
  std::uint32_t key0 = 0;
  std::uint32_t key1 = 0;
  std::uint32_t key2 = 0;
};
// The one decryption state of the process: set up by CheckEncryptionHeader, advanced by every
// byte DecryptBuffer decrypts afterwards.
extern SELFX_PER_THREAD ZipDecryptorState ZipDecryptor;

// The 12 bytes in front of an encrypted entry's data.
constexpr int kEncryptionHeaderSize = 12;

// SHIM
struct ZipKeys {
  std::uint32_t key0, key1, key2;
};
void DecryptBuffer(ZipKeys& keys, std::uint8_t* buffer, std::uint32_t count);
bool CheckEncryptionHeader(ZipKeys& keys, std::uint8_t* work, std::uint8_t n, std::uint16_t flags,
                           std::uint32_t crc, std::uint16_t time, const std::string& password);
void InitKeys(const std::string& password);
void UpdateKeys(std::uint8_t plain);
std::uint8_t KeystreamByte();
// Decrypts in place; the key state runs on from one call to the next.
void DecryptBuffer(std::uint8_t* buffer, std::uint32_t count);

// work: 2 × n bytes; bytes n..2n-1 hold the encrypted header as read and stay untouched,
// bytes 0..n-1 receive the decrypted header. True when the password is accepted; the keys
// are then ready for the entry's data. flags, crc and time come from the central directory.
bool CheckEncryptionHeader(std::uint8_t* work, std::uint8_t n, std::uint16_t flags,
                           std::uint32_t crc, std::uint16_t time, const std::string& password);

}  // namespace selfx
