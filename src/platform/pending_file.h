// The selfx tool's one way of putting a written file in place: it is written under a new
// temporary name beside its final name and takes that name only when committed, by one rename
// in the same folder. The extracted files (CreateForWriting and CloseOutput) and the built
// archive (cli::PartialFile) both go this way. Not part of the stub.
//
// Every temporary file is registered until it is committed or discarded. What is still
// registered when the process exits (ExitProcess, exit()) or is ended by SIGINT, SIGTERM or
// SIGHUP (a console event on Windows) is removed first, so an interrupted write leaves
// neither a half-written file nor a stray temporary one, and the file it would have replaced
// stays as it was.
#pragma once

#include <string>

#include "platform/platform.h"

namespace selfx::platform {

// A registered temporary file.
using PendingId = int;
constexpr PendingId kNoPending = -1;

// The temporary files' names: ".selfx-" and 16 random hex digits, then this.
constexpr char kPendingSuffix[] = ".partial";

// Creates the temporary file for final_path, a path in the system's own form (UTF-8 with "/"
// on POSIX, ANSI on Windows), in that path's folder: a new file under a fresh name, created
// exclusively (a file or link someone placed under that name is never opened), for reading
// and writing. kNoPending on failure, LastErrorText says why.
PendingId CreatePendingBeside(const std::string& final_path, FileHandle& handle);
#ifndef _WIN32
// The same in an open folder, which the registration takes over and closes; final_name is a
// name in that folder.
PendingId CreatePendingIn(int folder, const std::string& final_name, FileHandle& handle);
// A signal handler: removes every temporary file, then ends the process by the signal, as its
// default action would.
void RemovePendingAndEnd(int signal_number);
// Removes the temporary files and ends by the signal when SIGINT, SIGTERM or SIGHUP arrives,
// unless the signal is ignored or handled already (a Ctrl-C handler chains here itself).
void RemovePendingOnSignals();
#endif

// The temporary file written through handle, kNoPending when there is none.
PendingId PendingOfHandle(FileHandle handle);
// The handle now belongs to a stream that closes it: the file is ended by its id alone.
void ForgetPendingHandle(PendingId id);
// The temporary file's path in the system's own form (for reading it back before the commit).
std::string PendingPath(PendingId id);

enum class Placement {
  kReplace,    // a file under the final name is replaced in the same step
  kOnlyIfNew,  // a file under the final name stays, and the temporary file goes
};
// Moves the closed temporary file to its final name and ends its registration. True when it
// was moved, or when kOnlyIfNew found the name taken and removed it; false when the move
// failed (LastErrorText says why), which removes the temporary file too.
bool CommitPending(PendingId id, Placement placement);
// Removes the temporary file and ends its registration; its handle must be closed (on
// Windows an open one goes when it is closed).
void DiscardPending(PendingId id);
// Removes every registered temporary file: the process is about to end.
void DiscardAllPending();

}  // namespace selfx::platform
