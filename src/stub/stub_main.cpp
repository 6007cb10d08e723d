// The stub's entry point. It takes no arguments: everything that varies between archives
// comes from the configuration block behind the program's own image.

#include <windows.h>

#include "app/startup.h"
#include "stub/stub_runtime.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  selfx::RunWithFaultHandling(&selfx::RunStub);
  return 0;
}
