// Constants of the deflate format (RFC 1951) and of the decoder's buffers, and nothing else.
#pragma once

#include <cstdint>

namespace selfx::deflate {

// The window: the farthest a back-reference reaches, and the size of every output piece.
constexpr std::uint32_t kWindowSize = 32768;
// The compressed input is read from its source in blocks of at most this size.
constexpr std::uint32_t kInputBlockSize = 32768;

constexpr int kMaxCodeLength = 15;          // longest code of a deflate prefix code
constexpr int kMaxBuilderLength = 16;       // the table builder accepts one more
constexpr int kLiteralLengthSymbols = 288;  // 0-255 literals, 256 end of block, 257-287
constexpr int kDistanceSymbols = 32;        // 30 and 31 must not occur
constexpr int kCodeLengthSymbols = 19;
constexpr int kEndOfBlock = 256;
constexpr int kFirstLengthSymbol = 257;
constexpr int kMaxMatchLength = 258;

// Requested root widths: most codes are decoded with one lookup.
constexpr int kLiteralRootBits = 9;
constexpr int kDistanceRootBits = 6;
constexpr int kCodeLengthRootBits = 7;
constexpr int kFixedLiteralRootBits = 7;
constexpr int kFixedDistanceRootBits = 5;

// The code-length code's repeat symbols 16, 17 and 18: how many extra bits give the count, what
// the count starts at, and whether they repeat the previous length (16, a zero before any) or a
// zero. 16 repeats 3-6 times, 17 3-10 times, 18 11-138 times.
struct LengthRepeat {
  std::uint32_t extra_bits;
  std::uint32_t base;
  bool repeats_previous;
};
constexpr std::uint32_t kFirstRepeatSymbol = 16;
constexpr LengthRepeat kLengthRepeats[3] = {{2, 3, true}, {3, 3, false}, {7, 11, false}};

// The fixed codes' lengths (RFC 1951, 3.2.6), in the order a dynamic block's header gives
// lengths: the 288 literal/length symbols, then the distance symbols, all of 5 bits.
constexpr int FixedCodeLength(int symbol) {
  return symbol < 144 ? 8 : symbol < 256 ? 9 : symbol < 280 ? 7 : symbol < 288 ? 8 : 5;
}

// Block types, the two bits after the last-block flag.
constexpr std::uint32_t kStoredBlock = 0;
constexpr std::uint32_t kFixedBlock = 1;
constexpr std::uint32_t kDynamicBlock = 2;

// Table operations: 0-13 extra bits of a base value, 15 end of block, 16 literal,
// 17-32 link to a sub-table of (operation - 16) index bits, 99 no symbol.
constexpr std::uint8_t kOpEndOfBlock = 15;
constexpr std::uint8_t kOpLiteral = 16;
constexpr std::uint8_t kOpInvalid = 99;

// Lengths for symbols 257..287 (RFC 1951, 3.2.5). 286 and 287 take part in the fixed code
// but must never be decoded, hence the invalid operation.
constexpr std::uint16_t LengthBase[31] = {3,  4,   5,   6,   7,   8,   9,   10, 11, 13, 15,
                                          17, 19,  23,  27,  31,  35,  43,  51, 59, 67, 83,
                                          99, 115, 131, 163, 195, 227, 258, 0,  0};
constexpr std::uint8_t LengthExtra[31] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2,  2, 2,
                                          3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0, 99, 99};
static_assert(sizeof(LengthBase) / sizeof(LengthBase[0]) == kLiteralLengthSymbols - 257);
static_assert(sizeof(LengthExtra) == kLiteralLengthSymbols - 257);
static_assert(LengthBase[285 - 257] == kMaxMatchLength && LengthExtra[285 - 257] == 0);

// Distances for symbols 0..29 (RFC 1951, 3.2.5); 30 and 31 have no entry.
constexpr std::uint16_t DistanceBase[30] = {
    1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr std::uint8_t DistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                            6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
static_assert(sizeof(DistanceBase) / sizeof(DistanceBase[0]) == 30);
static_assert(sizeof(DistanceExtra) == 30);
static_assert(DistanceBase[29] + (1 << DistanceExtra[29]) - 1 == kWindowSize,
              "the longest distance reaches exactly the window's far end");

// The order in which a dynamic block stores the code-length code's lengths (RFC 1951, 3.2.7).
constexpr std::uint8_t CodeLengthOrder[kCodeLengthSymbols] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                              11, 4,  12, 3, 13, 2, 14, 1, 15};

}  // namespace selfx::deflate
