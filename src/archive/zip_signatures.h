// The three ZIP record signatures the stub reads, compared as 32-bit little-endian values.
//
// The stub's image must not hold any of them as plain bytes: a scanner that looks for the
// archive inside the combined file would otherwise stop in the stub's code. Each is therefore
// kept one lower in its first byte and raised once by PrepareZipSignatures at start-up, before
// the archive is read.
#pragma once

#include <cstdint>

namespace selfx {

extern std::uint32_t LocalHeaderSignature;    // 50 4B 03 04
extern std::uint32_t CentralHeaderSignature;  // 50 4B 01 02
extern std::uint32_t EndRecordSignature;      // 50 4B 05 06

// Raises each signature to its real value. Runs once; a second call changes nothing.
void PrepareZipSignatures();

}  // namespace selfx
