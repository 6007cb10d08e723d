// The deflate decoder, in the manner of puff: one short function per element of
// the format, each returning whether the stream is still sound, and one place
// (DecodeDeflatedEntry) that decides what a failure means: stop, write nothing more.
// The output goes to the sink in the window's pieces: every 32,768 bytes, and the rest at the
// end of the final block. A sink that refuses a piece stops the decoder the same way, and it is
// handed nothing more.
//
// Two inner loops decode the symbols of a block. The readable one goes one step at a time:
// NeedBits pulls single bytes from the compressed input, one symbol at a time, through the linked
// tables of decode_table.h. The fast one runs while the input buffer holds a few more bytes
// than one symbol can need: it keeps a 64-bit bit buffer refilled with one unaligned load,
// looks codes up in packed 32-bit tables with wider roots, takes a code and its extra bits in
// one step, decodes runs of literals between refills, and copies matches a word at a time in a
// flat output area. It stops before the end of a block or anything it cannot decode, and hands
// the whole bytes it did not consume back to the input buffer; the readable path then takes
// that symbol (or, in the last bytes before a read, DecodeUpToRead takes the symbols up to it,
// without the readable tables). So the source is read at the same moments, the pieces handed to
// the sink are the same, and a stream fails at the same symbol. The differential test
// (tests/unit/codec_inflate_test.cpp) runs both over the same streams.
#include "codec/inflate.h"

#include <cstdint>
#include <cstring>

#include "codec/compressed_input.h"
#include "codec/deflate_format.h"

namespace selfx {

DecodeTable* FixedLiteralTable = nullptr;
DecodeTable* FixedDistanceTable = nullptr;
TableChain FixedTableChain = nullptr;
#ifdef SELFX_INFLATE_BMI2
extern const bool ProcessorHasBmi2 = [] {
  __builtin_cpu_init();
  return __builtin_cpu_supports("bmi2") != 0;
}();
#endif

namespace {

using deflate::kWindowSize;

static_assert(Inflater::kAreaSlack >= deflate::kMaxMatchLength + 3 + 40,
              "a match started before the area's end fits, with three literals and its overshoot");

// The bits in hand. The compact build needs no more than 32; the others hand a symbol that the
// next read will finish back with up to 56 bits of the buffer's end in hand (DecodeUpToRead).
#ifdef SELFX_COMPACT_DECODER
using BitBuffer = std::uint32_t;
#else
using BitBuffer = std::uint64_t;
#endif

// The decoder's state for one entry. It lives on DecodeDeflatedEntry's stack and every step
// takes it by reference; what lasts from entry to entry (the input, the tables, the output area)
// is in the Inflater it points to (memory).
struct InflaterState {
  Inflater* memory = nullptr;
  std::uint8_t* area = nullptr;      // the output area
  std::uint8_t* area_end = nullptr;  // the end of its pieces, where the slack starts
  std::uint8_t* piece = nullptr;     // the start of the piece being filled
  std::uint8_t* out = nullptr;       // the next output byte
  BitBuffer bits = 0;                // b: the next stream bit is bit 0
  std::uint32_t bit_count = 0;       // k
  // How many of the k bits are the 1-bits NeedBits makes up once the input has ended. They
  // always sit above the real ones.
  std::uint32_t past_end_bits = 0;
  OutputSink sink = {};
  // Set when the sink refused a piece: no piece goes to it after that (see HandOverPiece).
  bool refused = false;
};

inline CompressedInput& Input(InflaterState& inflater) { return inflater.memory->input; }

// The fast loop's tables of the fixed code, built once.
std::uint32_t FixedFastLiterals[kFastLiteralTableSize];
std::uint32_t FixedFastDistances[kFastDistanceTableSize];

enum class SymbolResult { Continue, EndOfBlock, Failure };

// The bytes written since the current piece started; past 32,768 only inside the fast loop.
inline std::uint32_t PieceFill(const InflaterState& inflater) {
  return static_cast<std::uint32_t>(inflater.out - inflater.piece);
}

// Hands the full piece to the sink, unless it refused one before, and moves on to the next. At
// the area's end the history and whatever lies already past the piece move to the front.
//
// A refused piece ends the input there: nothing is left in the buffer or to be read, and the
// bits in hand count as made up past the end. The decoder then stops at its next step the way
// it stops at the end of a cut stream, which needs no test of its own on any path. Only the fast
// readers, which keep the input's state in locals while they run, return at once when they make
// room on the way.
void HandOverPiece(InflaterState& inflater) {
  if (!inflater.refused &&
      !inflater.sink.write(inflater.sink.context, inflater.piece, kWindowSize)) {
    inflater.refused = true;
    CompressedInput& in = Input(inflater);
    in.remaining = 0;
    in.fill = in.position;
    inflater.past_end_bits = inflater.bit_count;
  }
  inflater.piece += kWindowSize;
  if (inflater.piece == inflater.area_end) {
    std::uint32_t beyond = static_cast<std::uint32_t>(inflater.out - inflater.piece);
    std::memmove(inflater.area, inflater.piece - kWindowSize, kWindowSize + beyond);
    inflater.memory->history_written = true;
    inflater.piece = inflater.area + kWindowSize;
    inflater.out = inflater.piece + beyond;
  }
}

// The compact build keeps NeedBits out of line: its byte-pulling loop at five call sites costs
// the stub some 200 bytes. Elsewhere it is inlined, which the readable loop's speed wants.
#ifdef SELFX_COMPACT_DECODER
#define SELFX_NEED_BITS __attribute__((noinline))
#else
#define SELFX_NEED_BITS inline
#endif

// Format note: once the entry's bytes are used up, NextInputByte answers -1, which is all
// ones in 32 bits, so every further bit reads as 1. A lookup may peek at such bits near the
// end of a valid stream without harm; DropBits is where they would be consumed.
SELFX_NEED_BITS void NeedBits(InflaterState& inflater, std::uint32_t n) {
  while (inflater.bit_count < n) {
    int next = NextInputByte(Input(inflater));
    if (next < 0) inflater.past_end_bits += 8;
    inflater.bits |= static_cast<BitBuffer>(next) << inflater.bit_count;
    inflater.bit_count += 8;
  }
}

// Drops n bits; false when one of them lay beyond the end of the input. This is what stops
// damaged input: a code that consumes made-up bits fails the stream before it
// has any effect, so a damaged stream cannot decode 1-bits (literal 255 in a fixed block)
// forever.
inline bool DropBits(InflaterState& inflater, std::uint32_t n) {
  bool real = n <= inflater.bit_count - inflater.past_end_bits;
  inflater.bits >>= n;
  inflater.bit_count -= n;
  if (inflater.past_end_bits > inflater.bit_count) inflater.past_end_bits = inflater.bit_count;
  return real;
}

inline bool RealBitsAvailable(const InflaterState& inflater, std::uint32_t n) {
  return inflater.bit_count - inflater.past_end_bits >= n;
}

inline void PutByte(InflaterState& inflater, std::uint8_t byte) {
  *inflater.out++ = byte;
  if (PieceFill(inflater) == kWindowSize) HandOverPiece(inflater);
}

// Copies a match of length bytes from distance (1 to 32,768) back, a byte at a time.
// Format note: a distance shorter than the length repeats the most recent bytes, which a
// front-to-back byte copy does by itself; a distance beyond the entry's first byte reaches the
// zeros the history starts as.
void CopyMatchReadable(InflaterState& inflater, std::uint32_t length, std::uint32_t distance) {
  while (length-- > 0) PutByte(inflater, inflater.out[-static_cast<std::ptrdiff_t>(distance)]);
}

// Looks up one code: the root slot, then one sub-table per link. Returns the final slot with
// its bits dropped, or nullptr on an invalid pattern, an absent table, or a code that runs
// past the end of the input.
const CodeSlot* DecodeCode(InflaterState& inflater, const DecodeTable* table, std::uint32_t width) {
  if (table == nullptr) return nullptr;  // a code without codes: any lookup fails
  NeedBits(inflater, width);
  const CodeSlot* slot = &table[inflater.bits & LowBitMask[width]];
  while (slot->operation > deflate::kOpLiteral) {
    if (slot->operation == deflate::kOpInvalid) return nullptr;
    if (!DropBits(inflater, slot->bits)) return nullptr;
    std::uint32_t index_bits = slot->operation - deflate::kOpLiteral;
    NeedBits(inflater, index_bits);
    slot = &slot->subtable[inflater.bits & LowBitMask[index_bits]];
  }
  if (!DropBits(inflater, slot->bits)) return nullptr;
  return slot;
}

// Reads n extra bits as a number; false when they run past the input. Kept out of line: it
// reads block headers, code lengths and the extra bits of the symbols the fast loop leaves,
// a dozen call sites where a copy of its byte-pulling loop each would cost the stub 700 bytes
// and the decoder no measurable time.
__attribute__((noinline)) bool ExtraBits(InflaterState& inflater, std::uint32_t n,
                                         std::uint32_t* value) {
  NeedBits(inflater, n);
  *value = static_cast<std::uint32_t>(inflater.bits & LowBitMask[n]);
  return DropBits(inflater, n);
}

// One literal, one match or the end of the block, the readable way.
SymbolResult DecodeOneSymbol(InflaterState& inflater, const DecodeTable* literals,
                             std::uint32_t literal_width, const DecodeTable* distances,
                             std::uint32_t distance_width) {
  const CodeSlot* slot = DecodeCode(inflater, literals, literal_width);
  if (slot == nullptr) return SymbolResult::Failure;
  if (slot->operation == deflate::kOpLiteral) {
    PutByte(inflater, static_cast<std::uint8_t>(slot->value));
    return SymbolResult::Continue;
  }
  if (slot->operation == deflate::kOpEndOfBlock) return SymbolResult::EndOfBlock;
  std::uint32_t extra;
  if (!ExtraBits(inflater, slot->operation, &extra)) return SymbolResult::Failure;
  std::uint32_t length = slot->value + extra;

  slot = DecodeCode(inflater, distances, distance_width);
  if (slot == nullptr) return SymbolResult::Failure;
  if (!ExtraBits(inflater, slot->operation, &extra)) return SymbolResult::Failure;
  CopyMatchReadable(inflater, length, slot->value + extra);
  return SymbolResult::Continue;
}

inline std::uint64_t LoadLittle64(const std::uint8_t* bytes) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  std::uint64_t value;
  std::memcpy(&value, bytes, sizeof(value));
  return value;
#else
  std::uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = (value << 8) | bytes[i];
  return value;
#endif
}

inline void Copy8(std::uint8_t* to, const std::uint8_t* from) {
  std::uint64_t word;
  std::memcpy(&word, from, 8);
  std::memcpy(to, &word, 8);
}

// The tables of one block for both loops: the readable ones, which the careful tail decodes
// with, and the fast loop's packed ones. A dynamic block's readable tables are built only when
// the tail first needs them (the fast loop decodes most blocks whole), from the block's code
// lengths; until then lengths is set.
struct BlockCodes {
  const DecodeTable* literals;
  std::uint32_t literal_width;
  const DecodeTable* distances;
  std::uint32_t distance_width;
  const std::uint32_t* fast_literals;
  const std::uint32_t* fast_distances;
  const std::uint16_t* lengths = nullptr;  // literal/length lengths, then the distance ones
  std::uint32_t literal_count = 0;
  std::uint32_t distance_count = 0;
  TableChain literal_chain = nullptr;
  TableChain distance_chain = nullptr;
#ifndef SELFX_COMPACT_DECODER
  // A dynamic block's readable shapes, for DecodeUpToRead; a fixed block leaves them empty (its
  // readable tables are built once anyway).
  ReadableShape literal_shape = {};
  ReadableShape distance_shape = {};
#endif
};

// Builds a dynamic block's readable tables; the codes were checked when the block began.
void BuildReadableTables(BlockCodes& codes) {
  DecodeTable* literals = nullptr;
  int literal_width = deflate::kLiteralRootBits;
  DecodeTable* distances = nullptr;
  int distance_width = deflate::kDistanceRootBits;
  BuildBlockTables(codes.lengths, static_cast<int>(codes.literal_count),
                   static_cast<int>(codes.distance_count), &literals, &literal_width,
                   &codes.literal_chain, &distances, &distance_width, &codes.distance_chain);
  codes.literals = literals;
  codes.literal_width = static_cast<std::uint32_t>(literal_width);
  codes.distances = distances;
  codes.distance_width = static_cast<std::uint32_t>(distance_width);
  codes.lengths = nullptr;
}

// The low n bits of value, n below 64. The BMI2 build takes them with one bzhi, which the
// compiler does not find by itself here: it makes the mask from a shifted -1 kept in a register.
template <bool kBmi2>
inline std::uint64_t LowBits(std::uint64_t value, std::uint32_t n) {
#ifdef SELFX_INFLATE_BMI2
  if constexpr (kBmi2) {
    std::uint64_t low;
    asm("bzhi %2, %1, %0" : "=r"(low) : "r"(value), "r"(std::uint64_t{n}));
    return low;
  }
#endif
  return value & ((std::uint64_t{1} << n) - 1);
}

// After a fast reader that took its bits straight from the input buffer: leaves the input
// buffer's position and the bits in hand exactly as the readable path would have left them after
// the same symbols. The reader started at the buffer's position `start` with the state's bits in
// front of it; its loads got to `next`, and `count` bits before that it did not consume. The
// readable path pulls whole bytes and keeps the bits of them it has not used: the bytes up to the
// first unconsumed bit, or up to looked_ahead_to (a bit position) when it looked further ahead
// than it consumed; and never fewer than it held before the reader began. Bit positions count
// from the start of the buffer; below start * 8 lie the bits it held.
void HandBackUnreadBytes(InflaterState& inflater, std::uint32_t start, const std::uint8_t* next,
                         std::uint32_t count, std::int64_t looked_ahead_to) {
  CompressedInput& in = Input(inflater);
  const std::int64_t start_bit = static_cast<std::int64_t>(start) * 8;
  std::int64_t at = static_cast<std::int64_t>(next - in.buffer) * 8 - count;  // first unconsumed
  std::int64_t pulled_to = looked_ahead_to > at ? looked_ahead_to : at;
  pulled_to = (pulled_to + 7) & ~std::int64_t{7};
  if (pulled_to < start_bit) pulled_to = start_bit;

  std::uint64_t kept = 0;
  std::uint32_t kept_count = 0;
  if (at < start_bit) {
    const std::int64_t held_from = start_bit - inflater.bit_count;
    kept_count = static_cast<std::uint32_t>(start_bit - at);
    kept = (std::uint64_t{inflater.bits} >> (at - held_from)) &
           ((std::uint64_t{1} << kept_count) - 1);
    at = start_bit;
  }
  while (at < pulled_to) {
    const std::uint32_t within = static_cast<std::uint32_t>(at & 7);
    kept |= std::uint64_t{static_cast<std::uint8_t>(in.buffer[at >> 3] >> within)} << kept_count;
    kept_count += 8 - within;
    at += 8 - within;
  }
  // Bits held before the reader began and not consumed, or fewer than 16; or the bits up to the
  // buffer's end from a symbol's start when DecodeUpToRead looked that far (fewer than 56).
  inflater.bits = static_cast<BitBuffer>(kept);
  inflater.bit_count = kept_count;
  const std::uint32_t position = static_cast<std::uint32_t>(pulled_to >> 3);
  in.remaining -= static_cast<std::int32_t>(position - start);
  in.position = static_cast<std::uint16_t>(position);
}

#ifndef SELFX_COMPACT_DECODER
// The fast loop at the area's end: hands the full pieces to the sink, which moves the history to
// the front, and returns where the output goes on. The loop reads no input in between, so the
// sink sees the pieces at the same moments as when the loop stops there and starts again.
__attribute__((noinline)) std::uint8_t* MakeRoom(InflaterState& inflater, std::uint8_t* out) {
  inflater.out = out;
  while (PieceFill(inflater) >= kWindowSize) HandOverPiece(inflater);
  return inflater.out;
}
#endif

// Input the fast loop needs in the buffer to start a symbol: one 8-byte load.
constexpr std::uint32_t kFastInputMargin = 8;
// Zeros behind the last buffer of an entry, for the loads of the final stretch: a load starts at
// most 8 bytes past the last byte it still needs.
constexpr std::uint32_t kFinalStretchSlack = Inflater::kInputSlack;
static_assert(kFinalStretchSlack >= 16);

// The fast loop: decodes literals and matches while the input buffer holds kFastInputMargin more
// bytes, and stops at the end of the block (true), or before anything it cannot decode and when
// the input runs low (false). The careful tail (DecodeOneSymbol) takes it from there, so that how
// a block fails is decided in one place. When the output area fills, the loop hands the full
// pieces over and goes on (MakeRoom); the compact build stops there instead and lets the tail
// take one symbol, which costs it the readable tables of the block.
//
// Decoding the end-of-block code here leaves the input exactly as the readable path leaves it:
// the readable tables end a table at that code's length, so the readable path pulls the bytes
// up to the code's last bit and no further, which is what the hand-back below keeps.
//
// The final stretch (kFinal) runs in the entry's last buffer, when no further read of the source
// can come: it decodes on up to the last real bit instead of stopping kFastInputMargin bytes
// before the end, loading zeros from the slack behind it, and stops before any symbol that
// would take a bit past the end. The tail then decides that symbol, which fails the stream.
// Without it, the last bytes of every entry would be left to the readable tables; a build
// that must be small (SELFX_COMPACT_DECODER) leaves it out all the same.
//
// Its 64-bit bit buffer is refilled with one unaligned load per symbol: at least 56 bits, enough
// for a length code, its extra bits, a distance code and its extra bits (15 + 5 + 15 + 13), or
// for three literals of the root table (11 bits each). It reads only bytes already in the input
// buffer; every look-ahead the readable path would make in the same stretch also lies in those
// bytes, so the source is read at the same moments whichever loop ran. Full pieces are handed
// to the sink once the loop stops, which is before any further read.
//
// It is compiled into each of the loops below (always inlined), once per instruction set.
template <bool kFinal, bool kBmi2 = false>
__attribute__((always_inline)) inline bool DecodeSymbolsFast(InflaterState& inflater,
                                                             const BlockCodes& codes) {
  using namespace fast_entry;
  CompressedInput& in = Input(inflater);
  const std::uint8_t* const buffer = in.buffer;
  const std::uint32_t start = in.position;
  const std::uint8_t* next = buffer + start;
  const std::uint8_t* const last_load = kFinal ? buffer : buffer + in.fill - kFastInputMargin;
  const std::int64_t end_bit = static_cast<std::int64_t>(in.fill) * 8;
  if (kFinal) std::memset(in.buffer + in.fill, 0, kFinalStretchSlack);
  std::uint64_t bits = inflater.bits;
  std::uint32_t count = inflater.bit_count;
  std::uint8_t* out = inflater.out;
  std::uint8_t* const out_end = inflater.area_end;
  const std::uint32_t* const literals = codes.fast_literals;
  const std::uint32_t* const distances = codes.fast_distances;
  constexpr std::uint64_t kLiteralMask = (1u << kFastLiteralRootBits) - 1;
  constexpr std::uint64_t kDistanceMask = (1u << kFastDistanceRootBits) - 1;

  // count holds the number of bits in its low byte only: a symbol subtracts its whole entry,
  // whose low byte is the bits it takes, which saves masking the entry on every symbol. The
  // bits above the count are the next bytes themselves, so loading them again is harmless.
  auto refill = [&] {
    bits |= LoadLittle64(next) << static_cast<std::uint8_t>(count);
    next += 7 - ((count >> 3) & 7);
    count |= 56;
  };
  // Whether a symbol that leaves `left` bits in the buffer took a bit past the input's end.
  auto past_end = [&](std::uint32_t left) {
    return kFinal &&
           static_cast<std::int64_t>(next - buffer) * 8 - static_cast<std::uint8_t>(left) > end_bit;
  };
  auto more_input = [&] {
    if (kFinal)
      return static_cast<std::int64_t>(next - buffer) * 8 - static_cast<std::uint8_t>(count) <
             end_bit;
    return next <= last_load;
  };
  // The next symbol's entry is looked up before the refill, which then runs beside it: a symbol
  // takes at most 48 of the 64 bits a refill leaves, so the 11 bits of the lookup are real.
  std::uint32_t entry = 0;
  bool block_ended = false;
  if (more_input()) {
    refill();
    entry = literals[bits & kLiteralMask];
  }
#ifdef SELFX_COMPACT_DECODER
  while (more_input() && out < out_end) {
#else
  while (more_input()) {
    if (out >= out_end) {
      out = MakeRoom(inflater, out);
      if (inflater.refused) return false;
    }
#endif
    refill();
    std::uint32_t symbol_count = count;

    if (entry & kLiteral) {
      if (past_end(count - entry)) break;
      bits >>= static_cast<std::uint8_t>(entry);
      count -= entry;
      *out++ = static_cast<std::uint8_t>(entry >> 16);
      entry = literals[bits & kLiteralMask];
      if (entry & kLiteral) {
        if (past_end(count - entry)) break;
        bits >>= static_cast<std::uint8_t>(entry);
        count -= entry;
        *out++ = static_cast<std::uint8_t>(entry >> 16);
        entry = literals[bits & kLiteralMask];
        if (entry & kLiteral) {
          if (past_end(count - entry)) break;
          bits >>= static_cast<std::uint8_t>(entry);
          count -= entry;
          *out++ = static_cast<std::uint8_t>(entry >> 16);
          entry = literals[bits & kLiteralMask];
          continue;
        }
      }
      // A length (or something exceptional) follows the literals: it is decoded in this round,
      // after a refill under the same condition as the loop's (the slack takes the literals
      // and a whole match past the area's end).
      if (!more_input()) continue;
      refill();
      symbol_count = count;
    }
    if (entry & kExceptional) {
      if (entry & kSubTable) {
        bits >>= static_cast<std::uint8_t>(entry);
        count -= entry;
        entry = literals[(entry >> 16) + LowBits<kBmi2>(bits, (entry >> 8) & 0xF)];
        if (entry & kLiteral) {
          if (past_end(count - entry)) {
            count = symbol_count;
            break;
          }
          bits >>= static_cast<std::uint8_t>(entry);
          count -= entry;
          *out++ = static_cast<std::uint8_t>(entry >> 16);
          entry = literals[bits & kLiteralMask];
          continue;
        }
      }
      if (entry & kExceptional) {
        if ((entry & kEndOfBlock) && !past_end(count - entry)) {
          count -= entry;
          block_ended = true;
        } else {
          count = symbol_count;  // no symbol has this pattern, or it runs past the end
        }
        break;
      }
    }
    std::uint64_t saved = bits;
    bits >>= static_cast<std::uint8_t>(entry);
    count -= entry;
    const std::uint32_t length = (entry >> 16) +
                                 static_cast<std::uint32_t>(
                                     LowBits<kBmi2>(saved, static_cast<std::uint8_t>(entry)) >>
                                     ((entry >> 8) & 0xF));

    entry = distances[bits & kDistanceMask];
    if (entry & kExceptional) {
      if (!(entry & kSubTable)) {
        count = symbol_count;
        break;
      }
      bits >>= static_cast<std::uint8_t>(entry);
      count -= entry;
      entry = distances[(entry >> 16) + LowBits<kBmi2>(bits, (entry >> 8) & 0xF)];
      if (entry & kExceptional) {
        count = symbol_count;
        break;
      }
    }
    saved = bits;
    bits >>= static_cast<std::uint8_t>(entry);
    count -= entry;
    const std::uint32_t distance = (entry >> 16) +
                                   static_cast<std::uint32_t>(
                                       LowBits<kBmi2>(saved, static_cast<std::uint8_t>(entry)) >>
                                       ((entry >> 8) & 0xF));
    if (past_end(count)) {
      count = symbol_count;
      break;
    }

    // The next symbol's entry is looked up before the copy, whose branches it need not wait for.
    entry = literals[bits & kLiteralMask];

    // The history in front of the output covers every distance, and the slack behind it every
    // overshoot: the copy needs no bounds. Word steps at a distance of 8 or more read only bytes
    // already final; a distance of 1 repeats one byte. A shorter distance still copies a word at
    // a time but steps on by the distance: each word's first distance bytes are final, and the
    // rest, copies of bytes not yet written, are overwritten by the next step.
    std::uint8_t* to = out;
    const std::uint8_t* from = out - distance;
    std::uint8_t* const end = out + length;
    if (distance >= 8) {
      // Most matches are no longer than 40 bytes: five steps without a test cover them.
      Copy8(to, from);
      Copy8(to + 8, from + 8);
      Copy8(to + 16, from + 16);
      Copy8(to + 24, from + 24);
      Copy8(to + 32, from + 32);
      to += 40;
      from += 40;
      while (to < end) {
        Copy8(to, from);
        Copy8(to + 8, from + 8);
        to += 16;
        from += 16;
      }
    } else if (distance == 1) {
      std::uint64_t word = std::uint64_t{0x0101010101010101} * *from;
      do {
        std::memcpy(to, &word, 8);
        to += 8;
      } while (to < end);
    } else {
      do {
        Copy8(to, from);
        to += distance;
        from += distance;
      } while (to < end);
    }
    out = end;
  }
  count &= 0xFF;

  HandBackUnreadBytes(inflater, start, next, count, 0);
  inflater.out = out;
  while (PieceFill(inflater) >= kWindowSize) HandOverPiece(inflater);
  return block_ended;
}

// The loop's builds are not cloned: gcc's clone with its parameters split up (IPA-SRA) added
// register moves inside the loop, 0.9 per cent more instructions in the 64-bit decode benchmark.
// Clang makes no such clone and knows no such attribute.
#ifdef __clang__
#define SELFX_NO_CLONE
#else
#define SELFX_NO_CLONE __attribute__((noclone))
#endif

template <bool kFinal>
SELFX_NO_CLONE bool DecodeSymbolsFastGeneric(InflaterState& inflater, const BlockCodes& codes) {
  return DecodeSymbolsFast<kFinal>(inflater, codes);
}

#ifdef SELFX_INFLATE_BMI2
// The same loop for processors with BMI2: its variable shifts and masks (shrx, bzhi) take one
// instruction each without touching the flags, where the generic build needs the shift count in
// cl and a mask made from a shift. Most of the loop's work is such shifts.
template <bool kFinal>
SELFX_NO_CLONE __attribute__((target("bmi2"))) bool DecodeSymbolsFastBmi2(InflaterState& inflater,
                                                                          const BlockCodes& codes) {
  return DecodeSymbolsFast<kFinal, true>(inflater, codes);
}
#endif

// Runs the fast loop built for this processor.
template <bool kFinal>
bool RunFastLoop(InflaterState& inflater, const BlockCodes& codes) {
#ifdef SELFX_INFLATE_BMI2
  if (ProcessorHasBmi2 && !inflater.memory->generic_loop) {
    return DecodeSymbolsFastBmi2<kFinal>(inflater, codes);
  }
#endif
  return DecodeSymbolsFastGeneric<kFinal>(inflater, codes);
}

#ifndef SELFX_COMPACT_DECODER
enum class UpToRead { EndOfBlock, Read, Tail };

// Where the fast loop stops short of the end of an input buffer that another read follows: the
// symbols up to that read, one at a time through the fast tables, without the readable tables
// whose building would cost more than the few symbols.
//
// The readable path reads when a lookup or extra bits ask for bits past the buffer's end. A
// readable lookup asks for the root's width, and a code longer than that for at most the longest
// code's length, both known from the lengths (ClassifyCode); extra bits ask for themselves.
// So a symbol whose requests all lie in the buffer is decoded here and written. At the first
// symbol with a request past the end, the read comes before that symbol writes anything, and
// where in the symbol does not matter: the bits from its start to the buffer's end go into the
// bits in hand, one byte more is pulled, which reads (Read), and the fast loop goes on with the
// new buffer. Anything else (no symbol for the pattern, an empty code, a long code whose requests
// may or may not pass the end) goes to the careful tail as before (Tail), and so does the end of
// the block, decoded here (EndOfBlock).
//
// Its loads reach at most 8 bytes past the buffer's end, into zeroed slack; every bit a decoded
// symbol takes lies before the end.
UpToRead DecodeUpToRead(InflaterState& inflater, const BlockCodes& codes) {
  using namespace fast_entry;
  CompressedInput& in = Input(inflater);
  const std::uint8_t* const buffer = in.buffer;
  const std::uint32_t start = in.position;
  const std::int64_t end_bit = static_cast<std::int64_t>(in.fill) * 8;
  std::memset(in.buffer + in.fill, 0, kFinalStretchSlack);
  const std::uint8_t* next = buffer + start;
  std::uint64_t bits = inflater.bits;
  std::uint32_t count = inflater.bit_count;
  const ReadableShape literal_shape = codes.literal_shape;
  const ReadableShape distance_shape = codes.distance_shape;
  UpToRead stop = UpToRead::Tail;
  // A code's entry, its bits at both levels, and its extra bits.
  struct Code {
    std::uint32_t entry;
    std::uint32_t bits;
    std::uint32_t extra;
  };
  auto look_up = [&bits](const std::uint32_t* table, int root_bits) {
    std::uint32_t entry = table[bits & ((1u << root_bits) - 1)];
    std::uint32_t code_bits = 0;
    if ((entry & kExceptional) && (entry & kSubTable)) {
      code_bits = static_cast<std::uint32_t>(root_bits);
      entry = table[(entry >> 16) + ((bits >> root_bits) & ((1u << ((entry >> 8) & 0xF)) - 1))];
    }
    code_bits += (entry >> 8) & 0xF;
    return Code{entry, code_bits, (entry & 0xFF) - ((entry >> 8) & 0xF)};
  };
  auto take = [&bits, &count](std::uint32_t n) {
    const std::uint32_t value = static_cast<std::uint32_t>(bits & ((std::uint64_t{1} << n) - 1));
    bits >>= n;
    count -= n;
    return value;
  };
  for (;;) {
    if (inflater.out >= inflater.area_end) {
      inflater.out = MakeRoom(inflater, inflater.out);
      if (inflater.refused) return UpToRead::Tail;
    }
    while (count <= 56) {
      bits |= std::uint64_t{*next++} << count;
      count += 8;
    }
    const std::uint64_t symbol_bits = bits;
    const std::uint32_t symbol_count = count;
    const std::int64_t symbol_at = static_cast<std::int64_t>(next - buffer) * 8 - count;

    if (literal_shape.longest == 0) break;
    if (symbol_at + literal_shape.root_bits > end_bit) {
      stop = UpToRead::Read;
      break;
    }
    const Code literal = look_up(codes.fast_literals, kFastLiteralRootBits);
    if ((literal.entry & kExceptional) && !(literal.entry & kEndOfBlock)) break;
    if (literal.bits > static_cast<std::uint32_t>(literal_shape.root_bits) &&
        symbol_at + literal_shape.longest > end_bit)
      break;
    take(literal.bits);
    if (literal.entry & kLiteral) {
      *inflater.out++ = static_cast<std::uint8_t>(literal.entry >> 16);
      continue;
    }
    if (literal.entry & kEndOfBlock) {
      stop = UpToRead::EndOfBlock;
      break;
    }
    std::int64_t at = symbol_at + literal.bits;
    if (at + literal.extra > end_bit) {
      stop = UpToRead::Read;
    } else {
      const std::uint32_t length = (literal.entry >> 16) + take(literal.extra);
      at += literal.extra;
      if (distance_shape.longest != 0 && at + distance_shape.root_bits > end_bit) {
        stop = UpToRead::Read;
      } else if (distance_shape.longest != 0) {
        const Code distance = look_up(codes.fast_distances, kFastDistanceRootBits);
        if (!(distance.entry & kExceptional) &&
            (distance.bits <= static_cast<std::uint32_t>(distance_shape.root_bits) ||
             at + distance_shape.longest <= end_bit)) {
          at += distance.bits;
          take(distance.bits);
          if (at + distance.extra > end_bit) {
            stop = UpToRead::Read;
          } else {
            const std::uint32_t back = (distance.entry >> 16) + take(distance.extra);
            // The history in front covers every distance and the slack behind a whole match.
            std::uint8_t* out = inflater.out;
            const std::uint8_t* from = out - back;
            for (std::uint32_t i = 0; i < length; ++i) out[i] = from[i];
            inflater.out = out + length;
            continue;
          }
        }
      }
    }
    // The symbol is left whole to what comes next.
    bits = symbol_bits;
    count = symbol_count;
    break;
  }

  HandBackUnreadBytes(inflater, start, next, count, stop == UpToRead::Read ? end_bit : 0);
  while (PieceFill(inflater) >= kWindowSize) HandOverPiece(inflater);
  // One byte past the buffer: the read the readable path makes at this symbol.
  if (stop == UpToRead::Read) NeedBits(inflater, inflater.bit_count + 1);
  return stop;
}
#endif

// Decodes literals and matches to the end of the block.
bool DecodeSymbols(InflaterState& inflater, BlockCodes& codes) {
  for (;;) {
    if (!inflater.memory->readable_loop) {
      const CompressedInput& in = Input(inflater);
      if (in.fill - in.position >= kFastInputMargin && RunFastLoop<false>(inflater, codes)) {
        return true;
      }
#ifndef SELFX_COMPACT_DECODER
      // The last of the entry's bytes are all in the buffer: no read can follow.
      bool last_buffer = in.position < in.fill &&
                         in.remaining == static_cast<std::int32_t>(in.fill - in.position);
      if (last_buffer && RunFastLoop<true>(inflater, codes)) return true;
      // Another read follows this buffer: up to it without the readable tables, if the block
      // is a dynamic one.
      if (!last_buffer && codes.literal_shape.longest != 0 && inflater.past_end_bits == 0 &&
          in.remaining > static_cast<std::int32_t>(in.fill - in.position)) {
        const UpToRead stop = DecodeUpToRead(inflater, codes);
        if (stop == UpToRead::EndOfBlock) return true;
        if (stop == UpToRead::Read) continue;
      }
#endif
    }
    if (codes.lengths != nullptr) BuildReadableTables(codes);
    SymbolResult result = DecodeOneSymbol(inflater, codes.literals, codes.literal_width,
                                          codes.distances, codes.distance_width);
    if (result == SymbolResult::EndOfBlock) return true;
    if (result == SymbolResult::Failure) return false;
  }
}

// Stored block. Format note: it starts at the next byte boundary, and its length is followed
// by the length's ones' complement, which is the only check a stored block has. Bits already
// in the buffer are used before new input.
bool CopyStoredBlock(InflaterState& inflater) {
  if (!DropBits(inflater, inflater.bit_count & 7)) return false;
  std::uint32_t length;
  if (!ExtraBits(inflater, 16, &length)) return false;
  NeedBits(inflater, 16);
  if (length != (~inflater.bits & 0xFFFF)) return false;
  if (!DropBits(inflater, 16)) return false;
  while (length > 0) {
    CompressedInput& in = Input(inflater);
    if (!inflater.memory->readable_loop && inflater.bit_count == 0 && in.position < in.fill) {
      // Straight from the input buffer into the window, as many bytes as both allow.
      std::uint32_t n = in.fill - in.position;
      if (n > length) n = length;
      std::uint32_t room = kWindowSize - PieceFill(inflater);
      if (n > room) n = room;
      std::memcpy(inflater.out, in.buffer + in.position, n);
      in.position = static_cast<std::uint16_t>(in.position + n);
      in.remaining -= static_cast<std::int32_t>(n);
      inflater.out += n;
      length -= n;
      if (PieceFill(inflater) == kWindowSize) HandOverPiece(inflater);
      continue;
    }
    NeedBits(inflater, 8);
    if (!RealBitsAvailable(inflater, 8)) return false;
    PutByte(inflater, static_cast<std::uint8_t>(inflater.bits));
    DropBits(inflater, 8);
    --length;
  }
  return true;
}

bool DecodeFixedBlock(InflaterState& inflater) {
  BlockCodes codes{FixedLiteralTable,  deflate::kFixedLiteralRootBits,
                   FixedDistanceTable, deflate::kFixedDistanceRootBits,
                   FixedFastLiterals,  FixedFastDistances};
  return DecodeSymbols(inflater, codes);
}

// Writes what one code-length symbol stands for: a length (0-15) itself, or, for a repeat
// symbol whose count `repeat` has been read, that many copies of the previous length or of
// zero. False when a repeat would run past the last of the `total` lengths.
inline bool StoreCodeLengths(std::uint32_t symbol, std::uint32_t repeat, std::uint16_t* lengths,
                             std::uint32_t total, std::uint32_t& i, std::uint16_t& previous) {
  if (symbol < 16) {
    previous = static_cast<std::uint16_t>(symbol);
    lengths[i++] = previous;
    return true;
  }
  if (!deflate::kLengthRepeats[symbol - deflate::kFirstRepeatSymbol].repeats_previous) {
    previous = 0;
  }
  if (repeat > total - i) return false;
  while (repeat-- > 0) lengths[i++] = previous;
  return true;
}

// Reads the code lengths of a dynamic block through its code-length code. Format note: the
// literal/length and distance lengths form one sequence, so a repeat may run on from one list
// into the other, but never past the last declared length.
bool ReadCodeLengths(InflaterState& inflater, std::uint16_t* lengths, std::uint32_t total) {
  std::uint16_t code_length_lengths[deflate::kCodeLengthSymbols] = {};
  std::uint32_t declared;
  if (!ExtraBits(inflater, 4, &declared)) return false;
  declared += 4;
  for (std::uint32_t i = 0; i < declared; ++i) {
    std::uint32_t length;
    if (!ExtraBits(inflater, 3, &length)) return false;
    code_length_lengths[deflate::CodeLengthOrder[i]] = static_cast<std::uint16_t>(length);
  }
  DecodeTable* table = nullptr;
  TableChain chain = nullptr;
  int width = deflate::kCodeLengthRootBits;
  BuildResult built = BuildDecodeTable(code_length_lengths, deflate::kCodeLengthSymbols,
                                       deflate::kCodeLengthSymbols, nullptr, 0, nullptr, 0, &table,
                                       &chain, &width);
  bool sound = built == BuildResult::Complete && table != nullptr;
  std::uint32_t i = 0;
  std::uint16_t previous = 0;
  while (sound && i < total) {
    const CodeSlot* slot = DecodeCode(inflater, table, static_cast<std::uint32_t>(width));
    if (slot == nullptr || slot->operation != deflate::kOpLiteral) {
      sound = false;
      break;
    }
    const std::uint32_t symbol = slot->value;
    std::uint32_t repeat = 0;
    if (symbol >= 16) {
      const deflate::LengthRepeat& rule =
          deflate::kLengthRepeats[symbol - deflate::kFirstRepeatSymbol];
      sound = ExtraBits(inflater, rule.extra_bits, &repeat);
      repeat += rule.base;
    }
    sound = sound && StoreCodeLengths(symbol, repeat, lengths, total, i, previous);
  }
  ReleaseDecodeTables(&chain);
  return sound;
}

#ifndef SELFX_COMPACT_DECODER
// The most input a dynamic block's code lengths can take after the counts: the code-length
// code's declared count and lengths (4 + 19 * 3 bits), then 320 codes of at most 7 bits, or
// fewer with the repeats' extra bits (a repeat of at least 3 lengths takes at most 10 bits). Then
// the loads' reach: the bits of a refill end up to 8 bytes past the consumed ones, and its load
// reads 8 more.
constexpr std::uint32_t kCodeLengthsInputMargin = (4 + 19 * 3 + 320 * 7 + 7) / 8 + 16;

// Reads the code lengths as ReadCodeLengths does, but through a 64-bit bit buffer over the input
// buffer and a flat table of the code-length code, when the input buffer holds all the bits
// they can take: no read of the source can fall among them. Anything unusual (too little input,
// a code-length code that is not complete, a pattern without a code, a repeat past the end)
// makes it give up having consumed nothing; ReadCodeLengths then reads the same bits again and
// decides, so how a damaged header fails is decided in one place.
bool ReadCodeLengthsFast(InflaterState& inflater, std::uint16_t* lengths, std::uint32_t total) {
  const CompressedInput& in = Input(inflater);
  if (in.fill - in.position < kCodeLengthsInputMargin) return false;
  const std::uint8_t* const buffer = in.buffer;
  const std::uint32_t start = in.position;
  const std::uint8_t* next = buffer + start;
  std::uint64_t bits = inflater.bits;
  std::uint32_t count = inflater.bit_count;
  auto refill = [&] {
    bits |= LoadLittle64(next) << count;
    next += (63 - count) >> 3;
    count |= 56;
  };
  auto take = [&](std::uint32_t n) {
    std::uint32_t value = static_cast<std::uint32_t>(bits & ((std::uint64_t{1} << n) - 1));
    bits >>= n;
    count -= n;
    return value;
  };

  refill();
  const std::uint32_t declared = take(4) + 4;
  std::uint16_t code_length_lengths[deflate::kCodeLengthSymbols] = {};
  std::uint32_t longest = 0;
  for (std::uint32_t i = 0; i < declared; ++i) {
    if (count < 3) refill();
    const std::uint32_t length = take(3);
    code_length_lengths[deflate::CodeLengthOrder[i]] = static_cast<std::uint16_t>(length);
    if (length > longest) longest = length;
  }
  std::uint16_t table[1 << kCodeLengthTableBits];
  if (!BuildCodeLengthTable(code_length_lengths, table)) return false;

  // Before each code the readable path pulls bytes until it holds as many bits as the longest
  // code has, and keeps what it pulled; after the last code that may be a byte more than the
  // codes used, which the hand-back below takes as well.
  std::int64_t look_ahead = 0;
  std::uint32_t i = 0;
  std::uint16_t previous = 0;
  while (i < total) {
    refill();
    look_ahead = static_cast<std::int64_t>(next - buffer) * 8 - count + longest;
    const std::uint32_t entry = table[bits & ((1u << kCodeLengthTableBits) - 1)];
    if (entry == kNoCodeLength) return false;
    take(entry >> 8);
    const std::uint32_t symbol = entry & 0xFF;
    std::uint32_t repeat = 0;
    if (symbol >= 16) {
      const deflate::LengthRepeat& rule =
          deflate::kLengthRepeats[symbol - deflate::kFirstRepeatSymbol];
      repeat = take(rule.extra_bits) + rule.base;
    }
    if (!StoreCodeLengths(symbol, repeat, lengths, total, i, previous)) return false;
  }

  HandBackUnreadBytes(inflater, start, next, count, look_ahead);
  return true;
}
#endif

// Dynamic block: the header, the code lengths, the two codes, then the symbols. The tables
// live for this block only and are released on every way out.
bool DecodeDynamicBlock(InflaterState& inflater) {
  std::uint32_t literal_count, distance_count;
  if (!ExtraBits(inflater, 5, &literal_count)) return false;
  literal_count += 257;
  if (!ExtraBits(inflater, 5, &distance_count)) return false;
  distance_count += 1;
  std::uint16_t lengths[deflate::kLiteralLengthSymbols + deflate::kDistanceSymbols];
  bool read = false;
#ifndef SELFX_COMPACT_DECODER
  read = !inflater.memory->readable_loop &&
         ReadCodeLengthsFast(inflater, lengths, literal_count + distance_count);
#endif
  if (!read && !ReadCodeLengths(inflater, lengths, literal_count + distance_count)) return false;

  // An incomplete literal/length code is refused; an incomplete distance code is not, since a
  // lone distance code of length 1 is what compressors write for a single distance.
  std::uint32_t* const fast_literals = inflater.memory->fast_literals;
  std::uint32_t* const fast_distances = inflater.memory->fast_distances;
  BlockCodes codes{nullptr, 0, nullptr, 0, fast_literals, fast_distances};
#ifdef SELFX_COMPACT_DECODER
  if (ClassifyCode(lengths, static_cast<int>(literal_count)) != BuildResult::Complete ||
      ClassifyCode(lengths + literal_count, static_cast<int>(distance_count)) ==
          BuildResult::Invalid) {
    return false;
  }
#else
  // The same, with the shapes of the readable tables for DecodeUpToRead.
  if (ClassifyCode(lengths, static_cast<int>(literal_count), deflate::kLiteralRootBits,
                   &codes.literal_shape) != BuildResult::Complete ||
      ClassifyCode(lengths + literal_count, static_cast<int>(distance_count),
                   deflate::kDistanceRootBits, &codes.distance_shape) == BuildResult::Invalid) {
    return false;
  }
#endif
  codes.lengths = lengths;
  codes.literal_count = literal_count;
  codes.distance_count = distance_count;
  if (!inflater.memory->readable_loop) {
    BuildFastTable(lengths, static_cast<int>(literal_count), FastCode::LiteralLength,
                   fast_literals);
    BuildFastTable(lengths + literal_count, static_cast<int>(distance_count), FastCode::Distance,
                   fast_distances);
  } else {
    BuildReadableTables(codes);
  }
  bool sound = DecodeSymbols(inflater, codes);
  ReleaseDecodeTables(&codes.literal_chain);
  ReleaseDecodeTables(&codes.distance_chain);
  return sound;
}

// One block: the last-block flag, the type, the body.
bool DecodeBlock(InflaterState& inflater, bool* last) {
  std::uint32_t flag, type;
  if (!ExtraBits(inflater, 1, &flag) || !ExtraBits(inflater, 2, &type)) return false;
  *last = flag != 0;
  switch (type) {
    case deflate::kStoredBlock:
      return CopyStoredBlock(inflater);
    case deflate::kFixedBlock:
      return DecodeFixedBlock(inflater);
    case deflate::kDynamicBlock:
      return DecodeDynamicBlock(inflater);
    default:
      return false;  // type 3 is reserved
  }
}

}  // namespace

void BuildFixedTables() {
  if (FixedLiteralTable != nullptr) return;
  // Thirty distance codes of 5 bits leave two patterns free (symbols 30 and 31): an
  // incomplete code, whose free patterns are invalid slots.
  constexpr int kDistances = 30;
  std::uint16_t lengths[deflate::kLiteralLengthSymbols + kDistances];
  for (int symbol = 0; symbol < deflate::kLiteralLengthSymbols + kDistances; ++symbol) {
    lengths[symbol] = deflate::FixedCodeLength(symbol);
  }
  int literal_width = deflate::kFixedLiteralRootBits;
  int distance_width = deflate::kFixedDistanceRootBits;
  BuildBlockTables(lengths, deflate::kLiteralLengthSymbols, kDistances, &FixedLiteralTable,
                   &literal_width, &FixedTableChain, &FixedDistanceTable, &distance_width,
                   &FixedTableChain);
  BuildFastTable(lengths, deflate::kLiteralLengthSymbols, FastCode::LiteralLength,
                 FixedFastLiterals);
  BuildFastTable(lengths + deflate::kLiteralLengthSymbols, kDistances, FastCode::Distance,
                 FixedFastDistances);
}

bool DecodeDeflatedEntry(Inflater& memory, const InputSource& source, std::int32_t size,
                         ZipKeys* keys, const OutputSink& sink) {
  // The history starts as zeros: a reference farther back than the entry's own output copies
  // zeros, never bytes of an earlier entry.
  // Only a move to the front writes there, so the zeros are renewed after an entry that made one.
  if (memory.history_written) std::memset(memory.area, 0, kWindowSize);
  memory.history_written = false;
  memory.input.buffer = memory.input_buffer;
  StartInput(memory.input, source, size, keys);
  InflaterState inflater;
  inflater.memory = &memory;
  inflater.sink = sink;
  inflater.area = memory.area;
  inflater.area_end = memory.area + kWindowSize + Inflater::kAreaPieces * kWindowSize;
  inflater.piece = memory.area + kWindowSize;
  inflater.out = inflater.piece;

  bool last = false;
  bool sound = true;
  while (sound && !last) sound = DecodeBlock(inflater, &last);
  if (sound && !inflater.refused && inflater.out != inflater.piece) {
    inflater.refused = !sink.write(sink.context, inflater.piece, PieceFill(inflater));
  }
  return !inflater.refused;
}

}  // namespace selfx
