// The text routines every message and name is built with. Texts are ANSI byte strings.
#pragma once

#include <cstdint>
#include <string>

namespace selfx {

// The format with its first "%s" replaced by the argument; unchanged when it has none.
std::string FormatWith(const std::string& format, const std::string& argument);

// The value in decimal, without sign or grouping, padded with leading zeros to min_digits.
std::string DecimalText(std::uint32_t value, int min_digits = 1);

// "a".."z" raised to "A".."Z"; every other byte kept.
std::string AsciiUpperCase(const std::string& text);

}  // namespace selfx
