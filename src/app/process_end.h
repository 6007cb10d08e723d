// The process-end steps behind FatalError and EndProgram (declared in base/fatal_error.h).
#pragma once

namespace selfx {

// Releases the program's texts (caption, target folder, command, message, file paths); the
// second of the process-end steps, after the files are closed.
void ReleaseProgramTexts();

}  // namespace selfx
