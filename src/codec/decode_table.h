// Multi-level lookup tables for the prefix codes of deflate: a root table indexed
// by the next W stream bits, and sub-tables for the codes longer than their parent reaches.
#pragma once

#include <cstdint>

namespace selfx {

// One table slot. operation: 0-13 extra bits after a base value, 15 end of block, 16 literal,
// 17-32 link to a sub-table of (operation - 16) index bits, 99 no symbol has this pattern.
// bits: the stream bits this slot accounts for at its level.
struct CodeSlot {
  std::uint8_t operation;
  std::uint8_t bits;
  std::uint16_t value;
  CodeSlot* subtable;  // link slots only
};

// A table is 2^j consecutive slots; a DecodeTable pointer points at the first one. The slot
// in front of it is hidden and carries the chain link.
using DecodeTable = CodeSlot;

// Every table allocated for one code, newest first, so that one call releases them all.
using TableChain = DecodeTable*;

// LowBitMask[n] = 2^n - 1: the low n bits of the bit buffer.
extern const std::uint16_t LowBitMask[17];

enum class BuildResult { Complete = 0, Incomplete = 1, Invalid = 2 };

// Builds the tables of the code whose lengths are given for symbols 0..n-1. Symbols below
// simple_count are literals (below 256) or the end of block; the others take their operation
// and value from extra[] and base[] at index symbol - simple_count, or the invalid operation
// when the index lies beyond either table. width is the requested root width on entry and the
// root's actual width on return.
BuildResult BuildDecodeTable(const std::uint16_t* lengths, int n, int simple_count,
                             const std::uint16_t* base, int base_count, const std::uint8_t* extra,
                             int extra_count, DecodeTable** root, TableChain* chain, int* width);

// Frees every table on the chain, newest first, and empties it. An empty chain is fine.
void ReleaseDecodeTables(TableChain* chain);

}  // namespace selfx
