// The deflate decoder (RFC 1951) of compression method 8: pulls an entry's bytes from
// CompressedInput and hands the decoded bytes to a sink in the window's pieces.
#pragma once

#include <cstdint>
#include <memory>
#include "codec/decode_table.h"
#include "codec/stream.h"

namespace selfx {

// The fixed codes' tables (root widths 7 and 5), built once at start-up, never released.
extern DecodeTable* FixedLiteralTable;
extern DecodeTable* FixedDistanceTable;
extern TableChain FixedTableChain;

void BuildFixedTables();

// Decodes the entry whose input StartInput has set up, to the end of its final block or its
// first failure. The sink receives every 32,768 bytes as one piece the moment the window
// fills, and what is left, if anything, once the final block ends; after a failure it has
// received only the full windows before it. Reports nothing: a damaged stream stops early, and
// the caller's CRC comparison tells the user.
void DecodeDeflatedEntry(RawOutputSink sink);
// SHIM
struct ZipKeys;
class Inflater {};
std::unique_ptr<Inflater> NewInflater();
bool DecodeDeflatedEntry(Inflater& inflater, InputSource source, std::int32_t size, ZipKeys* keys,
                         OutputSink sink);

// Selects the decoder's inner loop: the fast one (the default) or the readable one that
// takes the input a byte at a time. Both give identical results; the switch exists so
// that tests and the benchmark can run them side by side.
extern bool UseFastInflate;

// x86-64 builds carry the fast loop twice, generic and for processors with BMI2, and take the
// BMI2 one where the processor has it. Tests switch it off to run the generic one as well; it
// may be set only where the processor has BMI2. 32-bit builds, the stub's among them, have the
// generic loop only: there the BMI2 build's gain has not been measured.
#if !defined(SELFX_COMPACT_DECODER) && defined(__x86_64__) && defined(__GNUC__)
#define SELFX_INFLATE_BMI2 1
extern bool UseBmi2Inflate;
#endif

}  // namespace selfx
