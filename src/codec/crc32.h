// CRC-32 of the ZIP format (reflected polynomial 0xEDB88320). The register belongs to the
// caller: it starts at 0xFFFFFFFF and the file's CRC-32 is the register inverted; nothing
// here inverts it.
#pragma once

#include <cstdint>

namespace selfx {

// Entry i is the CRC remainder of the single byte i. Filled once by BuildCrcTable.
extern std::uint32_t CrcTable[256];

// Fills CrcTable (and the wider tables UpdateCrc uses for its bulk path), and asks the
// processor whether it can multiply without carries. Called once at start-up, before
// anything is extracted or decrypted.
void BuildCrcTable();

// One byte into the register: the step of the CRC and of the decryption key schedule.
inline std::uint32_t CrcStep(std::uint8_t byte, std::uint32_t crc) {
  return CrcTable[(crc ^ byte) & 0xFF] ^ (crc >> 8);
}

// Folds count bytes into the register, first byte first. A count of zero or less leaves it
// unchanged. The result is exactly that of CrcStep applied byte by byte.
void UpdateCrc(const std::uint8_t* buffer, std::int32_t count, std::uint32_t& crc);

// The plain byte-at-a-time loop, kept as the reference the bulk path is tested against.
void UpdateCrcBytewise(const std::uint8_t* buffer, std::int32_t count, std::uint32_t& crc);

// Whether UpdateCrc folds long runs with the processor's carry-less multiplication. Set by
// BuildCrcTable to what the processor offers; tests and the benchmark turn it off to run the
// table path on the same machine. Turning it on without the processor's support is an error.
extern bool UseCarrylessCrc;
// What the processor offers (PCLMULQDQ with SSE4.1), as found by BuildCrcTable.
bool CarrylessCrcAvailable();

// Whether the carry-less path folds long runs 256 bytes at a time in 512-bit registers
// (VPCLMULQDQ with AVX-512), in 64-bit builds other than the stub's. Set by BuildCrcTable to what
// the processor offers; tests and the benchmark turn it off to run the 128-bit folding on the
// same machine. Turning it on without the processor's support is an error.
extern bool UseWideCarrylessCrc;
bool WideCarrylessCrcAvailable();

}  // namespace selfx
