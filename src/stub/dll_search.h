// The stub's restriction of the DLL search, in a header of its own so that the end-to-end
// tests' control program restricts the search exactly as the stub does.
#pragma once

#include <windows.h>

namespace selfx {

// A self-extracting archive is usually run from a downloads folder full of other files. A DLL
// there named like one that the shell loads later by name (for the folder browser, or to
// start the command) would be found before the system's own, as Windows searches the
// program's folder first. From here on every DLL loaded by name comes from the system folder.
// Windows without SetDefaultDllDirectories (Vista and 7 before their update) get the next
// best thing: SetDllDirectoryA("") takes the current folder out of the search.
inline void RestrictDllSearch() {
  using SetDefaultDllDirectoriesCall = BOOL(WINAPI*)(DWORD);
  auto set_default_directories = reinterpret_cast<SetDefaultDllDirectoriesCall>(
      reinterpret_cast<void*>(
          GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories")));
  if (set_default_directories == nullptr ||
      !set_default_directories(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
    SetDllDirectoryA("");
  }
}

}  // namespace selfx
