// The stub's output functions: it writes each file in place under its name, and ends the
// process without further steps. The selfx tool has its own (win32_tool.cpp).

#include <windows.h>

#include "platform/platform.h"
#include "platform/win32_shared.h"

namespace selfx::platform {

FileHandle CreateForWriting(const std::string& path) { return CreateInPlace(path); }

std::uint32_t Write(FileHandle file, const void* buffer, std::uint32_t count) {
  DWORD written = 0;
  if (!WriteFile(AsHandle(file), buffer, count, &written, nullptr)) return 0;
  return written;
}

// The file already stands under its name, whatever the ending.
bool CloseOutput(FileHandle file, OutputEnding) { return Close(file); }

bool CreateFolder(const std::string& path) { return CreateDirectoryA(path.c_str(), nullptr) != 0; }

void ExitProcess(std::uint32_t exit_code) { ::ExitProcess(exit_code); }

}  // namespace selfx::platform
