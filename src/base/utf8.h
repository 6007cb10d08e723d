// UTF-8 as names and messages meet it: sequences checked one at a time, and text made safe
// to print on a terminal.
#pragma once

#include <cstddef>
#include <string>

namespace selfx {

// The length of the well-formed UTF-8 sequence that starts at text[at] (1 to 4), or 0 when
// none does: overlong forms, surrogates, values past U+10FFFF and cut sequences are not.
std::size_t Utf8SequenceLength(const std::string& text, std::size_t at);

// The text with what a terminal would obey written as \xNN: C0 controls and DEL, and for a
// UTF-8 terminal also C1 controls (U+0080 to U+009F) and bytes that are not well-formed UTF-8.
std::string EscapeControlCharacters(const std::string& text, bool utf8_terminal);

}  // namespace selfx
