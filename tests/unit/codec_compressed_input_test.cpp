// Compressed input: the refills from the source, the entry's bound, the end of the input and
// decryption, seen through a source over memory that logs every request.
#include <gtest/gtest.h>

#include <vector>

#include "codec/compressed_input.h"
#include "codec/zip_crypto.h"
#include "codec_test_support.h"

namespace selfx {
namespace {

using codec_test::Bytes;
using codec_test::StreamLog;

Bytes Pattern(std::size_t size) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>((i * 31) ^ (i >> 8));
  return bytes;
}

class InputTest : public ::testing::Test {
 protected:
  void SetUp() override { codec_test::EnsureCodecTables(); }
  // The source holds bytes and gives at most most_per_read of them a call (0: all it can).
  void Start(const Bytes& bytes, std::int32_t size, std::uint32_t most_per_read = 0,
             ZipKeys* keys = nullptr) {
    source_ = codec_test::MemorySource{bytes, 0, most_per_read, {}};
    input_.buffer = buffer_.data();
    StartInput(input_, codec_test::SourceOver(source_), size, keys);
  }
  Bytes TakeAll() {
    Bytes received;
    for (int byte; (byte = NextInputByte(input_)) >= 0;)
      received.push_back(static_cast<std::uint8_t>(byte));
    return received;
  }

  std::vector<std::uint8_t> buffer_ = std::vector<std::uint8_t>(32768);
  codec_test::MemorySource source_;
  CompressedInput input_ = {};
};

// The refills are the smaller of what remains and 32,768, whatever the decoder's pace; bytes
// beyond the entry are never asked for.
TEST_F(InputTest, SeventyThousandBytesAreReadInThreeBlocks) {
  Bytes data = Pattern(70000);
  Bytes source = data;
  source.resize(80000, 0xEE);  // the next entry
  Start(source, 70000);
  EXPECT_EQ(TakeAll(), data);
  EXPECT_EQ(source_.log, (StreamLog{"read 32768", "read 32768", "read 4464"}));
  EXPECT_EQ(input_.remaining, 0);
  EXPECT_EQ(NextInputByte(input_), -1);
  EXPECT_EQ(source_.log.size(), 3u);
}

// A short read is handed out in full before the next request, which asks again for the smaller
// of what remains and 32,768.
TEST_F(InputTest, ShortReadsAreHandedOutInFull) {
  Bytes data = Pattern(70000);
  Start(data, 70000, 30000);
  EXPECT_EQ(TakeAll(), data);
  EXPECT_EQ(source_.log, (StreamLog{"read 32768", "read 32768", "read 10000"}));
  EXPECT_EQ(input_.remaining, 0);
}

TEST_F(InputTest, NothingRemainingGivesTheEndMarkerWithoutReading) {
  for (std::int32_t size : {0, -3}) {  // -3: an encrypted entry smaller than its header
    SCOPED_TRACE(size);
    Start(Pattern(10), size);
    EXPECT_EQ(NextInputByte(input_), -1);
    EXPECT_TRUE(source_.log.empty());
  }
}

// A read of 0 ends the entry's input silently, and for good: no further request.
TEST_F(InputTest, SourceEndingInsideTheEntryGivesTheEndMarker) {
  Start(Pattern(100), 1000);
  for (int i = 0; i < 100; ++i) ASSERT_GE(NextInputByte(input_), 0);
  EXPECT_EQ(NextInputByte(input_), -1);
  EXPECT_EQ(input_.remaining, 0);
  EXPECT_EQ(NextInputByte(input_), -1);
  EXPECT_EQ(source_.log, (StreamLog{"read 1000", "read 900"}));
}

TEST_F(InputTest, EncryptedInputIsDecryptedPerBlock) {
  Bytes plain = Pattern(70000);
  Bytes encrypted = codec_test::EncryptEntry(plain, "pw", 0x11);
  std::uint8_t work[24];
  std::copy(encrypted.begin(), encrypted.begin() + 12, work + 12);
  ZipKeys keys;
  ASSERT_TRUE(CheckEncryptionHeader(keys, work, 12, 0, 0x11000000, 0, "pw"));
  // Reads of 1,000 bytes: the key state runs on from one block to the next.
  Start(Bytes(encrypted.begin() + 12, encrypted.end()), 70000, 1000, &keys);
  EXPECT_EQ(TakeAll(), plain);
}

}  // namespace
}  // namespace selfx
