// The two ways the program ends. Every layer may stop the program; only the top of the
// program knows what ending involves (closing the archive and output files, releasing the
// texts, the message box, the process exit), so these are declared here and defined once by
// the program in app/process_end.cpp, the way the user-interface boundary is chosen at link
// time.
#pragma once

#include <cstdint>
#include <string>

namespace selfx {

constexpr const char* kCorruptMessage = "Cannot unzip: file is corrupt.";

// Shows the message (when not empty) in an error box without owner, then ends with exit
// code 1.
[[noreturn]] void FatalError(const std::string& message);
// Runs the process-end steps and ends the process with the exit code.
[[noreturn]] void EndProgram(std::uint32_t exit_code);

}  // namespace selfx
