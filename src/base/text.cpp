#include "base/text.h"

namespace selfx {

std::string FormatWith(const std::string& format, const std::string& argument) {
  std::string::size_type at = format.find("%s");
  if (at == std::string::npos) return format;
  std::string result(format, 0, at);
  result += argument;
  result.append(format, at + 2, std::string::npos);
  return result;
}

std::string DecimalText(std::uint32_t value, int min_digits) {
  char digits[10];
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  std::string text(count < min_digits ? static_cast<std::size_t>(min_digits - count) : 0, '0');
  while (count > 0) text += digits[--count];
  return text;
}

std::string AsciiUpperCase(const std::string& text) {
  std::string result = text;
  for (char& c : result) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 0x20);
  }
  return result;
}

}  // namespace selfx
