// Decoding table construction: the codes are walked in canonical order, each opening the
// sub-tables it needs below the tables still open for its prefix.
#include "codec/decode_table.h"

#include <cstring>

#include "codec/deflate_format.h"

namespace selfx {

const std::uint16_t LowBitMask[17] = {0x0000, 0x0001, 0x0003, 0x0007, 0x000F, 0x001F,
                                      0x003F, 0x007F, 0x00FF, 0x01FF, 0x03FF, 0x07FF,
                                      0x0FFF, 0x1FFF, 0x3FFF, 0x7FFF, 0xFFFF};
static_assert(sizeof(LowBitMask) / sizeof(LowBitMask[0]) == deflate::kMaxBuilderLength + 1);

namespace {

constexpr int kMaxLength = deflate::kMaxBuilderLength;
// Marks a dummy code of the symbol list: a free g-bit pattern that must decode as invalid.
constexpr int kDummySymbol = -1;

// One allocation of 2^index_bits slots plus the hidden link slot in front.
DecodeTable* NewTable(int index_bits, TableChain* chain) {
  CodeSlot* block = new CodeSlot[(1u << index_bits) + 1];
  block[0] = CodeSlot{0, 0, 0, *chain};
  *chain = block + 1;
  return block + 1;
}

}  // namespace

namespace {

// Adds to count[l] how many of the n lengths are l; false when one is above max_length. The
// fast decoder's builds keep four tallies side by side and add them up at the end: runs of
// equal lengths are the rule, and with one tally every increment would wait for the store of
// the one before.
bool CountLengths(const std::uint16_t* lengths, int n, int max_length, int* count) {
  int symbol = 0;
#ifndef SELFX_COMPACT_DECODER
  int tally[3][kMaxLength + 1] = {};
  for (; symbol + 4 <= n; symbol += 4) {
    const int a = lengths[symbol], b = lengths[symbol + 1];
    const int c = lengths[symbol + 2], d = lengths[symbol + 3];
    if ((a > max_length) | (b > max_length) | (c > max_length) | (d > max_length)) return false;
    ++count[a];
    ++tally[0][b];
    ++tally[1][c];
    ++tally[2][d];
  }
  for (int length = 0; length <= max_length; ++length)
    count[length] += tally[0][length] + tally[1][length] + tally[2][length];
#endif
  for (; symbol < n; ++symbol) {
    if (lengths[symbol] > max_length) return false;
    ++count[lengths[symbol]];
  }
  return true;
}

// Steps 1 to 4 of a build, shared with ClassifyCode: the count of codes of each length, the
// shortest and longest length, and the patterns left free at the longest one; Invalid when a
// length is out of range or the code is over-subscribed, Complete when it has no codes.
struct CodeShape {
  int count[kMaxLength + 1] = {};
  int shortest = 0;
  int longest = 0;
  int free_patterns = 0;
};

BuildResult ShapeOfCode(const std::uint16_t* lengths, int n, CodeShape& shape) {
  // 1. How many codes of each length.
  if (n < 1 || n > deflate::kLiteralLengthSymbols) return BuildResult::Invalid;
  int* count = shape.count;
  if (!CountLengths(lengths, n, kMaxLength, count)) return BuildResult::Invalid;

  // 2. No codes at all: a valid, empty code (a distance code of a block with literals only).
  if (count[0] == n) return BuildResult::Complete;

  int shortest = 1;
  while (count[shortest] == 0) ++shortest;
  int longest = kMaxLength;
  while (count[longest] == 0) --longest;

  // 4. Over-subscription: each length may use only the patterns the shorter ones left.
  int free_patterns = 1 << shortest;
  for (int length = shortest; length < longest; ++length) {
    free_patterns -= count[length];
    if (free_patterns < 0) return BuildResult::Invalid;
    free_patterns <<= 1;
  }
  free_patterns -= count[longest];
  if (free_patterns < 0) return BuildResult::Invalid;
  shape.shortest = shortest;
  shape.longest = longest;
  shape.free_patterns = free_patterns;
  return (free_patterns > 0 && longest > 1) ? BuildResult::Incomplete : BuildResult::Complete;
}

}  // namespace

BuildResult ClassifyCode(const std::uint16_t* lengths, int n) {
  CodeShape shape;
  return ShapeOfCode(lengths, n, shape);
}

BuildResult BuildDecodeTable(const std::uint16_t* lengths, int n, int simple_count,
                             const std::uint16_t* base, int base_count, const std::uint8_t* extra,
                             int extra_count, DecodeTable** root, TableChain* chain, int* width) {
  CodeShape shape;
  BuildResult result = ShapeOfCode(lengths, n, shape);
  if (result == BuildResult::Invalid) return result;
  int* count = shape.count;
  if (count[0] == n) {
    *root = nullptr;
    *width = 0;
    return BuildResult::Complete;
  }
  const int shortest = shape.shortest;
  const int longest = shape.longest;
  const int free_patterns = shape.free_patterns;

  // 3. The root may be no narrower than the shortest code and no wider than the longest.
  int root_limit = *width;
  if (root_limit < shortest) root_limit = shortest;
  if (root_limit > longest) root_limit = longest;

  // The patterns left free at the longest length become dummy codes of that length, so that
  // every slot gets written and the free ones decode as invalid.
  count[longest] += free_patterns;

  // 5. The symbols in canonical order (by length, then by symbol), dummies last.
  int next_of_length[kMaxLength + 2];
  next_of_length[1] = 0;
  for (int length = 1; length <= kMaxLength; ++length)
    next_of_length[length + 1] = next_of_length[length] + count[length];
  int total_codes = next_of_length[kMaxLength + 1];
  int real_codes = total_codes - free_patterns;
  int ordered[deflate::kLiteralLengthSymbols];
  for (int symbol = 0; symbol < n; ++symbol)
    if (lengths[symbol] != 0) ordered[next_of_length[lengths[symbol]]++] = symbol;

  // 6. Format note: the end-of-block code is where a block stops, and whatever follows the
  // final block may not exist. Ending it exactly at a table boundary means decoding it never
  // asks for look-ahead bits beyond its own end.
  int end_of_block_length = n > deflate::kEndOfBlock ? lengths[deflate::kEndOfBlock] : 16;

  // 7. Walk the codes. code holds the current canonical code bit-reversed, so its low bits are
  // the first stream bits: exactly a slot index.
  DecodeTable* table[kMaxLength + 1];  // the open tables, root at level 0
  int depth[kMaxLength + 1];           // stream bits consumed above each open table
  int index_bits[kMaxLength + 1];      // each open table's width
  int prefix[kMaxLength + 1];          // the code bits that lead to each open table
  int level = -1;
  unsigned code = 0;
  int position = 0;
  for (int length = shortest; length <= longest; ++length) {
    for (int remaining = count[length]; remaining > 0; --remaining) {
      // Open the tables this code needs below the deepest open one.
      while (length > (level < 0 ? 0 : depth[level] + index_bits[level])) {
        int w = level < 0 ? 0 : depth[level] + index_bits[level];
        int limit = longest - w < root_limit ? longest - w : root_limit;
        int j = length - w;
        int patterns = 1 << j;
        // Too few codes of this length to fill a j-bit table: widen it while the longer codes
        // can fill the extra patterns, up to the limit.
        if (patterns > remaining) {
          patterns -= remaining;
          for (;;) {
            ++j;
            if (j >= limit) break;
            patterns <<= 1;
            if (patterns <= count[w + j]) break;
            patterns -= count[w + j];
          }
        }
        if (w + j > end_of_block_length && w < end_of_block_length) j = end_of_block_length - w;
        DecodeTable* opened = NewTable(j, chain);
        ++level;
        table[level] = opened;
        depth[level] = w;
        index_bits[level] = j;
        prefix[level] = static_cast<int>(code & ((1u << w) - 1));
        if (level == 0) {
          *root = opened;
        } else {
          int parent = level - 1;
          unsigned link = (code >> depth[parent]) & ((1u << index_bits[parent]) - 1);
          table[parent][link] = CodeSlot{static_cast<std::uint8_t>(deflate::kOpLiteral + j),
                                         static_cast<std::uint8_t>(index_bits[parent]), 0, opened};
        }
      }

      // Fill every slot of the deepest table whose low bits match this code.
      int w = depth[level];
      int symbol = position < real_codes ? ordered[position] : kDummySymbol;
      ++position;
      CodeSlot slot{deflate::kOpInvalid, static_cast<std::uint8_t>(length - w), 0, nullptr};
      if (symbol == kDummySymbol) {
        // stays invalid
      } else if (symbol < simple_count) {
        slot.operation = symbol < deflate::kEndOfBlock ? deflate::kOpLiteral
                                                       : deflate::kOpEndOfBlock;
        slot.value = static_cast<std::uint16_t>(symbol);
      } else if (symbol - simple_count < base_count && symbol - simple_count < extra_count) {
        slot.operation = extra[symbol - simple_count];
        slot.value = base[symbol - simple_count];
      }
      unsigned step = 1u << (length - w);
      unsigned size = 1u << index_bits[level];
      for (unsigned index = code >> w; index < size; index += step) table[level][index] = slot;

      // Next canonical code: add one to the code read backwards.
      unsigned bit = 1u << (length - 1);
      while (code & bit) {
        code ^= bit;
        bit >>= 1;
      }
      code ^= bit;
      // Close the tables the next code no longer passes through.
      while (level > 0 &&
             (code & ((1u << depth[level]) - 1)) != static_cast<unsigned>(prefix[level]))
        --level;
    }
  }

  // 8.
  *width = index_bits[0];
  return result;
}

#ifndef SELFX_COMPACT_DECODER
// BuildDecodeTable's root: the requested width within [shortest, longest], which its widening
// loop always reaches (the free patterns of an incomplete code are dummy codes of the longest
// length), and where the shortest codes alone are that wide and leave patterns free, its first
// step goes one bit past it; then cut back to the end-of-block code's length when that is
// shorter.
BuildResult ClassifyCode(const std::uint16_t* lengths, int n, int requested_width,
                         ReadableShape* readable_shape) {
  CodeShape shape;
  ReadableShape& readable = *readable_shape;
  readable = ReadableShape();
  const BuildResult result = ShapeOfCode(lengths, n, shape);
  if (result == BuildResult::Invalid || shape.longest == 0) return result;
  int root = requested_width;
  if (root < shape.shortest) root = shape.shortest;
  if (root > shape.longest) root = shape.longest;
  if (root == shape.shortest && shape.shortest < shape.longest) root = shape.shortest + 1;
  const int end_of_block_length = n > deflate::kEndOfBlock ? lengths[deflate::kEndOfBlock] : 16;
  if (root > end_of_block_length && end_of_block_length > 0) root = end_of_block_length;
  readable.root_bits = root;
  readable.longest = shape.longest;
  return result;
}
#endif

void BuildBlockTables(const std::uint16_t* lengths, int literal_count, int distance_count,
                      DecodeTable** literals, int* literal_width, TableChain* literal_chain,
                      DecodeTable** distances, int* distance_width, TableChain* distance_chain) {
  BuildDecodeTable(lengths, literal_count, deflate::kFirstLengthSymbol, deflate::LengthBase, 31,
                   deflate::LengthExtra, 31, literals, literal_chain, literal_width);
  BuildDecodeTable(lengths + literal_count, distance_count, 0, deflate::DistanceBase, 30,
                   deflate::DistanceExtra, 30, distances, distance_chain, distance_width);
}

void ReleaseDecodeTables(TableChain* chain) {
  DecodeTable* table = *chain;
  while (table != nullptr) {
    DecodeTable* next = table[-1].subtable;
    delete[](table - 1);
    table = next;
  }
  *chain = nullptr;
}

namespace {

#ifndef SELFX_COMPACT_DECODER
// The fast entries of every symbol without their code bits: what FastEntry below works out, once
// at compile time, so that a table build only adds the bits. A symbol that may not occur has
// FastExceptional alone, which takes no bits.
struct FastBaseEntries {
  std::uint32_t literal_length[deflate::kLiteralLengthSymbols];
  std::uint32_t distance[deflate::kDistanceSymbols];
};

constexpr FastBaseEntries MakeFastBaseEntries() {
  FastBaseEntries base{};
  for (int symbol = 0; symbol < deflate::kLiteralLengthSymbols; ++symbol) {
    std::uint32_t entry = fast_entry::kExceptional;
    if (symbol < deflate::kEndOfBlock) {
      entry = fast_entry::kLiteral | static_cast<std::uint32_t>(symbol) << 16;
    } else if (symbol == deflate::kEndOfBlock) {
      entry = fast_entry::kExceptional | fast_entry::kEndOfBlock;
    } else {
      const int index = symbol - deflate::kFirstLengthSymbol;
      if (index < 31 && deflate::LengthExtra[index] <= 13)
        entry = static_cast<std::uint32_t>(deflate::LengthBase[index]) << 16 |
                deflate::LengthExtra[index];
    }
    base.literal_length[symbol] = entry;
  }
  for (int symbol = 0; symbol < deflate::kDistanceSymbols; ++symbol) {
    base.distance[symbol] = symbol < 30
                                ? static_cast<std::uint32_t>(deflate::DistanceBase[symbol]) << 16 |
                                      deflate::DistanceExtra[symbol]
                                : fast_entry::kExceptional;
  }
  return base;
}

constexpr FastBaseEntries kFastBaseEntries = MakeFastBaseEntries();

inline std::uint32_t FastEntry(int symbol, std::uint32_t code_bits, FastCode kind) {
  const std::uint32_t base = kind == FastCode::Distance ? kFastBaseEntries.distance[symbol]
                                                        : kFastBaseEntries.literal_length[symbol];
  return base == fast_entry::kExceptional ? base : base + (code_bits << 8 | code_bits);
}
#else
// The fast entry of symbol for a code of code_bits bits at its table's level.
std::uint32_t FastEntry(int symbol, std::uint32_t code_bits, FastCode kind) {
  std::uint32_t bits = code_bits << 8 | code_bits;
  if (kind == FastCode::Distance) {
    if (symbol >= 30) return fast_entry::kExceptional;
    return static_cast<std::uint32_t>(deflate::DistanceBase[symbol]) << 16 |
           (bits + deflate::DistanceExtra[symbol]);
  }
  if (symbol < deflate::kEndOfBlock)
    return fast_entry::kLiteral | static_cast<std::uint32_t>(symbol) << 16 | bits;
  if (symbol == deflate::kEndOfBlock)
    return fast_entry::kExceptional | fast_entry::kEndOfBlock | bits;
  int index = symbol - deflate::kFirstLengthSymbol;
  if (index >= 31 || deflate::LengthExtra[index] > 13) return fast_entry::kExceptional;
  return static_cast<std::uint32_t>(deflate::LengthBase[index]) << 16 |
         (bits + deflate::LengthExtra[index]);
}
#endif

// The next code of a canonical code, bit-reversed: code holds a length-bit code with its first
// stream bit lowest, and the result is code + 1 read the same way. A longer code that follows
// is this one with zeros appended, which in this order are bits above the top: the result
// serves the longer codes as it is.
inline std::uint32_t NextReversedCode(std::uint32_t code, int length) {
#ifndef SELFX_COMPACT_DECODER
  // The highest of the code's bits that is 0 becomes 1, and those above it 0: no loop.
  const std::uint32_t zeros = ~code & ((1u << length) - 1);
  if (zeros == 0) return 0;
  const std::uint32_t bit = 0x80000000u >> __builtin_clz(zeros);
  return (code & (bit - 1)) | bit;
#else
  std::uint32_t bit = 1u << (length - 1);
  while (code & bit) {
    code ^= bit;
    bit >>= 1;
  }
  return code ^ bit;
#endif
}

}  // namespace

// The root is built a length at a time, shortest first: once the codes of length L are in
// table[0, 2^L), every longer pattern of the root only repeats them, so that half is copied
// into the next before the codes of length L + 1 go in. The codes longer than the root come
// last in canonical order, grouped by their root pattern, and each group fills one sub-table.
void BuildFastTable(const std::uint16_t* lengths, int n, FastCode kind, std::uint32_t* table) {
  const int root_bits = kind == FastCode::LiteralLength ? kFastLiteralRootBits
                                                        : kFastDistanceRootBits;
  const std::uint32_t root_size = 1u << root_bits;

  // The symbols in canonical order: by length, then by symbol.
  int count[kMaxLength + 1] = {};
  std::uint16_t ordered[deflate::kLiteralLengthSymbols];
#ifdef SELFX_COMPACT_DECODER
  CountLengths(lengths, n, deflate::kMaxCodeLength, count);
  int next_of_length[deflate::kMaxCodeLength + 2];
  next_of_length[1] = 0;
  for (int length = 1; length <= deflate::kMaxCodeLength; ++length)
    next_of_length[length + 1] = next_of_length[length] + count[length];
  for (int symbol = 0; symbol < n; ++symbol)
    if (lengths[symbol] != 0)
      ordered[next_of_length[lengths[symbol]]++] = static_cast<std::uint16_t>(symbol);
#else
  // The same counting sort, over the four quarters of the symbols side by side: each quarter
  // places its symbols from where the quarters before it end, in four chains of positions that
  // do not wait for each other, where one chain waits for the store of the position before at
  // every symbol. The unused symbols (length 0) get places too, after all the others, which
  // spares a branch per symbol.
  const int quarter = n / 4;
  const std::uint16_t* const part[4] = {lengths, lengths + quarter, lengths + 2 * quarter,
                                        lengths + 3 * quarter};
  int place[4][kMaxLength + 1] = {};
  for (int i = 0; i < quarter; ++i) {
    ++place[0][part[0][i]];
    ++place[1][part[1][i]];
    ++place[2][part[2][i]];
    ++place[3][part[3][i]];
  }
  for (int i = 4 * quarter; i < n; ++i) ++place[3][lengths[i]];
  int next = 0;
  for (int length = 1; length <= kMaxLength + 1; ++length) {
    const int l = length == kMaxLength + 1 ? 0 : length;  // the unused ones last
    count[l] = place[0][l] + place[1][l] + place[2][l] + place[3][l];
    for (int q = 0; q < 4; ++q) {
      const int in_quarter = place[q][l];
      place[q][l] = next;
      next += in_quarter;
    }
  }
  for (int i = 0; i < quarter; ++i) {
    ordered[place[0][part[0][i]]++] = static_cast<std::uint16_t>(i);
    ordered[place[1][part[1][i]]++] = static_cast<std::uint16_t>(quarter + i);
    ordered[place[2][part[2][i]]++] = static_cast<std::uint16_t>(2 * quarter + i);
    ordered[place[3][part[3][i]]++] = static_cast<std::uint16_t>(3 * quarter + i);
  }
  for (int i = 4 * quarter; i < n; ++i)
    ordered[place[3][lengths[i]]++] = static_cast<std::uint16_t>(i);
#endif
  // A complete code writes every slot; an incomplete one leaves some without a symbol, and
  // those must say so.
  std::uint32_t used = 0;
  for (int length = 1; length <= deflate::kMaxCodeLength; ++length)
    used += static_cast<std::uint32_t>(count[length]) << (deflate::kMaxCodeLength - length);
  const bool complete = used == 1u << deflate::kMaxCodeLength;
  if (!complete)
    for (std::uint32_t i = 0; i < root_size; ++i) table[i] = fast_entry::kExceptional;

  int length = 1;
  while (length < root_bits && count[length] == 0) ++length;
  std::uint32_t filled = 1u << length;  // table[0, filled) holds the codes up to length
  std::uint32_t code = 0;               // the next code, bit-reversed
  const std::uint16_t* symbol = ordered;
  for (;; ++length) {
    for (int left = count[length]; left > 0; --left) {
      std::uint32_t entry = FastEntry(*symbol++, static_cast<std::uint32_t>(length), kind);
      table[code] = entry;
      code = NextReversedCode(code, length);
    }
    if (length == root_bits) break;
    std::memcpy(table + filled, table, filled * sizeof(table[0]));
    filled <<= 1;
  }

  // The sub-tables. Each is as wide as the codes under its root pattern need: the codes of a
  // pattern follow each other, so it takes codes of the counts left until its slots are full
  // (a complete code's always fill; an incomplete code's last ones may stay free).
  std::uint32_t open_prefix = ~0u;  // the root pattern of the sub-table being filled
  std::uint32_t sub_start = 0;
  std::uint32_t next_free = root_size;
  for (length = root_bits + 1; length <= deflate::kMaxCodeLength; ++length) {
    for (; count[length] > 0; --count[length]) {
      const std::uint32_t prefix = code & (root_size - 1);
      if (prefix != open_prefix) {
        int sub_bits = length - root_bits;
        int free = 1 << sub_bits;
        for (;;) {
          free -= count[root_bits + sub_bits];
          if (free <= 0 || root_bits + sub_bits == deflate::kMaxCodeLength) break;
          ++sub_bits;
          free <<= 1;
        }
        open_prefix = prefix;
        sub_start = next_free;
        next_free += 1u << sub_bits;
        if (!complete)
          for (std::uint32_t i = sub_start; i < next_free; ++i) table[i] = fast_entry::kExceptional;
        table[prefix] = fast_entry::kExceptional | fast_entry::kSubTable | sub_start << 16 |
                        static_cast<std::uint32_t>(sub_bits) << 8 |
                        static_cast<std::uint32_t>(root_bits);
      }
      const int low_bits = length - root_bits;
      const std::uint32_t entry = FastEntry(*symbol++, static_cast<std::uint32_t>(low_bits), kind);
      for (std::uint32_t i = sub_start + (code >> root_bits); i < next_free; i += 1u << low_bits)
        table[i] = entry;
      code = NextReversedCode(code, length);
    }
  }
}

bool BuildCodeLengthTable(const std::uint16_t* lengths, std::uint16_t* table) {
  constexpr int kSymbols = deflate::kCodeLengthSymbols;
  CodeShape shape;
  if (ShapeOfCode(lengths, kSymbols, shape) != BuildResult::Complete || shape.longest == 0 ||
      shape.longest > kCodeLengthTableBits)
    return false;
  constexpr std::uint32_t kSize = 1u << kCodeLengthTableBits;
  // A lone code of one bit is complete too; its other pattern has no code.
  if (shape.free_patterns != 0)
    for (std::uint32_t i = 0; i < kSize; ++i) table[i] = kNoCodeLength;
  std::uint32_t code = 0;  // the next code, bit-reversed
  for (int length = shape.shortest; length <= shape.longest; ++length) {
    for (int symbol = 0; symbol < kSymbols; ++symbol) {
      if (lengths[symbol] != length) continue;
      const std::uint16_t entry = static_cast<std::uint16_t>(length << 8 | symbol);
      for (std::uint32_t i = code; i < kSize; i += 1u << length) table[i] = entry;
      code = NextReversedCode(code, length);
    }
  }
  return true;
}

}  // namespace selfx
