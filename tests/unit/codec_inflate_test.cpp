// The deflate decoder. Every case runs through both inner loops (readable and fast); the
// stream comes from a source over memory and the output goes to a sink that records every
// piece, with one decoder reused from entry to entry. Hand-made streams come from a bit writer with
// a comment per field; the differential test uses zlib as compressor and control.
#include <gtest/gtest.h>
#include <zlib.h>

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "codec/deflate_format.h"
#include "codec/inflate.h"
#include "codec/zip_crypto.h"
#include "codec_test_support.h"

namespace selfx {
namespace {

using codec_test::BitWriter;
using codec_test::Bytes;
using codec_test::EntryResult;
using codec_test::ZlibInflate;

EntryResult Inflate(const Bytes& stream, bool fast, const std::string& password = "",
                    codec_test::SourceShape shape = {}) {
  Inflater& inflater = codec_test::SharedInflater();
  inflater.readable_loop = !fast;
  EntryResult result = codec_test::InflateEntry(stream, password, shape);
  inflater.readable_loop = false;
  return result;
}

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

// Raw deflate with zlib at a level and strategy.
Bytes ZlibDeflate(const Bytes& data, int level, int strategy) {
  z_stream z{};
  EXPECT_EQ(deflateInit2(&z, level, Z_DEFLATED, -15, 8, strategy), Z_OK);
  Bytes out(deflateBound(&z, static_cast<uLong>(data.size())) + 64);
  z.next_in = const_cast<Bytef*>(data.data());
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(::deflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

// Canonical codes (RFC 1951, 3.2.2) of a list of lengths.
std::vector<std::uint32_t> CanonicalCodes(const std::vector<std::uint16_t>& lengths) {
  int count[17] = {};
  for (auto length : lengths) ++count[length];
  count[0] = 0;
  std::uint32_t next[17] = {};
  std::uint32_t code = 0;
  for (int bits = 1; bits <= 16; ++bits) {
    code = (code + count[bits - 1]) << 1;
    next[bits] = code;
  }
  std::vector<std::uint32_t> codes(lengths.size());
  for (std::size_t s = 0; s < lengths.size(); ++s)
    if (lengths[s]) codes[s] = next[lengths[s]]++;
  return codes;
}

// A dynamic block header. The code-length code gives 4 bits to symbols 0-12 and 5 bits to
// 13-18 (a complete code); all 19 of its lengths are sent. The code lengths themselves go as
// the given code-length symbols with their extra values.
struct CodeLengthSymbol {
  int symbol;
  int extra;  // the repeat's extra bits for 16, 17, 18
};

struct DynamicHeader {
  int literal_count;   // 257..288
  int distance_count;  // 1..32
  std::vector<CodeLengthSymbol> symbols;
};

void WriteDynamicHeader(BitWriter& out, const DynamicHeader& header) {
  out.Bits(header.literal_count - 257, 5);  // HLIT
  out.Bits(header.distance_count - 1, 5);   // HDIST
  out.Bits(19 - 4, 4);                      // HCLEN: all 19
  std::vector<std::uint16_t> lengths(19);
  for (int s = 0; s < 19; ++s) lengths[s] = s < 13 ? 4 : 5;
  for (int i = 0; i < 19; ++i) out.Bits(lengths[deflate::CodeLengthOrder[i]], 3);
  std::vector<std::uint32_t> codes = CanonicalCodes(lengths);
  for (const CodeLengthSymbol& s : header.symbols) {
    out.Code(codes[s.symbol], lengths[s.symbol]);
    if (s.symbol == 16) out.Bits(s.extra, 2);
    if (s.symbol == 17) out.Bits(s.extra, 3);
    if (s.symbol == 18) out.Bits(s.extra, 7);
  }
}

// The code-length symbols that send the lengths one by one.
std::vector<CodeLengthSymbol> Plainly(const std::vector<std::uint16_t>& lengths) {
  std::vector<CodeLengthSymbol> symbols;
  for (auto length : lengths) symbols.push_back({length, 0});
  return symbols;
}

class InflateTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override { codec_test::EnsureCodecTables(); }
  EntryResult Run(const Bytes& stream, const std::string& password = "") {
    return Inflate(stream, GetParam(), password);
  }
  static void ExpectDecodes(const EntryResult& result, const Bytes& expected) {
    EXPECT_EQ(result.output.size(), expected.size());
    EXPECT_TRUE(result.output == expected);
    EXPECT_EQ(result.crc ^ 0xFFFFFFFF, codec_test::Crc32Of(expected));
    EXPECT_TRUE(result.kept);
  }
  // After a failure the file holds whole pieces only, and the CRC covers exactly them. A damaged
  // stream is not the decoder's to report: only a refused piece makes it return false.
  static void ExpectFailedAfter(const EntryResult& result, std::size_t written) {
    EXPECT_EQ(result.output.size(), written);
    EXPECT_EQ(result.crc ^ 0xFFFFFFFF, codec_test::Crc32Of(result.output));
    EXPECT_TRUE(result.kept);
  }
};

INSTANTIATE_TEST_SUITE_P(Loops, InflateTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Fast" : "Readable"; });

// A stored block of the given bytes.
void StoredBlock(BitWriter& out, bool final, const Bytes& bytes) {
  out.Bits(final, 1);  // BFINAL
  out.Bits(0, 2);      // BTYPE stored
  out.AlignToByte();
  out.Bits(static_cast<std::uint32_t>(bytes.size()), 16);            // LEN
  out.Bits(static_cast<std::uint32_t>(~bytes.size()) & 0xFFFF, 16);  // NLEN
  for (std::uint8_t byte : bytes) out.Byte(byte);
}

Bytes Pattern(std::size_t size, std::uint32_t seed = 1) {
  Bytes bytes(size);
  std::mt19937 random(seed);
  for (auto& byte : bytes) byte = static_cast<std::uint8_t>(random() % 7 + 'a');
  return bytes;
}

TEST_P(InflateTest, LoneEndOfBlockGivesAnEmptyFile) {
  BitWriter out;
  out.Bits(1, 1);        // BFINAL
  out.Bits(1, 2);        // fixed
  out.FixedSymbol(256);  // end of block
  EntryResult result = Run(out.Finish());
  EXPECT_TRUE(result.output.empty());
  EXPECT_EQ(result.crc, 0xFFFFFFFFu);
}

TEST_P(InflateTest, SizesAroundTheWindow) {
  for (std::size_t size : {1u, 32767u, 32768u, 32769u, 65535u, 65536u, 65537u, 100000u}) {
    SCOPED_TRACE(size);
    Bytes data = Pattern(size);
    BitWriter out;
    for (std::size_t at = 0; at < size; at += 65535) {
      std::size_t n = std::min<std::size_t>(65535, size - at);
      StoredBlock(out, at + n == size, Bytes(data.begin() + at, data.begin() + at + n));
    }
    ExpectDecodes(Run(out.Finish()), data);
  }
}

// The pieces: 40,000 bytes then a failure leave exactly the first 32,768 bytes written.
TEST_P(InflateTest, FailureKeepsOnlyTheWrittenPieces) {
  Bytes data = Pattern(40000);
  BitWriter out;
  StoredBlock(out, false, data);
  out.Bits(1, 1);  // BFINAL
  out.Bits(3, 2);  // BTYPE 3: reserved
  EntryResult result = Run(out.Finish());
  ExpectFailedAfter(result, 32768);
  EXPECT_TRUE(std::equal(result.output.begin(), result.output.end(), data.begin()));
}

TEST_P(InflateTest, StoredBlockOfLengthZeroThenTheNextHeader) {
  BitWriter out;
  StoredBlock(out, false, {});
  out.Bits(1, 1);  // BFINAL
  out.Bits(1, 2);  // fixed, starting at the byte after NLEN
  out.FixedSymbol('A');
  out.FixedSymbol(256);
  ExpectDecodes(Run(out.Finish()), Text("A"));
}

TEST_P(InflateTest, StoredLengthMustMatchItsComplement) {
  BitWriter out;
  out.Bits(1, 1);
  out.Bits(0, 2);
  out.AlignToByte();
  out.Bits(5, 16);
  out.Bits(0xFFFB, 16);  // ~5 would be 0xFFFA
  for (int i = 0; i < 5; ++i) out.Byte('x');
  ExpectFailedAfter(Run(out.Finish()), 0);
}

TEST_P(InflateTest, BlockTypeThreeFails) {
  BitWriter out;
  out.Bits(1, 1);
  out.Bits(3, 2);
  out.Bits(0, 20);
  ExpectFailedAfter(Run(out.Finish()), 0);
}

// Fixed-code match: length symbol with its extra bits, distance symbol with its extra bits.
void FixedMatch(BitWriter& out, int length, int distance) {
  int symbol = 257;
  while (symbol < 285 && deflate::LengthBase[symbol + 1 - 257] <= length) ++symbol;
  out.FixedSymbol(symbol);
  out.Bits(length - deflate::LengthBase[symbol - 257], deflate::LengthExtra[symbol - 257]);
  int code = 0;
  while (code < 29 && deflate::DistanceBase[code + 1] <= distance) ++code;
  out.FixedDistance(code);
  out.Bits(distance - deflate::DistanceBase[code], deflate::DistanceExtra[code]);
}

TEST_P(InflateTest, LengthOf258AtDistanceOneAcrossTheWindowEnd) {
  Bytes prefix = Pattern(32700);
  BitWriter out;
  StoredBlock(out, false, prefix);
  out.Bits(1, 1);
  out.Bits(1, 2);
  out.FixedSymbol('z');
  FixedMatch(out, 258, 1);  // crosses position 32,768
  FixedMatch(out, 258, 1);
  out.FixedSymbol(256);
  Bytes expected = prefix;
  expected.insert(expected.end(), 1 + 258 + 258, 'z');
  ExpectDecodes(Run(out.Finish()), expected);
}

TEST_P(InflateTest, DistanceOf32768CopiesTheByteWrittenThatFarBack) {
  Bytes prefix = Pattern(40000, 9);
  BitWriter out;
  StoredBlock(out, false, prefix);
  out.Bits(1, 1);
  out.Bits(1, 2);
  FixedMatch(out, 10, 32768);
  FixedMatch(out, 258, 32768);
  out.FixedSymbol(256);
  Bytes expected = prefix;
  for (int i = 0; i < 268; ++i) expected.push_back(expected[expected.size() - 32768]);
  ExpectDecodes(Run(out.Finish()), expected);
}

// The sink's contract, which the stub's output file and CRC rely on: every 32,768 bytes go out
// as one piece the moment the window fills, the rest once the final block ends, in output
// order; and a refill is asked for only when the input buffer is used up, for the smaller of
// what is left of the entry and 32,768 bytes.
TEST_P(InflateTest, SinkReceivesTheWindowsPiecesInOrder) {
  // 100,000 bytes from a few hundred input bytes: 'a' and matches of 258 at distance 1.
  BitWriter matches;
  matches.Bits(1, 1);  // BFINAL
  matches.Bits(1, 2);  // fixed
  matches.FixedSymbol('a');
  for (int i = 0; i < 387; ++i) FixedMatch(matches, 258, 1);
  FixedMatch(matches, 153, 1);  // 1 + 387 × 258 + 153 = 100,000
  matches.FixedSymbol(256);
  Bytes many_a(100000, 'a');
  // 40,000 stored bytes: the first piece needs input beyond the first 32,768 bytes read.
  Bytes stored = Pattern(40000);
  BitWriter two_blocks;
  StoredBlock(two_blocks, false, stored);  // 5 bytes of header, then the 40,000
  two_blocks.Bits(1, 1);                   // BFINAL
  two_blocks.Bits(1, 2);                   // fixed
  two_blocks.FixedSymbol(256);             // 10 bits: 40,007 bytes in all
  struct Case {
    Bytes stream;
    Bytes expected;
    codec_test::StreamLog log;
  };
  Bytes matches_stream = matches.Finish();
  std::vector<Case> cases = {
      {matches_stream,
       many_a,
       {"read " + std::to_string(matches_stream.size()), "piece 32768", "piece 32768",
        "piece 32768", "piece 1696"}},
      {two_blocks.Finish(), stored, {"read 32768", "read 7239", "piece 32768", "piece 7232"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected.size());
    EntryResult result = Run(c.stream);
    ExpectDecodes(result, c.expected);
    EXPECT_EQ(result.log, c.log);
    EXPECT_EQ(result.remaining, 0);
  }
}

// Matches at the edges of the fast loop's in-place copy: lengths around its 4- and 8-byte
// steps, distances around 8 (shorter ones repeat bytes the copy has just written), a source at
// the window's first byte, and matches that end one or two bytes before the window is full or
// exactly when it is. Bytes after the final block keep the fast loop running to the end.
TEST_P(InflateTest, MatchesAtTheEdgesOfTheInPlaceCopy) {
  struct Case {
    std::size_t prefix;                        // stored bytes before the matches
    std::vector<std::pair<int, int>> matches;  // length, distance; or 0 and a literal
  };
  std::vector<Case> cases;
  Case mixed{1000, {}};
  for (int length : {3, 4, 5, 7, 8, 9, 15, 16, 17, 258})
    for (int distance : {1, 2, 7, 8, 9, 16, 300}) mixed.matches.push_back({length, distance});
  cases.push_back(mixed);
  cases.push_back({500, {{10, 500}, {258, 510}, {3, 768}}});  // source at the window's start
  for (int length : {3, 8, 9, 258})
    for (std::size_t short_of_end : {0u, 1u, 2u})
      cases.push_back({32768 - length - short_of_end, {{length, 9}, {0, 'q'}, {20, 30}}});
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << "prefix " << c.prefix << " first length " << c.matches[0].first);
    Bytes expected = Pattern(c.prefix, 5);
    BitWriter out;
    StoredBlock(out, false, expected);
    out.Bits(1, 1);
    out.Bits(1, 2);
    for (const auto& [length, distance] : c.matches) {
      if (length == 0) {
        out.FixedSymbol(distance);
        expected.push_back(static_cast<std::uint8_t>(distance));
        continue;
      }
      FixedMatch(out, length, distance);
      for (int i = 0; i < length; ++i) expected.push_back(expected[expected.size() - distance]);
    }
    out.FixedSymbol(256);
    Bytes stream = out.Finish();
    stream.insert(stream.end(), 16, 0xA5);
    EntryResult result = Run(stream);
    ExpectDecodes(result, expected);
    EXPECT_EQ(result.remaining, 16);
  }
}

// Sound behaviour: the window starts cleared, so a distance beyond the entry's output copies
// zeros, never bytes of an earlier entry: after a short one, and after one long enough for the
// decoder to have moved its own history around.
TEST_P(InflateTest, DistanceBeyondTheOutputCopiesZeros) {
  BitWriter stored;
  StoredBlock(stored, true, Pattern(32768 + 100, 3));
  Bytes long_entry = Pattern(9 * 32768 + 100, 3);
  for (const Bytes& earlier : {stored.Finish(), ZlibDeflate(long_entry, 6, Z_DEFAULT_STRATEGY)}) {
    SCOPED_TRACE(earlier.size());
    Run(earlier);
    BitWriter out;
    out.Bits(1, 1);
    out.Bits(1, 2);
    out.FixedSymbol('a');
    FixedMatch(out, 5, 100);
    out.FixedSymbol(256);
    Bytes expected = Text("a");
    expected.insert(expected.end(), 5, 0);
    ExpectDecodes(Run(out.Finish()), expected);
  }
}

TEST_P(InflateTest, BytesAfterTheFinalBlockAreNeverDecoded) {
  Bytes data = Pattern(5000);
  Bytes stream = ZlibDeflate(data, 6, Z_DEFAULT_STRATEGY);
  for (int i = 0; i < 100; ++i) stream.push_back(static_cast<std::uint8_t>(i * 13));
  EntryResult result = Run(stream);
  ExpectDecodes(result, data);
  EXPECT_GT(result.remaining, 0);
}

// The last byte's padding is 1-bits and the archive ends right there: the lookups near the
// end may read 1-bits beyond it, but none is consumed and the stream decodes completely.
TEST_P(InflateTest, OneBitsTailOfAValidStream) {
  for (int length = 1; length <= 9; ++length) {
    BitWriter out;
    out.Bits(1, 1);
    out.Bits(1, 2);
    for (int i = 0; i < length; ++i) out.FixedSymbol(200 + i);
    out.FixedSymbol(256);
    Bytes expected;
    for (int i = 0; i < length; ++i) expected.push_back(static_cast<std::uint8_t>(200 + i));
    ExpectDecodes(Run(out.Finish(1)), expected);
  }
}

// Sound behaviour: a stream cut short reads 1-bits forever (literal 255 in a fixed block);
// the first code that consumes one of them fails the stream, so the output stays bounded. An
// archive that ends inside the entry (the source gives 0 while the entry's bound says more)
// ends the input there just the same.
TEST_P(InflateTest, TruncatedStreamsEndWithBoundedOutput) {
  Bytes data = Pattern(200000, 5);
  for (int strategy : {Z_DEFAULT_STRATEGY, Z_FIXED, Z_HUFFMAN_ONLY}) {
    Bytes stream = ZlibDeflate(data, 6, strategy);
    for (std::size_t cut :
         {std::size_t{0}, std::size_t{1}, std::size_t{2}, stream.size() / 3, stream.size() - 1}) {
      SCOPED_TRACE(testing::Message() << "strategy " << strategy << " cut " << cut);
      EntryResult result = Run(Bytes(stream.begin(), stream.begin() + cut));
      EXPECT_LE(result.output.size(), data.size());
      EXPECT_EQ(result.output.size() % 32768, 0u);
      EXPECT_TRUE(std::equal(result.output.begin(), result.output.end(), data.begin()));
      EntryResult source_ended = Inflate(stream, GetParam(), "", {static_cast<std::int64_t>(cut)});
      EXPECT_TRUE(source_ended.output == result.output);
      EXPECT_EQ(source_ended.remaining, 0);
    }
  }
  BitWriter out;
  out.Bits(1, 1);
  out.Bits(1, 2);
  out.FixedSymbol('a');
  ExpectFailedAfter(Run(out.Finish()), 0);  // then nothing but made-up 1-bits
}

TEST_P(InflateTest, EncryptedDeflatedEntry) {
  Bytes data = Pattern(100000, 11);
  ExpectDecodes(Run(ZlibDeflate(data, 9, Z_DEFAULT_STRATEGY), "secret"), data);
}

// A sink that cannot keep a piece (a full disk, a cancelled run) stops the decoder at once: the
// refused piece is the last thing that happens at either end, no read and no piece after it,
// and the decoder says so. Refused where the stored copy hands a piece over, where the fast loop
// runs on past the area's end (400,000 bytes from 3 KB of matches: pieces 1-8 wait there when it
// makes room, 9 and later come after the history moved), at the final piece, and in the middle
// of zlib's dynamic blocks.
TEST_P(InflateTest, RefusedPieceStopsTheDecoder) {
  Bytes stored_data = Pattern(100000, 4);
  BitWriter stored;
  StoredBlock(stored, false, Bytes(stored_data.begin(), stored_data.begin() + 65535));
  StoredBlock(stored, true, Bytes(stored_data.begin() + 65535, stored_data.end()));
  BitWriter matches;
  matches.Bits(1, 1);  // BFINAL
  matches.Bits(1, 2);  // fixed
  matches.FixedSymbol('m');
  for (int i = 0; i < 1550; ++i) FixedMatch(matches, 258, 1);
  FixedMatch(matches, 99, 1);  // 1 + 1,550 × 258 + 99 = 400,000
  matches.FixedSymbol(256);
  Bytes text = Pattern(200000, 8);
  struct Case {
    const char* name;
    Bytes stream;
    Bytes expected;
    std::size_t refused_piece;
  };
  const std::vector<Case> cases = {
      {"stored", stored.Finish(), stored_data, 2},
      {"stored, the final piece", stored.Finish(), stored_data, 4},
      {"matches, before the area's end", matches.Finish(), Bytes(400000, 'm'), 3},
      {"matches, after the move", matches.Finish(), Bytes(400000, 'm'), 10},
      {"matches, the final piece", matches.Finish(), Bytes(400000, 'm'), 13},
      {"dynamic blocks", ZlibDeflate(text, 6, Z_DEFAULT_STRATEGY), text, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EntryResult result = Inflate(c.stream, GetParam(), "", {-1, 0, c.refused_piece});
    EXPECT_FALSE(result.kept);
    const std::size_t kept = (c.refused_piece - 1) * 32768;
    ASSERT_EQ(result.output.size(), kept);
    EXPECT_TRUE(std::equal(result.output.begin(), result.output.end(), c.expected.begin()));
    ASSERT_FALSE(result.log.empty());
    const std::size_t refused_size = std::min<std::size_t>(32768, c.expected.size() - kept);
    EXPECT_EQ(result.log.back(), "refused " + std::to_string(refused_size));
    // The next entry starts afresh on the same decoder.
    ExpectDecodes(Run(c.stream), c.expected);
  }
}

// Each decoder keeps all of its state to itself: an entry decoded in the middle of another one,
// from inside its sink, on a second decoder, disturbs neither. Both entries are encrypted with
// their own passwords and made of dynamic blocks, and the inner one is long enough for its
// decoder to move its history.
TEST_P(InflateTest, DecoderInsideAnotherDecodersSink) {
  Bytes outer_data = Pattern(150000, 20);
  Bytes inner_data = Pattern(400000, 21);
  Bytes encrypted = codec_test::EncryptEntry(ZlibDeflate(outer_data, 6, Z_DEFAULT_STRATEGY),
                                             "outer", 0x5A);
  ZipKeys keys;
  std::uint8_t work[2 * kEncryptionHeaderSize];
  std::copy(encrypted.begin(), encrypted.begin() + kEncryptionHeaderSize,
            work + kEncryptionHeaderSize);
  ASSERT_TRUE(
      CheckEncryptionHeader(keys, work, kEncryptionHeaderSize, 0x0001, 0x5A000000, 0, "outer"));
  codec_test::MemorySource source{encrypted, kEncryptionHeaderSize, 0, {}};

  struct Outer {
    Bytes output;
    Bytes inner_stream;
    bool fast;
    EntryResult inner;
  } outer{{}, ZlibDeflate(inner_data, 6, Z_DEFAULT_STRATEGY), GetParam(), {}};
  auto take = [](void* context, const std::uint8_t* bytes, std::uint32_t count) {
    Outer& o = *static_cast<Outer*>(context);
    if (o.output.empty()) {
      auto inner = std::make_unique<Inflater>();
      inner->readable_loop = !o.fast;
      o.inner = codec_test::InflateEntry(o.inner_stream, "inner", {}, inner.get());
    }
    o.output.insert(o.output.end(), bytes, bytes + count);
    return true;
  };
  Inflater& inflater = codec_test::SharedInflater();
  inflater.readable_loop = !GetParam();
  EXPECT_TRUE(DecodeDeflatedEntry(
      inflater, codec_test::SourceOver(source),
      static_cast<std::int32_t>(encrypted.size()) - kEncryptionHeaderSize, &keys, {take, &outer}));
  inflater.readable_loop = false;
  EXPECT_TRUE(outer.output == outer_data);
  ExpectDecodes(outer.inner, inner_data);
}

// Literal/length code for the dynamic cases: 'a' and the end of block, one bit each, and
// nothing else, so that any run of zeros fits around them.
std::vector<std::uint16_t> TwoSymbolLiterals(int literal_count) {
  std::vector<std::uint16_t> lengths(literal_count, 0);
  lengths['a'] = 1;
  lengths[256] = 1;
  return lengths;
}

// The lengths of 'a' and end of block, with runs of zeros written by code 18 (11-138) and 17.
std::vector<CodeLengthSymbol> ZeroRun(int zeros) {
  std::vector<CodeLengthSymbol> symbols;
  while (zeros >= 11) {
    int run = std::min(zeros, 138);
    if (zeros - run > 0 && zeros - run < 3) run -= 3;
    symbols.push_back({18, run - 11});
    zeros -= run;
  }
  if (zeros >= 3) symbols.push_back({17, zeros - 3}), zeros = 0;
  for (; zeros > 0; --zeros) symbols.push_back({0, 0});
  return symbols;
}

void Append(std::vector<CodeLengthSymbol>& to, const std::vector<CodeLengthSymbol>& more) {
  to.insert(to.end(), more.begin(), more.end());
}

// 'a' once, a match of 3 at distance 1 ('a' again three times) when there is a distance code
// of symbol 0, then the end of block.
Bytes DynamicStream(const DynamicHeader& header, bool with_match, int distance_symbol_length) {
  BitWriter out;
  out.Bits(1, 1);  // BFINAL
  out.Bits(2, 2);  // dynamic
  WriteDynamicHeader(out, header);
  out.Code(0, 1);  // 'a' (the shorter symbol number gets code 0)
  if (with_match) {
    out.Code(3, 2);  // symbol 257 when it has length 2 (see the match case)
    out.Code(0, distance_symbol_length);
  }
  out.Code(1, with_match ? 2 : 1);  // end of block
  return out.Finish();
}

TEST_P(InflateTest, RunOf138ZerosAndRunsAcrossTheTwoLists) {
  // 97 zeros, 'a', 138 + 20 zeros, end of block; then a run of 12 zeros that starts at
  // literal/length symbol 257 and runs on into the distance list (11 distance codes, none
  // used: a distance code without codes is valid until a distance is needed).
  DynamicHeader header{258, 11, {}};
  Append(header.symbols, ZeroRun(97));
  header.symbols.push_back({1, 0});
  header.symbols.push_back({18, 138 - 11});
  Append(header.symbols, ZeroRun(20));
  header.symbols.push_back({1, 0});
  header.symbols.push_back({18, 12 - 11});
  ExpectDecodes(Run(DynamicStream(header, false, 0)), Text("a"));
}

TEST_P(InflateTest, RunPastTheLastDeclaredLengthFails) {
  DynamicHeader header{257, 1, {}};
  Append(header.symbols, ZeroRun(97));
  header.symbols.push_back({1, 0});
  Append(header.symbols, ZeroRun(158));
  header.symbols.push_back({1, 0});
  header.symbols.push_back({17, 0});  // 3 zeros where only 1 distance length is left
  ExpectFailedAfter(Run(DynamicStream(header, false, 0)), 0);
}

TEST_P(InflateTest, CodeSixteenFirstRepeatsZero) {
  DynamicHeader header{257, 1, {}};
  header.symbols.push_back({16, 3});  // 6 zeros: no length was read yet
  Append(header.symbols, ZeroRun(91));
  header.symbols.push_back({1, 0});
  Append(header.symbols, ZeroRun(158));
  header.symbols.push_back({1, 0});
  header.symbols.push_back({0, 0});
  ExpectDecodes(Run(DynamicStream(header, false, 0)), Text("a"));
}

// Literal/length lengths: 'a' 1 bit, 257 2 bits, 256 2 bits, plus 286 and 287 declared (a
// 288/32 block) with lengths that keep the code complete; a single distance code of length 1.
TEST_P(InflateTest, DynamicBlockWithAllCodesDeclaredAndASingleDistanceCode) {
  std::vector<std::uint16_t> literals(288, 0);
  literals['a'] = 1;
  literals[256] = 2;
  literals[257] = 3;
  literals[286] = 4;
  literals[287] = 4;
  std::vector<std::uint16_t> distances(32, 0);
  distances[0] = 1;  // incomplete: accepted for distances
  std::vector<std::uint16_t> all = literals;
  all.insert(all.end(), distances.begin(), distances.end());
  DynamicHeader header{288, 32, Plainly(all)};
  std::vector<std::uint32_t> codes = CanonicalCodes(literals);
  auto stream = [&](int length_symbol) {
    BitWriter out;
    out.Bits(1, 1);
    out.Bits(2, 2);
    WriteDynamicHeader(out, header);
    out.Code(codes['a'], 1);
    out.Code(codes[length_symbol], literals[length_symbol]);
    out.Code(0, 1);  // distance symbol 0: distance 1
    out.Code(codes[256], 2);
    return out.Finish();
  };
  ExpectDecodes(Run(stream(257)), Text("aaaa"));
  ExpectFailedAfter(Run(stream(286)), 0);
  ExpectFailedAfter(Run(stream(287)), 0);
}

TEST_P(InflateTest, IncompleteLiteralCodeFails) {
  std::vector<std::uint16_t> all = TwoSymbolLiterals(257);
  all[256] = 2;  // patterns 11 left free, longest code 2 bits
  all.push_back(1);
  DynamicHeader header{257, 1, Plainly(all)};
  ExpectFailedAfter(Run(DynamicStream(header, false, 0)), 0);
}

// ---- Differential test: zlib at every level and strategy, both loops, zlib as control ----

std::vector<Bytes> DifferentialInputs() {
  std::vector<Bytes> inputs;
  std::mt19937 random(2024);
  for (std::size_t size : {0u, 1u, 2u, 3u, 10u, 100u, 258u, 1000u, 4096u, 5000u, 20000u, 32768u,
                           50000u, 70000u, 140000u}) {
    Bytes noise(size);
    for (auto& byte : noise) byte = static_cast<std::uint8_t>(random());
    inputs.push_back(noise);
    Bytes runs;
    while (runs.size() < size)
      runs.insert(runs.end(), random() % 300 + 1, static_cast<std::uint8_t>(random() % 4));
    runs.resize(size);
    inputs.push_back(runs);
    Bytes words;
    static const char* vocabulary[] = {"deflate ", "window ", "the ", "stub ", "archive\n", "crc "};
    while (words.size() < size) {
      const char* word = vocabulary[random() % 6];
      words.insert(words.end(), word, word + std::strlen(word));
    }
    words.resize(size);
    inputs.push_back(words);
  }
  // Longer than the decoder's output area: matches cross its end, and the history moves.
  Bytes long_text;
  static const char* sentences[] = {"a piece of 32 KiB ", "goes to the sink\n", "history ",
                                    "moves to the front ", "of the area; "};
  while (long_text.size() < 700000) {
    const char* sentence = sentences[random() % 5];
    long_text.insert(long_text.end(), sentence, sentence + std::strlen(sentence));
    if (random() % 8 == 0) long_text.push_back(static_cast<std::uint8_t>(random()));
  }
  inputs.push_back(long_text);
  // Real files of this machine: headers and programs, a few hundred KB in all.
  for (const char* path : {"/usr/include/stdio.h", "/usr/include/zlib.h", "/usr/include/unistd.h",
                           "/bin/ls", "/bin/cp", "/usr/include/libdeflate.h"}) {
    Bytes bytes = codec_test::ReadFileBytes(path);
    if (bytes.size() > 300000) bytes.resize(300000);
    if (!bytes.empty()) inputs.push_back(bytes);
  }
  return inputs;
}

struct Compression {
  int level;
  int strategy;
};

std::vector<Compression> Compressions() {
  std::vector<Compression> all;
  for (int level = 0; level <= 9; ++level) all.push_back({level, Z_DEFAULT_STRATEGY});
  for (int strategy : {Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED}) {
    all.push_back({1, strategy});
    all.push_back({6, strategy});
    all.push_back({9, strategy});
  }
  return all;
}

// Where the processor has BMI2 the fast loop above ran in its BMI2 build: the generic build
// must give the same result.
void ExpectTheGenericFastLoopAgrees(const Bytes& stream, codec_test::SourceShape shape,
                                    const EntryResult& fast) {
#ifdef SELFX_INFLATE_BMI2
  if (!ProcessorHasBmi2) return;
  Inflater& inflater = codec_test::SharedInflater();
  inflater.generic_loop = true;
  EntryResult generic = Inflate(stream, true, "", shape);
  inflater.generic_loop = false;
  ASSERT_TRUE(generic.output == fast.output);
  ASSERT_EQ(generic.crc, fast.crc);
  ASSERT_EQ(generic.remaining, fast.remaining);
  ASSERT_EQ(generic.log, fast.log);
#else
  (void)stream, (void)shape, (void)fast;
#endif
}

TEST(InflateDifferentialTest, ZlibStreamsDecodeIdenticallyInBothLoops) {
  codec_test::EnsureCodecTables();
  std::vector<Bytes> inputs = DifferentialInputs();
  int streams = 0;
  for (const Compression& c : Compressions()) {
    for (std::size_t i = 0; i < inputs.size(); ++i) {
      SCOPED_TRACE(testing::Message()
                   << "level " << c.level << " strategy " << c.strategy << " input " << i);
      Bytes stream = ZlibDeflate(inputs[i], c.level, c.strategy);
      EntryResult readable = Inflate(stream, false);
      EntryResult fast = Inflate(stream, true);
      // A source that gives at most 1,000 bytes a call: every short read is handed out in full,
      // and the fast loop meets the end of a nearly empty buffer far more often.
      EntryResult trickle = Inflate(stream, true, "", {-1, 1000});
      // The same short reads through the readable loop: every read lands somewhere else within
      // a symbol, and the fast loop's way up to each read must read at the same moments.
      EntryResult readable_trickle = Inflate(stream, false, "", {-1, 1000});
      ASSERT_TRUE(readable.output == inputs[i]);
      ASSERT_TRUE(fast.output == inputs[i]);
      ASSERT_TRUE(trickle.output == inputs[i]);
      ASSERT_EQ(readable.crc ^ 0xFFFFFFFF,
                crc32(0, inputs[i].data(), static_cast<uInt>(inputs[i].size())));
      ASSERT_EQ(fast.crc, readable.crc);
      ASSERT_EQ(fast.remaining, readable.remaining);
      ASSERT_EQ(trickle.remaining, readable.remaining);
      ASSERT_EQ(fast.log, readable.log);  // the same reads and pieces at the same moments
      ASSERT_EQ(trickle.log, readable_trickle.log);
      ExpectTheGenericFastLoopAgrees(stream, {}, fast);
      ExpectTheGenericFastLoopAgrees(stream, {-1, 1000}, trickle);
      ++streams;
    }
  }
  EXPECT_GT(streams, 1000);
}

// Damaged streams: bit flips, cuts and random bytes, every fourth round from a source that
// gives short reads. Both loops must write the same pieces, end with the same CRC, read the
// source at the same moments and leave the same input unread; and every byte written must be a
// byte zlib also produces for the same stream (it stops at the same place or later).
TEST(InflateDifferentialTest, DamagedStreamsFailIdenticallyInBothLoops) {
  codec_test::EnsureCodecTables();
  std::vector<Bytes> inputs = DifferentialInputs();
  std::mt19937 random(77);
  int cases = 0;
  for (int round = 0; round < 1500; ++round) {
    const Bytes& input = inputs[random() % inputs.size()];
    Bytes stream;
    int kind = round % 3;
    if (kind == 2) {
      stream.resize(random() % 3000);
      for (auto& byte : stream) byte = static_cast<std::uint8_t>(random());
    } else {
      stream = ZlibDeflate(input, static_cast<int>(random() % 10), Z_DEFAULT_STRATEGY);
      if (stream.empty()) continue;
      if (kind == 0) {
        for (int flips = 1 + random() % 3; flips > 0; --flips) {
          std::size_t bit = random() % (stream.size() * 8);
          stream[bit / 8] ^= static_cast<std::uint8_t>(1u << (bit % 8));
        }
      } else {
        stream.resize(random() % stream.size());
      }
    }
    codec_test::SourceShape shape;
    if (round % 4 == 3) shape.most_per_read = 1 + random() % 2000;
    SCOPED_TRACE(testing::Message()
                 << "round " << round << " reads of at most " << shape.most_per_read);
    EntryResult readable = Inflate(stream, false, "", shape);
    EntryResult fast = Inflate(stream, true, "", shape);
    ASSERT_TRUE(fast.output == readable.output);
    ASSERT_EQ(fast.crc, readable.crc);
    ASSERT_EQ(fast.remaining, readable.remaining);
    ASSERT_EQ(fast.log, readable.log);
    ExpectTheGenericFastLoopAgrees(stream, shape, fast);
    ASSERT_EQ(readable.crc ^ 0xFFFFFFFF, codec_test::Crc32Of(readable.output));
    bool complete = false;
    Bytes control = ZlibInflate(stream, &complete);
    if (complete) {
      // zlib accepts the stream: so must we, unless it refers before the output's start,
      // which zlib refuses and we answer with zeros.
      ASSERT_TRUE(std::equal(readable.output.begin(), readable.output.end(), control.begin()));
    }
    ++cases;
  }
  EXPECT_GT(cases, 1000);
}

}  // namespace
}  // namespace selfx
