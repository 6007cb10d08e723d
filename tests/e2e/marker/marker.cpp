// A stand-in for a program that an archive starts after unpacking. It writes what it was
// given into "selfx-marker.txt" in its working folder and ends at once with 0:
//
//   line 1: the command line after the program's own name (the parameters, as passed)
//   line 2: the program's own path
//   line 3: its process id, in decimal
//
// Tests copy it under the names a command uses (setup.exe, view.exe...) and then look for
// the marker file to see whether, where and with what parameters it was started. The
// process id lets them wait for its end: until then it holds its working folder.
#include <windows.h>

#include <cstring>
#include <string>

namespace {

// The command line without its first token (the program name, quoted or not).
std::string Parameters() {
  const char* line = GetCommandLineA();
  if (*line == '"') {
    ++line;
    while (*line != '\0' && *line != '"') ++line;
    if (*line == '"') ++line;
  } else {
    while (*line != '\0' && *line != ' ' && *line != '\t') ++line;
  }
  while (*line == ' ' || *line == '\t') ++line;
  return line;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  char own_path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, own_path, sizeof(own_path));
  const std::string text = Parameters() + "\n" + own_path + "\n" +
                           std::to_string(GetCurrentProcessId()) + "\n";
  // Written under a temporary name and renamed, so that a reader never sees half a file.
  HANDLE file = CreateFileA("selfx-marker.tmp", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  DWORD written = 0;
  const BOOL ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
  if (!ok || !MoveFileExA("selfx-marker.tmp", "selfx-marker.txt", MOVEFILE_REPLACE_EXISTING)) {
    return 1;
  }
  return 0;
}
