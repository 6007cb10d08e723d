// The deflate decoder, in the manner of puff: one short function per element of
// the format, each returning whether the stream is still sound, and one place
// (DecodeDeflatedEntry) that decides what a failure means: stop, write nothing more.
// The output goes to the sink in the window's pieces: every 32,768 bytes, and the rest at the
// end of the final block.
//
// Two inner loops decode the symbols of a block. The readable one goes one step at a time:
// NeedBits pulls single bytes from CompressedInput, one symbol at a time. The fast one runs
// while the input buffer holds a few more bytes than one symbol can need: it keeps a
// register-wide bit buffer (64 or 32 bits), refills it with one unaligned load, decodes runs of
// literals between refills, and copies matches in 8-byte steps, memcpy or memset. It reads
// only bytes that are already in the input buffer and hands unused whole bytes back before it
// returns, so the source is read at the same moments, the pieces handed to the sink are the
// same, and a stream fails at the same symbol. The differential test
// (tests/unit/codec_inflate_test.cpp) runs both over the same streams.
#include "codec/inflate.h"

#include <cstdint>
#include <cstring>
#include <memory>

#include "codec/compressed_input.h"
#include "codec/deflate_format.h"

namespace selfx {

DecodeTable* FixedLiteralTable = nullptr;
DecodeTable* FixedDistanceTable = nullptr;
TableChain FixedTableChain = nullptr;
bool UseFastInflate = true;

namespace {

using deflate::kWindowSize;

struct InflaterState {
  std::uint8_t* window = nullptr;  // the last 32 KiB of output, and the output buffer
  std::uint32_t position = 0;      // w, 0 to 32,768
  std::uint32_t bits = 0;          // b: the next stream bit is bit 0
  std::uint32_t bit_count = 0;     // k
  // How many of the k bits are the 1-bits NeedBits makes up once the input has ended. They
  // always sit above the real ones.
  std::uint32_t past_end_bits = 0;
  OutputSink sink = nullptr;
};
InflaterState Inflater;

enum class SymbolResult { Continue, EndOfBlock, Failure };

// Hands the first w bytes of the window to the sink: a full window, or the rest at the end.
void FlushWindow() {
  Inflater.sink(Inflater.window, Inflater.position);
  Inflater.position = 0;
}

// Format note: once the entry's bytes are used up, NextInputByte answers -1, which is all
// ones in 32 bits, so every further bit reads as 1. A lookup may peek at such bits near the
// end of a valid stream without harm; DropBits is where they would be consumed.
inline void NeedBits(std::uint32_t n) {
  while (Inflater.bit_count < n) {
    int next = NextInputByte();
    if (next < 0) Inflater.past_end_bits += 8;
    Inflater.bits |= static_cast<std::uint32_t>(next) << Inflater.bit_count;
    Inflater.bit_count += 8;
  }
}

// Drops n bits; false when one of them lay beyond the end of the input. This is what stops
// damaged input: a code that consumes made-up bits fails the stream before it
// has any effect, so a damaged stream cannot decode 1-bits (literal 255 in a fixed block)
// forever.
inline bool DropBits(std::uint32_t n) {
  bool real = n <= Inflater.bit_count - Inflater.past_end_bits;
  Inflater.bits >>= n;
  Inflater.bit_count -= n;
  if (Inflater.past_end_bits > Inflater.bit_count) Inflater.past_end_bits = Inflater.bit_count;
  return real;
}

inline bool RealBitsAvailable(std::uint32_t n) {
  return Inflater.bit_count - Inflater.past_end_bits >= n;
}

inline void PutByte(std::uint8_t byte) {
  Inflater.window[Inflater.position++] = byte;
  if (Inflater.position == kWindowSize) FlushWindow();
}

// Copies a match of length bytes from distance back, where source is w − distance already
// reduced to 16 bits. Pieces never cross the window's end, for source or destination: the
// copy is split there, the full window is written, and it goes on from position 0.
// Format note: a distance shorter than the length repeats the most recent bytes, which a
// front-to-back byte copy does by itself.
void CopyMatchReadable(std::uint32_t length, std::uint32_t source) {
  while (length > 0) {
    source &= kWindowSize - 1;
    std::uint32_t w = Inflater.position;
    std::uint32_t piece = kWindowSize - (source > w ? source : w);
    if (piece > length) piece = length;
    std::uint8_t* window = Inflater.window;
    if (w >= source + piece) {
      std::memcpy(window + w, window + source, piece);
    } else {
      for (std::uint32_t i = 0; i < piece; ++i) window[w + i] = window[source + i];
    }
    Inflater.position += piece;
    source += piece;
    length -= piece;
    if (Inflater.position == kWindowSize) FlushWindow();
  }
}

// The same result as CopyMatchReadable, with block moves where the overlap allows them.
void CopyMatchFast(std::uint32_t length, std::uint32_t source) {
  while (length > 0) {
    source &= kWindowSize - 1;
    std::uint32_t w = Inflater.position;
    std::uint32_t piece = kWindowSize - (source > w ? source : w);
    if (piece > length) piece = length;
    std::uint8_t* out = Inflater.window + w;
    const std::uint8_t* from = Inflater.window + source;
    if (source > w) {
      // The source lies ahead of the destination (it wrapped around): a front-to-back copy
      // is exactly memmove.
      std::memmove(out, from, piece);
    } else {
      std::uint32_t distance = w - source;
      if (distance >= piece) {
        std::memcpy(out, from, piece);
      } else if (distance == 1) {
        std::memset(out, *from, piece);
      } else if (distance >= 8) {
        // Eight-byte steps never overlap their own source; the pattern repeats as it should.
        std::uint32_t i = 0;
        for (; i + 8 <= piece; i += 8) std::memcpy(out + i, from + i, 8);
        for (; i < piece; ++i) out[i] = from[i];
      } else if (distance != 0) {  // distance 0 is 32,768 back: the byte is already there
        for (std::uint32_t i = 0; i < piece; ++i) out[i] = from[i];
      }
    }
    Inflater.position += piece;
    source += piece;
    length -= piece;
    if (Inflater.position == kWindowSize) FlushWindow();
  }
}

// Looks up one code: the root slot, then one sub-table per link. Returns the final slot with
// its bits dropped, or nullptr on an invalid pattern, an absent table, or a code that runs
// past the end of the input.
const CodeSlot* DecodeCode(const DecodeTable* table, std::uint32_t width) {
  if (table == nullptr) return nullptr;  // a code without codes: any lookup fails
  NeedBits(width);
  const CodeSlot* slot = &table[Inflater.bits & LowBitMask[width]];
  while (slot->operation > deflate::kOpLiteral) {
    if (slot->operation == deflate::kOpInvalid) return nullptr;
    if (!DropBits(slot->bits)) return nullptr;
    std::uint32_t index_bits = slot->operation - deflate::kOpLiteral;
    NeedBits(index_bits);
    slot = &slot->subtable[Inflater.bits & LowBitMask[index_bits]];
  }
  if (!DropBits(slot->bits)) return nullptr;
  return slot;
}

// Reads n extra bits as a number; false when they run past the input.
inline bool ExtraBits(std::uint32_t n, std::uint32_t* value) {
  NeedBits(n);
  *value = Inflater.bits & LowBitMask[n];
  return DropBits(n);
}

// One literal, one match or the end of the block, the readable way.
SymbolResult DecodeOneSymbol(const DecodeTable* literals, std::uint32_t literal_width,
                             const DecodeTable* distances, std::uint32_t distance_width) {
  const CodeSlot* slot = DecodeCode(literals, literal_width);
  if (slot == nullptr) return SymbolResult::Failure;
  if (slot->operation == deflate::kOpLiteral) {
    PutByte(static_cast<std::uint8_t>(slot->value));
    return SymbolResult::Continue;
  }
  if (slot->operation == deflate::kOpEndOfBlock) return SymbolResult::EndOfBlock;
  std::uint32_t extra;
  if (!ExtraBits(slot->operation, &extra)) return SymbolResult::Failure;
  std::uint32_t length = slot->value + extra;

  slot = DecodeCode(distances, distance_width);
  if (slot == nullptr) return SymbolResult::Failure;
  if (!ExtraBits(slot->operation, &extra)) return SymbolResult::Failure;
  // In 16 bits, as the format's window is: a distance past the entry's first byte lands on
  // the zeros the window was cleared with.
  std::uint32_t source = (Inflater.position - slot->value - extra) & 0xFFFF;
  if (UseFastInflate) {
    CopyMatchFast(length, source);
  } else {
    CopyMatchReadable(length, source);
  }
  return SymbolResult::Continue;
}

// The fast loop uses one of the two loads, by the word size (FastBits below).
[[maybe_unused]] inline std::uint64_t LoadLittle64(const std::uint8_t* bytes) {
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

[[maybe_unused]] inline std::uint32_t LoadLittle32(const std::uint8_t* bytes) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  std::uint32_t value;
  std::memcpy(&value, bytes, sizeof(value));
  return value;
#else
  return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
         (static_cast<std::uint32_t>(bytes[2]) << 16) |
         (static_cast<std::uint32_t>(bytes[3]) << 24);
#endif
}

// The fast loop's bit buffer is as wide as a register: on a 32-bit processor every shift of a
// 64-bit buffer takes several instructions and two of its few registers, which costs more than
// refilling more often.
#if UINTPTR_MAX > 0xFFFFFFFFu
using FastBits = std::uint64_t;
inline FastBits LoadFastBits(const std::uint8_t* bytes) { return LoadLittle64(bytes); }
#else
using FastBits = std::uint32_t;
inline FastBits LoadFastBits(const std::uint8_t* bytes) { return LoadLittle32(bytes); }
#endif
// Bits a refill guarantees: whole bytes up to the buffer's width, less the partial byte.
constexpr std::uint32_t kRefillBits = sizeof(FastBits) * 8 - 8;
// Whether one refill covers a whole length/distance pair, 15 + 5 + 15 + 13 = 48 bits. A 32-bit
// buffer refills again before the distance code and before the distance's extra bits.
constexpr bool kOneRefillPerSymbol = kRefillBits >= 48;
// Input the loop needs in the buffer to start a symbol: one load, plus the at most 3 bytes each
// of the two further refills may advance.
constexpr std::uint32_t kFastInputMargin = kOneRefillPerSymbol ? sizeof(FastBits)
                                                               : sizeof(FastBits) + 2 * 3;

// The fast loop: decodes symbols while the input buffer holds at least kFastInputMargin more bytes.
// Returns Continue when the input runs low (the caller goes on the readable way), else the block's
// end or a failure. No made-up bits can be in play: the input has not ended while bytes remain in
// the buffer.
SymbolResult DecodeSymbolsFast(const DecodeTable* literals, std::uint32_t literal_width,
                               const DecodeTable* distances, std::uint32_t distance_width) {
  // A code without codes fails at its first lookup, before the readable path would pull a byte.
  if (literals == nullptr) return SymbolResult::Failure;
  CompressedInputState& in = CompressedInput;
  const std::uint8_t* input = in.buffer;
  std::uint32_t position = in.position;
  const std::uint32_t start = position;
  const std::uint32_t fill = in.fill;
  FastBits bits = Inflater.bits;
  std::uint32_t count = Inflater.bit_count;
  std::uint8_t* window = Inflater.window;
  std::uint32_t w = Inflater.position;
  // The readable path pulls a byte whenever a lookup needs more bits than it holds, so at any
  // point it has pulled enough bytes for the farthest lookup so far. To leave the input exactly
  // where it would be, this loop keeps how far that farthest point lies ahead of the bits
  // consumed: every lookup of width n raises it to at least n, every consumed bit lowers it by
  // one. Only the bytes beyond it are handed back at the end.
  std::int32_t ahead = static_cast<std::int32_t>(count);
  auto look = [&ahead](std::uint32_t width) {
    if (ahead < static_cast<std::int32_t>(width)) ahead = static_cast<std::int32_t>(width);
  };
  auto drop = [&](std::uint32_t n) {
    bits >>= n;
    count -= n;
    ahead -= static_cast<std::int32_t>(n);
  };
  // The bits loaded above the count are the next bytes themselves, so loading them again later
  // changes nothing.
  auto refill = [&] {
    bits |= LoadFastBits(input + position) << count;
    position += (sizeof(FastBits) * 8 - 1 - count) >> 3;
    count |= kRefillBits;
  };
  const FastBits literal_mask = LowBitMask[literal_width];
  const FastBits distance_mask = LowBitMask[distance_width];
  SymbolResult result = SymbolResult::Continue;

  while (fill - position >= kFastInputMargin) {
    refill();

    look(literal_width);
    const CodeSlot* slot = &literals[bits & literal_mask];
    if (slot->operation == deflate::kOpLiteral) {
      // Literals come in runs: after one (at most 15 bits) a 64-bit buffer still holds 41,
      // enough for two more codes of the root table without a refill; a 32-bit one may not.
      drop(slot->bits);
      window[w++] = static_cast<std::uint8_t>(slot->value);
      if (w == kWindowSize) {
        Inflater.position = w;
        FlushWindow();
        w = 0;
      }
      if (!kOneRefillPerSymbol) continue;
      look(literal_width);
      slot = &literals[bits & literal_mask];
      if (slot->operation != deflate::kOpLiteral) continue;
      drop(slot->bits);
      window[w++] = static_cast<std::uint8_t>(slot->value);
      if (w == kWindowSize) {
        Inflater.position = w;
        FlushWindow();
        w = 0;
      }
      look(literal_width);
      slot = &literals[bits & literal_mask];
      if (slot->operation != deflate::kOpLiteral) continue;
      drop(slot->bits);
      window[w++] = static_cast<std::uint8_t>(slot->value);
      if (w == kWindowSize) {
        Inflater.position = w;
        FlushWindow();
        w = 0;
      }
      continue;
    }
    while (slot->operation > deflate::kOpLiteral) {
      if (slot->operation == deflate::kOpInvalid) break;
      drop(slot->bits);
      std::uint32_t index_bits = slot->operation - deflate::kOpLiteral;
      look(index_bits);
      slot = &slot->subtable[bits & LowBitMask[index_bits]];
    }
    if (slot->operation == deflate::kOpInvalid) {
      result = SymbolResult::Failure;
      break;
    }
    drop(slot->bits);
    if (slot->operation == deflate::kOpLiteral) {
      window[w++] = static_cast<std::uint8_t>(slot->value);
      if (w == kWindowSize) {
        Inflater.position = w;
        FlushWindow();
        w = 0;
      }
      continue;
    }
    if (slot->operation == deflate::kOpEndOfBlock) {
      result = SymbolResult::EndOfBlock;
      break;
    }
    std::uint32_t extra_bits = slot->operation;
    look(extra_bits);
    std::uint32_t length = slot->value + static_cast<std::uint32_t>(bits & LowBitMask[extra_bits]);
    drop(extra_bits);

    if (distances == nullptr) {
      result = SymbolResult::Failure;
      break;
    }
    if (!kOneRefillPerSymbol) refill();
    look(distance_width);
    slot = &distances[bits & distance_mask];
    while (slot->operation > deflate::kOpLiteral) {
      if (slot->operation == deflate::kOpInvalid) break;
      drop(slot->bits);
      std::uint32_t index_bits = slot->operation - deflate::kOpLiteral;
      look(index_bits);
      slot = &slot->subtable[bits & LowBitMask[index_bits]];
    }
    if (slot->operation == deflate::kOpInvalid) {
      result = SymbolResult::Failure;
      break;
    }
    drop(slot->bits);
    if (!kOneRefillPerSymbol) refill();
    extra_bits = slot->operation;
    look(extra_bits);
    std::uint32_t distance = slot->value +
                             static_cast<std::uint32_t>(bits & LowBitMask[extra_bits]);
    drop(extra_bits);

    if (distance <= w && distance >= 8 && w + length < kWindowSize) {
      // The common match: its source lies wholly behind it in the window, it ends before the
      // window is full, and it is at least 8 bytes back, so every 8-byte step reads bytes that
      // are already final. The last step is aligned to the match's end and may overlap the one
      // before it; nothing past the match is touched, since the window holds history there.
      std::uint8_t* out = window + w;
      const std::uint8_t* from = out - distance;
      if (length >= 8) {
        for (std::uint32_t i = 0; i + 8 < length; i += 8) std::memcpy(out + i, from + i, 8);
        std::memcpy(out + length - 8, from + length - 8, 8);
      } else if (length >= 4) {
        std::memcpy(out, from, 4);
        std::memcpy(out + length - 4, from + length - 4, 4);
      } else {
        out[0] = from[0];
        out[1] = from[1];
        out[2] = from[2];
      }
      w += length;
      continue;
    }
    Inflater.position = w;
    CopyMatchFast(length, (w - distance) & 0xFFFF);
    w = Inflater.position;
  }

  // Hand back the whole bytes beyond the farthest point the readable path would have pulled.
  // The bit buffer then holds no more than the readable path's 32 bits, and the input position
  // is where it would be.
  // Bits pulled from the buffer since entry up to that farthest point: every lookup and every
  // extra-bits field was looked at before it was consumed, so the count is never negative.
  std::int32_t reach = static_cast<std::int32_t>((position - start) * 8) -
                       static_cast<std::int32_t>(count) + ahead;
  std::uint32_t keep = static_cast<std::uint32_t>(reach + 7) / 8;
  std::uint32_t unused = position - start - keep;
  position -= unused;
  count -= unused * 8;
  Inflater.bits = static_cast<std::uint32_t>(static_cast<std::uint64_t>(bits) &
                                             ((std::uint64_t{1} << count) - 1));
  Inflater.bit_count = count;
  Inflater.position = w;
  in.remaining -= static_cast<std::int32_t>(position - in.position);
  in.position = static_cast<std::uint16_t>(position);
  return result;
}

// Decodes literals and matches to the end of the block.
bool DecodeSymbols(const DecodeTable* literals, std::uint32_t literal_width,
                   const DecodeTable* distances, std::uint32_t distance_width) {
  for (;;) {
    if (UseFastInflate && CompressedInput.fill - CompressedInput.position >= kFastInputMargin) {
      SymbolResult result = DecodeSymbolsFast(literals, literal_width, distances, distance_width);
      if (result == SymbolResult::EndOfBlock) return true;
      if (result == SymbolResult::Failure) return false;
    }
    SymbolResult result = DecodeOneSymbol(literals, literal_width, distances, distance_width);
    if (result == SymbolResult::EndOfBlock) return true;
    if (result == SymbolResult::Failure) return false;
  }
}

// Stored block. Format note: it starts at the next byte boundary, and its length is followed
// by the length's ones' complement, which is the only check a stored block has. Bits already
// in the buffer are used before new input.
bool CopyStoredBlock() {
  if (!DropBits(Inflater.bit_count & 7)) return false;
  std::uint32_t length;
  if (!ExtraBits(16, &length)) return false;
  NeedBits(16);
  if (length != (~Inflater.bits & 0xFFFF)) return false;
  if (!DropBits(16)) return false;
  while (length > 0) {
    CompressedInputState& in = CompressedInput;
    if (UseFastInflate && Inflater.bit_count == 0 && in.position < in.fill) {
      // Straight from the input buffer into the window, as many bytes as both allow.
      std::uint32_t n = in.fill - in.position;
      if (n > length) n = length;
      if (n > kWindowSize - Inflater.position) n = kWindowSize - Inflater.position;
      std::memcpy(Inflater.window + Inflater.position, in.buffer + in.position, n);
      in.position = static_cast<std::uint16_t>(in.position + n);
      in.remaining -= static_cast<std::int32_t>(n);
      Inflater.position += n;
      length -= n;
      if (Inflater.position == kWindowSize) FlushWindow();
      continue;
    }
    NeedBits(8);
    if (!RealBitsAvailable(8)) return false;
    PutByte(static_cast<std::uint8_t>(Inflater.bits));
    DropBits(8);
    --length;
  }
  return true;
}

bool DecodeFixedBlock() {
  return DecodeSymbols(FixedLiteralTable, deflate::kFixedLiteralRootBits, FixedDistanceTable,
                       deflate::kFixedDistanceRootBits);
}

// Reads the code lengths of a dynamic block through its code-length code. Format note: the
// literal/length and distance lengths form one sequence, so a repeat may run on from one list
// into the other, but never past the last declared length.
bool ReadCodeLengths(std::uint16_t* lengths, std::uint32_t total) {
  std::uint16_t code_length_lengths[deflate::kCodeLengthSymbols] = {};
  std::uint32_t declared;
  if (!ExtraBits(4, &declared)) return false;
  declared += 4;
  for (std::uint32_t i = 0; i < declared; ++i) {
    std::uint32_t length;
    if (!ExtraBits(3, &length)) return false;
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
    const CodeSlot* slot = DecodeCode(table, static_cast<std::uint32_t>(width));
    if (slot == nullptr || slot->operation != deflate::kOpLiteral) {
      sound = false;
      break;
    }
    std::uint32_t symbol = slot->value;
    if (symbol < 16) {
      previous = static_cast<std::uint16_t>(symbol);
      lengths[i++] = previous;
      continue;
    }
    // 16 repeats the previous length 3-6 times (0 before any length was read), 17 repeats a
    // zero 3-10 times, 18 repeats a zero 11-138 times.
    std::uint32_t repeat;
    std::uint16_t value = 0;
    if (symbol == 16) {
      sound = ExtraBits(2, &repeat);
      repeat += 3;
      value = previous;
    } else if (symbol == 17) {
      sound = ExtraBits(3, &repeat);
      repeat += 3;
    } else {
      sound = ExtraBits(7, &repeat);
      repeat += 11;
    }
    previous = value;
    if (!sound || repeat > total - i) {
      sound = false;
      break;
    }
    while (repeat-- > 0) lengths[i++] = value;
  }
  ReleaseDecodeTables(&chain);
  return sound;
}

// Dynamic block: the header, the code lengths, the two codes, then the symbols. The tables
// live for this block only and are released on every way out.
bool DecodeDynamicBlock() {
  std::uint32_t literal_count, distance_count;
  if (!ExtraBits(5, &literal_count)) return false;
  literal_count += 257;
  if (!ExtraBits(5, &distance_count)) return false;
  distance_count += 1;
  std::uint16_t lengths[deflate::kLiteralLengthSymbols + deflate::kDistanceSymbols];
  if (!ReadCodeLengths(lengths, literal_count + distance_count)) return false;

  DecodeTable* literals = nullptr;
  TableChain literal_chain = nullptr;
  int literal_width = deflate::kLiteralRootBits;
  DecodeTable* distances = nullptr;
  TableChain distance_chain = nullptr;
  int distance_width = deflate::kDistanceRootBits;
  // An incomplete literal/length code is refused; an incomplete distance code is not, since a
  // lone distance code of length 1 is what compressors write for a single distance.
  bool sound = BuildDecodeTable(lengths, static_cast<int>(literal_count),
                                deflate::kFirstLengthSymbol, deflate::LengthBase, 31,
                                deflate::LengthExtra, 31, &literals, &literal_chain,
                                &literal_width) == BuildResult::Complete &&
               BuildDecodeTable(lengths + literal_count, static_cast<int>(distance_count), 0,
                                deflate::DistanceBase, 30, deflate::DistanceExtra, 30, &distances,
                                &distance_chain, &distance_width) != BuildResult::Invalid;
  if (sound) {
    sound = DecodeSymbols(literals, static_cast<std::uint32_t>(literal_width), distances,
                          static_cast<std::uint32_t>(distance_width));
  }
  ReleaseDecodeTables(&literal_chain);
  ReleaseDecodeTables(&distance_chain);
  return sound;
}

// One block: the last-block flag, the type, the body.
bool DecodeBlock(bool* last) {
  std::uint32_t flag, type;
  if (!ExtraBits(1, &flag) || !ExtraBits(2, &type)) return false;
  *last = flag != 0;
  switch (type) {
    case deflate::kStoredBlock:
      return CopyStoredBlock();
    case deflate::kFixedBlock:
      return DecodeFixedBlock();
    case deflate::kDynamicBlock:
      return DecodeDynamicBlock();
    default:
      return false;  // type 3 is reserved
  }
}

}  // namespace

void BuildFixedTables() {
  if (FixedLiteralTable != nullptr) return;
  std::uint16_t lengths[deflate::kLiteralLengthSymbols];
  int symbol = 0;
  for (; symbol < 144; ++symbol) lengths[symbol] = 8;
  for (; symbol < 256; ++symbol) lengths[symbol] = 9;
  for (; symbol < 280; ++symbol) lengths[symbol] = 7;
  for (; symbol < 288; ++symbol) lengths[symbol] = 8;
  int width = deflate::kFixedLiteralRootBits;
  BuildDecodeTable(lengths, deflate::kLiteralLengthSymbols, deflate::kFirstLengthSymbol,
                   deflate::LengthBase, 31, deflate::LengthExtra, 31, &FixedLiteralTable,
                   &FixedTableChain, &width);
  // Thirty codes of 5 bits leave two patterns free (symbols 30 and 31): an incomplete code,
  // whose free patterns are invalid slots.
  for (symbol = 0; symbol < 30; ++symbol) lengths[symbol] = 5;
  width = deflate::kFixedDistanceRootBits;
  BuildDecodeTable(lengths, 30, 0, deflate::DistanceBase, 30, deflate::DistanceExtra, 30,
                   &FixedDistanceTable, &FixedTableChain, &width);
}

void DecodeDeflatedEntry(OutputSink sink) {
  Inflater.sink = sink;
  Inflater.bits = 0;
  Inflater.bit_count = 0;
  Inflater.past_end_bits = 0;
  Inflater.position = 0;
  // The window starts as zeros: a reference farther back than the entry's own output copies
  // zeros, never bytes of an earlier entry.
  std::unique_ptr<std::uint8_t[]> input(new std::uint8_t[deflate::kInputBlockSize]);
  std::unique_ptr<std::uint8_t[]> window(new std::uint8_t[kWindowSize]());
  CompressedInput.buffer = input.get();
  Inflater.window = window.get();

  bool last = false;
  bool sound = true;
  while (sound && !last) sound = DecodeBlock(&last);
  if (sound && Inflater.position > 0) FlushWindow();

  CompressedInput.buffer = nullptr;
  Inflater.window = nullptr;
}

}  // namespace selfx
