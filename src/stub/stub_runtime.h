// The stub's top-level fault handling.
#pragma once

namespace selfx {

// Runs the program with a handler at the bottom of the exception chain that passes faults
// to the system's UnhandledExceptionFilter and then ends the program with the fault's exit
// code.
void RunWithFaultHandling(void (*program)());

}  // namespace selfx
