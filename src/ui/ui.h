// The user-interface boundary of the core. The stub links the Win32 implementation
// (ui/win32), the console tool the terminal one (ui/console), unit tests a scripted one.
// Everything here is plain types; a window is an opaque handle.
#pragma once

#include <cstdint>
#include <string>

#include "archive/archive_entry.h"
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

// The stub's window side of the main sequence: the common controls, the shell's small-icon
// list (asked for with the program's own path) and the modal main dialog.
void InitializeCommonControls();
void ObtainSystemImageList(const std::string& program_path);
void RunMainDialog();

// Hands one file entry of the directory to the file list.
void AddFileRow(WindowHandle dialog, const std::string& name, const ArchiveEntry& entry);

// The file list as the extraction run sees it: rows in directory order, each selected or
// not. The rows still selected after a run are the entries that were not extracted.
struct FileRow {
  ArchiveEntry entry;
  std::string name;
};
int RowCount(WindowHandle dialog);
bool IsRowSelected(WindowHandle dialog, int row);
FileRow ReadRow(WindowHandle dialog, int row);
void DeselectRow(WindowHandle dialog, int row);
int SelectedRowCount(WindowHandle dialog);
// Scrolls the first selected row into view; nothing when no row is selected.
void ShowFirstSelectedRow(WindowHandle dialog);

// The run's progress: rows visited out of row_count. The bar shows it by hundredths of the
// rows (every row in a run of up to 100), so that drawing it costs little per file.
void SetProgressRange(WindowHandle dialog, int row_count);
void SetProgressPosition(WindowHandle dialog, int position);

// Lets at most one waiting message (a click, a repaint, Ctrl-C) through, so that a cancel
// request can reach CancelRequested between entries.
void PumpOneMessage();

// "%s already exists. Overwrite?" for OutputPath: 1 Yes (overwrite), 2 No (skip). With
// "Don't ask again" the answer also becomes OverwriteMode.
constexpr int kPromptYes = 1;
constexpr int kPromptNo = 2;
int FileExistsPrompt(WindowHandle dialog);
// Asks for the password of OutputPath's file: 1 with the text stored in Password (at most
// 80 characters), 2 with Password emptied.
constexpr int kPromptOk = 1;
constexpr int kPromptCancel = 2;
int PasswordPrompt(WindowHandle dialog);

}  // namespace selfx
