// The copy of a stored entry (method 0): its bytes straight from the archive to the output.
#pragma once

#include <cstdint>

#include "archive/extraction.h"
#include "codec/stream.h"
#include "codec/zip_crypto.h"

namespace selfx {

enum class StoredCopy : std::uint8_t {
  kCopied,
  kSourceEnded,  // the source gave out inside the entry
  kSinkRefused,  // the sink could not keep a block
};

// Copies remaining bytes from source to sink in blocks of at most 32,768 bytes, decrypting
// each block with keys when the entry is encrypted (keys not null), and counts remaining down.
// On a failure the blocks before it have reached the sink.
StoredCopy CopyStoredBytes(InputSource source, std::int32_t& remaining, ZipKeys* keys,
                           OutputSink sink);

// CopyStoredBytes of the current entry from the archive's position to the output file,
// folding the bytes into running_crc. False with the extraction's fault: "file is corrupt"
// when the archive ends inside the entry, "Cannot write to" when a write falls short.
bool CopyStoredEntry(Extraction& extraction);

}  // namespace selfx
