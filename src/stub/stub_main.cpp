// The stub's entry point. It takes no arguments: everything that varies between archives
// comes from the configuration block behind the program's own image.

#include "stub/startup.h"
#include "stub/stub_runtime.h"

extern "C" void StubStart() { selfx::StartProgram(&selfx::RunStub); }
