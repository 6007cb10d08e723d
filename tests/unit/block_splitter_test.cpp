// The BlockSplitter: what it rewrites decodes to the same bytes, by zlib as the control and by
// our own decoder, and is never longer; a stream it cannot read is kept as it was from the run
// that shows it, so that it decodes, or fails, exactly as before.

#include "cli/pack/block_splitter.h"

#include <gtest/gtest.h>
#include <libdeflate.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "codec_test_support.h"

namespace selfx {
namespace {

using codec_test::Bytes;
using codec_test::ZlibInflate;

// Bytes drawn from a skewed alphabet: 'width' symbols starting at 'first', the lower ones
// commoner. Two such stretches with different alphabets want different codes.
void AppendSkewed(Bytes& out, std::size_t size, int first, int width, std::mt19937& random) {
  std::geometric_distribution<int> pick(4.0 / width);
  for (std::size_t i = 0; i < size; ++i) {
    out.push_back(static_cast<std::uint8_t>(first + pick(random) % width));
  }
}

// Stretches whose statistics change every few kilobytes, as in a binary's code, tables and
// strings: what libdeflate's block ends miss and the splitter is for.
Bytes Sections(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  Bytes out;
  int section = 0;
  while (out.size() < size) {
    const std::size_t length = 1500 + random() % 6000;
    switch (section++ % 3) {
      case 0:
        AppendSkewed(out, length, 'a', 26, random);
        break;
      case 1:
        AppendSkewed(out, length, 0, 16, random);
        break;
      default:
        AppendSkewed(out, length, 0x80, 128, random);
        break;
    }
    // A repeat of something recent, for matches near and far.
    const std::size_t back = std::min<std::size_t>(out.size(), 1 + random() % 32768);
    const std::size_t copy = std::min<std::size_t>(back, 3 + random() % 300);
    const std::size_t from = out.size() - back;
    for (std::size_t i = 0; i < copy; ++i) out.push_back(out[from + i]);
  }
  out.resize(size);
  return out;
}

Bytes Noise(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  Bytes out(size);
  for (auto& byte : out) byte = static_cast<std::uint8_t>(random());
  return out;
}

Bytes Concatenated(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

Bytes Deflate(const Bytes& data, int level) {
  libdeflate_compressor* compressor = libdeflate_alloc_compressor(level);
  Bytes out(libdeflate_deflate_compress_bound(compressor, data.size()));
  out.resize(
      libdeflate_deflate_compress(compressor, data.data(), data.size(), out.data(), out.size()));
  libdeflate_free_compressor(compressor);
  return out;
}

// A dynamic block whose literal/length code is incomplete: 'a' of one bit and the end of block of
// two leave a quarter of the patterns free. Our decoder and zlib refuse such a code.
Bytes IncompleteLiteralCode() {
  codec_test::BitWriter bits;
  bits.Bits(1, 1);   // last block
  bits.Bits(2, 2);   // dynamic
  bits.Bits(0, 5);   // 257 literal/length lengths
  bits.Bits(0, 5);   // one distance length
  bits.Bits(14, 4);  // 18 code-length code lengths, up to symbol 1 in the stored order
  // Lengths in the order 16 17 18 0 8 7 9 6 10 5 11 4 12 3 13 2 14 1: 18, 0, 2 and 1 have two
  // bits each, a complete code: 0 is 00, 1 is 01, 2 is 10, 18 is 11.
  for (int length : {0, 0, 2, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 2}) bits.Bits(length, 3);
  bits.Code(3, 2);  // 18: 97 zeros (symbols 0-96)
  bits.Bits(86, 7);
  bits.Code(1, 2);  // 'a' (97): length 1
  bits.Code(3, 2);  // 18: 138 zeros, then 18: 20 zeros (98-255)
  bits.Bits(127, 7);
  bits.Code(3, 2);
  bits.Bits(9, 7);
  bits.Code(2, 2);  // end of block: length 2
  bits.Code(1, 2);  // distance 0: length 1
  bits.Code(0, 1);  // 'a', 'a', end of block
  bits.Code(0, 1);
  bits.Code(2, 2);
  return bits.Finish();
}

Bytes Rewritten(Bytes stream, std::size_t decoded_size) {
  cli::BlockSplitter splitter;
  stream.resize(splitter.Rewrite(stream.data(), stream.size(), decoded_size));
  return stream;
}

struct Input {
  const char* name;
  std::function<Bytes()> make;
};

// Each input at a fast level (fixed and few dynamic blocks), a middle one and the slow ones the
// builder rewrites; the rewritten stream must decode to the input with zlib and our decoder.
TEST(BlockSplitter, RewrittenStreamsDecodeToTheSameBytesAndAreNeverLonger) {
  const std::vector<Input> inputs = {
      {"empty", [] { return Bytes(); }},
      {"one byte", [] { return Bytes{'x'}; }},
      {"short text", [] { return codec_test::Bytes{'a', 'b', 'a', 'b', 'a', 'b', 'c'}; }},
      {"sections", [] { return Sections(400000, 1); }},
      // More tokens than one run holds: split and written in several runs.
      {"sections over several runs",
       [] { return Sections(3 * cli::BlockSplitter::kRunTokens, 2); }},
      // Stored blocks between coded runs, and a stored block last.
      {"noise between sections",
       [] {
         return Concatenated(
             {Sections(60000, 3), Noise(150000, 4), Sections(60000, 5), Noise(70000, 6)});
       }},
      // The longest match at the shortest distance, and matches from the window's far end.
      {"one byte repeated", [] { return Bytes(300000, 0x55); }},
      {"period of the window",
       [] {
         Bytes period = Noise(32768, 7);
         return Concatenated({period, period, period});
       }},
  };
  for (const Input& input : inputs) {
    const Bytes data = input.make();
    for (int level : {1, 6, 10, 12}) {
      SCOPED_TRACE(std::string(input.name) + ", level " + std::to_string(level));
      const Bytes stream = Deflate(data, level);
      ASSERT_FALSE(stream.empty());
      const Bytes rewritten = Rewritten(stream, data.size());
      EXPECT_LE(rewritten.size(), stream.size());
      bool complete = false;
      EXPECT_EQ(ZlibInflate(rewritten, &complete), data);
      EXPECT_TRUE(complete);
      codec_test::EnsureCodecTables();
      EXPECT_EQ(codec_test::InflateEntry(rewritten).output, data);
    }
  }
}

TEST(BlockSplitter, StretchesOfDifferentStatisticsPackSmaller) {
  const Bytes data = Sections(1 << 20, 8);
  for (int level : {10, 12}) {
    SCOPED_TRACE(level);
    const Bytes stream = Deflate(data, level);
    const Bytes rewritten = Rewritten(stream, data.size());
    // libdeflate ends its blocks no closer than a few thousand bytes apart, and by a guess.
    EXPECT_LT(rewritten.size() * 1000, stream.size() * 995);
    bool complete = false;
    EXPECT_EQ(ZlibInflate(rewritten, &complete), data);
  }
}

// A damaged stream, or one that decodes to another size than stated, decodes after the rewrite
// as before: the same bytes, up to the same failure. A stream cut short is the one exception,
// and only by its end: the part kept moves to another bit position, and the last byte's padding
// may then decode as a few literals more before the input ends.
TEST(BlockSplitter, WhatCannotBeReadIsKeptAsItWas) {
  const Bytes data = Sections(3 * cli::BlockSplitter::kRunTokens, 9);
  const Bytes stream = Deflate(data, 12);
  struct Case {
    const char* name;
    std::function<Bytes()> damage;
    std::size_t decoded_size;
    std::size_t padding_literals = 0;  // at most this many bytes more from the last byte
  };
  const std::vector<Case> cases = {
      {"cut short", [&] { return Bytes(stream.begin(), stream.begin() + stream.size() * 2 / 3); },
       data.size(), 7},
      {"bits flipped in the last run",
       [&] {
         Bytes damaged = stream;
         for (std::size_t at = damaged.size() * 4 / 5; at < damaged.size() * 4 / 5 + 40; ++at) {
           damaged[at] ^= 0xA5;
         }
         return damaged;
       },
       data.size()},
      {"a size stated too small", [&] { return stream; }, data.size() / 2},
      {"a size stated too large", [&] { return stream; }, data.size() + 1},
      {"not deflate at all", [] { return Bytes(1000, 0xFF); }, 5000},
      {"an incomplete literal/length code", [] { return IncompleteLiteralCode(); }, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes damaged = c.damage();
    const Bytes rewritten = Rewritten(damaged, c.decoded_size);
    EXPECT_LE(rewritten.size(), damaged.size());
    bool before_complete = false, after_complete = false;
    const Bytes before = ZlibInflate(damaged, &before_complete);
    const Bytes after = ZlibInflate(rewritten, &after_complete);
    EXPECT_EQ(after_complete, before_complete);
    ASSERT_GE(after.size(), before.size());
    EXPECT_LE(after.size(), before.size() + c.padding_literals);
    EXPECT_TRUE(std::equal(before.begin(), before.end(), after.begin()));
  }
}

}  // namespace
}  // namespace selfx
