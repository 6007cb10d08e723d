#include "cli/pack/block_splitter.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "base/byte_order.h"
#include "codec/decode_table.h"
#include "codec/deflate_format.h"

namespace selfx::cli {
namespace {

// A token: a literal byte (below 256), or a match: kMatch | length << 16 | distance.
constexpr std::uint32_t kMatch = 0x80000000u;

// The symbols a block counts: literal/length symbols 0-285, then the distance symbols 0-29.
constexpr int kLiteralSymbols = 286;
constexpr int kDistanceSymbols = 30;
constexpr int kCountedSymbols = kLiteralSymbols + kDistanceSymbols;
// A run's counts before each candidate are kept with two more sums: the matches, and the
// extra bits of their lengths and distances.
constexpr int kMatchesSlot = kCountedSymbols;
constexpr int kExtraBitsSlot = kCountedSymbols + 1;
constexpr int kPrefixSlots = kCountedSymbols + 2;
constexpr int kPrecodeSymbols = deflate::kCodeLengthSymbols;
constexpr int kMaxPrecodeLength = 7;

// Candidate block starts lie this many tokens apart (and at the blocks as read). Finer steps
// find slightly better splits at a cost in time that grows with them.
constexpr std::size_t kCandidateStep = 512;

struct SymbolTables {
  std::uint8_t length_symbol[deflate::kMaxMatchLength + 1];  // by length, minus 257
  std::uint8_t near_distance_symbol[256];                    // by distance - 1
  std::uint8_t far_distance_symbol[256];                     // by (distance - 1) >> 7
  SymbolTables() {
    for (int symbol = 0; symbol < 29; ++symbol) {
      for (int length = deflate::LengthBase[symbol];
           length < deflate::LengthBase[symbol] + (1 << deflate::LengthExtra[symbol]) &&
           length <= deflate::kMaxMatchLength;
           ++length) {
        length_symbol[length] = static_cast<std::uint8_t>(symbol);
      }
    }
    // 258 has a symbol of its own; 284 with all extra bits set would say it too.
    length_symbol[deflate::kMaxMatchLength] = 28;
    for (int symbol = 0; symbol < kDistanceSymbols; ++symbol) {
      const int first = deflate::DistanceBase[symbol];
      const int last = first + (1 << deflate::DistanceExtra[symbol]) - 1;
      for (int distance = first; distance <= last; ++distance) {
        if (distance <= 256) near_distance_symbol[distance - 1] = static_cast<std::uint8_t>(symbol);
        far_distance_symbol[(distance - 1) >> 7] = static_cast<std::uint8_t>(symbol);
      }
    }
  }
  int LengthSymbol(std::uint32_t length) const { return length_symbol[length]; }
  int DistanceSymbol(std::uint32_t distance) const {
    return distance <= 256 ? near_distance_symbol[distance - 1]
                           : far_distance_symbol[(distance - 1) >> 7];
  }
};
const SymbolTables kSymbols;

// Counts a token's symbols: its literal/length symbol and, for a match, its distance symbol,
// the match itself and its extra bits.
inline void CountToken(std::uint32_t token, std::uint32_t* counts) {
  if (!(token & kMatch)) {
    ++counts[token];
    return;
  }
  const int length_symbol = kSymbols.LengthSymbol((token >> 16) & 0x1FF);
  const int distance_symbol = kSymbols.DistanceSymbol(token & 0xFFFF);
  ++counts[deflate::kFirstLengthSymbol + length_symbol];
  ++counts[kLiteralSymbols + distance_symbol];
  ++counts[kMatchesSlot];
  counts[kExtraBitsSlot] += deflate::LengthExtra[length_symbol] +
                            deflate::DistanceExtra[distance_symbol];
}

// Lengths of a prefix code for the counts, none longer than limit: Huffman's lengths, and where
// some come out longer than the limit, zlib's way of moving codes up the tree until the code is
// complete again. With fewer than two symbols counted, two codes of one bit: some decoders
// refuse an incomplete code.
void BuildCodeLengths(const std::uint32_t* counts, int n, int limit, std::uint8_t* lengths) {
  std::uint32_t leaves[kLiteralSymbols];  // count << 9 | symbol, sorted by count
  int used = 0;
  for (int symbol = 0; symbol < n; ++symbol) {
    lengths[symbol] = 0;
    if (counts[symbol] != 0) {
      leaves[used++] = std::min<std::uint32_t>(counts[symbol], 0x7FFFFF) << 9 | symbol;
    }
  }
  if (used < 2) {
    const int symbol = used == 1 ? static_cast<int>(leaves[0] & 0x1FF) : 0;
    lengths[symbol] = 1;
    lengths[symbol == 0 ? 1 : 0] = 1;
    return;
  }
  std::sort(leaves, leaves + used);
  // Huffman's tree over the sorted leaves: two queues, the leaves and the nodes made so far,
  // each in order of weight.
  std::uint32_t weight[2 * kLiteralSymbols];
  std::uint16_t parent[2 * kLiteralSymbols];
  for (int i = 0; i < used; ++i) weight[i] = leaves[i] >> 9;
  int next_leaf = 0, next_node = used;
  for (int node = used; node < 2 * used - 1; ++node) {
    int pair[2];
    for (int& pick : pair) {
      if (next_leaf < used && (next_node >= node || weight[next_leaf] <= weight[next_node])) {
        pick = next_leaf++;
      } else {
        pick = next_node++;
      }
    }
    weight[node] = weight[pair[0]] + weight[pair[1]];
    parent[pair[0]] = parent[pair[1]] = static_cast<std::uint16_t>(node);
  }
  std::uint8_t depth[2 * kLiteralSymbols];
  depth[2 * used - 2] = 0;
  int lengths_of[32] = {};
  for (int node = 2 * used - 3; node >= 0; --node) {
    depth[node] = static_cast<std::uint8_t>(depth[parent[node]] + 1);
    if (node < used) ++lengths_of[std::min<int>(depth[node], 31)];
  }
  // Codes past the limit are cut to it, which over-subscribes the code; each round then moves
  // a code of the longest length below the limit one step down, with a code from the limit as
  // its new sibling, and takes one unit (2^-limit) off the excess.
  std::uint32_t kraft = 0;
  for (int length = limit + 1; length < 32; ++length) {
    lengths_of[limit] += lengths_of[length];
    lengths_of[length] = 0;
  }
  for (int length = 1; length <= limit; ++length) {
    kraft += static_cast<std::uint32_t>(lengths_of[length]) << (limit - length);
  }
  while (kraft > (1u << limit)) {
    int length = limit - 1;
    while (lengths_of[length] == 0) --length;
    --lengths_of[length];
    lengths_of[length + 1] += 2;
    --lengths_of[limit];
    --kraft;
  }
  // The longest codes to the rarest symbols.
  int leaf = 0;
  for (int length = limit; length >= 1; --length) {
    for (int k = 0; k < lengths_of[length]; ++k) {
      lengths[leaves[leaf++] & 0x1FF] = static_cast<std::uint8_t>(length);
    }
  }
}

// The code lengths of a dynamic block as its header writes them: runs of zeros as 17 or 18,
// runs of another length as the length and then 16s.
struct LengthRuns {
  std::uint8_t symbols[kCountedSymbols];
  std::uint8_t extra[kCountedSymbols];
  int size = 0;
  void Add(int symbol, int value) {
    symbols[size] = static_cast<std::uint8_t>(symbol);
    extra[size++] = static_cast<std::uint8_t>(value);
  }
};

void EncodeLengthRuns(const std::uint8_t* lengths, int total, LengthRuns& runs) {
  runs.size = 0;
  int i = 0;
  while (i < total) {
    const int value = lengths[i];
    int run = 1;
    while (i + run < total && lengths[i + run] == value) ++run;
    i += run;
    if (value == 0) {
      while (run >= 11) {
        const int take = std::min(run, 138);
        runs.Add(18, take - 11);
        run -= take;
      }
      if (run >= 3) {
        runs.Add(17, run - 3);
        run = 0;
      }
    } else if (run >= 4) {
      runs.Add(value, 0);
      --run;
      while (run >= 3) {
        // 7 or 8 as 4 + 3 or 5 + 3, not 6 and a lone length or two.
        int take = std::min(run, 6);
        if (run - take > 0 && run - take < 3) take = run - 3;
        runs.Add(16, take - 3);
        run -= take;
      }
    }
    while (run-- > 0) runs.Add(value, 0);
  }
}

// A block's codes, how its header writes them, and its size in bits either way: with these
// codes, or with the fixed ones.
struct BlockPlan {
  std::uint8_t lengths[kCountedSymbols];  // the literal/length code, then the distance code
  int literal_count;                      // lengths the header gives of each code
  int distance_count;
  std::uint8_t precode_lengths[kPrecodeSymbols];
  int precode_count;
  LengthRuns runs;
  std::uint64_t dynamic_bits;
  std::uint64_t fixed_bits;
  bool UseFixed() const { return fixed_bits <= dynamic_bits; }
  std::uint64_t Bits() const { return std::min(dynamic_bits, fixed_bits); }
};

using deflate::FixedCodeLength;
constexpr int kFixedDistanceLength = FixedCodeLength(deflate::kLiteralLengthSymbols);

// The estimate below counts in units of 2^-16 bits, in integers alone, so that every platform
// splits alike and builds the same archive.
constexpr int kFractionBits = 16;
constexpr std::uint64_t kOneBit = std::uint64_t{1} << kFractionBits;

// log2(value) in those units, by the bit-by-bit method: each squaring of the mantissa (in
// [1, 2), 31 bits after the point) doubles the logarithm's fraction and shows its next bit.
std::uint32_t FixedLog2(std::uint32_t value) {
  const int integer = 31 - __builtin_clz(value);
  std::uint64_t mantissa = std::uint64_t{value} << (31 - integer);
  std::uint32_t fraction = 0;
  for (int bit = kFractionBits - 1; bit >= 0; --bit) {
    mantissa = (mantissa * mantissa) >> 31;
    if (mantissa >= (std::uint64_t{1} << 32)) {
      fraction |= 1u << bit;
      mantissa >>= 1;
    }
  }
  return static_cast<std::uint32_t>(integer) << kFractionBits | fraction;
}

// log2 of the counts: the estimate takes one per symbol and block, millions of times per file.
// Counts up to 4096 are looked up, larger ones interpolated between the 12 bits at their top.
struct Log2Table {
  static constexpr std::uint32_t kLookedUp = 4096;
  std::uint32_t small[kLookedUp + 1];
  Log2Table() {
    small[0] = 0;
    for (std::uint32_t i = 1; i <= kLookedUp; ++i) small[i] = FixedLog2(i);
  }
  std::uint32_t operator()(std::uint32_t value) const {
    if (value <= kLookedUp) return small[value];
    const int shift = 20 - __builtin_clz(value);  // leaves value >> shift in [2048, 4096)
    const std::uint32_t top = value >> shift;
    const std::uint64_t below = value & ((1u << shift) - 1);
    return (static_cast<std::uint32_t>(shift) << kFractionBits) + small[top] +
           static_cast<std::uint32_t>(((small[top + 1] - small[top]) * below) >> shift);
  }
};
const Log2Table kLog2;

// A quick estimate of a dynamic block's size for the search, from the counts before its end
// and before its start: each symbol costs its entropy, -log2 of its share, and the header each
// length the codes would give it at the entropy of those lengths, a run of zeros as one repeat.
std::uint64_t EstimateBits(const std::uint32_t* end, const std::uint32_t* begin,
                           std::uint32_t tokens) {
  std::uint64_t bits = (3 + 5 + 5 + 4 + 3 * 15 +
                        std::uint64_t{end[kExtraBitsSlot] - begin[kExtraBitsSlot]}) *
                       kOneBit;
  // The lengths are counted alternately in two tables, which keeps neighbouring symbols of the
  // same length from waiting on each other's increment.
  std::uint32_t length_counts[2][deflate::kMaxCodeLength + 1] = {};
  std::uint32_t zero_runs = 0;
  auto length_of = [](std::uint32_t share) {
    return std::min<std::uint32_t>(deflate::kMaxCodeLength, 1 + (share >> kFractionBits));
  };
  auto code = [&](int first, int last, std::uint32_t total) {
    const std::uint32_t log_total = kLog2(total);
    int zeros = 0;
    for (int symbol = first; symbol < last; ++symbol) {
      const std::uint32_t count = end[symbol] - begin[symbol];
      if (count == 0) {
        ++zeros;
        continue;
      }
      if (zeros != 0) {
        if (zeros < 3) {
          length_counts[0][0] += zeros;
        } else {
          ++zero_runs;
          bits += (zeros < 11 ? 3 : 7) * kOneBit;
        }
        zeros = 0;
      }
      const std::uint32_t share = log_total - kLog2(count);
      bits += std::uint64_t{count} * share;
      ++length_counts[symbol & 1][length_of(share)];
    }
  };
  // Every token has a literal/length symbol, and the block one end of block more.
  const std::uint32_t literal_total = tokens + 1;
  code(0, kLiteralSymbols, literal_total);
  const std::uint32_t end_of_block = kLog2(literal_total);
  bits += end_of_block;
  ++length_counts[0][length_of(end_of_block)];
  const std::uint32_t matches = end[kMatchesSlot] - begin[kMatchesSlot];
  if (matches != 0) code(kLiteralSymbols, kCountedSymbols, matches);
  std::uint32_t header_symbols = zero_runs;
  for (int length = 0; length <= deflate::kMaxCodeLength; ++length) {
    length_counts[0][length] += length_counts[1][length];
    header_symbols += length_counts[0][length];
  }
  const std::uint32_t log_header = kLog2(header_symbols);
  if (zero_runs != 0) bits += std::uint64_t{zero_runs} * (log_header - kLog2(zero_runs));
  for (std::uint32_t count : length_counts[0]) {
    if (count != 0) bits += std::uint64_t{count} * (log_header - kLog2(count));
  }
  return bits;
}

// Plans the block whose symbol counts are given (the end of block not among them).
void PlanBlock(const std::uint32_t* block_counts, BlockPlan& plan) {
  std::uint32_t counts[kCountedSymbols];
  std::memcpy(counts, block_counts, sizeof counts);
  counts[deflate::kEndOfBlock] = 1;
  BuildCodeLengths(counts, kLiteralSymbols, deflate::kMaxCodeLength, plan.lengths);
  std::uint8_t* distance_lengths = plan.lengths + kLiteralSymbols;
  BuildCodeLengths(counts + kLiteralSymbols, kDistanceSymbols, deflate::kMaxCodeLength,
                   distance_lengths);

  std::uint64_t coded = 3, fixed = 3;  // the last-block flag and the type
  for (int symbol = 0; symbol < kLiteralSymbols; ++symbol) {
    if (counts[symbol] == 0) continue;
    const std::uint64_t extra = symbol >= deflate::kFirstLengthSymbol
                                    ? deflate::LengthExtra[symbol - deflate::kFirstLengthSymbol]
                                    : 0;
    coded += counts[symbol] * (plan.lengths[symbol] + extra);
    fixed += counts[symbol] * (FixedCodeLength(symbol) + extra);
  }
  for (int symbol = 0; symbol < kDistanceSymbols; ++symbol) {
    const std::uint64_t count = counts[kLiteralSymbols + symbol];
    coded += count * (distance_lengths[symbol] + deflate::DistanceExtra[symbol]);
    fixed += count * (kFixedDistanceLength + deflate::DistanceExtra[symbol]);
  }

  plan.literal_count = kLiteralSymbols;
  while (plan.literal_count > deflate::kFirstLengthSymbol &&
         plan.lengths[plan.literal_count - 1] == 0) {
    --plan.literal_count;
  }
  plan.distance_count = kDistanceSymbols;
  while (plan.distance_count > 1 && distance_lengths[plan.distance_count - 1] == 0) {
    --plan.distance_count;
  }
  // The header gives both codes' lengths as one sequence, so a run may cross from one code to
  // the other.
  std::uint8_t sequence[kCountedSymbols];
  std::memcpy(sequence, plan.lengths, plan.literal_count);
  std::memcpy(sequence + plan.literal_count, distance_lengths, plan.distance_count);
  EncodeLengthRuns(sequence, plan.literal_count + plan.distance_count, plan.runs);
  std::uint64_t header = 5 + 5 + 4;
  std::uint32_t precode_counts[kPrecodeSymbols] = {};
  for (int i = 0; i < plan.runs.size; ++i) {
    const int symbol = plan.runs.symbols[i];
    ++precode_counts[symbol];
    if (symbol >= 16)
      header += deflate::kLengthRepeats[symbol - deflate::kFirstRepeatSymbol].extra_bits;
  }
  BuildCodeLengths(precode_counts, kPrecodeSymbols, kMaxPrecodeLength, plan.precode_lengths);
  plan.precode_count = kPrecodeSymbols;
  while (plan.precode_count > 4 &&
         plan.precode_lengths[deflate::CodeLengthOrder[plan.precode_count - 1]] == 0) {
    --plan.precode_count;
  }
  header += 3 * plan.precode_count;
  for (int symbol = 0; symbol < kPrecodeSymbols; ++symbol) {
    header += std::uint64_t{precode_counts[symbol]} * plan.precode_lengths[symbol];
  }
  plan.dynamic_bits = coded + header;
  plan.fixed_bits = fixed;
}

// Plans the block of a run's tokens between two candidates, from the counts before each.
void PlanBlockBetween(const std::uint32_t* prefix_counts, std::size_t from, std::size_t to,
                      BlockPlan& plan) {
  std::uint32_t counts[kCountedSymbols];
  const std::uint32_t* end = prefix_counts + to * kPrefixSlots;
  const std::uint32_t* begin = prefix_counts + from * kPrefixSlots;
  for (int s = 0; s < kCountedSymbols; ++s) counts[s] = end[s] - begin[s];
  PlanBlock(counts, plan);
}

// The canonical codes of the lengths, bit-reversed, since deflate sends a code's first bit
// in the lowest position.
void MakeCodes(const std::uint8_t* lengths, int n, std::uint16_t* codes) {
  int count_of[deflate::kMaxCodeLength + 1] = {};
  for (int symbol = 0; symbol < n; ++symbol) ++count_of[lengths[symbol]];
  count_of[0] = 0;
  std::uint32_t next[deflate::kMaxCodeLength + 2] = {};
  std::uint32_t code = 0;
  for (int length = 1; length <= deflate::kMaxCodeLength; ++length) {
    code = (code + count_of[length - 1]) << 1;
    next[length] = code;
  }
  for (int symbol = 0; symbol < n; ++symbol) {
    const int length = lengths[symbol];
    if (length == 0) continue;
    std::uint32_t value = next[length]++;
    std::uint32_t reversed = 0;
    for (int bit = 0; bit < length; ++bit) {
      reversed = (reversed << 1) | (value & 1);
      value >>= 1;
    }
    codes[symbol] = static_cast<std::uint16_t>(reversed);
  }
}

}  // namespace

// Reads the stream a bit at a time from its lowest bit, in 64-bit loads while 8 bytes remain
// and a byte at a time after that; past the end it reads zeros, which Overrun reports.
struct BlockSplitter::Reader {
  const std::uint8_t* data;
  std::size_t size;
  std::size_t next = 0;  // the next byte to load
  std::uint64_t bits = 0;
  unsigned count = 0;

  void Refill() {
    if (next + 8 <= size) {
      bits |= LoadLe64(data + next) << count;
      const unsigned loaded = (63 - count) >> 3;
      next += loaded;
      count += 8 * loaded;
      return;
    }
    while (count <= 56) {
      bits |= std::uint64_t{next < size ? data[next] : std::uint8_t{0}} << count;
      ++next;
      count += 8;
    }
  }
  // n bits (n <= 32), which Refill must have made available.
  std::uint32_t Take(unsigned n) {
    const std::uint32_t value = static_cast<std::uint32_t>(bits & ((std::uint64_t{1} << n) - 1));
    bits >>= n;
    count -= n;
    return value;
  }
  std::uint64_t Position() const { return std::uint64_t{next} * 8 - count; }
  bool Overrun() const { return Position() > std::uint64_t{size} * 8; }
  void SkipToByte(std::size_t byte) {
    next = byte;
    bits = 0;
    count = 0;
  }
};

// Writes bits in the order the Reader reads them, into the same buffer behind the reader: a
// byte is stored only once all its bits are known, and every bit it holds has been read.
struct BlockSplitter::Writer {
  std::uint8_t* start;
  std::uint8_t* out;
  std::uint8_t* limit;  // the first byte that may still be read; start while none may be written
  std::uint64_t bits = 0;
  unsigned count = 0;

  // Bits of n <= 32. Whole bytes go out at once while limit lies 8 bytes ahead or more, one by
  // one otherwise.
  void Put(std::uint32_t value, unsigned n) {
    bits |= std::uint64_t{value} << count;
    count += n;
    if (count < 32) return;
    if (out + 8 <= limit) {
      StoreLe32(out, static_cast<std::uint32_t>(bits));
      StoreLe32(out + 4, static_cast<std::uint32_t>(bits >> 32));
      const unsigned whole = count & ~7u;
      out += whole / 8;
      bits >>= whole;
      count -= whole;
      return;
    }
    Drain();
  }
  // Stores the whole bytes held.
  void Drain() {
    while (count >= 8) {
      *out++ = static_cast<std::uint8_t>(bits);
      bits >>= 8;
      count -= 8;
    }
  }
  void AlignToByte() {
    Drain();
    Put(0, (8 - count) & 7);
    Drain();
  }
  std::uint64_t Position() const { return std::uint64_t(out - start) * 8 + count; }
  std::size_t Finish() {
    Drain();
    if (count != 0) *out++ = static_cast<std::uint8_t>(bits);
    bits = 0;
    count = 0;
    return static_cast<std::size_t>(out - start);
  }
  // Copies the stream's bits [from, to) as they are. Each piece is read before it is written,
  // and the writer is never ahead of from.
  void CopyBits(const std::uint8_t* stream, std::size_t size, std::uint64_t from,
                std::uint64_t to) {
    while (from < to) {
      const unsigned n = static_cast<unsigned>(std::min<std::uint64_t>(24, to - from));
      const std::size_t byte = static_cast<std::size_t>(from >> 3);
      std::uint32_t word = 0;
      for (std::size_t k = 0; k < 4 && byte + k < size; ++k) {
        word |= std::uint32_t{stream[byte + k]} << (8 * k);
      }
      Put((word >> (from & 7)) & ((1u << n) - 1), n);
      from += n;
    }
  }
};

BlockSplitter::BlockSplitter()
    : literal_table_(kFastLiteralTableSize), distance_table_(kFastDistanceTableSize) {}

// The lengths of a dynamic block's two codes (or the fixed ones), then its literals and matches
// up to the end of block, appended to the run. False when the block is not sound.
bool BlockSplitter::ReadCodedBlock(Reader& stream_reader, bool fixed) {
  // A copy the compiler can keep in registers: the tokens' stores might otherwise alias it.
  Reader reader = stream_reader;
  std::uint16_t lengths[deflate::kLiteralLengthSymbols + deflate::kDistanceSymbols] = {};
  std::uint32_t literal_count = deflate::kLiteralLengthSymbols;
  std::uint32_t distance_count = kDistanceSymbols;
  if (fixed) {
    for (int symbol = 0; symbol < deflate::kLiteralLengthSymbols; ++symbol) {
      lengths[symbol] = static_cast<std::uint16_t>(FixedCodeLength(symbol));
    }
    for (int symbol = 0; symbol < kDistanceSymbols; ++symbol) {
      lengths[literal_count + symbol] = kFixedDistanceLength;
    }
  } else {
    reader.Refill();
    literal_count = reader.Take(5) + 257;
    distance_count = reader.Take(5) + 1;
    const std::uint32_t precode_count = reader.Take(4) + 4;
    std::uint16_t precode_lengths[kPrecodeSymbols] = {};
    for (std::uint32_t i = 0; i < precode_count; ++i) {
      reader.Refill();
      precode_lengths[deflate::CodeLengthOrder[i]] = static_cast<std::uint16_t>(reader.Take(3));
    }
    std::uint16_t precode[1 << kCodeLengthTableBits];
    if (literal_count > kLiteralSymbols || distance_count > kDistanceSymbols ||
        !BuildCodeLengthTable(precode_lengths, precode)) {
      return false;
    }
    const std::uint32_t total = literal_count + distance_count;
    std::uint32_t i = 0;
    while (i < total) {
      reader.Refill();
      const std::uint16_t entry = precode[reader.bits & ((1u << kCodeLengthTableBits) - 1)];
      if (entry == kNoCodeLength) return false;
      reader.Take(entry >> 8);
      const std::uint32_t symbol = entry & 0xFF;
      if (symbol < deflate::kFirstRepeatSymbol) {
        lengths[i++] = static_cast<std::uint16_t>(symbol);
        continue;
      }
      const deflate::LengthRepeat& rule =
          deflate::kLengthRepeats[symbol - deflate::kFirstRepeatSymbol];
      const std::uint32_t repeat = reader.Take(rule.extra_bits) + rule.base;
      if ((rule.repeats_previous && i == 0) || i + repeat > total) return false;
      const std::uint16_t value = rule.repeats_previous ? lengths[i - 1] : 0;
      for (std::uint32_t k = 0; k < repeat; ++k) lengths[i++] = value;
    }
    // Move the distance lengths to where the fixed case has them.
    std::memmove(lengths + deflate::kLiteralLengthSymbols, lengths + literal_count,
                 distance_count * sizeof lengths[0]);
    std::fill(lengths + literal_count, lengths + deflate::kLiteralLengthSymbols, 0);
  }
  // A dynamic block's codes must be complete, as zlib wants them, but for a distance code of
  // one symbol or none: the rewritten codes always are, and a stream no decoder takes stays so.
  // (The fixed distance code leaves two patterns free, by the format.)
  const std::uint16_t* distance_lengths = lengths + deflate::kLiteralLengthSymbols;
  if (!fixed) {
    const int distance_codes = static_cast<int>(
        std::count_if(distance_lengths, distance_lengths + distance_count,
                      [](std::uint16_t length) { return length != 0; }));
    const BuildResult distance_code = ClassifyCode(distance_lengths,
                                                   static_cast<int>(distance_count));
    if (ClassifyCode(lengths, deflate::kLiteralLengthSymbols) != BuildResult::Complete ||
        distance_code == BuildResult::Invalid ||
        (distance_code == BuildResult::Incomplete && distance_codes > 1)) {
      return false;
    }
  }
  BuildFastTable(lengths, deflate::kLiteralLengthSymbols, FastCode::LiteralLength,
                 literal_table_.data());
  BuildFastTable(distance_lengths, static_cast<int>(distance_count), FastCode::Distance,
                 distance_table_.data());

  using namespace fast_entry;
  const std::uint32_t* literals = literal_table_.data();
  const std::uint32_t* distances = distance_table_.data();
  // Resolves a root entry that links to a sub-table.
  auto look_up = [&reader](const std::uint32_t* table, int root_bits) {
    std::uint32_t entry = table[reader.bits & ((1u << root_bits) - 1)];
    if ((entry & kExceptional) && (entry & kSubTable)) {
      reader.Take(entry & 0xFF);
      entry = table[(entry >> 16) + (reader.bits & ((1u << ((entry >> 8) & 0xF)) - 1))];
    }
    return entry;
  };
  // A length's or distance's value: the base and the extra bits after the code.
  auto take_value = [&reader](std::uint32_t entry) {
    const unsigned code_bits = (entry >> 8) & 0xF;
    return (entry >> 16) + (reader.Take(entry & 0xFF) >> code_bits);
  };
  // Zeros past the end never end a block, so the run is cut off once it reads past the end;
  // a match that reaches before the start or past the stated size is as unsound.
  const std::size_t token_limit = 4 * kRunTokens;
  for (;;) {
    reader.Refill();
    if (reader.Overrun() || tokens_.size() >= token_limit) return false;
    std::uint32_t entry = look_up(literals, kFastLiteralRootBits);
    if (entry & kLiteral) {
      reader.Take(entry & 0xFF);
      tokens_.push_back((entry >> 16) & 0xFF);
      ++decoded_;
      continue;
    }
    if (entry & kExceptional) {
      if (!(entry & kEndOfBlock)) return false;
      reader.Take(entry & 0xFF);
      stream_reader = reader;
      return !reader.Overrun();
    }
    const std::uint32_t length = take_value(entry);
    entry = look_up(distances, kFastDistanceRootBits);
    if (entry & kExceptional) return false;
    const std::uint32_t distance = take_value(entry);
    if (distance > decoded_) return false;
    tokens_.push_back(kMatch | length << 16 | distance);
    decoded_ += length;
  }
}

// The candidates where a block may start: every kCandidateStep tokens and every block start as
// read, and the run's end; and the symbol counts before each.
void BlockSplitter::CountCandidates() {
  const std::size_t n = tokens_.size();
  candidates_.clear();
  for (std::size_t at = 0; at < n; at += kCandidateStep) candidates_.push_back(at);
  candidates_.insert(candidates_.end(), block_starts_.begin(), block_starts_.end());
  candidates_.push_back(n);
  std::sort(candidates_.begin(), candidates_.end());
  candidates_.erase(std::unique(candidates_.begin(), candidates_.end()), candidates_.end());

  const std::size_t intervals = candidates_.size() - 1;
  prefix_counts_.resize((intervals + 1) * kPrefixSlots);
  std::fill(prefix_counts_.begin(), prefix_counts_.begin() + kPrefixSlots, 0);
  for (std::size_t c = 0; c < intervals; ++c) {
    std::uint32_t* counts = &prefix_counts_[(c + 1) * kPrefixSlots];
    std::memcpy(counts, counts - kPrefixSlots, kPrefixSlots * sizeof counts[0]);
    for (std::size_t t = candidates_[c]; t < candidates_[c + 1]; ++t) {
      CountToken(tokens_[t], counts);
    }
  }
}

// The estimated size of a block from one candidate to another, in 2^-16 bits.
std::uint64_t BlockSplitter::Estimate(std::size_t from, std::size_t to) const {
  return EstimateBits(&prefix_counts_[to * kPrefixSlots], &prefix_counts_[from * kPrefixSlots],
                      static_cast<std::uint32_t>(candidates_[to] - candidates_[from]));
}

// The true size of that block, in bits.
std::uint64_t BlockSplitter::Exact(std::size_t from, std::size_t to) const {
  BlockPlan plan;
  PlanBlockBetween(prefix_counts_.data(), from, to, plan);
  return plan.Bits();
}

// Top down, from the blocks as read: splits a stretch where one split saves most by the
// estimate, and each part again, while a split saves anything. split_ receives the starts.
void BlockSplitter::SplitTopDown() {
  const std::size_t intervals = candidates_.size() - 1;
  std::vector<std::pair<std::size_t, std::size_t>> pending;
  std::size_t block_from = 0;
  for (std::size_t b = 1; b <= block_starts_.size(); ++b) {
    const std::size_t block_to = b == block_starts_.size()
                                     ? intervals
                                     : static_cast<std::size_t>(
                                           std::lower_bound(candidates_.begin(), candidates_.end(),
                                                            block_starts_[b]) -
                                           candidates_.begin());
    if (block_to > block_from) pending.push_back({block_from, block_to});
    block_from = block_to;
  }
  split_.clear();
  while (!pending.empty()) {
    const auto [from, to] = pending.back();
    pending.pop_back();
    std::uint64_t best = Estimate(from, to);
    std::size_t best_at = 0;  // none: the stretch stays whole
    auto try_at = [&](std::size_t at) {
      const std::uint64_t parts = Estimate(from, at) + Estimate(at, to);
      if (parts < best) {
        best = parts;
        best_at = at;
      }
    };
    // A long stretch is tried at kProbes points, then again between the neighbours of the
    // best of them, and so on: the sizes change smoothly enough along a stretch for that.
    constexpr std::size_t kProbes = 8;
    std::size_t low = from + 1, high = to;  // the points left to try: [low, high)
    while (high - low > 2 * kProbes) {
      const std::size_t stride = (high - low) / kProbes;
      std::size_t round_best = low;
      std::uint64_t round_cost = 0;
      for (std::size_t at = low; at < high; at += stride) {
        const std::uint64_t parts = Estimate(from, at) + Estimate(at, to);
        if (at == low || parts < round_cost) {
          round_cost = parts;
          round_best = at;
        }
      }
      if (round_cost < best) {
        best = round_cost;
        best_at = round_best;
      }
      low = round_best - std::min(round_best - low, stride - 1);
      high = std::min(high, round_best + stride);
    }
    for (std::size_t at = low; at < high; ++at) try_at(at);
    if (best_at == 0) {
      split_.push_back(from);
      continue;
    }
    pending.push_back({best_at, to});
    pending.push_back({from, best_at});
  }
  std::sort(split_.begin(), split_.end());
  split_.push_back(intervals);
}

// Each boundary again by the estimate, with its neighbours fixed: removed, or moved a few
// candidates, for a few passes at most.
void BlockSplitter::MoveBoundaries() {
  constexpr std::size_t kReach = 2;
  constexpr int kMostPasses = 4;
  bool moved = true;
  for (int pass = 0; moved && pass < kMostPasses; ++pass) {
    moved = false;
    for (std::size_t b = 1; b + 1 < split_.size(); ++b) {
      const std::size_t from = split_[b - 1], at = split_[b], to = split_[b + 1];
      const std::uint64_t now = Estimate(from, at) + Estimate(at, to);
      if (Estimate(from, to) <= now) {
        split_.erase(split_.begin() + static_cast<std::ptrdiff_t>(b));
        --b;
        moved = true;
        continue;
      }
      std::uint64_t best = now;
      std::size_t best_at = at;
      for (std::size_t k = std::max(from + 1, at > kReach ? at - kReach : 0);
           k < std::min(to, at + kReach + 1); ++k) {
        const std::uint64_t parts = Estimate(from, k) + Estimate(k, to);
        if (parts < best) {
          best = parts;
          best_at = k;
        }
      }
      if (best_at != at) {
        split_[b] = best_at;
        moved = true;
      }
    }
  }
}

// Last, the estimate's boundaries by the blocks' true sizes: one that does not pay for itself
// goes. Returns the size of the run written so, in bits.
std::uint64_t BlockSplitter::DropUnpaidBoundaries() {
  block_bits_.clear();
  for (std::size_t b = 0; b + 1 < split_.size(); ++b) {
    block_bits_.push_back(Exact(split_[b], split_[b + 1]));
  }
  for (std::size_t b = 1; b + 1 < split_.size();) {
    const std::uint64_t merged = Exact(split_[b - 1], split_[b + 1]);
    if (merged <= block_bits_[b - 1] + block_bits_[b]) {
      split_.erase(split_.begin() + static_cast<std::ptrdiff_t>(b));
      block_bits_.erase(block_bits_.begin() + static_cast<std::ptrdiff_t>(b));
      block_bits_[b - 1] = merged;
      if (b > 1) --b;
    } else {
      ++b;
    }
  }
  std::uint64_t total = 0;
  for (std::uint64_t bits : block_bits_) total += bits;
  return total;
}

// Chooses the run's blocks: split_ receives the candidates where they start, and the run's end.
// Returns the size of the run written so, in bits.
std::uint64_t BlockSplitter::SplitRun() {
  CountCandidates();
  SplitTopDown();
  MoveBoundaries();
  return DropUnpaidBoundaries();
}

// Writes the run's blocks as split_ has them; the last of them ends the stream if it should.
// The run has been read up to limit, so the writer may store whole words before it.
void BlockSplitter::WriteRun(Writer& output, bool last_in_stream, std::uint8_t* limit) {
  // A copy the compiler can keep in registers: the byte stores might otherwise alias it.
  Writer writer = output;
  writer.limit = limit;
  BlockPlan plan;
  // The codes by symbol, as the fixed code has them: 288 literal/length symbols, then the
  // distances. The fixed code's 286 and 287 are never sent but take part in its codes.
  constexpr int kDistancesAt = deflate::kLiteralLengthSymbols;
  std::uint8_t lengths[kDistancesAt + kDistanceSymbols];
  std::uint16_t codes[kDistancesAt + kDistanceSymbols];
  std::uint16_t precode[kPrecodeSymbols];
  std::uint32_t literal_bits[256];
  std::uint32_t match_length_bits[deflate::kMaxMatchLength + 1];
  for (std::size_t b = 0; b + 1 < split_.size(); ++b) {
    PlanBlockBetween(prefix_counts_.data(), split_[b], split_[b + 1], plan);
    const bool last = last_in_stream && b + 2 == split_.size();
    writer.Put(last ? 1 : 0, 1);
    if (plan.UseFixed()) {
      writer.Put(deflate::kFixedBlock, 2);
      for (int symbol = 0; symbol < kDistancesAt; ++symbol) {
        lengths[symbol] = static_cast<std::uint8_t>(FixedCodeLength(symbol));
      }
      std::fill(lengths + kDistancesAt, lengths + kDistancesAt + kDistanceSymbols,
                kFixedDistanceLength);
    } else {
      writer.Put(deflate::kDynamicBlock, 2);
      writer.Put(static_cast<std::uint32_t>(plan.literal_count - 257), 5);
      writer.Put(static_cast<std::uint32_t>(plan.distance_count - 1), 5);
      writer.Put(static_cast<std::uint32_t>(plan.precode_count - 4), 4);
      for (int i = 0; i < plan.precode_count; ++i) {
        writer.Put(plan.precode_lengths[deflate::CodeLengthOrder[i]], 3);
      }
      MakeCodes(plan.precode_lengths, kPrecodeSymbols, precode);
      for (int i = 0; i < plan.runs.size; ++i) {
        const int symbol = plan.runs.symbols[i];
        writer.Put(precode[symbol], plan.precode_lengths[symbol]);
        if (symbol >= 16)
          writer.Put(plan.runs.extra[i],
                     deflate::kLengthRepeats[symbol - deflate::kFirstRepeatSymbol].extra_bits);
      }
      std::memcpy(lengths, plan.lengths, kLiteralSymbols);
      std::fill(lengths + kLiteralSymbols, lengths + kDistancesAt, 0);
      std::memcpy(lengths + kDistancesAt, plan.lengths + kLiteralSymbols, kDistanceSymbols);
    }
    MakeCodes(lengths, kDistancesAt, codes);
    MakeCodes(lengths + kDistancesAt, kDistanceSymbols, codes + kDistancesAt);
    // Each literal, and each match length with its extra bits, as one piece of bits: its value
    // in the low 24 bits, its size above them.
    for (int literal = 0; literal < 256; ++literal) {
      literal_bits[literal] = codes[literal] | std::uint32_t{lengths[literal]} << 24;
    }
    for (std::uint32_t length = 3; length <= deflate::kMaxMatchLength; ++length) {
      const int length_symbol = kSymbols.LengthSymbol(length);
      const int symbol = deflate::kFirstLengthSymbol + length_symbol;
      const std::uint32_t extra = length - deflate::LengthBase[length_symbol];
      match_length_bits[length] =
          (codes[symbol] | extra << lengths[symbol]) |
          (std::uint32_t{lengths[symbol]} + deflate::LengthExtra[length_symbol]) << 24;
    }
    for (std::size_t t = candidates_[split_[b]]; t < candidates_[split_[b + 1]]; ++t) {
      const std::uint32_t token = tokens_[t];
      const std::uint32_t piece = token & kMatch ? match_length_bits[(token >> 16) & 0x1FF]
                                                 : literal_bits[token];
      writer.Put(piece & 0xFFFFFF, piece >> 24);
      if (!(token & kMatch)) continue;
      const std::uint32_t distance = token & 0xFFFF;
      const int distance_symbol = kSymbols.DistanceSymbol(distance);
      const int symbol = kDistancesAt + distance_symbol;
      writer.Put(codes[symbol] | (distance - deflate::DistanceBase[distance_symbol])
                                     << lengths[symbol],
                 lengths[symbol] + deflate::DistanceExtra[distance_symbol]);
    }
    writer.Put(codes[deflate::kEndOfBlock], lengths[deflate::kEndOfBlock]);
  }
  writer.Drain();
  writer.limit = writer.start;
  output = writer;
}

std::size_t BlockSplitter::Rewrite(std::uint8_t* stream, std::size_t size,
                                   std::size_t decoded_size) {
  Reader reader{stream, size};
  Writer writer{stream, stream, stream};
  decoded_ = 0;
  tokens_.clear();
  block_starts_.clear();
  std::uint64_t run_start = 0;  // the stream bit where the run being read begins
  // Writes the run read so far, split anew where that is shorter, as it was where not.
  auto end_run = [&](bool last_in_stream, std::uint64_t run_end) {
    const std::uint64_t planned = tokens_.empty() ? run_end - run_start : SplitRun();
    if (planned < run_end - run_start) {
      const std::uint64_t written_from = writer.Position();
      WriteRun(writer, last_in_stream, stream + run_end / 8);
      // The writer stays behind the reader only while the sizes planned are the sizes
      // written; were they not, the stream would be damaged already, so stop loudly.
      if (writer.Position() - written_from != planned) {
        throw std::logic_error("the block splitter wrote a run of another size than planned");
      }
    } else {
      writer.CopyBits(stream, size, run_start, run_end);
    }
    tokens_.clear();
    block_starts_.clear();
    run_start = run_end;
  };
  for (bool last = false; !last;) {
    const std::uint64_t block_start = reader.Position();
    reader.Refill();
    last = reader.Take(1) != 0;
    const std::uint32_t type = reader.Take(2);
    bool sound = true;
    if (type == deflate::kStoredBlock) {
      end_run(false, block_start);
      // The length and its complement start at the next byte.
      reader.Take(reader.count & 7);
      const std::uint32_t length = reader.Take(16);
      const std::uint32_t complement = reader.Take(16);
      const std::uint64_t data_start = reader.Position() / 8;
      sound = (length ^ 0xFFFF) == complement && data_start + length <= size &&
              decoded_ + length <= decoded_size;
      if (sound) {
        writer.Put(last ? 1 : 0, 1);
        writer.Put(deflate::kStoredBlock, 2);
        writer.AlignToByte();
        writer.Put(length, 16);
        writer.Put(complement, 16);
        writer.Drain();
        std::memmove(writer.out, stream + data_start, length);
        writer.out += length;
        reader.SkipToByte(static_cast<std::size_t>(data_start + length));
        decoded_ += length;
        run_start = reader.Position();
        continue;
      }
    } else if (type == deflate::kFixedBlock || type == deflate::kDynamicBlock) {
      block_starts_.push_back(tokens_.size());
      sound = ReadCodedBlock(reader, type == deflate::kFixedBlock) && decoded_ <= decoded_size;
      if (sound && (last || tokens_.size() >= kRunTokens)) {
        end_run(last, reader.Position());
      }
    } else {
      sound = false;
    }
    if (!sound) {
      // What cannot be read is left as it was, from the run it belongs to.
      tokens_.clear();
      writer.CopyBits(stream, size, run_start, std::uint64_t{size} * 8);
      return writer.Finish();
    }
  }
  return writer.Finish();
}

}  // namespace selfx::cli
