// The entry's compressed bytes as the deflate decoder pulls them: read from the input source in
// blocks, bounded by the entry's compressed size, decrypted when the entry is encrypted.
#pragma once

#include <cstdint>

#include "codec/stream.h"
#include "codec/zip_crypto.h"

namespace selfx {

// The byte source of one deflated entry: where its bytes come from, how many of them have not
// been handed out yet, the keys that decrypt them (none for an entry that is not encrypted),
// and a buffer of 32,768 bytes with the next byte's position and the count of valid bytes. The
// buffer belongs to whoever owns the input (the decoder's own, in an Inflater).
struct CompressedInput {
  InputSource source;
  // Signed: an encrypted entry smaller than its 12-byte header starts below zero.
  std::int32_t remaining;
  ZipKeys* keys;  // nullptr: not encrypted
  std::uint8_t* buffer;
  std::uint16_t position;
  std::uint32_t fill;
};

// Starts the input of an entry of size compressed bytes (less its encryption header) with an
// empty buffer; the buffer stays as it was set. For an encrypted entry the keys must be primed
// already (CheckEncryptionHeader); they run on with every byte read.
void StartInput(CompressedInput& input, const InputSource& source, std::int32_t size,
                ZipKeys* keys);

// The next byte of the entry, decrypted; -1 once the entry's bytes are used up or the source
// delivers no more.
int NextInputByte(CompressedInput& input);

}  // namespace selfx
