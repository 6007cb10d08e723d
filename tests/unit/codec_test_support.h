// Helpers for the codec's tests: runs an entry's bytes through the real product path (the
// archive read through ReadArchive, the output written through WriteOutput to a real file),
// a tiny bit writer for hand-made deflate streams, and the PKWARE encryption the tests need to
// make encrypted entries.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace selfx::codec_test {

using Bytes = std::vector<std::uint8_t>;

// Builds the CRC table and the fixed tables once, as start-up does.
void EnsureCodecTables();

// A fresh directory under the test temp dir.
std::string MakeTempDirectory();
void WriteFileBytes(const std::string& path, const Bytes& bytes);
Bytes ReadFileBytes(const std::string& path);

struct EntryResult {
  Bytes output;            // what the output file holds afterwards
  std::uint32_t crc;       // RunningCrc afterwards (not inverted)
  std::int32_t remaining;  // CompressedRemaining afterwards
};

enum class Method { Stored, Deflated };

// Runs one entry whose archive bytes (after the local header) are data. With a password the
// data is encrypted first, behind a 12-byte header whose check byte matches crc_high_byte.
// archive_size lets a test cut the archive file short of the entry (truncated archives).
EntryResult RunEntry(Method method, const Bytes& data, const std::string& password = "",
                     std::int64_t archive_size = -1);

// The CRC-32 of the bytes as a file's recorded CRC.
std::uint32_t Crc32Of(const Bytes& bytes);

// PKWARE encryption with the header's last byte set to check_byte.
Bytes EncryptEntry(const Bytes& plain, const std::string& password, std::uint8_t check_byte);

// Writes bits in deflate's order: fields lowest bit first, Huffman codes highest bit first.
class BitWriter {
 public:
  void Bits(std::uint32_t value, int count);       // a field, least significant bit first
  void Code(std::uint32_t code, int length);       // a Huffman code, most significant first
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
