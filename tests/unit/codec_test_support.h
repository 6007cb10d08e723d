// Helpers for the codec's tests: the decoder's two ends made observable (a source over bytes in
// memory and a sink that records every piece, both writing one log of what happened at the
// ends, in order), a tiny bit writer for hand-made deflate streams, and the PKWARE encryption
// the tests need to make encrypted entries.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "codec/stream.h"

namespace selfx {
struct Inflater;
}  // namespace selfx

namespace selfx::codec_test {

using Bytes = std::vector<std::uint8_t>;

// Builds the CRC table and the fixed tables once, as start-up does.
void EnsureCodecTables();

// A fresh directory under the test temp dir.
std::string MakeTempDirectory();
void WriteFileBytes(const std::string& path, const Bytes& bytes);
Bytes ReadFileBytes(const std::string& path);

// What happened at the decoder's ends, in order: "read N" for a request of N bytes from the
// source, "piece N" for N bytes handed to the sink.
using StreamLog = std::vector<std::string>;

// The source's state: serves bytes from position on, at most most_per_read bytes a call (0: as
// many as asked, as a file does), and logs every request.
struct MemorySource {
  Bytes bytes;
  std::size_t position = 0;
  std::uint32_t most_per_read = 0;
  StreamLog log;
};
// The source over a MemorySource, which is its context.
std::uint32_t ReadMemorySource(void* context, void* buffer, std::uint32_t count);
inline InputSource SourceOver(MemorySource& memory) { return {ReadMemorySource, &memory}; }

struct EntryResult {
  Bytes output;            // every byte handed to the sink, in order
  std::uint32_t crc;       // the register over those bytes, piece by piece (not inverted)
  std::int32_t remaining;  // the input's remaining count afterwards
  StreamLog log;           // the source's requests and the sink's pieces
  bool kept = true;        // what DecodeDeflatedEntry returned: false when a piece was refused
};

// How the source serves the entry: the bytes it holds end after available bytes (a truncated
// archive; -1 for all), and each call gives at most most_per_read (0: as many as asked). And
// how the sink takes it: refused_piece, counted from 1, is the piece it refuses (0: none).
struct SourceShape {
  std::int64_t available = -1;
  std::uint32_t most_per_read = 0;
  std::size_t refused_piece = 0;
};

// The decoder the tests share, reused from entry to entry as a decoding thread reuses its own;
// its loops are the defaults unless a test switches them.
Inflater& SharedInflater();

// Decodes one deflated entry whose compressed bytes are stream, with the given decoder (the
// shared one by default). With a password the stream is encrypted first, behind a 12-byte
// header whose check byte is 0x5A, and the header is checked before the decoder starts, as the
// stub does.
EntryResult InflateEntry(const Bytes& stream, const std::string& password = "",
                         SourceShape shape = {}, Inflater* inflater = nullptr);

// zlib's inflate as the control: the output it produces before it stops, and whether the
// stream was complete.
Bytes ZlibInflate(const Bytes& stream, bool* complete);

// The CRC-32 of the bytes as a file's recorded CRC.
std::uint32_t Crc32Of(const Bytes& bytes);

// PKWARE encryption with the header's last byte set to check_byte.
Bytes EncryptEntry(const Bytes& plain, const std::string& password, std::uint8_t check_byte);

// Writes bits in deflate's order: fields lowest bit first, Huffman codes highest bit first.
class BitWriter {
 public:
  void Bits(std::uint32_t value, int count);  // a field, least significant bit first
  void Code(std::uint32_t code, int length);  // a Huffman code, most significant first
  void AlignToByte() { Bits(0, (8 - used_) & 7); }
  void Byte(std::uint8_t value) { Bits(value, 8); }
  // The fixed literal/length code of symbol (RFC 1951, 3.2.6) and a fixed distance code.
  void FixedSymbol(int symbol);
  void FixedDistance(int symbol) { Code(static_cast<std::uint32_t>(symbol), 5); }
  // Pads the last byte with the given bit value.
  Bytes Finish(int pad_bit = 0);

 private:
  Bytes bytes_;
  int used_ = 0;  // bits used in the last byte
};

}  // namespace selfx::codec_test
