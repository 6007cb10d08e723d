// Traditional decryption and the password check.
#include <gtest/gtest.h>

#include <cstring>

#include "codec/crc32.h"
#include "codec/zip_crypto.h"
#include "codec_test_support.h"

namespace selfx {
namespace {

using codec_test::Bytes;

class ZipCryptoTest : public ::testing::Test {
 protected:
  void SetUp() override { codec_test::EnsureCodecTables(); }
};

TEST_F(ZipCryptoTest, FreshKeysGiveKeystreamByteAB) {
  ZipKeys keys;
  InitKeys(keys, "");
  EXPECT_EQ(keys.key0, 0x12345678u);
  EXPECT_EQ(keys.key1, 0x23456789u);
  EXPECT_EQ(keys.key2, 0x34567890u);
  EXPECT_EQ(KeystreamByte(keys), 0xAB);
  EXPECT_EQ(KeystreamByte(keys), 0xAB);  // taking a byte does not advance the keys
}

TEST_F(ZipCryptoTest, UpdateKeysFollowsTheApplicationNote) {
  ZipKeys keys;
  InitKeys(keys, "");
  UpdateKeys(keys, 'a');
  std::uint32_t key0 = CrcStep('a', 0x12345678);
  std::uint32_t key1 = (0x23456789 + (key0 & 0xFF)) * 134775813u + 1;
  std::uint32_t key2 = CrcStep(static_cast<std::uint8_t>(key1 >> 24), 0x34567890);
  EXPECT_EQ(keys.key0, key0);
  EXPECT_EQ(keys.key1, key1);
  EXPECT_EQ(keys.key2, key2);
}

struct HeaderCase {
  const char* name;
  std::uint16_t flags;
  std::uint8_t check_byte;  // what the writer put in the header's last byte
  std::uint32_t crc;
  std::uint16_t time;
  bool accepted;
};

class HeaderCheckTest : public ZipCryptoTest, public ::testing::WithParamInterface<HeaderCase> {};

TEST_P(HeaderCheckTest, ComparesTheRightByte) {
  const HeaderCase& c = GetParam();
  Bytes encrypted = codec_test::EncryptEntry({}, "secret", c.check_byte);
  std::uint8_t work[24] = {};
  std::memcpy(work + 12, encrypted.data(), 12);
  ZipKeys keys;
  EXPECT_EQ(CheckEncryptionHeader(keys, work, 12, c.flags, c.crc, c.time, "secret"), c.accepted);
  EXPECT_EQ(work[11], c.check_byte);
  EXPECT_EQ(0, std::memcmp(work + 12, encrypted.data(), 12)) << "encrypted half unchanged";
}

INSTANTIATE_TEST_SUITE_P(
    ZipCryptoHeader, HeaderCheckTest,
    ::testing::Values(HeaderCase{"CrcHighByte", 0x0001, 0xAB, 0xAB123456, 0x7700, true},
                      HeaderCase{"CrcMismatch", 0x0001, 0x77, 0xAB123456, 0x7700, false},
                      // Bit 3: the writer did not know the CRC, the time's high byte is the check.
                      HeaderCase{"TimeHighByteWithBit3", 0x0009, 0x77, 0xAB123456, 0x7700, true},
                      HeaderCase{"CrcByteRefusedWithBit3", 0x0009, 0xAB, 0xAB123456, 0x7700,
                                 false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ZipCryptoTest, SecondCallOnTheSameWorkAreaStartsAfresh) {
  Bytes encrypted = codec_test::EncryptEntry({}, "right", 0xC3);
  std::uint8_t work[24] = {};
  std::memcpy(work + 12, encrypted.data(), 12);
  // A wrong password whose check byte happens to match would pass; pick one that fails.
  ZipKeys keys;
  std::string wrong = "wrong";
  while (CheckEncryptionHeader(keys, work, 12, 0x0001, 0xC3000000, 0, wrong)) wrong += "x";
  EXPECT_TRUE(CheckEncryptionHeader(keys, work, 12, 0x0001, 0xC3000000, 0, "right"));
}

TEST_F(ZipCryptoTest, EmptyPasswordIsRefusedWithoutTouchingTheKeys) {
  ZipKeys keys{1, 2, 3};
  std::uint8_t work[24] = {};
  EXPECT_FALSE(CheckEncryptionHeader(keys, work, 12, 0, 0, 0, ""));
  EXPECT_EQ(keys.key0, 1u);
  EXPECT_EQ(keys.key1, 2u);
  EXPECT_EQ(keys.key2, 3u);
}

TEST_F(ZipCryptoTest, AcceptedHeaderLeavesKeysReadyForTheData) {
  Bytes plain = {'h', 'e', 'l', 'l', 'o'};
  Bytes encrypted = codec_test::EncryptEntry(plain, "pw", 0x42);
  std::uint8_t work[24];
  std::memcpy(work + 12, encrypted.data(), 12);
  ZipKeys keys;
  ASSERT_TRUE(CheckEncryptionHeader(keys, work, 12, 0, 0x42000000, 0, "pw"));
  Bytes data(encrypted.begin() + 12, encrypted.end());
  DecryptBuffer(keys, data.data(), static_cast<std::uint32_t>(data.size()));
  EXPECT_EQ(data, plain);
}

TEST_F(ZipCryptoTest, BlockwiseDecryptionEqualsBytewise) {
  Bytes plain(100000);
  for (std::size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<std::uint8_t>(i * i + 3);
  Bytes encrypted = codec_test::EncryptEntry(plain, "pw", 0);
  Bytes blockwise(encrypted.begin() + 12, encrypted.end());
  Bytes bytewise = blockwise;
  std::uint8_t work[24];
  std::memcpy(work + 12, encrypted.data(), 12);
  ZipKeys keys;
  CheckEncryptionHeader(keys, work, 12, 0x0008, 0, 0, "pw");
  for (std::size_t at = 0; at < blockwise.size(); at += 32768) {
    std::uint32_t n = static_cast<std::uint32_t>(
        std::min<std::size_t>(32768, blockwise.size() - at));
    DecryptBuffer(keys, blockwise.data() + at, n);
  }
  CheckEncryptionHeader(keys, work, 12, 0x0008, 0, 0, "pw");
  for (auto& byte : bytewise) DecryptBuffer(keys, &byte, 1);
  EXPECT_EQ(blockwise, bytewise);
  EXPECT_EQ(blockwise, plain);
}

TEST_F(ZipCryptoTest, EightyBytePasswordIsUsedInFull) {
  std::string password(80, 'p');
  std::string shorter(79, 'p');
  ZipKeys full, keys;
  InitKeys(full, password);
  InitKeys(keys, shorter);
  UpdateKeys(keys, 'p');
  EXPECT_EQ(keys.key0, full.key0);
  EXPECT_EQ(keys.key1, full.key1);
  EXPECT_EQ(keys.key2, full.key2);
  InitKeys(keys, shorter);
  EXPECT_NE(keys.key2, full.key2);
}

}  // namespace
}  // namespace selfx
