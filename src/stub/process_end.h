// How the stub ends: the process-end steps (close the archive and output files, release the
// texts) and the process exit. Only the stub's own top level calls these: its start-up, the
// run-time's fault and memory handlers, and the end of the dialog.
#pragma once

#include <cstdint>

#include "app/session.h"
#include "base/fault.h"

namespace selfx {

// The session whose files and texts the process-end steps release; set once by the start-up.
void SetSessionToEnd(Session* session);

// Runs the process-end steps and ends the process with the exit code.
[[noreturn]] void EndProgram(std::uint32_t exit_code);
// Shows the message of the session's fault in an error box without owner, then ends with exit
// code 1.
[[noreturn]] void EndWithFault(const Extraction& extraction);

}  // namespace selfx
