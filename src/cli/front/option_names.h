// The option bits of the configuration block under the names the builder's flags use, and
// the names of message-box styles and overwrite modes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace selfx::cli {

struct OptionName {
  std::uint16_t bit;
  const char* flag;  // without the leading "--"
  const char* meaning;
};
extern const OptionName kOptionNames[8];

// "ask", "skip", "overwrite" and the mode numbers.
std::optional<std::uint8_t> ParseOverwriteMode(const std::string& text);
const char* OverwriteModeName(std::uint8_t mode);

// "yesno", "okcancel+warning", "0x24", "36": buttons, then optionally "+" and an icon.
std::optional<std::uint32_t> ParseMessageStyle(const std::string& text);
std::string DescribeMessageStyle(std::uint32_t style);

// A number in decimal or with 0x in hex, within [0, max].
std::optional<std::uint32_t> ParseNumber(const std::string& text, std::uint32_t max);

}  // namespace selfx::cli
