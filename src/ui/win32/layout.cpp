#include "ui/win32/layout.h"

#include <cstring>

namespace selfx {

void ShiftByDialogUnits(HWND window, ShiftTarget target, int units) {
  // Layout units follow the system's dialog base units, not the template's font: one unit
  // is an eighth of the system font's base height.
  int pixels = MulDiv(units, HIWORD(GetDialogBaseUnits()), 8);
  WINDOWPLACEMENT placement = {};
  placement.length = sizeof placement;
  GetWindowPlacement(window, &placement);
  if (target == ShiftTarget::Control) placement.rcNormalPosition.top += pixels;
  placement.rcNormalPosition.bottom += pixels;
  SetWindowPlacement(window, &placement);
}

namespace {

struct EnableRequest {
  BOOL enable;
};

BOOL CALLBACK EnableOneChild(HWND window, LPARAM parameter) {
  char class_name[64] = {};
  GetClassNameA(window, class_name, 63);
  if (IsWindowVisible(window) && std::strcmp(class_name, "msctls_progress32") != 0) {
    EnableWindow(window, reinterpret_cast<EnableRequest*>(parameter)->enable);
  }
  return TRUE;
}

}  // namespace

void EnableChildren(HWND dialog, bool enable) {
  EnableRequest request = {enable ? TRUE : FALSE};
  EnumChildWindows(dialog, &EnableOneChild, reinterpret_cast<LPARAM>(&request));
}

}  // namespace selfx
