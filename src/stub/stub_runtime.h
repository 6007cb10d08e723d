// The stub's start-up and top-level fault handling.
#pragma once

namespace selfx {

// What the program's entry point does: restricts the search for DLLs loaded by name to the
// system folder, runs the constructors of the program-wide objects, then the program under
// RunWithFaultHandling, and ends the process with exit code 0 if the program returns.
[[noreturn]] void StartProgram(void (*program)());

// Runs the program with a handler at the bottom of the exception chain that passes faults
// to the system's UnhandledExceptionFilter and then ends the program with the fault's exit
// code.
void RunWithFaultHandling(void (*program)());

}  // namespace selfx
