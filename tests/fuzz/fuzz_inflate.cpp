// Arbitrary bytes as a deflated entry, read from a source over memory and decoded into a sink
// that records every piece. Both inner loops run on every input and must hand the sink the
// same pieces, end with the same CRC, ask the source for the same reads at the same moments
// and leave the same input unread; the output must stay bounded (a damaged stream always ends).
// The first byte chooses whether the entry is encrypted (bit 0) and whether the source gives
// short reads (bit 1; then at most 1 to 64 bytes a call, from the upper bits).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "codec/compressed_input.h"
#include "codec/crc32.h"
#include "codec/inflate.h"
#include "codec/zip_crypto.h"

namespace {

struct Run {
  std::vector<std::uint8_t> output;
  std::uint32_t crc = 0xFFFFFFFF;
  std::vector<std::int64_t> log;  // a read request as its size, a piece as minus its size
  std::int32_t remaining = 0;     // CompressedInput.remaining afterwards
};

struct SourceState {
  const std::uint8_t* bytes;
  std::size_t size;
  std::size_t position;
  std::uint32_t most_per_read;  // 0: as many as asked
} Source;
Run* Current = nullptr;

std::uint32_t ReadSource(void* buffer, std::uint32_t count) {
  Current->log.push_back(count);
  std::size_t n = Source.size - Source.position;
  if (n > count) n = count;
  if (Source.most_per_read != 0 && n > Source.most_per_read) n = Source.most_per_read;
  std::memcpy(buffer, Source.bytes + Source.position, n);
  Source.position += n;
  return static_cast<std::uint32_t>(n);
}

void RecordPiece(const std::uint8_t* bytes, std::uint32_t count) {
  if (count == 0) abort();  // a sink never receives an empty piece
  Current->output.insert(Current->output.end(), bytes, bytes + count);
  selfx::UpdateCrc(bytes, static_cast<std::int32_t>(count), Current->crc);
  Current->log.push_back(-static_cast<std::int64_t>(count));
}

Run Decode(const std::uint8_t* data, std::size_t size, bool encrypted, std::uint32_t most_per_read,
           bool fast) {
  selfx::UseFastInflate = fast;
  Run run;
  Current = &run;
  Source = SourceState{data, size, 0, most_per_read};
  std::int32_t remaining = static_cast<std::int32_t>(size);
  if (encrypted) {
    std::uint8_t work[24] = {};
    std::size_t header = size < 12 ? size : 12;
    std::memcpy(work + 12, data, header);
    Source.position = header;
    selfx::CheckEncryptionHeader(work, 12, 0x0008, 0, 0, "fuzz");  // the result does not matter
    remaining -= 12;
  }
  selfx::StartInput(ReadSource, remaining, encrypted);
  selfx::DecodeDeflatedEntry(RecordPiece);
  Current = nullptr;
  run.remaining = selfx::CompressedInput.remaining;
  return run;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static bool initialised = [] {
    selfx::BuildCrcTable();
    selfx::BuildFixedTables();
    return true;
  }();
  (void)initialised;
  if (size < 1) return 0;
  bool encrypted = (data[0] & 1) != 0;
  std::uint32_t most_per_read = (data[0] & 2) != 0 ? (data[0] >> 2) + 1u : 0u;

  Run readable = Decode(data + 1, size - 1, encrypted, most_per_read, false);
  Run fast = Decode(data + 1, size - 1, encrypted, most_per_read, true);
  if (readable.output != fast.output || readable.crc != fast.crc || readable.log != fast.log ||
      readable.remaining != fast.remaining)
    abort();
  std::uint32_t crc = 0xFFFFFFFF;
  selfx::UpdateCrcBytewise(readable.output.data(),
                           static_cast<std::int32_t>(readable.output.size()), crc);
  if (crc != readable.crc) abort();
  // Every code consumes at least one real bit and yields at most 258 bytes; stored blocks
  // yield at most their own bytes.
  if (readable.output.size() > 258 * 8 * size + 65536) abort();
  return 0;
}
