// The stub's main sequence.
#pragma once

namespace selfx {

// Prepares the process, opens the program's own file as the archive, loads the
// configuration (which may ask the start-up question) and the directory, runs the main
// dialog and ends the process. Does not return.
[[noreturn]] void RunStub();

}  // namespace selfx
