#include "ui/console/console_ui.h"

#include <atomic>
#include <cstdio>

#include "app/config_block.h"
#include "archive/archive_file.h"
#include "archive/extraction_run.h"
#include "archive/extraction_state.h"
#include "archive/paths.h"
#include "base/fatal_error.h"
#include "base/text.h"
#include "platform/platform.h"

namespace selfx {

namespace console {

std::vector<ConsoleRow>& Rows() {
  static std::vector<ConsoleRow> rows;
  return rows;
}

ConsoleSettings& Settings() {
  static ConsoleSettings settings;
  return settings;
}

namespace {
std::atomic<bool> interrupted{false};
void NoteInterrupt() { interrupted = true; }

int progress_total = 0;
bool progress_drawn = false;

// Clears the progress line so that a message does not land in the middle of it.
void EndProgressLine() {
  if (progress_drawn) {
    std::fputs("\r\033[K", stderr);
    progress_drawn = false;
  }
}
}  // namespace

void CancelOnInterrupt() { platform::OnInterrupt(&NoteInterrupt); }

}  // namespace console

using console::Rows;

int ShowMessage(WindowHandle, const std::string& text, const std::string& caption,
                std::uint32_t flags) {
  // A console has no one to answer a box: notices go to stderr and count as OK.
  console::EndProgressLine();
  bool error = (flags & kMbIconError) != 0;
  std::string line = error ? text : caption + ": " + text;
  std::fprintf(stderr, "selfx: %s\n", platform::AnsiToConsole(line).c_str());
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

void SetProgressRange(WindowHandle, int row_count) { console::progress_total = row_count; }

void SetProgressPosition(WindowHandle, int position) {
  if (!console::Settings().show_progress || !platform::ErrorStreamIsTerminal() ||
      console::progress_total == 0) {
    return;
  }
  constexpr int kWidth = 30;
  int filled = position * kWidth / console::progress_total;
  std::fprintf(stderr, "\r[%.*s%*s] %d/%d", filled,
               "==============================", kWidth - filled, "", position,
               console::progress_total);
  console::progress_drawn = position < console::progress_total;
  if (!console::progress_drawn) std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
}

void PumpOneMessage() {
  if (console::interrupted.exchange(false)) {
    console::EndProgressLine();
    std::fputs("selfx: interrupted; stopping before the next file\n", stderr);
    CancelRequested = true;
  }
}

int FileExistsPrompt(WindowHandle) {
  console::EndProgressLine();
  std::fprintf(
      stderr, "%s [y]es, [n]o, [A]ll, [N]one: ",
      platform::AnsiToConsole(FormatWith("%s already exists. Overwrite?", OutputPath)).c_str());
  std::string answer;
  if (!platform::ReadTerminalLine(answer, true)) {
    std::fputs("\nselfx: no terminal to ask; the file is skipped\n", stderr);
    return kPromptNo;
  }
  // "All" and "None" are the "Don't ask again" box: the answer becomes the mode.
  if (answer == "A") SfxConfig.OverwriteMode() = kOverwrite;
  if (answer == "N") SfxConfig.OverwriteMode() = kDontOverwrite;
  return answer == "y" || answer == "Y" || answer == "yes" || answer == "A" ? kPromptYes
                                                                            : kPromptNo;
}

int PasswordPrompt(WindowHandle) {
  console::EndProgressLine();
  if (console::Settings().password) {
    // A password from a file is offered once; asking again would only repeat it.
    Password = console::Settings().password->substr(0, 80);
    console::Settings().password.reset();
    return kPromptOk;
  }
  std::fprintf(
      stderr, "%s ",
      platform::AnsiToConsole(FormatWith("Enter password for %s:", FileNamePart(OutputPath)))
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
