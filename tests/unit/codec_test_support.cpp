#include "codec_test_support.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include "codec/crc32.h"
#include "codec/inflate.h"
#include "codec/zip_crypto.h"

namespace selfx::codec_test {

void EnsureCodecTables() {
  static bool built = false;
  if (built) return;
  BuildCrcTable();
  BuildFixedTables();
  built = true;
}

std::string MakeTempDirectory() {
  std::string pattern = ::testing::TempDir() + "selfx_codec_XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  const char* made = mkdtemp(buffer.data());
  EXPECT_NE(made, nullptr);
  return made ? std::string(made) : std::string();
}

void WriteFileBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

Bytes ReadFileBytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::uint32_t Crc32Of(const Bytes& bytes) {
  EnsureCodecTables();
  std::uint32_t crc = 0xFFFFFFFF;
  UpdateCrcBytewise(bytes.data(), static_cast<std::int32_t>(bytes.size()), crc);
  return crc ^ 0xFFFFFFFF;
}

Bytes EncryptEntry(const Bytes& plain, const std::string& password, std::uint8_t check_byte) {
  EnsureCodecTables();
  ZipKeys keys;
  InitKeys(keys, password);
  Bytes header(kEncryptionHeaderSize);
  for (int i = 0; i < kEncryptionHeaderSize; ++i) header[i] = static_cast<std::uint8_t>(i * 37 + 5);
  header.back() = check_byte;
  Bytes out;
  auto encrypt = [&out, &keys](std::uint8_t byte) {
    out.push_back(static_cast<std::uint8_t>(byte ^ KeystreamByte(keys)));
    UpdateKeys(keys, byte);
  };
  for (std::uint8_t byte : header) encrypt(byte);
  for (std::uint8_t byte : plain) encrypt(byte);
  return out;
}

std::uint32_t ReadMemorySource(void* context, void* buffer, std::uint32_t count) {
  MemorySource& source = *static_cast<MemorySource*>(context);
  source.log.push_back("read " + std::to_string(count));
  std::size_t n = std::min<std::size_t>(count, source.bytes.size() - source.position);
  if (source.most_per_read != 0) n = std::min<std::size_t>(n, source.most_per_read);
  if (n > 0) std::memcpy(buffer, source.bytes.data() + source.position, n);
  source.position += n;
  return static_cast<std::uint32_t>(n);
}

namespace {

// The sink's context: where the pieces go, the log they are written to, and which one to refuse.
struct Recording {
  EntryResult* result;
  StreamLog* log;
  std::size_t refused_piece;
  std::size_t pieces = 0;
};

// The sink: keeps the bytes and folds each piece into the register, as the stub's sink does;
// the piece it refuses is logged, and neither kept nor counted in the register.
bool RecordPiece(void* context, const std::uint8_t* bytes, std::uint32_t count) {
  Recording& recording = *static_cast<Recording*>(context);
  if (++recording.pieces == recording.refused_piece) {
    recording.log->push_back("refused " + std::to_string(count));
    return false;
  }
  recording.result->output.insert(recording.result->output.end(), bytes, bytes + count);
  UpdateCrc(bytes, static_cast<std::int32_t>(count), recording.result->crc);
  recording.log->push_back("piece " + std::to_string(count));
  return true;
}

}  // namespace

Inflater& SharedInflater() {
  static Inflater* inflater = new Inflater;
  return *inflater;
}

EntryResult InflateEntry(const Bytes& stream, const std::string& password, SourceShape shape,
                         Inflater* inflater) {
  EnsureCodecTables();
  if (inflater == nullptr) inflater = &SharedInflater();
  const bool encrypted = !password.empty();
  Bytes archive = encrypted ? EncryptEntry(stream, password, 0x5A) : stream;
  std::int32_t size = static_cast<std::int32_t>(archive.size());
  if (shape.available >= 0 && static_cast<std::size_t>(shape.available) < archive.size())
    archive.resize(static_cast<std::size_t>(shape.available));
  MemorySource source{archive, 0, shape.most_per_read, {}};
  ZipKeys keys = {};
  if (encrypted) {
    // The header is read before the decoder starts and is not part of its input.
    if (archive.size() < kEncryptionHeaderSize) {
      ADD_FAILURE() << "the source must hold the whole encryption header";
      return EntryResult{};
    }
    std::uint8_t work[2 * kEncryptionHeaderSize];
    std::copy(archive.begin(), archive.begin() + kEncryptionHeaderSize,
              work + kEncryptionHeaderSize);
    EXPECT_TRUE(
        CheckEncryptionHeader(keys, work, kEncryptionHeaderSize, 0x0001, 0x5A000000, 0, password));
    source.position = kEncryptionHeaderSize;
    size -= kEncryptionHeaderSize;
  }
  EntryResult result{{}, 0xFFFFFFFF, 0, {}};
  Recording recording{&result, &source.log, shape.refused_piece};
  result.kept = DecodeDeflatedEntry(*inflater, SourceOver(source), size,
                                    encrypted ? &keys : nullptr, {RecordPiece, &recording});
  result.remaining = inflater->input.remaining;
  result.log = std::move(source.log);
  return result;
}

void BitWriter::Bits(std::uint32_t value, int count) {
  for (int i = 0; i < count; ++i) {
    if (used_ == 0) bytes_.push_back(0);
    if ((value >> i) & 1) bytes_.back() |= static_cast<std::uint8_t>(1u << used_);
    used_ = (used_ + 1) & 7;
  }
}

void BitWriter::Code(std::uint32_t code, int length) {
  for (int i = length - 1; i >= 0; --i) Bits((code >> i) & 1, 1);
}

void BitWriter::FixedSymbol(int symbol) {
  if (symbol < 144) {
    Code(0x30 + symbol, 8);
  } else if (symbol < 256) {
    Code(0x190 + (symbol - 144), 9);
  } else if (symbol < 280) {
    Code(symbol - 256, 7);
  } else {
    Code(0xC0 + (symbol - 280), 8);
  }
}

Bytes BitWriter::Finish(int pad_bit) {
  if (pad_bit && used_ != 0) bytes_.back() |= static_cast<std::uint8_t>(0xFF << used_);
  used_ = 0;
  return bytes_;
}

// zlib's inflate as the control: the output it produces before it stops, and whether the
// stream was complete.
Bytes ZlibInflate(const Bytes& stream, bool* complete) {
  z_stream z{};
  inflateInit2(&z, -15);
  Bytes out;
  Bytes chunk(65536);
  z.next_in = const_cast<Bytef*>(stream.data());
  z.avail_in = static_cast<uInt>(stream.size());
  int status = Z_OK;
  while (status == Z_OK) {
    z.next_out = chunk.data();
    z.avail_out = static_cast<uInt>(chunk.size());
    status = inflate(&z, Z_NO_FLUSH);
    out.insert(out.end(), chunk.data(), chunk.data() + (chunk.size() - z.avail_out));
    if (status == Z_BUF_ERROR || (status == Z_OK && z.avail_in == 0 && z.avail_out != 0)) break;
  }
  *complete = status == Z_STREAM_END;
  inflateEnd(&z);
  return out;
}

}  // namespace selfx::codec_test
