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

// The readable tables of a block's two codes: lengths holds literal_count literal/length
// lengths, then distance_count distance lengths. Each width is the requested root width on
// entry and the built one on return. The codes must be ones ClassifyCode accepts.
void BuildBlockTables(const std::uint16_t* lengths, int literal_count, int distance_count,
                      DecodeTable** literals, int* literal_width, TableChain* literal_chain,
                      DecodeTable** distances, int* distance_width, TableChain* distance_chain);

// What BuildDecodeTable would answer for the code, without building anything.
BuildResult ClassifyCode(const std::uint16_t* lengths, int n);

#ifndef SELFX_COMPACT_DECODER
// What the readable tables of a code would look like where it matters for how far ahead the
// readable path looks: the root width BuildDecodeTable gives it for the requested one (codes
// no longer than that are decoded after a look-ahead of exactly root_bits), and its longest code
// (no lookup looks further ahead). Both 0 for a code without codes.
struct ReadableShape {
  int root_bits = 0;
  int longest = 0;
};
// ClassifyCode's answer, and for a code it does not find Invalid, the shape of its readable
// tables, worked out without building anything.
BuildResult ClassifyCode(const std::uint16_t* lengths, int n, int requested_width,
                         ReadableShape* readable);
#endif

// Frees every table on the chain, newest first, and empties it. An empty chain is fine.
void ReleaseDecodeTables(TableChain* chain);

// The fast loop's tables: one 32-bit entry per slot, a root of 2^root_bits entries followed by
// its sub-tables in the same fixed array, so nothing is allocated per block and a lookup is one
// load. An entry says how many stream bits it accounts for, in one of three forms:
//   literal       FastLiteral | byte << 16 | code bits << 8 | code bits
//   length or     base << 16 | code bits << 8 | (code bits + extra bits), so that code and
//   distance      extra bits leave the bit buffer in one step and the extra value is
//                 (saved bits & mask(total)) >> code bits
//   exceptional   FastExceptional, and one of: FastSubTable (start << 16 | sub-table index
//                 bits << 8 | root bits), FastEndOfBlock (code bits << 8 | code bits), or
//                 nothing more: no symbol has this pattern, or the symbol may not occur.
// Code bits are those at the entry's own level: in a sub-table, those past the root.
namespace fast_entry {
constexpr std::uint32_t kLiteral = 0x80000000u;
constexpr std::uint32_t kExceptional = 0x8000u;
constexpr std::uint32_t kSubTable = 0x4000u;
constexpr std::uint32_t kEndOfBlock = 0x2000u;
}  // namespace fast_entry

constexpr int kFastLiteralRootBits = 11;
constexpr int kFastDistanceRootBits = 8;
// Every sub-table holds at least one code longer than the root and is no wider than the longest
// code (15 bits) allows, which bounds the sum of their sizes.
constexpr int kFastLiteralTableSize = (1 << kFastLiteralRootBits) + 288 * (1 << (15 - 11));
constexpr int kFastDistanceTableSize = (1 << kFastDistanceRootBits) + 32 * (1 << (15 - 8));

enum class FastCode { LiteralLength, Distance };

// Fills table with the fast entries of the code whose lengths (0-15) are given for symbols
// 0..n-1 (n at most 288 for literal/length, 32 for distance). The code must be one that
// BuildDecodeTable accepts (not over-subscribed); an incomplete or empty code leaves its free
// patterns exceptional without a symbol. Symbols the format forbids (286, 287, 30, 31) get such
// entries too.
void BuildFastTable(const std::uint16_t* lengths, int n, FastCode kind, std::uint32_t* table);

// A flat table of the code-length code (codes of at most 7 bits): one entry per 7-bit pattern,
// the symbol and, above it, the code's length; kNoCodeLength where no code has the pattern.
// False, and no table, unless the code is complete.
constexpr int kCodeLengthTableBits = 7;
constexpr std::uint16_t kNoCodeLength = 0xFFFF;
bool BuildCodeLengthTable(const std::uint16_t* lengths, std::uint16_t* table);

}  // namespace selfx
