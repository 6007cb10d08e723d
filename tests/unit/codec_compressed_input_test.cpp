// Compressed input and stored entries, through a real archive file and a real
// output file.
#include <gtest/gtest.h>

#include <vector>

#include "archive/archive_file.h"
#include "archive/extraction_state.h"
#include "codec/compressed_input.h"
#include "codec/zip_crypto.h"
#include "codec_test_support.h"

namespace selfx {
namespace {

using codec_test::Bytes;
using codec_test::Method;
using codec_test::RunEntry;

Bytes Pattern(std::size_t size) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>((i * 31) ^ (i >> 8));
  return bytes;
}

TEST(StoredEntryTest, SizesAroundTheBlockSize) {
  for (std::size_t size : {0u, 1u, 32767u, 32768u, 32769u, 65536u, 100001u}) {
    SCOPED_TRACE(size);
    Bytes data = Pattern(size);
    codec_test::EntryResult result = RunEntry(Method::Stored, data);
    EXPECT_EQ(result.output, data);
    EXPECT_EQ(result.crc ^ 0xFFFFFFFF, codec_test::Crc32Of(data));
    EXPECT_EQ(result.remaining, 0);
  }
}

TEST(StoredEntryTest, EmptyEntryLeavesTheRegisterAtItsStart) {
  codec_test::EntryResult result = RunEntry(Method::Stored, {});
  EXPECT_TRUE(result.output.empty());
  EXPECT_EQ(result.crc, 0xFFFFFFFFu);  // matches a recorded CRC of 0
}

TEST(StoredEntryTest, EncryptedEntryOfTwelvePlusNBytesWritesN) {
  for (std::size_t size : {0u, 5u, 32768u, 40000u}) {
    SCOPED_TRACE(size);
    Bytes data = Pattern(size);
    codec_test::EntryResult result = RunEntry(Method::Stored, data, "password");
    EXPECT_EQ(result.output, data);
    EXPECT_EQ(result.crc ^ 0xFFFFFFFF, codec_test::Crc32Of(data));
  }
}

TEST(StoredEntryDeathTest, ArchiveEndingInsideTheEntryIsFatal) {
  Bytes data = Pattern(50000);
  EXPECT_EXIT(RunEntry(Method::Stored, data, "", 40000), ::testing::ExitedWithCode(1), "");
}

class InputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    codec_test::EnsureCodecTables();
    directory_ = codec_test::MakeTempDirectory();
    CurrentEntry = ArchiveEntry();
    CompressedInput.buffer = buffer_.data();
    ResetInput();
  }
  void TearDown() override {
    CompressedInput.buffer = nullptr;
    platform::Close(ArchiveFile.handle);
    ArchiveFile.handle = platform::kNoFile;
  }
  void OpenArchive(const Bytes& bytes) {
    codec_test::WriteFileBytes(directory_ + "/archive.bin", bytes);
    OpenArchiveFile(directory_ + "/archive.bin");
  }

  std::string directory_;
  std::vector<std::uint8_t> buffer_ = std::vector<std::uint8_t>(32768);
};

// The refills are the smaller of what remains and 32,768, whatever the decoder's pace.
TEST_F(InputTest, SeventyThousandBytesAreReadInThreeBlocks) {
  Bytes data = Pattern(70000);
  OpenArchive(data);
  CompressedRemaining = 70000;
  std::vector<std::uint32_t> refills;
  Bytes received;
  for (;;) {
    int byte = NextInputByte();
    if (byte < 0) break;
    if (CompressedInput.position == 1) refills.push_back(CompressedInput.fill);
    received.push_back(static_cast<std::uint8_t>(byte));
  }
  EXPECT_EQ(received, data);
  EXPECT_EQ(refills, (std::vector<std::uint32_t>{32768, 32768, 4464}));
  EXPECT_EQ(CompressedRemaining, 0);
  EXPECT_EQ(NextInputByte(), -1);
}

TEST_F(InputTest, NothingRemainingGivesTheEndMarkerWithoutReading) {
  OpenArchive(Pattern(10));
  CompressedRemaining = -3;  // an encrypted entry smaller than its header
  EXPECT_EQ(NextInputByte(), -1);
  EXPECT_EQ(SeekArchive(0, platform::SeekOrigin::FromCurrent), 0u);
}

TEST_F(InputTest, ArchiveEndingInsideTheEntryGivesTheEndMarker) {
  OpenArchive(Pattern(100));
  CompressedRemaining = 1000;
  for (int i = 0; i < 100; ++i) ASSERT_GE(NextInputByte(), 0);
  EXPECT_EQ(NextInputByte(), -1);
  EXPECT_EQ(CompressedRemaining, 0);
  EXPECT_EQ(NextInputByte(), -1);
}

TEST_F(InputTest, EncryptedInputIsDecryptedPerBlock) {
  Bytes plain = Pattern(70000);
  Bytes encrypted = codec_test::EncryptEntry(plain, "pw", 0x11);
  OpenArchive(encrypted);
  std::uint8_t work[24];
  ReadArchiveExact(work + 12, 12);
  ASSERT_TRUE(CheckEncryptionHeader(work, 12, 0, 0x11000000, 0, "pw"));
  CurrentEntry.bytes[8] = 0x01;
  CompressedRemaining = 70000;
  Bytes received;
  for (int byte; (byte = NextInputByte()) >= 0;) received.push_back(static_cast<std::uint8_t>(byte));
  EXPECT_EQ(received, plain);
}

}  // namespace
}  // namespace selfx
