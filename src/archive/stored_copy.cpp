#include "archive/stored_copy.h"

#include <algorithm>
#include <memory>

#include "codec/deflate_format.h"

namespace selfx {

StoredCopy CopyStoredBytes(InputSource source, std::int32_t& remaining, ZipKeys* keys,
                           OutputSink sink) {
  if (remaining <= 0) return StoredCopy::kCopied;  // empty; also an encrypted entry < 12 bytes
  std::uint32_t size = std::min(static_cast<std::uint32_t>(remaining), deflate::kInputBlockSize);
  std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[size]);
  while (remaining > 0) {
    std::uint32_t n = std::min(static_cast<std::uint32_t>(remaining), deflate::kInputBlockSize);
    if (source.read(source.context, buffer.get(), n) != n) return StoredCopy::kSourceEnded;
    remaining -= static_cast<std::int32_t>(n);
    if (keys != nullptr) DecryptBuffer(*keys, buffer.get(), n);
    if (!sink.write(sink.context, buffer.get(), n)) return StoredCopy::kSinkRefused;
  }
  return StoredCopy::kCopied;
}

bool CopyStoredEntry(Extraction& extraction) {
  StoredCopy copy = CopyStoredBytes(
      ArchiveSource(extraction.archive), extraction.compressed_remaining,
      extraction.current.IsEncrypted() ? &extraction.keys : nullptr, OutputToFile(extraction));
  if (copy == StoredCopy::kSourceEnded) extraction.fault = Fault::kCorrupt;
  return copy == StoredCopy::kCopied;
}

}  // namespace selfx
