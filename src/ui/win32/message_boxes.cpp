// The two wrappers every message box of the program goes through. Each box is task-modal,
// so that even a box without owner blocks the program's other windows while it is open.

#include <windows.h>

#include "ui/ui.h"

namespace selfx {

int ShowMessage(WindowHandle owner, const std::string& text, const std::string& caption,
                std::uint32_t flags) {
  return MessageBoxA(static_cast<HWND>(owner), text.c_str(), caption.c_str(), flags | MB_TASKMODAL);
}

void ShowError(WindowHandle owner, const std::string& text) {
  ShowMessage(owner, text, "Error", MB_ICONERROR);
}

}  // namespace selfx
