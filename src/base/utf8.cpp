// Kept apart from text.cpp: the stub links the core's files whole, and these routines, most of
// which only the command-line tool calls, must not change how the stub's own text routines
// compile.
#include "base/utf8.h"

#include <cstdint>

namespace selfx {

std::size_t Utf8SequenceLength(const std::string& text, std::size_t at) {
  auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  unsigned char lead = byte(at);
  if (lead < 0x80) return 1;
  std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
  if (length == 0 || lead > 0xF4 || at + length > text.size()) return 0;
  std::uint32_t code = lead & (0x7Fu >> length);
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(at + i) & 0x3Fu);
  }
  static const std::uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < kSmallest[length] || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) return 0;
  return length;
}

std::size_t Utf8ToUtf16(const char* text, std::size_t size, char16_t* out) {
  std::size_t written = 0;
  for (std::size_t at = 0; at < size;) {
    auto lead = static_cast<unsigned char>(text[at]);
    // The second byte's range is narrower after E0, ED, F0 and F4: that is what keeps out
    // overlong forms, surrogates and values past U+10FFFF, each at its first wrong byte.
    std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0x80 ? 2 : 1;
    unsigned char low = 0x80, high = 0xBF;
    if (length > 1 && (lead < 0xC2 || lead > 0xF4)) length = 0;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
    std::uint32_t code = length == 1 ? lead : lead & (0x7Fu >> length);
    std::size_t taken = 1;
    for (; taken < length && at + taken < size; ++taken) {
      auto next = static_cast<unsigned char>(text[at + taken]);
      if (next < low || next > high) break;
      code = (code << 6) | (next & 0x3Fu);
      low = 0x80;
      high = 0xBF;
    }
    out[written++] = taken == length && code <= 0xFFFF ? static_cast<char16_t>(code) : u'\uFFFD';
    at += taken;
  }
  return written;
}

namespace {
void AppendHexEscape(std::string& out, unsigned char byte) {
  static const char kDigits[] = "0123456789ABCDEF";
  out += "\\x";
  out += kDigits[byte >> 4];
  out += kDigits[byte & 15];
}
}  // namespace

std::string EscapeControlCharacters(const std::string& text, bool utf8_terminal) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    auto byte = static_cast<unsigned char>(text[i]);
    std::size_t length = utf8_terminal ? Utf8SequenceLength(text, i) : 1;
    bool c0_control = byte < 0x20 || byte == 0x7F;
    bool c1_control = length == 2 && byte == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0;
    if (c0_control || c1_control || length == 0) {
      // A lone byte too: an 8-bit terminal may take 0x9B for a control sequence introducer.
      std::size_t count = c1_control ? 2 : 1;
      for (std::size_t k = 0; k < count; ++k) {
        AppendHexEscape(out, static_cast<unsigned char>(text[i + k]));
      }
      i += count;
    } else {
      out.append(text, i, length);
      i += length;
    }
  }
  return out;
}

}  // namespace selfx
