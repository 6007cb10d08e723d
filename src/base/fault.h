// What ends a run: the faults after which the program cannot go on. The step that meets one
// records it in its context and says nothing; the top of the program (the stub's start-up, a
// selfx command) shows the message and decides how the process ends.
#pragma once

#include <cstdint>
#include <string>

namespace selfx {

constexpr const char* kCorruptMessage = "Cannot unzip: file is corrupt.";

enum class Fault : std::uint8_t {
  kNone,
  kCorrupt,      // "Cannot unzip: file is corrupt."
  kReadingZip,   // "Error reading zip %s", the archive file
  kCannotWrite,  // "Cannot write to %s", the output file (a short write)
};

// The message the user sees for the fault; path is the file it names.
std::string FaultMessage(Fault fault, const std::string& path);

}  // namespace selfx
