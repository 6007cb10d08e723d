// UTF-8 as names and messages meet it: sequences checked one at a time, names decoded the
// same way on every system, and text made safe to print on a terminal.
#pragma once

#include <cstddef>
#include <string>

namespace selfx {

// The length of the well-formed UTF-8 sequence that starts at text[at] (1 to 4), or 0 when
// none does: overlong forms, surrogates, values past U+10FFFF and cut sequences are not.
std::size_t Utf8SequenceLength(const std::string& text, std::size_t at);

// UTF-8 text (an entry name flagged as UTF-8, a name typed on a UTF-8 system) as UTF-16 for
// conversion to the ANSI code page. Every system gets the same units from the same bytes,
// invalid UTF-8 included: each well-formed character of the Basic Multilingual Plane is itself,
// and U+FFFD stands for every character beyond it (no ANSI code page holds one) and for each
// maximal part of an ill-formed sequence (an overlong form, a surrogate, a value past
// U+10FFFF, a cut sequence, a stray byte), the way the Unicode standard recommends. So no
// invalid form can turn into "/", "\" or "." on one system and not on another.
// Writes the units to out, which has room for size of them (no byte gives more than one
// unit), and returns how many it wrote.
std::size_t Utf8ToUtf16(const char* text, std::size_t size, char16_t* out);

// The text with what a terminal would obey written as \xNN: C0 controls and DEL, and for a
// UTF-8 terminal also C1 controls (U+0080 to U+009F) and bytes that are not well-formed UTF-8.
std::string EscapeControlCharacters(const std::string& text, bool utf8_terminal);

}  // namespace selfx
