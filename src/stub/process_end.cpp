#include "stub/process_end.h"

#include "platform/platform.h"
#include "ui/ui.h"

namespace selfx {

namespace {
// The run-time's handlers may end the program from anywhere (memory ran out in the middle of
// an entry), so the process end finds the session here rather than from its caller.
Session* session_to_end = nullptr;

// Releases the program's texts (caption, target folder, command, message, file paths); the
// second of the process-end steps, after the files are closed.
void ReleaseProgramTexts(Session& session) {
  session.config.Caption = std::string();
  session.config.Command = std::string();
  session.config.Message = std::string();
  session.target_folder = std::string();
  session.extraction.archive.path = std::string();
  session.extraction.output.path = std::string();
}
}  // namespace

void SetSessionToEnd(Session* session) { session_to_end = session; }

void EndProgram(std::uint32_t exit_code) {
  if (session_to_end != nullptr) {
    Session& session = *session_to_end;
    session_to_end = nullptr;  // a failure inside the steps ends at once
    CloseArchiveFiles(session.extraction);
    ReleaseProgramTexts(session);
  }
  platform::ExitProcess(exit_code);
}

void EndWithFault(const Extraction& extraction) {
  ShowError(nullptr, FaultMessage(extraction));
  EndProgram(1);
}

}  // namespace selfx
