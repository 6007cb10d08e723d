// The copy of a stored entry (method 0): its bytes straight from the archive to the output.
#pragma once

#include "codec/stream.h"

namespace selfx {

// Copies the rest of CurrentEntry's bytes, CompressedRemaining of them, from source to sink in
// blocks of at most 32,768 bytes, decrypting each block with EntryKeys when the entry is
// encrypted. False when the source gives out inside the entry (the pieces before have reached
// the sink) or the sink refuses a piece.
bool CopyStoredBytes(const InputSource& source, const OutputSink& sink);

// CopyStoredBytes from the archive's current position to OutputFile, folding the bytes into
// RunningCrc. An archive that ends inside the entry ends the program as corrupt.
void CopyStoredEntry();

}  // namespace selfx
