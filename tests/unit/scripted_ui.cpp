// The user-interface boundary for unit tests: message boxes are recorded and answered from a
// script, file-list rows are kept with their selection, prompts answer from the script.
#include "scripted_ui.h"

#include <cstdio>

#include "app/config_block.h"
#include "archive/extraction_state.h"
#include "platform/platform.h"

namespace selfx {

ScriptedUi TheScriptedUi;

std::vector<std::string> ScriptedUi::SelectedNames() const {
  std::vector<std::string> names;
  for (const ScriptedRow& row : rows) {
    if (row.selected) names.push_back(row.row.name);
  }
  return names;
}

int ShowMessage(WindowHandle owner, const std::string& text, const std::string& caption,
                std::uint32_t flags) {
  TheScriptedUi.messages.push_back({owner, text, caption, flags | kMbTaskModal});
  // Death tests see only what the ended process wrote; every box leaves a line there.
  std::fprintf(stderr, "[%s] %s\n", caption.c_str(), text.c_str());
  if (TheScriptedUi.answers.empty()) return kIdOk;
  int answer = TheScriptedUi.answers.front();
  TheScriptedUi.answers.erase(TheScriptedUi.answers.begin());
  return answer;
}

void ShowError(WindowHandle owner, const std::string& text) {
  ShowMessage(owner, text, "Error", kMbIconError);
}

void AddFileRow(WindowHandle, const std::string& name, const ArchiveEntry& entry) {
  TheScriptedUi.rows.push_back({{entry, name}, TheScriptedUi.rows_start_selected});
}

int RowCount(WindowHandle) { return static_cast<int>(TheScriptedUi.rows.size()); }
bool IsRowSelected(WindowHandle, int row) { return TheScriptedUi.rows.at(row).selected; }
FileRow ReadRow(WindowHandle, int row) { return TheScriptedUi.rows.at(row).row; }
void DeselectRow(WindowHandle, int row) { TheScriptedUi.rows.at(row).selected = false; }
int SelectedRowCount(WindowHandle) {
  return static_cast<int>(TheScriptedUi.SelectedNames().size());
}
void ShowFirstSelectedRow(WindowHandle) {}

void SetProgressRange(WindowHandle, int row_count) { TheScriptedUi.progress_range = row_count; }
void SetProgressPosition(WindowHandle, int position) { TheScriptedUi.progress.push_back(position); }

void PumpOneMessage() {
  if (TheScriptedUi.pumped++ == TheScriptedUi.cancel_after_pumps) CancelRequested = true;
}

int FileExistsPrompt(WindowHandle) {
  std::size_t index = static_cast<std::size_t>(TheScriptedUi.exists_prompts++);
  int answer = index < TheScriptedUi.exists_answers.size() ? TheScriptedUi.exists_answers[index]
                                                           : kPromptNo;
  if (index < TheScriptedUi.dont_ask_again.size() && TheScriptedUi.dont_ask_again[index]) {
    SfxConfig.OverwriteMode() = answer == kPromptYes ? kOverwrite : kDontOverwrite;
  }
  return answer;
}

int PasswordPrompt(WindowHandle) {
  std::size_t index = static_cast<std::size_t>(TheScriptedUi.password_prompts++);
  if (index >= TheScriptedUi.passwords.size()) {
    Password.clear();
    return kPromptCancel;
  }
  Password = TheScriptedUi.passwords[index].substr(0, 80);
  return kPromptOk;
}

}  // namespace selfx
