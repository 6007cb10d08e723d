// The entry's compressed bytes as the deflate decoder pulls them: read from the input source in
// blocks, bounded by the entry's compressed size, decrypted when the entry is encrypted.
#pragma once

#include <cstdint>

#include "base/per_thread.h"
#include "codec/stream.h"

namespace selfx {

// The byte source of one deflated entry: where its bytes come from, how many of them have not
// been handed out yet, whether they are decrypted, and a 32,768-byte buffer with the next
// byte's position and the count of valid bytes. The buffer is allocated and released by
// DecodeDeflatedEntry.
struct CompressedInputState {
  RawInputSource source = nullptr;
  // Signed: an encrypted entry smaller than its 12-byte header starts below zero.
  std::int32_t remaining = 0;
  bool encrypted = false;
  std::uint8_t* buffer = nullptr;
  std::uint16_t position = 0;
  std::uint32_t fill = 0;
};
extern SELFX_PER_THREAD CompressedInputState CompressedInput;

// Starts the input of an entry of size compressed bytes (less its encryption header) with an
// empty buffer. For an encrypted entry the decryption keys must be primed already.
void StartInput(RawInputSource source, std::int32_t size, bool encrypted);

// The next byte of the entry, decrypted; -1 once the entry's bytes are used up or the source
// delivers no more.
int NextInputByte();

}  // namespace selfx
