// Reshaping the main dialog: vertical moves in layout units, and the enabling sweep.
#pragma once

#include <windows.h>

namespace selfx {

enum class ShiftTarget { Control, Dialog };
// Moves a control down (positive units) or up, keeping its height; or makes the dialog
// taller or shorter, keeping its top edge.
void ShiftByDialogUnits(HWND window, ShiftTarget target, int units);
// Enables or disables every visible descendant of the dialog except progress bars.
void EnableChildren(HWND dialog, bool enable);

}  // namespace selfx
