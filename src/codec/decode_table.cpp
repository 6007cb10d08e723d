// Decoding table construction: the codes are walked in canonical order, each opening the
// sub-tables it needs below the tables still open for its prefix.
#include "codec/decode_table.h"

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

BuildResult BuildDecodeTable(const std::uint16_t* lengths, int n, int simple_count,
                             const std::uint16_t* base, int base_count, const std::uint8_t* extra,
                             int extra_count, DecodeTable** root, TableChain* chain, int* width) {
  // 1. How many codes of each length.
  if (n < 1 || n > deflate::kLiteralLengthSymbols) return BuildResult::Invalid;
  int count[kMaxLength + 1] = {};
  for (int symbol = 0; symbol < n; ++symbol) {
    if (lengths[symbol] > kMaxLength) return BuildResult::Invalid;
    ++count[lengths[symbol]];
  }

  // 2. No codes at all: a valid, empty code (a distance code of a block with literals only).
  if (count[0] == n) {
    *root = nullptr;
    *width = 0;
    return BuildResult::Complete;
  }

  // 3. The root may be no narrower than the shortest code and no wider than the longest.
  int shortest = 1;
  while (count[shortest] == 0) ++shortest;
  int longest = kMaxLength;
  while (count[longest] == 0) --longest;
  int root_limit = *width;
  if (root_limit < shortest) root_limit = shortest;
  if (root_limit > longest) root_limit = longest;

  // 4. Over-subscription: each length may use only the patterns the shorter ones left. The
  // patterns left free at the longest length become dummy codes of that length, so that
  // every slot gets written and the free ones decode as invalid.
  int free_patterns = 1 << shortest;
  for (int length = shortest; length < longest; ++length) {
    free_patterns -= count[length];
    if (free_patterns < 0) return BuildResult::Invalid;
    free_patterns <<= 1;
  }
  free_patterns -= count[longest];
  if (free_patterns < 0) return BuildResult::Invalid;
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
  return (free_patterns > 0 && longest > 1) ? BuildResult::Incomplete : BuildResult::Complete;
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

}  // namespace selfx
