// The control program of the planted-DLL test: it loads the DLL named on its command line by
// name, as the system does for a program's windows and the shell.
//
//   control NAME              leaves the DLL search as it is: a DLL planted beside the
//                             program is found first, which shows that the test's way of
//                             planting one works
//   control --restrict NAME   restricts the search first, with the stub's own code
//
// Ends with 0 when the load succeeded (the planted DLL or the system's), with 1 when nothing
// could be loaded.
#include <windows.h>

#include <cstring>

#include "stub/dll_search.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR command_line, int) {
  constexpr char kRestrict[] = "--restrict ";
  if (std::strncmp(command_line, kRestrict, sizeof(kRestrict) - 1) == 0) {
    selfx::RestrictDllSearch();
    command_line += sizeof(kRestrict) - 1;
  }
  return command_line[0] != '\0' && LoadLibraryA(command_line) != nullptr ? 0 : 1;
}
