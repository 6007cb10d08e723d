// The main dialog MAINDIALOG: target folder, file list, overwrite policy, run checkbox and
// the Unzip and Close commands.
#pragma once

#include <windows.h>

namespace selfx {

extern HWND MainWindow;
// 1 while an extraction run is going on from the Unzip command.
extern bool ExtractionBusy;

INT_PTR CALLBACK MainDialog(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

}  // namespace selfx
