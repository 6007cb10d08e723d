#include "ui/console/console_ui.h"

#include <atomic>
#include <cstdio>

#include "app/config_block.h"
#include "app/target_folder.h"
#include "archive/archive_file.h"
#include "archive/extraction_run.h"
#include "archive/extraction_state.h"
#include "archive/paths.h"
#include "base/fatal_error.h"
#include "base/text.h"
#include "platform/platform.h"
#include "ui/console/printable.h"
#include "ui/console/progress.h"
#include "ui/console/report.h"

namespace selfx {

namespace console {

std::vector<ConsoleRow>& Rows() {
  static std::vector<ConsoleRow> rows;
  return rows;
}

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

// The name of the file OutputPath stands for, as the archive names it: extract prefixes the
// target folder, which the user knows already.
std::string EntryNameOfOutputPath() {
  std::string prefix = WithTrailingBackslash(TargetFolder);
  if (!TargetFolder.empty() && OutputPath.compare(0, prefix.size(), prefix) == 0) {
    return OutputPath.substr(prefix.size());
  }
  return OutputPath;
}
}  // namespace

void CancelOnInterrupt() { platform::OnInterrupt(&NoteInterrupt); }

}  // namespace console

using console::Rows;

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
  // The archive's damage is named with the archive.
  if (text == kCorruptMessage && !ArchiveFile.path.empty()) {
    message = ArchiveFile.path + ": " + text;
  }
  ShowMessage(owner, message, "Error", kMbIconError);
}

void AddFileRow(WindowHandle, const std::string& name, const ArchiveEntry& entry) {
  Rows().push_back({{entry, name}, (SfxConfig.Options() & OptUserSelects) != 0});
}

int RowCount(WindowHandle) { return static_cast<int>(Rows().size()); }
bool IsRowSelected(WindowHandle, int row) { return Rows()[static_cast<std::size_t>(row)].selected; }
FileRow ReadRow(WindowHandle, int row) { return Rows()[static_cast<std::size_t>(row)].row; }
void DeselectRow(WindowHandle, int row) { Rows()[static_cast<std::size_t>(row)].selected = false; }
int SelectedRowCount(WindowHandle) {
  int count = 0;
  for (const console::ConsoleRow& row : Rows()) count += row.selected ? 1 : 0;
  return count;
}
void ShowFirstSelectedRow(WindowHandle) {}

// The console's bar counts bytes, not rows: the commands drive it (console::ByteProgress).
void SetProgressRange(WindowHandle, int) {}
void SetProgressPosition(WindowHandle, int) {}

void PumpOneMessage() {
  if (console::interrupted.exchange(false)) {
    console::ReportLine("interrupted; stopping before the next file");
    CancelRequested = true;
  }
}

int FileExistsPrompt(WindowHandle) {
  if (!platform::TerminalAvailable()) {
    // Said once for the run: the answer becomes the mode, as "None" would.
    console::ReportLine("no terminal to ask whether to overwrite; existing files are skipped");
    SfxConfig.OverwriteMode() = kDontOverwrite;
    return kPromptNo;
  }
  console::ClearProgressLine();
  std::fprintf(stderr, "%s [y]es, [n]o, [A]ll, [N]one: ",
               console::Printable(
                   console::ShownPath(FormatWith("%s already exists. Overwrite?", OutputPath)))
                   .c_str());
  std::string answer;
  if (!platform::ReadTerminalLine(answer, true)) {
    std::fputs("\n", stderr);
    console::ReportLine("no answer from the terminal; the file is skipped");
    return kPromptNo;
  }
  // "All" and "None" are the "Don't ask again" box: the answer becomes the mode.
  if (answer == "A") SfxConfig.OverwriteMode() = kOverwrite;
  if (answer == "N") SfxConfig.OverwriteMode() = kDontOverwrite;
  return answer == "y" || answer == "Y" || answer == "yes" || answer == "A" ? kPromptYes
                                                                            : kPromptNo;
}

int PasswordPrompt(WindowHandle) {
  if (console::Settings().password) {
    // A password from a file is all the user gave: it is offered once for each entry that
    // asks, and the terminal is never asked. Offered and refused, the entry has the wrong one.
    std::string given = console::Settings().password->substr(0, 80);
    if (Password != given) {
      Password = given;
      return kPromptOk;
    }
    console::ReportLine("wrong password for " +
                        console::ShownPath(console::EntryNameOfOutputPath()));
    console::Settings().wrong_password = true;
    Password.clear();
    return kPromptCancel;
  }
  console::ClearProgressLine();
  std::fprintf(stderr, "%s ",
               console::Printable(console::ShownPath(FormatWith("Enter password for %s:",
                                                                FileNamePart(OutputPath))))
                   .c_str());
  std::string typed;
  if (!platform::ReadTerminalLine(typed, false) || typed.empty()) {
    std::fputs("\n", stderr);
    Password.clear();
    return kPromptCancel;
  }
  Password = typed.substr(0, 80);
  return kPromptOk;
}

}  // namespace selfx
