// Compressed input and stored entries.
#include "codec/compressed_input.h"

#include <algorithm>
#include <memory>

#include "archive/archive_file.h"
#include "archive/extraction_state.h"
#include "codec/crc32.h"
#include "codec/deflate_format.h"
#include "codec/zip_crypto.h"

namespace selfx {

CompressedInputState CompressedInput;

void ResetInput() {
  CompressedInput.position = 0;
  CompressedInput.fill = 0;
}

int NextInputByte() {
  if (CompressedRemaining <= 0) return -1;  // the entry is used up: no more archive reads
  CompressedInputState& in = CompressedInput;
  if (in.position >= in.fill) {
    // A refill happens only when every buffered byte has been handed out, so
    // CompressedRemaining is exactly what is left of the entry in the archive and the read
    // never runs past it. A short read is handed out in full; the next refill asks again.
    std::uint32_t request =
        std::min(static_cast<std::uint32_t>(CompressedRemaining), deflate::kInputBlockSize);
    in.fill = ReadArchive(in.buffer, request);
    if (CurrentEntry.IsEncrypted() && in.fill > 0) DecryptBuffer(in.buffer, in.fill);
    in.position = 0;
  }
  if (in.fill == 0) {
    // The archive delivered nothing: the input of this entry ends here, silently. The
    // decoder's CRC comparison is what reports it.
    CompressedRemaining = 0;
    in.position = 0;
    return -1;
  }
  --CompressedRemaining;
  return in.buffer[in.position++];
}

void CopyStoredEntry() {
  if (CompressedRemaining <= 0) return;  // an empty file; also an encrypted entry < 12 bytes
  std::uint32_t size =
      std::min(static_cast<std::uint32_t>(CompressedRemaining), deflate::kInputBlockSize);
  std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[size]);
  while (CompressedRemaining > 0) {
    std::uint32_t n =
        std::min(static_cast<std::uint32_t>(CompressedRemaining), deflate::kInputBlockSize);
    ReadArchiveExact(buffer.get(), n);  // a short read is fatal: the archive is corrupt
    CompressedRemaining -= static_cast<std::int32_t>(n);
    if (CurrentEntry.IsEncrypted()) DecryptBuffer(buffer.get(), n);
    WriteOutput(OutputFile.handle, buffer.get(), n, OutputFile.path);
    // The CRC covers exactly the bytes that were written, decrypted.
    UpdateCrc(buffer.get(), static_cast<std::int32_t>(n), RunningCrc);
  }
}

}  // namespace selfx
