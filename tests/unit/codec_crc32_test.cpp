// CRC-32: the table, the standard check values, and the bulk path against the plain
// byte-wise loop and against zlib's crc32 as a control.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <random>

#include "codec/crc32.h"
#include "codec_test_support.h"

namespace selfx {
namespace {

using codec_test::Bytes;

class CrcTest : public ::testing::Test {
 protected:
  void SetUp() override { codec_test::EnsureCodecTables(); }
};

TEST_F(CrcTest, TableMatchesTheZipFormat) {
  EXPECT_EQ(CrcTable[0], 0u);
  EXPECT_EQ(CrcTable[1], 0x77073096u);
  EXPECT_EQ(CrcTable[128], 0xEDB88320u);
  EXPECT_EQ(CrcTable[255], 0x2D02EF8Du);
  const z_crc_t* zlib_table = get_crc_table();
  for (int i = 0; i < 256; ++i) EXPECT_EQ(CrcTable[i], zlib_table[i]) << i;
}

TEST_F(CrcTest, StandardCheckValues) {
  struct Case {
    const char* text;
    std::uint32_t crc;
  };
  const Case cases[] = {
      {"", 0x00000000},
      {"a", 0xE8B7BE43},
      {"123456789", 0xCBF43926},
      {"The quick brown fox jumps over the lazy dog", 0x414FA339},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::uint32_t crc = 0xFFFFFFFF;
    UpdateCrc(reinterpret_cast<const std::uint8_t*>(c.text),
              static_cast<std::int32_t>(std::strlen(c.text)), crc);
    EXPECT_EQ(crc ^ 0xFFFFFFFF, c.crc);
  }
}

TEST_F(CrcTest, ZeroOrNegativeCountLeavesTheRegister) {
  std::uint8_t byte = 0x55;
  std::uint32_t crc = 0x12345678;
  UpdateCrc(&byte, 0, crc);
  EXPECT_EQ(crc, 0x12345678u);
  UpdateCrc(&byte, -5, crc);
  EXPECT_EQ(crc, 0x12345678u);
}

// Each bulk path (carry-less folding in 128-bit and in 512-bit registers where the processor has
// them, slicing-by-16 always) must equal the byte-wise loop for every length and alignment, with
// a register carried in.
enum CrcPath { kTables, kCarryless, kWideCarryless };

class CrcPathTest : public CrcTest, public ::testing::WithParamInterface<CrcPath> {
 protected:
  void SetUp() override {
    CrcTest::SetUp();
    if (GetParam() != kTables && !CarrylessCrcAvailable()) GTEST_SKIP() << "no PCLMULQDQ here";
    if (GetParam() == kWideCarryless && !WideCarrylessCrcAvailable())
      GTEST_SKIP() << "no VPCLMULQDQ with AVX-512 here";
    UseCarrylessCrc = GetParam() != kTables;
    UseWideCarrylessCrc = GetParam() == kWideCarryless;
  }
  void TearDown() override {
    UseCarrylessCrc = CarrylessCrcAvailable();
    UseWideCarrylessCrc = WideCarrylessCrcAvailable();
  }
};

INSTANTIATE_TEST_SUITE_P(Paths, CrcPathTest, ::testing::Values(kTables, kCarryless, kWideCarryless),
                         [](const auto& info) {
                           return info.param == kTables      ? "Tables"
                                  : info.param == kCarryless ? "Carryless"
                                                             : "WideCarryless";
                         });

TEST_P(CrcPathTest, BulkPathEqualsBytewiseAndZlib) {
  std::mt19937 random(7);
  Bytes data(70000);
  for (auto& byte : data) byte = static_cast<std::uint8_t>(random());
  for (int offset = 0; offset < 8; ++offset) {
    for (int length :
         {0,   1,   3,   7,   8,   9,   15,  16,  17,  63,  64,  65,   79,   80,   127,   128,  129,
          255, 256, 257, 271, 320, 511, 512, 513, 575, 767, 768, 1000, 4095, 4096, 32768, 69000}) {
      SCOPED_TRACE(testing::Message() << "offset " << offset << " length " << length);
      std::uint32_t bulk = 0xFFFFFFFF, bytewise = 0xFFFFFFFF;
      UpdateCrc(data.data() + offset, length, bulk);
      UpdateCrcBytewise(data.data() + offset, length, bytewise);
      EXPECT_EQ(bulk, bytewise);
      EXPECT_EQ(bulk ^ 0xFFFFFFFF, crc32(0, data.data() + offset, static_cast<uInt>(length)));
    }
  }
}

TEST_P(CrcPathTest, RandomLengthsAlignmentsAndRegisters) {
  std::mt19937 random(11);
  Bytes data(9000);
  for (int round = 0; round < 3000; ++round) {
    // Random, all-zero and all-ones contents: the folding must not depend on the data's kind.
    int kind = round % 5;
    for (auto& byte : data)
      byte = kind == 0 ? 0 : kind == 1 ? 0xFF : static_cast<std::uint8_t>(random());
    std::size_t offset = random() % 64;
    std::int32_t length = static_cast<std::int32_t>(random() % (data.size() - offset));
    std::uint32_t start = round % 7 == 0   ? 0u
                          : round % 7 == 1 ? 0xFFFFFFFFu
                                           : static_cast<std::uint32_t>(random());
    SCOPED_TRACE(testing::Message() << "round " << round << " offset " << offset << " length "
                                    << length << " register " << start);
    std::uint32_t bulk = start, bytewise = start;
    UpdateCrc(data.data() + offset, length, bulk);
    UpdateCrcBytewise(data.data() + offset, length, bytewise);
    ASSERT_EQ(bulk, bytewise);
  }
}

TEST_P(CrcPathTest, RegisterCarriesAcrossCalls) {
  Bytes data(1000);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7);
  std::uint32_t whole = 0xFFFFFFFF, parts = 0xFFFFFFFF;
  UpdateCrc(data.data(), 1000, whole);
  UpdateCrc(data.data(), 333, parts);
  UpdateCrc(data.data() + 333, 667, parts);
  EXPECT_EQ(whole, parts);
  std::uint32_t bytewise = 0xFFFFFFFF;
  UpdateCrcBytewise(data.data(), 1000, bytewise);
  EXPECT_EQ(whole, bytewise);
}

}  // namespace
}  // namespace selfx
