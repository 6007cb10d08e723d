#include "ui/console/printable.h"

#include "base/utf8.h"

namespace selfx::console {

std::string Printable(const std::string& text) {
#ifdef _WIN32
  // The console's code pages give 0x80 to 0xFF printable characters.
  return EscapeControlCharacters(text, false);
#else
  return EscapeControlCharacters(text, true);
#endif
}

}  // namespace selfx::console
