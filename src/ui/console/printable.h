// Names come from archives and file systems that anyone may have written: printed raw, an
// escape sequence in a name could move the cursor, retitle the window or hide a line.
#pragma once

#include <string>

namespace selfx::console {

// The text as the terminal shows it, with what a terminal would obey escaped as \xNN: C0
// controls, DEL and (where the terminal speaks UTF-8) C1 controls and bytes that are not
// valid UTF-8. The text is in the terminal's encoding (a native path, or what
// platform::AnsiToConsole returns).
std::string Printable(const std::string& text);

}  // namespace selfx::console
