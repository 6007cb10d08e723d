#include "codec_test_support.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "archive/archive_file.h"
#include "archive/extraction_state.h"
#include "codec/compressed_input.h"
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
  InitKeys(password);
  Bytes header(kEncryptionHeaderSize);
  for (int i = 0; i < kEncryptionHeaderSize; ++i) header[i] = static_cast<std::uint8_t>(i * 37 + 5);
  header.back() = check_byte;
  Bytes out;
  auto encrypt = [&out](std::uint8_t byte) {
    out.push_back(static_cast<std::uint8_t>(byte ^ KeystreamByte()));
    UpdateKeys(byte);
  };
  for (std::uint8_t byte : header) encrypt(byte);
  for (std::uint8_t byte : plain) encrypt(byte);
  return out;
}

EntryResult RunEntry(Method method, const Bytes& data, const std::string& password,
                     std::int64_t archive_size) {
  EnsureCodecTables();
  static std::string directory = MakeTempDirectory();
  std::string archive_path = directory + "/entry.bin";
  std::string output_path = directory + "/output.bin";

  Bytes archive = data;
  const bool encrypted = !password.empty();
  if (encrypted) archive = EncryptEntry(data, password, 0x5A);
  std::int32_t compressed_size = static_cast<std::int32_t>(archive.size());
  if (archive_size >= 0 && static_cast<std::size_t>(archive_size) < archive.size())
    archive.resize(static_cast<std::size_t>(archive_size));
  WriteFileBytes(archive_path, archive);

  OpenArchiveFile(archive_path);
  CurrentEntry = ArchiveEntry();
  if (encrypted) {
    CurrentEntry.bytes[8] = 0x01;  // general purpose flags: encrypted
    std::uint8_t work[2 * kEncryptionHeaderSize];
    ReadArchiveExact(work + kEncryptionHeaderSize, kEncryptionHeaderSize);
    EXPECT_TRUE(CheckEncryptionHeader(work, kEncryptionHeaderSize, 0x0001, 0x5A000000, 0,
                                      password));
    compressed_size -= kEncryptionHeaderSize;
  }
  CompressedRemaining = compressed_size;
  RunningCrc = 0xFFFFFFFF;
  OutputFile.path = output_path;
  OutputFile.handle = platform::CreateForWriting(output_path);
  EXPECT_NE(OutputFile.handle, platform::kNoFile);

  if (method == Method::Stored) {
    CopyStoredEntry();
  } else {
    DecodeDeflatedEntry();
  }

  platform::Close(OutputFile.handle);
  OutputFile.handle = platform::kNoFile;
  platform::Close(ArchiveFile.handle);
  ArchiveFile.handle = platform::kNoFile;
  return EntryResult{ReadFileBytes(output_path), RunningCrc, CompressedRemaining};
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

}  // namespace selfx::codec_test
