// What the POSIX platform layer does to the core's Windows-style texts at the boundary; also
// used by the console front end to show names as a Windows user would see them.
#pragma once

#include <string>

namespace selfx::platform {

// Code page 1252 bytes to UTF-8.
std::string AnsiToUtf8(const std::string& text);
// AnsiToUtf8, then "\" to "/".
std::string ToPosixPath(const std::string& path);
// The reverse: UTF-8 to code page 1252 (a character it cannot hold becomes "_"), "/" to "\".
std::string FromPosixPath(const std::string& path);

}  // namespace selfx::platform
