// What the Win32 files of the platform layer share: win32.cpp, used by the stub and the selfx
// tool, with the output functions of each (win32_stub.cpp, win32_tool.cpp).
#pragma once

#include <windows.h>

#include <string>

#include "platform/platform.h"

namespace selfx::platform {

inline HANDLE AsHandle(FileHandle file) { return reinterpret_cast<HANDLE>(file); }

// Creates or truncates path for writing, where the file is written in place; kNoFile on
// failure.
FileHandle CreateInPlace(const std::string& path);

// The text from one code page to another, through UTF-16.
std::string ConvertCodePage(const std::string& text, UINT from, UINT to);

}  // namespace selfx::platform
