#include "ui/console/console_ui.h"

#include <atomic>
#include <cstdio>

#include "archive/paths.h"
#include "base/text.h"
#include "platform/platform.h"
#include "ui/console/printable.h"
#include "ui/console/progress.h"
#include "ui/console/report.h"

namespace selfx {

namespace console {

std::string ShownPath(const std::string& ansi) {
  return platform::AnsiToConsole(platform::WithNativeSeparators(ansi));
}

ConsoleSettings& Settings() {
  static ConsoleSettings settings;
  return settings;
}

namespace {
std::atomic<bool> interrupted{false};
void NoteInterrupt() { interrupted = true; }

}  // namespace

void CancelOnInterrupt() { platform::OnInterrupt(&NoteInterrupt); }

}  // namespace console

int ShowMessage(WindowHandle, const std::string& text, const std::string& caption,
                std::uint32_t flags) {
  // A console has no one to answer a box: notices go to stderr and count as OK.
  bool error = (flags & kMbIconError) != 0;
  console::ReportLine(console::ShownPath(error ? text : caption + ": " + text));
  return kIdOk;
}

void ShowError(WindowHandle owner, const std::string& text) {
  // The core's messages about a failed file or folder name the path; the system's reason
  // follows it, so that the user sees why.
  std::string message = text;
  for (const char* about_a_path : {"Error in folder ", "Cannot write to ", "Cannot create "}) {
    if (text.rfind(about_a_path, 0) != 0) continue;
    std::string cause = platform::LastErrorText();
    if (!cause.empty()) message += ": " + cause;
    break;
  }
  ShowMessage(owner, message, "Error", kMbIconError);
}

void DeselectRow(WindowHandle, int) {}
void ShowFirstSelectedRow(WindowHandle) {}

// The console's bar counts bytes, not rows: the commands drive it (console::ByteProgress).
void SetProgressRange(WindowHandle, int) {}
void SetProgressPosition(WindowHandle, int) {}

void PumpOneMessage(bool& cancel_requested) {
  if (console::interrupted.exchange(false)) {
    console::ReportLine("interrupted; stopping before the next file");
    cancel_requested = true;
  }
}

ExistsAnswer FileExistsPrompt(WindowHandle, const std::string& path) {
  if (!platform::TerminalAvailable()) {
    // Said once for the run: the answer becomes the mode, as "None" would.
    console::ReportLine("no terminal to ask whether to overwrite; existing files are skipped");
    return {false, true};
  }
  console::ClearProgressLine();
  std::fprintf(
      stderr, "%s [y]es, [n]o, [A]ll, [N]one: ",
      console::Printable(console::ShownPath(FormatWith("%s already exists. Overwrite?", path)))
          .c_str());
  std::string answer;
  if (!platform::ReadTerminalLine(answer, true)) {
    std::fputs("\n", stderr);
    console::ReportLine("no answer from the terminal; the file is skipped");
    return {false, false};
  }
  // "All" and "None" are the "Don't ask again" box: the answer becomes the mode.
  bool overwrite = answer == "y" || answer == "Y" || answer == "yes" || answer == "A";
  return {overwrite, answer == "A" || answer == "N"};
}

bool PasswordPrompt(WindowHandle, const std::string& path, std::size_t name_start,
                    std::string& password) {
  if (console::Settings().password) {
    // A password from a file is all the user gave: it is offered once for each entry that
    // asks, and the terminal is never asked. Offered and refused, the entry has the wrong one.
    std::string given = console::Settings().password->substr(0, 80);
    if (password != given) {
      password = given;
      return true;
    }
    console::ReportLine("wrong password for " + console::ShownPath(path.substr(name_start)));
    console::Settings().wrong_password = true;
    password.clear();
    return false;
  }
  console::ClearProgressLine();
  std::fprintf(stderr, "%s ",
               console::Printable(
                   console::ShownPath(FormatWith("Enter password for %s:", FileNamePart(path))))
                   .c_str());
  std::string typed;
  if (!platform::ReadTerminalLine(typed, false) || typed.empty()) {
    std::fputs("\n", stderr);
    password.clear();
    return false;
  }
  password = typed.substr(0, 80);
  return true;
}

}  // namespace selfx
