// The deflate decoder (RFC 1951) of compression method 8: pulls an entry's bytes from an input
// source and hands the decoded bytes to an output sink in the window's pieces.
#pragma once

#include <cstdint>

#include "codec/compressed_input.h"
#include "codec/decode_table.h"
#include "codec/deflate_format.h"
#include "codec/stream.h"
#include "codec/zip_crypto.h"

namespace selfx {

// The fixed codes' tables (root widths 7 and 5), built once at start-up by BuildFixedTables
// with the fast loop's tables of the same codes, read-only afterwards, never released: every
// decoder on every thread shares them.
extern DecodeTable* FixedLiteralTable;
extern DecodeTable* FixedDistanceTable;
extern TableChain FixedTableChain;

void BuildFixedTables();

// x86-64 builds carry the fast loop twice, generic and for processors with BMI2, and take the
// BMI2 one where the processor has it (found once at start-up). 32-bit builds, the stub's among
// them, have the generic loop only: there the BMI2 build's gain has not been measured.
#if !defined(SELFX_COMPACT_DECODER) && defined(__x86_64__) && defined(__GNUC__)
#define SELFX_INFLATE_BMI2 1
extern const bool ProcessorHasBmi2;
#endif

// The decoder's working memory, kept from one entry to the next: one for each thread (or each
// context) that decodes, reused for every entry it decodes. It is about 370 KB: on the heap
// (std::make_unique<Inflater>()) or in static storage, not on a stack. Everything in it starts
// as zeros, so that a static one costs no code and no room in the file. Everything but the
// switches and the input belongs to DecodeDeflatedEntry.
#ifdef SELFX_COMPACT_DECODER
#define SELFX_CACHE_LINE_ALIGNED
#else
#define SELFX_CACHE_LINE_ALIGNED alignas(64)
#endif

struct Inflater {
  Inflater() = default;
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;

  // The output area: the 32 KiB of history a match may reach back into, then room for several
  // pieces, then slack that a copy may run into past a piece's end (a whole match, and the word
  // steps' overshoot beyond it). Pieces go to the sink straight from the area; when the area is
  // full, the last 32 KiB move to the front and the output goes on behind them, so that no copy
  // ever wraps. One area for all entries: allocating this much per entry costs more in page
  // faults than decoding a small entry.
  static constexpr std::uint32_t kAreaPieces = 8;
  static constexpr std::uint32_t kAreaSlack = 512;
  static constexpr std::uint32_t kAreaSize = deflate::kWindowSize +
                                             kAreaPieces * deflate::kWindowSize + kAreaSlack;
  // Zeros behind the last buffer of an entry, for the fast loop's loads near its end.
  static constexpr std::uint32_t kInputSlack = 16;

  // Selects the inner loop: the fast one (by default) or the readable one that takes the input
  // a byte at a time. Both give identical results; the switch exists so that tests and the
  // benchmark can run them side by side.
  bool readable_loop = false;
#ifdef SELFX_INFLATE_BMI2
  // The generic build of the fast loop even where the processor has BMI2, for the same reason.
  bool generic_loop = false;
#endif
  // The input of the entry being decoded, afterwards that of the last one: its remaining count
  // tells how many of the entry's bytes were left unread (none after a refused piece).
  CompressedInput input = {};

  // Whether the history is other than zeros: only a move to the front writes there.
  bool history_written = false;
  // The fast loop's tables of the current dynamic block, rebuilt in place for every block.
  std::uint32_t fast_literals[kFastLiteralTableSize] = {};
  std::uint32_t fast_distances[kFastDistanceTableSize] = {};
  // The input and the output start on cache lines, as they did in storage of their own. Not in
  // the stub, whose run-time allocates from the process heap, which promises no such
  // alignment: there they fall where the heap puts them.
  SELFX_CACHE_LINE_ALIGNED std::uint8_t input_buffer[deflate::kInputBlockSize + kInputSlack] = {};
  SELFX_CACHE_LINE_ALIGNED std::uint8_t area[kAreaSize] = {};
};

// Decodes one entry of size compressed bytes (less its encryption header; keys primed by
// CheckEncryptionHeader, or nullptr when the entry is not encrypted) from source, to the end of
// its final block or its first failure. The sink receives every 32,768 bytes as one piece the
// moment the window fills, and what is left, if anything, once the final block ends; after a
// failure it has received only the full windows before it. A damaged stream is not reported
// here (it stops early and returns true: the caller's CRC comparison tells the user); false
// only when the sink refused a piece, after which it was handed nothing more.
bool DecodeDeflatedEntry(Inflater& inflater, const InputSource& source, std::int32_t size,
                         ZipKeys* keys, const OutputSink& sink);

}  // namespace selfx
