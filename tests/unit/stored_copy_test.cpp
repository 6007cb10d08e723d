// The copy of stored entries, through a real archive file and a real output file: the blocks,
// the CRC over what was written, decryption, and an archive that ends inside the entry.
#include <gtest/gtest.h>

#include <string>

#include "archive/archive_file.h"
#include "archive/extraction_state.h"
#include "archive/stored_copy.h"
#include "codec/zip_crypto.h"
#include "codec_test_support.h"

namespace selfx {
namespace {

using codec_test::Bytes;

Bytes Pattern(std::size_t size) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>((i * 31) ^ (i >> 8));
  return bytes;
}

struct StoredResult {
  Bytes output;                // what the output file holds afterwards
  std::uint32_t crc;           // RunningCrc afterwards (not inverted)
  std::int32_t remaining;      // CompressedRemaining afterwards
  std::uint32_t archive_read;  // the archive's file position afterwards
};

// Copies one entry whose bytes are data, followed in the archive by a few bytes of the next
// entry. With a password the data is encrypted behind a 12-byte header, which is checked first
// as ExtractEntry does. archive_size cuts the archive file short (a truncated archive).
StoredResult CopyStored(const Bytes& data, const std::string& password = "",
                        std::int64_t archive_size = -1) {
  codec_test::EnsureCodecTables();
  static std::string directory = codec_test::MakeTempDirectory();
  std::string archive_path = directory + "/entry.bin";
  std::string output_path = directory + "/output.bin";

  const bool encrypted = !password.empty();
  Bytes archive = encrypted ? codec_test::EncryptEntry(data, password, 0x5A) : data;
  std::int32_t compressed_size = static_cast<std::int32_t>(archive.size());
  archive.insert(archive.end(), 7, 0xEE);
  if (archive_size >= 0 && static_cast<std::size_t>(archive_size) < archive.size())
    archive.resize(static_cast<std::size_t>(archive_size));
  codec_test::WriteFileBytes(archive_path, archive);

  OpenArchiveFile(archive_path);
  CurrentEntry = ArchiveEntry();
  if (encrypted) {
    CurrentEntry.bytes[8] = 0x01;  // general purpose flags: encrypted
    std::uint8_t work[2 * kEncryptionHeaderSize];
    ReadArchiveExact(work + kEncryptionHeaderSize, kEncryptionHeaderSize);
    EXPECT_TRUE(CheckEncryptionHeader(EntryKeys, work, kEncryptionHeaderSize, 0x0001, 0x5A000000, 0,
                                      password));
    compressed_size -= kEncryptionHeaderSize;
  }
  CompressedRemaining = compressed_size;
  RunningCrc = 0xFFFFFFFF;
  OutputFile.path = output_path;
  OutputFile.handle = platform::CreateForWriting(output_path);
  EXPECT_NE(OutputFile.handle, platform::kNoFile);

  CopyStoredEntry();

  std::uint32_t position = SeekArchive(0, platform::SeekOrigin::FromCurrent);
  platform::Close(OutputFile.handle);
  OutputFile.handle = platform::kNoFile;
  platform::Close(ArchiveFile.handle);
  ArchiveFile.handle = platform::kNoFile;
  return StoredResult{codec_test::ReadFileBytes(output_path), RunningCrc, CompressedRemaining,
                      position};
}

TEST(StoredEntryTest, SizesAroundTheBlockSize) {
  for (std::size_t size : {0u, 1u, 32767u, 32768u, 32769u, 65536u, 100001u}) {
    SCOPED_TRACE(size);
    Bytes data = Pattern(size);
    StoredResult result = CopyStored(data);
    EXPECT_EQ(result.output, data);
    EXPECT_EQ(result.crc ^ 0xFFFFFFFF, codec_test::Crc32Of(data));
    EXPECT_EQ(result.remaining, 0);
    EXPECT_EQ(result.archive_read, size);  // not a byte of the next entry
  }
}

TEST(StoredEntryTest, EmptyEntryLeavesTheRegisterAtItsStart) {
  StoredResult result = CopyStored({});
  EXPECT_TRUE(result.output.empty());
  EXPECT_EQ(result.crc, 0xFFFFFFFFu);  // matches a recorded CRC of 0
}

TEST(StoredEntryTest, EncryptedEntryOfTwelvePlusNBytesWritesN) {
  for (std::size_t size : {0u, 5u, 32768u, 40000u}) {
    SCOPED_TRACE(size);
    Bytes data = Pattern(size);
    StoredResult result = CopyStored(data, "password");
    EXPECT_EQ(result.output, data);
    EXPECT_EQ(result.crc ^ 0xFFFFFFFF, codec_test::Crc32Of(data));
    EXPECT_EQ(result.archive_read, size + 12);
  }
}

TEST(StoredEntryDeathTest, ArchiveEndingInsideTheEntryIsFatal) {
  Bytes data = Pattern(50000);
  EXPECT_EXIT(CopyStored(data, "", 40000), ::testing::ExitedWithCode(1),
              "Cannot unzip: file is corrupt.");
}

}  // namespace
}  // namespace selfx
