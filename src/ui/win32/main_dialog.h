// The main dialog MAINDIALOG: target folder, file list, overwrite policy, run checkbox and
// the Unzip and Close commands.
#pragma once

#include <windows.h>

#include "app/session.h"

namespace selfx {

extern HWND MainWindow;
// 1 while an extraction run is going on from the Unzip command.
extern bool ExtractionBusy;

INT_PTR CALLBACK MainDialog(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

// The modal main dialog over the session: it shows the session's entry list, runs its
// extraction and ends when the user closes it, after a run that ends the program (the
// extraction's fault then says why) or after a successful run.
void RunMainDialog(Session& session);

}  // namespace selfx
