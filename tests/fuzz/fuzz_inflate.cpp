// Arbitrary bytes as a deflated entry, read from a source over memory and decoded into a sink
// that records every piece. Both inner loops run on every input and must hand the sink the
// same pieces, end with the same CRC, ask the source for the same reads at the same moments
// and leave the same input unread; the output must stay bounded (a damaged stream always ends).
// The first byte chooses whether the entry is encrypted (bit 0) and whether the source gives
// short reads (bit 1; then at most 1 to 64 bytes a call, from the upper bits). Without short
// reads the upper bits, when not 0, are the piece the sink refuses, counted from 1: the decoder
// must then say so, and nothing may happen at either end after the refusal.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "codec/crc32.h"
#include "codec/inflate.h"
#include "codec/zip_crypto.h"

namespace {

// One decoding: the source's bytes and the record of both ends, the context of both.
struct Run {
  const std::uint8_t* bytes = nullptr;
  std::size_t size = 0;
  std::size_t position = 0;
  std::uint32_t most_per_read = 0;  // 0: as many as asked
  std::size_t refused_piece = 0;    // counted from 1; 0: none
  std::size_t pieces = 0;
  std::vector<std::uint8_t> output;
  std::uint32_t crc = 0xFFFFFFFF;
  std::vector<std::int64_t> log;  // a read request as its size, a piece as minus its size
  std::int32_t remaining = 0;     // the input's remaining count afterwards
  bool kept = true;               // what the decoder returned
};

std::uint32_t ReadSource(void* context, void* buffer, std::uint32_t count) {
  Run& run = *static_cast<Run*>(context);
  if (run.pieces == run.refused_piece && run.refused_piece != 0) abort();  // read after refusal
  run.log.push_back(count);
  std::size_t n = run.size - run.position;
  if (n > count) n = count;
  if (run.most_per_read != 0 && n > run.most_per_read) n = run.most_per_read;
  std::memcpy(buffer, run.bytes + run.position, n);
  run.position += n;
  return static_cast<std::uint32_t>(n);
}

bool RecordPiece(void* context, const std::uint8_t* bytes, std::uint32_t count) {
  Run& run = *static_cast<Run*>(context);
  if (count == 0) abort();  // a sink never receives an empty piece
  if (run.pieces == run.refused_piece && run.refused_piece != 0) abort();  // piece after refusal
  run.log.push_back(-static_cast<std::int64_t>(count));
  if (++run.pieces == run.refused_piece) return false;
  run.output.insert(run.output.end(), bytes, bytes + count);
  selfx::UpdateCrc(bytes, static_cast<std::int32_t>(count), run.crc);
  return true;
}

Run Decode(selfx::Inflater& inflater, const std::uint8_t* data, std::size_t size, bool encrypted,
           std::uint32_t most_per_read, std::size_t refused_piece, bool fast) {
  inflater.readable_loop = !fast;
  Run run;
  run.bytes = data;
  run.size = size;
  run.most_per_read = most_per_read;
  run.refused_piece = refused_piece;
  std::int32_t remaining = static_cast<std::int32_t>(size);
  selfx::ZipKeys keys = {};
  if (encrypted) {
    std::uint8_t work[24] = {};
    std::size_t header = size < 12 ? size : 12;
    std::memcpy(work + 12, data, header);
    run.position = header;
    // The result does not matter: the keys are primed either way.
    selfx::CheckEncryptionHeader(keys, work, 12, 0x0008, 0, 0, "fuzz");
    remaining -= 12;
  }
  run.kept = selfx::DecodeDeflatedEntry(inflater, {ReadSource, &run}, remaining,
                                        encrypted ? &keys : nullptr, {RecordPiece, &run});
  run.remaining = inflater.input.remaining;
  return run;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static selfx::Inflater* inflater = [] {
    selfx::BuildCrcTable();
    selfx::BuildFixedTables();
    return new selfx::Inflater;
  }();
  if (size < 1) return 0;
  bool encrypted = (data[0] & 1) != 0;
  bool short_reads = (data[0] & 2) != 0;
  std::uint32_t most_per_read = short_reads ? (data[0] >> 2) + 1u : 0u;
  std::size_t refused_piece = short_reads ? 0 : data[0] >> 2;

  Run readable = Decode(*inflater, data + 1, size - 1, encrypted, most_per_read, refused_piece,
                        false);
  Run fast = Decode(*inflater, data + 1, size - 1, encrypted, most_per_read, refused_piece, true);
  if (readable.output != fast.output || readable.crc != fast.crc || readable.log != fast.log ||
      readable.remaining != fast.remaining || readable.kept != fast.kept)
    abort();
  // The decoder reports a refusal, and nothing else.
  if (readable.kept != (refused_piece == 0 || readable.pieces < refused_piece)) abort();
  std::uint32_t crc = 0xFFFFFFFF;
  selfx::UpdateCrcBytewise(readable.output.data(),
                           static_cast<std::int32_t>(readable.output.size()), crc);
  if (crc != readable.crc) abort();
  // Every code consumes at least one real bit and yields at most 258 bytes; stored blocks
  // yield at most their own bytes.
  if (readable.output.size() > 258 * 8 * size + 65536) abort();
  return 0;
}
