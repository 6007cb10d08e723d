// What the scripted user interface saw, and how it answers.
#pragma once

#include <string>
#include <vector>

#include "archive/extraction.h"
#include "ui/ui.h"

namespace selfx {

struct ShownMessage {
  WindowHandle owner;
  std::string text;
  std::string caption;
  std::uint32_t flags;  // as the system would receive them
};

// The overwrite prompt's answers in a script.
constexpr int kPromptYes = 1;
constexpr int kPromptNo = 2;

struct ScriptedUi {
  std::vector<ShownMessage> messages;
  std::vector<int> answers;     // returned by ShowMessage in order; kIdOk once they run out
  std::vector<int> deselected;  // the rows the run deselected, in order

  std::vector<int> exists_answers;     // FileExistsPrompt, in order; No once they run out
  std::vector<bool> dont_ask_again;    // the checkbox beside each of those answers
  std::vector<std::string> passwords;  // PasswordPrompt: each typed text; Cancel once they run out
  std::vector<std::string> prompt_paths;  // the path each prompt named
  int password_prompts = 0;
  int exists_prompts = 0;
  int beeps = 0;
  int pumped = 0;
  int cancel_after_pumps = -1;  // sets the cancel request at that pump
  std::vector<int> progress;    // positions set, in order
  int progress_range = -1;

  void Reset() { *this = ScriptedUi(); }
};
extern ScriptedUi TheScriptedUi;

// The names of the entries still selected, in order.
std::vector<std::string> SelectedNames(const Extraction& extraction);

}  // namespace selfx
