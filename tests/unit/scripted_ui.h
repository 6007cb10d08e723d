// What the scripted user interface saw, and how it answers.
#pragma once

#include <string>
#include <vector>

#include "ui/ui.h"

namespace selfx {

struct ShownMessage {
  WindowHandle owner;
  std::string text;
  std::string caption;
  std::uint32_t flags;  // as the system would receive them
};

struct ListedRow {
  WindowHandle dialog;
  std::string name;
  ArchiveEntry entry;
};

struct ScriptedUi {
  std::vector<ShownMessage> messages;
  std::vector<int> answers;  // returned by ShowMessage in order; kIdOk once they run out
  std::vector<ListedRow> rows;

  void Reset() { *this = ScriptedUi(); }
};
extern ScriptedUi TheScriptedUi;

}  // namespace selfx
