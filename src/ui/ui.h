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
constexpr std::uint32_t kMbOk = 0x0000;
constexpr std::uint32_t kMbIconError = 0x0010;
constexpr std::uint32_t kMbIconInformation = 0x0040;
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

}  // namespace selfx
