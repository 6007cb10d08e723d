#include "archive/stored_copy.h"

#include <algorithm>
#include <cstdint>
#include <memory>

#include "archive/archive_file.h"
#include "archive/extraction_state.h"
#include "base/fatal_error.h"
#include "codec/deflate_format.h"
#include "codec/zip_crypto.h"

namespace selfx {

bool CopyStoredBytes(const InputSource& source, const OutputSink& sink) {
  if (CompressedRemaining <= 0) return true;  // an empty file; also an encrypted entry < 12 bytes
  std::uint32_t size = std::min(static_cast<std::uint32_t>(CompressedRemaining),
                                deflate::kInputBlockSize);
  std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[size]);
  while (CompressedRemaining > 0) {
    std::uint32_t n = std::min(static_cast<std::uint32_t>(CompressedRemaining),
                               deflate::kInputBlockSize);
    if (source.read(source.context, buffer.get(), n) != n) return false;
    CompressedRemaining -= static_cast<std::int32_t>(n);
    if (CurrentEntry.IsEncrypted()) DecryptBuffer(EntryKeys, buffer.get(), n);
    if (!sink.write(sink.context, buffer.get(), n)) return false;
  }
  return true;
}

void CopyStoredEntry() {
  if (!CopyStoredBytes(kArchiveSource, kOutputFileSink)) FatalError(kCorruptMessage);
}

}  // namespace selfx
