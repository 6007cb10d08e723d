// The copy of a stored entry (method 0): its bytes straight from the archive to the output.
#pragma once

namespace selfx {

// Copies the rest of CurrentEntry's bytes, CompressedRemaining of them from the archive's
// current position, to OutputFile in blocks of at most 32,768 bytes, decrypting each block
// when the entry is encrypted and folding it into RunningCrc. An archive that ends inside the
// entry ends the program as corrupt.
void CopyStoredEntry();

}  // namespace selfx
