// The builder's own file input and output, with the paths exactly as the user typed them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace selfx::cli {

// The whole file, or nothing when it cannot be read (error_text then says why).
std::optional<std::vector<std::uint8_t>> ReadWholeFile(const std::string& path,
                                                       std::string& error_text);

// Writes the parts to a temporary file beside path and renames it into place only when all
// of it was written, so that no half-written file ever stands under the final name.
bool WriteFileAtomically(const std::string& path,
                         const std::vector<const std::vector<std::uint8_t>*>& parts,
                         std::string& error_text);

}  // namespace selfx::cli
