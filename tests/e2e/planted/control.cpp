// The control for the planted-DLL test: a program that, unlike the stub, leaves the DLL
// search as it is and then loads a DLL by name, as the shell does for the folder browser.
// If the DLL planted beside it is found, the test's way of planting one works, and its
// absence after a stub run means something. Ends with 0 when the load succeeded (the
// planted DLL or the system's), with 1 when nothing could be loaded.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  return LoadLibraryA("ole32.dll") != nullptr ? 0 : 1;
}
