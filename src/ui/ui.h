// The user-interface boundary of the core. The stub links the Win32 implementation
// (ui/win32), the console tool the terminal one (ui/console), unit tests a scripted one.
// Everything here is plain types; a window is an opaque handle.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace selfx {

using platform::WindowHandle;

// Message-box flags and results, with the values of MessageBoxA (the core cannot see the
// Win32 names).
constexpr std::uint32_t kMbIconError = 0x0010;
constexpr std::uint32_t kMbTaskModal = 0x2000;
constexpr int kIdOk = 1;
constexpr int kIdCancel = 2;
constexpr int kIdAbort = 3;
constexpr int kIdRetry = 4;
constexpr int kIdIgnore = 5;
constexpr int kIdYes = 6;
constexpr int kIdNo = 7;
constexpr int kIdClose = 8;

// Every message box of the program. ShowMessage adds MB_TASKMODAL to the flags and returns
// the button pressed (0 when the box could not be shown).
int ShowMessage(WindowHandle owner, const std::string& text, const std::string& caption,
                std::uint32_t flags);
// ShowMessage with the caption "Error" and the error icon.
void ShowError(WindowHandle owner, const std::string& text);

// The stub's window side of its start-up: the common controls and the shell's small-icon
// list (asked for with the program's own path).
void InitializeCommonControls();
void ObtainSystemImageList(const std::string& program_path);

// What the list of files shows of an extraction run: the row's file was extracted (the row is
// no longer selected), and after a run that left rows selected, the first of them scrolled
// into view. The entry list itself is the run's (archive/extraction.h); the stub's list view
// shows it.
void DeselectRow(WindowHandle dialog, int row);
void ShowFirstSelectedRow(WindowHandle dialog);

// The run's progress: rows visited out of row_count. The bar shows it by hundredths of the
// rows (every row in a run of up to 100), so that drawing it costs little per file.
void SetProgressRange(WindowHandle dialog, int row_count);
void SetProgressPosition(WindowHandle dialog, int position);

// Lets at most one waiting message (a click, a repaint, Ctrl-C) through; a cancel request
// that arrives with it sets cancel_requested.
void PumpOneMessage(bool& cancel_requested);

// "%s already exists. Overwrite?" for path: overwrite or not, and whether "Don't ask again"
// makes that answer the mode for the rest of the run.
struct ExistsAnswer {
  bool overwrite;
  bool dont_ask_again;
};
ExistsAnswer FileExistsPrompt(WindowHandle dialog, const std::string& path);

// Asks for the password of the file at path, whose part from name_start on is the entry's
// own name (a console names the entry without the target folder). password holds the
// password tried so far and receives the answer: true with the text typed (at most 80
// characters), false with it emptied when the user gives none.
bool PasswordPrompt(WindowHandle dialog, const std::string& path, std::size_t name_start,
                    std::string& password);

}  // namespace selfx
