// Where a stub's image ends, read from its file with every header bounds-checked.
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

}  // namespace selfx::cli
