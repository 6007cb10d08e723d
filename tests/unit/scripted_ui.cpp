// The user-interface boundary for unit tests: message boxes are recorded and answered from a
// script, file-list rows are collected.
#include "tests/unit/scripted_ui.h"

#include <cstdio>

namespace selfx {

ScriptedUi TheScriptedUi;

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

void AddFileRow(WindowHandle dialog, const std::string& name, const ArchiveEntry& entry) {
  TheScriptedUi.rows.push_back({dialog, name, entry});
}

}  // namespace selfx
