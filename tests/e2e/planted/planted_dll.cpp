// A DLL planted beside a program under a system DLL's name. It does nothing but show that it
// was loaded: when a process loads it, it writes "selfx-planted-dll.txt" (the loading
// program's path) into its own folder. It exports nothing, so a program that goes on to call
// into it fails; the marker is written first.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  char path[MAX_PATH] = {};
  DWORD length = GetModuleFileNameA(module, path, MAX_PATH);
  while (length > 0 && path[length - 1] != '\\') --length;
  lstrcpyA(path + length, "selfx-planted-dll.txt");
  char program[MAX_PATH] = {};
  const DWORD program_length = GetModuleFileNameA(nullptr, program, MAX_PATH);
  HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                            nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    WriteFile(file, program, program_length, &written, nullptr);
    CloseHandle(file);
  }
  return TRUE;
}
