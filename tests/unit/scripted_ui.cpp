// The user-interface boundary for unit tests: message boxes are recorded and answered from a
// script, prompts answer from the script, what the run shows is recorded.
#include "scripted_ui.h"

#include <cstdio>

#include "platform/platform.h"

namespace selfx {

ScriptedUi TheScriptedUi;

std::vector<std::string> SelectedNames(const Extraction& extraction) {
  std::vector<std::string> names;
  for (const EntryRow& row : extraction.entries) {
    if (row.selected) names.push_back(row.name);
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

void DeselectRow(WindowHandle, int row) { TheScriptedUi.deselected.push_back(row); }
void ShowFirstSelectedRow(WindowHandle) {}
void SetProgressRange(WindowHandle, int row_count) { TheScriptedUi.progress_range = row_count; }
void SetProgressPosition(WindowHandle, int position) { TheScriptedUi.progress.push_back(position); }

void PumpOneMessage(bool& cancel_requested) {
  if (TheScriptedUi.pumped++ == TheScriptedUi.cancel_after_pumps) cancel_requested = true;
}

ExistsAnswer FileExistsPrompt(WindowHandle, const std::string& path) {
  TheScriptedUi.prompt_paths.push_back(path);
  std::size_t index = static_cast<std::size_t>(TheScriptedUi.exists_prompts++);
  bool overwrite = index < TheScriptedUi.exists_answers.size() &&
                   TheScriptedUi.exists_answers[index] == kPromptYes;
  bool dont_ask_again = index < TheScriptedUi.dont_ask_again.size() &&
                        TheScriptedUi.dont_ask_again[index];
  return {overwrite, dont_ask_again};
}

bool PasswordPrompt(WindowHandle, const std::string& path, std::size_t, std::string& password) {
  TheScriptedUi.prompt_paths.push_back(path);
  std::size_t index = static_cast<std::size_t>(TheScriptedUi.password_prompts++);
  if (index >= TheScriptedUi.passwords.size()) {
    password.clear();
    return false;
  }
  password = TheScriptedUi.passwords[index].substr(0, 80);
  return true;
}

}  // namespace selfx
