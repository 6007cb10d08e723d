// What the POSIX platform layer does to the core's Windows-style texts at the boundary, how
// its files note a failure, and its one hook for tests.
#pragma once

#include <string>

namespace selfx::platform {

// Code page 1252 bytes to UTF-8.
std::string AnsiToUtf8(const std::string& text);
// AnsiToUtf8, then "\" to "/".
std::string ToPosixPath(const std::string& path);
// The reverse: UTF-8 to code page 1252 (a character it cannot hold becomes "_"), "/" to "\".
std::string FromPosixPath(const std::string& path);

// Keeps why a call failed for LastErrorText: an errno value, and a reason of the layer's own
// that is shown in its place (nullptr for the system's text).
void NoteFailure(int error, const char* reason = nullptr);

}  // namespace selfx::platform
