// The console side of the user-interface boundary: message boxes become lines on stderr,
// prompts ask at the terminal, Ctrl-C cancels.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "ui/ui.h"

namespace selfx::console {

struct ConsoleSettings {
  // The password to try when an entry asks for one (from --password-file); without it the
  // terminal is asked.
  std::optional<std::string> password;
  // Set when the password from the file did not fit an entry (said once for each entry).
  bool wrong_password = false;
  bool show_progress = true;
};
ConsoleSettings& Settings();

// A path of the core (or a message about paths), ANSI with "\" separators, as the terminal
// shows it in this system's own form.
std::string ShownPath(const std::string& ansi);

// Makes Ctrl-C a cancel request: the run stops before its next entry.
void CancelOnInterrupt();

}  // namespace selfx::console
