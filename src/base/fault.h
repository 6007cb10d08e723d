// What ends a run: the faults after which the program cannot go on. The step that meets one
// returns it (or records it in its context) and says nothing; the top of the program (the
// stub's start-up, a selfx command) shows the message and decides how the process ends.
#pragma once

#include <cstdint>
#include <string>

namespace selfx {

constexpr const char* kCorruptMessage = "Cannot unzip: file is corrupt.";

enum class FaultKind : std::uint8_t {
  kNone,
  kCorrupt,      // "Cannot unzip: file is corrupt."
  kReadingZip,   // "Error reading zip %s" (the archive file)
  kCannotWrite,  // "Cannot write to %s" (a short write to an output file)
};

struct Fault {
  FaultKind kind = FaultKind::kNone;
  std::string path;  // the %s of the message

  explicit operator bool() const { return kind != FaultKind::kNone; }
};

// The message the user sees for the fault.
std::string FaultMessage(const Fault& fault);

}  // namespace selfx
