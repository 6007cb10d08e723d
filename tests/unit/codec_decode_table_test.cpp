// Decoding table construction: the format's corner cases, then every
// code of random complete codes decoded through the tables against its canonical code.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "codec/decode_table.h"
#include "codec/deflate_format.h"
#include "codec/inflate.h"
#include "codec_test_support.h"

namespace selfx {
namespace {

struct Built {
  BuildResult result;
  DecodeTable* root = nullptr;
  TableChain chain = nullptr;
  int width = 0;
  ~Built() { ReleaseDecodeTables(&chain); }
};

// Builds a code of simple symbols (every symbol a literal) with the requested width.
void BuildSimple(const std::vector<std::uint16_t>& lengths, int width, Built* built) {
  built->width = width;
  built->result = BuildDecodeTable(lengths.data(), static_cast<int>(lengths.size()),
                                   static_cast<int>(lengths.size()), nullptr, 0, nullptr, 0,
                                   &built->root, &built->chain, &built->width);
}

int ChainLength(TableChain chain) {
  int tables = 0;
  for (DecodeTable* table = chain; table != nullptr; table = table[-1].subtable) ++tables;
  return tables;
}

// Decodes one code from bits given in stream order; the slot found and the bits it took.
const CodeSlot* Lookup(const DecodeTable* root, int width, std::uint32_t stream_bits, int* used) {
  const CodeSlot* slot = &root[stream_bits & LowBitMask[width]];
  *used = 0;
  while (slot->operation > deflate::kOpLiteral && slot->operation != deflate::kOpInvalid) {
    *used += slot->bits;
    stream_bits >>= slot->bits;
    slot = &slot->subtable[stream_bits & LowBitMask[slot->operation - 16]];
  }
  *used += slot->bits;
  return slot;
}

// The lengths of a complete code over n symbols: the code space split at random, no code
// longer than 15 bits, the lengths dealt to the symbols in random order.
std::vector<std::uint16_t> RandomCompleteLengths(int n, std::mt19937& random) {
  std::vector<std::uint16_t> lengths(n, 0);
  std::vector<int> depth = {0};
  while (static_cast<int>(depth.size()) < n) {
    std::size_t pick = random() % depth.size();
    if (depth[pick] >= 15) {
      bool any = false;
      for (std::size_t i = 0; i < depth.size(); ++i)
        if (depth[i] < 15) pick = i, any = true;
      if (!any) break;
    }
    depth[pick] += 1;
    depth.push_back(depth[pick]);
  }
  std::vector<int> symbols(n);
  for (int i = 0; i < n; ++i) symbols[i] = i;
  std::shuffle(symbols.begin(), symbols.end(), random);
  for (std::size_t i = 0; i < depth.size(); ++i)
    lengths[symbols[i]] = static_cast<std::uint16_t>(depth[i]);
  return lengths;
}

// Lengths 2, 1, 3, 3: symbol 1 is 0, symbol 0 is 10, symbol 2 is 110, symbol 3 is 111 (bits
// in stream order), so the slot index has the first stream bit lowest.
TEST(DecodeTableTest, LengthsTwoOneThreeThreeAreComplete) {
  Built built;
  BuildSimple({2, 1, 3, 3}, 7, &built);
  ASSERT_EQ(built.result, BuildResult::Complete);
  EXPECT_EQ(built.width, 3);
  struct Expected {
    int index, symbol, bits;
  };
  for (Expected e : {Expected{0, 1, 1},
                     {2, 1, 1},
                     {4, 1, 1},
                     {6, 1, 1},
                     {1, 0, 2},
                     {5, 0, 2},
                     {3, 2, 3},
                     {7, 3, 3}}) {
    SCOPED_TRACE(e.index);
    EXPECT_EQ(built.root[e.index].operation, deflate::kOpLiteral);
    EXPECT_EQ(built.root[e.index].value, e.symbol);
    EXPECT_EQ(built.root[e.index].bits, e.bits);
  }
}

TEST(DecodeTableTest, SingleCodeOfLengthOneIsComplete) {
  Built built;
  BuildSimple({0, 1, 0, 0}, 7, &built);
  ASSERT_EQ(built.result, BuildResult::Complete);
  EXPECT_EQ(built.width, 1);
  EXPECT_EQ(built.root[0].operation, deflate::kOpLiteral);
  EXPECT_EQ(built.root[0].value, 1);
  EXPECT_EQ(built.root[1].operation, deflate::kOpInvalid);
}

TEST(DecodeTableTest, OverSubscribedLengthsAreInvalidAndBuildNothing) {
  Built built;
  DecodeTable* sentinel = reinterpret_cast<DecodeTable*>(&built);
  built.root = sentinel;
  BuildSimple({1, 1, 1}, 7, &built);
  EXPECT_EQ(built.result, BuildResult::Invalid);
  EXPECT_EQ(built.root, sentinel);
  EXPECT_EQ(built.chain, nullptr);
}

TEST(DecodeTableTest, ThreeOfFourPatternsAreIncomplete) {
  Built built;
  BuildSimple({2, 2, 2}, 7, &built);
  ASSERT_EQ(built.result, BuildResult::Incomplete);
  EXPECT_EQ(built.width, 2);
  EXPECT_EQ(built.root[3].operation, deflate::kOpInvalid);  // pattern 11
  EXPECT_EQ(built.root[3].bits, 2);
}

TEST(DecodeTableTest, AllLengthsZeroGiveNoTable) {
  Built built;
  BuildSimple(std::vector<std::uint16_t>(30, 0), 6, &built);
  EXPECT_EQ(built.result, BuildResult::Complete);
  EXPECT_EQ(built.root, nullptr);
  EXPECT_EQ(built.width, 0);
  EXPECT_EQ(built.chain, nullptr);
}

// The end-of-block rule: with the end of block at 7 bits the root stops at 7 bits even though
// 9 were asked for, so that decoding the end of block needs no bits beyond it.
TEST(DecodeTableTest, EndOfBlockOfSevenBitsLimitsTheRootToSeven) {
  std::vector<std::uint16_t> lengths(288);
  for (int s = 0; s < 288; ++s) lengths[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
  Built built;
  built.width = 9;
  built.result = BuildDecodeTable(lengths.data(), 288, 257, deflate::LengthBase, 31,
                                  deflate::LengthExtra, 31, &built.root, &built.chain,
                                  &built.width);
  EXPECT_EQ(built.result, BuildResult::Complete);
  EXPECT_EQ(built.width, 7);
  EXPECT_EQ(built.root[0].operation, deflate::kOpEndOfBlock);  // 0000000
  EXPECT_EQ(built.root[0].value, 256);
}

// Without an end of block the first table widens past the requested width when the shortest
// codes alone would fill it: 62 codes of 6 bits and 4 of 7 give one table of 7 bits.
TEST(DecodeTableTest, SixtyTwoSixesAndFourSevensGiveOneTableOfSeven) {
  std::vector<std::uint16_t> lengths(62, 6);
  lengths.insert(lengths.end(), 4, 7);
  Built built;
  BuildSimple(lengths, 6, &built);
  EXPECT_EQ(built.result, BuildResult::Complete);
  EXPECT_EQ(built.width, 7);
  EXPECT_EQ(ChainLength(built.chain), 1);
}

TEST(DecodeTableTest, FixedLiteralTableHasARootOfSevenAnd104SubTables) {
  codec_test::EnsureCodecTables();
  std::vector<std::uint16_t> lengths(288);
  for (int s = 0; s < 288; ++s) lengths[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
  Built built;
  built.width = 7;
  built.result = BuildDecodeTable(lengths.data(), 288, 257, deflate::LengthBase, 31,
                                  deflate::LengthExtra, 31, &built.root, &built.chain,
                                  &built.width);
  EXPECT_EQ(built.width, 7);
  int one_bit = 0, two_bit = 0;
  for (int i = 0; i < 128; ++i) {
    if (built.root[i].operation == 17) ++one_bit;
    if (built.root[i].operation == 18) ++two_bit;
  }
  EXPECT_EQ(one_bit, 76);
  EXPECT_EQ(two_bit, 28);
  EXPECT_EQ(ChainLength(built.chain), 105);
  // The tables start-up built are the same shape.
  for (int i = 0; i < 128; ++i) {
    EXPECT_EQ(FixedLiteralTable[i].operation, built.root[i].operation) << i;
  }
}

TEST(DecodeTableTest, FixedDistanceCodeIsIncompleteWithTwoInvalidPatterns) {
  std::vector<std::uint16_t> lengths(30, 5);
  Built built;
  built.width = 5;
  built.result = BuildDecodeTable(lengths.data(), 30, 0, deflate::DistanceBase, 30,
                                  deflate::DistanceExtra, 30, &built.root, &built.chain,
                                  &built.width);
  EXPECT_EQ(built.result, BuildResult::Incomplete);
  EXPECT_EQ(built.width, 5);
  int invalid = 0;
  for (int i = 0; i < 32; ++i) invalid += built.root[i].operation == deflate::kOpInvalid;
  EXPECT_EQ(invalid, 2);
  EXPECT_EQ(built.root[15].operation, deflate::kOpInvalid);  // 11110 read backwards
  EXPECT_EQ(built.root[31].operation, deflate::kOpInvalid);  // 11111
  EXPECT_EQ(built.root[0].value, 1);                         // symbol 0: distance 1
}

TEST(DecodeTableTest, ReleasingAnEmptyChainDoesNothing) {
  TableChain chain = nullptr;
  ReleaseDecodeTables(&chain);
  EXPECT_EQ(chain, nullptr);
}

// Every canonical code of random complete codes decodes to its symbol with its own length,
// whatever the requested width: sub-tables, widened tables and the end-of-block rule included.
TEST(DecodeTableTest, RandomCompleteCodesDecodeEveryCanonicalCode) {
  std::mt19937 random(1951);
  for (int round = 0; round < 300; ++round) {
    int n = 2 + static_cast<int>(random() % 287);
    std::vector<std::uint16_t> lengths = RandomCompleteLengths(n, random);
    int requested = 1 + static_cast<int>(random() % 12);
    SCOPED_TRACE(testing::Message() << "round " << round << " n " << n << " width " << requested);
    Built built;
    BuildSimple(lengths, requested, &built);
    ASSERT_EQ(built.result, BuildResult::Complete);
    // Canonical codes (RFC 1951, 3.2.2).
    int count[16] = {}, next[16] = {};
    for (auto length : lengths) ++count[length];
    count[0] = 0;
    for (int bits = 1, code = 0; bits < 16; ++bits) {
      code = (code + count[bits - 1]) << 1;
      next[bits] = code;
    }
    for (int symbol = 0; symbol < n; ++symbol) {
      int length = lengths[symbol];
      if (length == 0) continue;
      std::uint32_t code = static_cast<std::uint32_t>(next[length]++);
      std::uint32_t stream = 0;  // the code's bits in stream order, first bit lowest
      for (int i = 0; i < length; ++i) stream |= ((code >> (length - 1 - i)) & 1u) << i;
      int used = 0;
      const CodeSlot* slot = Lookup(built.root, built.width, stream, &used);
      // Simple symbols from 256 on are ends of block (the code has n > 256 symbols then).
      ASSERT_EQ(slot->operation, symbol < 256 ? deflate::kOpLiteral : deflate::kOpEndOfBlock)
          << symbol;
      ASSERT_EQ(slot->value, symbol);
      ASSERT_EQ(used, length);
    }
  }
}

// The fast loop's packed tables against the linked ones, for every 15-bit stream pattern of
// random literal/length and distance codes, complete and with codes removed (incomplete, down
// to a single code or none): the same symbol or base, the same extra bits, the same code bits,
// and no symbol exactly where the linked table has none. Long codes put many sub-tables under
// the 11- and 8-bit roots.
TEST(DecodeTableTest, FastTablesDecodeEveryPatternAsTheLinkedTablesDo) {
  std::mt19937 random(2026);
  static std::uint32_t fast[kFastLiteralTableSize];
  for (int round = 0; round < 200; ++round) {
    const bool distance = round % 2 == 1;
    int n = distance ? 1 + static_cast<int>(random() % 32) : 257 + static_cast<int>(random() % 32);
    std::vector<std::uint16_t> lengths = RandomCompleteLengths(n, random);
    if (round % 4 >= 2) {
      int keep = static_cast<int>(random() % 4);  // 0-3 codes left, or every third one
      for (int symbol = 0, kept = 0; symbol < n; ++symbol) {
        if (lengths[symbol] == 0) continue;
        if (keep > 0 ? kept++ >= keep : random() % 3 != 0) lengths[symbol] = 0;
      }
    }
    SCOPED_TRACE(testing::Message() << "round " << round << " n " << n);
    Built built;
    built.width = distance ? deflate::kDistanceRootBits : deflate::kLiteralRootBits;
    if (distance) {
      built.result = BuildDecodeTable(lengths.data(), n, 0, deflate::DistanceBase, 30,
                                      deflate::DistanceExtra, 30, &built.root, &built.chain,
                                      &built.width);
    } else {
      built.result = BuildDecodeTable(lengths.data(), n, deflate::kFirstLengthSymbol,
                                      deflate::LengthBase, 31, deflate::LengthExtra, 31,
                                      &built.root, &built.chain, &built.width);
    }
    ASSERT_NE(built.result, BuildResult::Invalid);
    // How far ahead the readable path looks, as the fast decoder works it out without the
    // linked tables: checked against the tables' root, and against every lookup below.
    ReadableShape readable;
    ASSERT_EQ(
        ClassifyCode(lengths.data(), n,
                     distance ? deflate::kDistanceRootBits : deflate::kLiteralRootBits, &readable),
        built.result);
    ASSERT_EQ(readable.root_bits, built.width);
    ASSERT_EQ(readable.longest, *std::max_element(lengths.begin(), lengths.end()));
    BuildFastTable(lengths.data(), n, distance ? FastCode::Distance : FastCode::LiteralLength,
                   fast);
    const int root = distance ? kFastDistanceRootBits : kFastLiteralRootBits;
    for (std::uint32_t stream = 0; stream < (1u << 15); ++stream) {
      std::uint32_t entry = fast[stream & ((1u << root) - 1)];
      int used = 0;
      if ((entry & fast_entry::kExceptional) && (entry & fast_entry::kSubTable)) {
        used = static_cast<int>(entry & 0xFF);
        entry = fast[(entry >> 16) + ((stream >> used) & ((1u << ((entry >> 8) & 0xF)) - 1))];
      }
      used += static_cast<int>((entry >> 8) & 0xF);
      if (built.root == nullptr) {
        ASSERT_EQ(entry, fast_entry::kExceptional) << stream;
        continue;
      }
      int linked_used = 0;
      const CodeSlot* slot = Lookup(built.root, built.width, stream, &linked_used);
      if (slot->operation == deflate::kOpInvalid) {
        ASSERT_EQ(entry, fast_entry::kExceptional) << stream;
        continue;
      }
      ASSERT_EQ(used, linked_used) << stream;
      // The readable lookup asks for the root's bits, then for each sub-table's index bits past
      // the bits it has dropped.
      int look_ahead = built.width;
      const CodeSlot* step = &built.root[stream & LowBitMask[built.width]];
      for (int dropped = 0;
           step->operation > deflate::kOpLiteral && step->operation != deflate::kOpInvalid;) {
        dropped += step->bits;
        look_ahead = dropped + (step->operation - deflate::kOpLiteral);
        step = &step->subtable[(stream >> dropped) & LowBitMask[step->operation - 16]];
      }
      ASSERT_LE(look_ahead, readable.longest) << stream;
      if (used <= readable.root_bits) {
        ASSERT_EQ(look_ahead, readable.root_bits) << stream;
      }
      if (slot->operation == deflate::kOpLiteral) {
        ASSERT_TRUE(entry & fast_entry::kLiteral) << stream;
        ASSERT_EQ((entry >> 16) & 0xFF, slot->value) << stream;
      } else if (slot->operation == deflate::kOpEndOfBlock) {
        ASSERT_EQ(entry & ~0xFFFu, fast_entry::kExceptional | fast_entry::kEndOfBlock) << stream;
      } else {
        ASSERT_EQ(entry & (fast_entry::kLiteral | fast_entry::kExceptional), 0u) << stream;
        ASSERT_EQ(entry >> 16, slot->value) << stream;
        ASSERT_EQ((entry & 0xFF) - ((entry >> 8) & 0xF), slot->operation) << stream;
      }
    }
  }
}

}  // namespace
}  // namespace selfx
