// The entry's compressed bytes as the deflate decoder pulls them, and the copy of stored
// entries. Both are bounded by CompressedRemaining and read the archive at its current
// position.
#pragma once

#include <cstdint>

namespace selfx {

// The byte source of one deflated entry: a 32,768-byte buffer, the next byte's position and
// the count of valid bytes. The buffer is allocated and released by DecodeDeflatedEntry.
struct CompressedInputState {
  std::uint8_t* buffer = nullptr;
  std::uint16_t position = 0;
  std::uint32_t fill = 0;
};
extern CompressedInputState CompressedInput;

void ResetInput();
// The next byte of the entry, decrypted; -1 once the entry's bytes are used up or the
// archive delivers no more.
int NextInputByte();

// Copies the rest of a stored entry to OutputFile in blocks of at most 32,768 bytes,
// decrypting and folding each block into RunningCrc.
void CopyStoredEntry();

}  // namespace selfx
