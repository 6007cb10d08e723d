// The deflate decoder (RFC 1951) of compression method 8: pulls an entry's bytes from
// CompressedInput, writes the decoded bytes to OutputFile in pieces of 32,768 bytes through
// the window, and folds each piece into RunningCrc right after writing it.
#pragma once

#include "codec/decode_table.h"

namespace selfx {

// The fixed codes' tables (root widths 7 and 5), built once at start-up, never released.
extern DecodeTable* FixedLiteralTable;
extern DecodeTable* FixedDistanceTable;
extern TableChain FixedTableChain;

void BuildFixedTables();

// Decodes the current entry to the end of its final block or its first failure. Reports
// nothing: a damaged stream stops early, and the caller's CRC comparison tells the user.
void DecodeDeflatedEntry();

// Selects the decoder's inner loop: the fast one (the default) or the readable one that
// takes the input a byte at a time. Both give identical results; the switch exists so
// that tests and the benchmark can run them side by side.
extern bool UseFastInflate;

}  // namespace selfx
