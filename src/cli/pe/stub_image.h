// Where a stub's image ends, read from its file with every header bounds-checked; and a
// signed stub made plain again.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace selfx::cli {

// The image's OverlayStart, computed from the headers exactly as the stub computes it at run
// time; nothing when the bytes are not a PE32 image whose headers lie inside the file.
std::optional<std::uint32_t> CheckedOverlayStart(const std::vector<std::uint8_t>& file,
                                                 std::string& error_text);

// A signed stub carries its certificate table where the configuration block belongs, and
// the signature would not cover what is appended anyway. Leaves it out: the file is cut
// where the table (and the signer's zero padding before it) begins, the certificate table's
// directory entry is cleared and the header checksum is computed anew, which gives back the
// stub as it was before it was signed. The file passed CheckedOverlayStart, which gave
// overlay_start. False, with the file unchanged, when it carries no signature.
bool LeaveOutSignature(std::vector<std::uint8_t>& file, std::uint32_t overlay_start);

// The checksum of a PE image file, as the optional header records it: the file's 16-bit
// little-endian words (the checksum field itself read as zero) added with end-around carry,
// plus the file's length.
std::uint32_t ImageChecksum(const std::vector<std::uint8_t>& file);

}  // namespace selfx::cli
