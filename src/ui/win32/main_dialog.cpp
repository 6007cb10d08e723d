#include "ui/win32/main_dialog.h"

#include <commctrl.h>
#include <shellapi.h>

#include "app/command.h"
#include "app/config_block.h"
#include "app/target_folder.h"
#include "archive/extraction_run.h"
#include "archive/paths.h"
#include "resource.h"
#include "ui/ui.h"
#include "ui/win32/file_list.h"
#include "ui/win32/layout.h"
#include "ui/win32/prompts.h"

namespace selfx {

HWND MainWindow = nullptr;
bool ExtractionBusy = false;

namespace {

// The session the dialog shows and runs, handed over at its creation.
Session* session = nullptr;

constexpr int kOverwriteGroupShrink = 18;
constexpr int kRunCheckboxShrink = 10;
constexpr int kShrinkJoin = 5;
constexpr int kExpansion = 66;

constexpr int kOverwriteGroup[] = {IDC_TOP_SEPARATOR, IDC_MODE_OVERWRITE, IDC_MODE_DONT_OVERWRITE,
                                   IDC_MODE_ASK, IDC_OVERWRITE_GROUP};
constexpr int kCompactShiftSet[] = {IDC_SHOW_FILES, IDC_RUN_CHECKBOX, IDC_HELP_BUTTON,
                                    IDC_UNZIP,      IDC_CLOSE,        IDC_BOTTOM_SEPARATOR};
constexpr int kExpansionShiftSet[] = {
    IDC_OVERWRITE_GROUP, IDC_MODE_OVERWRITE,  IDC_MODE_DONT_OVERWRITE, IDC_MODE_ASK,
    IDC_SHOW_FILES,      IDC_RUN_CHECKBOX,    IDC_HELP_BUTTON,         IDC_UNZIP,
    IDC_CLOSE,           IDC_BOTTOM_SEPARATOR};

constexpr const char* kHelpText =
    "This is a self-extracting zip file.\r\n\r\n"
    "Click the browse button '...' to select or create a target folder,\r\n"
    "then click Unzip to unzip the contents to this folder.";

bool HasOption(std::uint16_t option) { return session->HasOption(option); }

// A control that an earlier step destroyed is passed over.
void ShiftControls(HWND dialog, const int* ids, int count, int units) {
  for (int i = 0; i < count; ++i) {
    HWND control = GetDlgItem(dialog, ids[i]);
    if (control != nullptr) ShiftByDialogUnits(control, ShiftTarget::Control, units);
  }
}

void DestroyControl(HWND dialog, int id) {
  HWND control = GetDlgItem(dialog, id);
  if (control != nullptr) DestroyWindow(control);
}

void CompactLowerPart(HWND dialog) {
  int shrink = 0;
  if (HasOption(OptHideOverwriteChoice)) {
    for (int id : kOverwriteGroup) DestroyControl(dialog, id);
    shrink = kOverwriteGroupShrink;
  }
  if (!HasOption(OptRunCheckbox)) {
    if (shrink != 0) shrink += kShrinkJoin;
    shrink += kRunCheckboxShrink;
  }
  if (shrink == 0) return;
  ShiftByDialogUnits(dialog, ShiftTarget::Dialog, -shrink);
  ShiftControls(dialog, kCompactShiftSet, static_cast<int>(std::size(kCompactShiftSet)), -shrink);
}

// Shows the file list below the folder row; one-way, its button goes with it.
void ExpandFileList(HWND dialog) {
  ShowWindow(GetDlgItem(dialog, IDC_FILES_LABEL), SW_SHOW);
  ShowWindow(GetDlgItem(dialog, IDC_FILE_LIST), SW_SHOW);
  ShiftByDialogUnits(dialog, ShiftTarget::Dialog, kExpansion);
  ShiftControls(dialog, kExpansionShiftSet, static_cast<int>(std::size(kExpansionShiftSet)),
                kExpansion);
  SetFocus(GetDlgItem(dialog, IDC_FILE_LIST));
  DestroyControl(dialog, IDC_SHOW_FILES);
}

BOOL OnInitDialog(HWND dialog, LPARAM parameter) {
  session = reinterpret_cast<Session*>(parameter);
  Extraction& extraction = session->extraction;
  const SfxConfigState& config = session->config;
  MainWindow = dialog;
  extraction.window = dialog;
  ExtractionBusy = false;
  extraction.cancel_requested = false;

  HICON icon = LoadIconA(GetModuleHandleA(nullptr), "UNZIP");
  SendMessageA(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));

  AddListColumn(dialog, 0, "Filename", 228, ColumnAlignment::Left);
  AddListColumn(dialog, 1, "Size", 64, ColumnAlignment::Right);
  HWND list = GetDlgItem(dialog, IDC_FILE_LIST);
  SendMessageA(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
  SendMessageA(list, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(SystemImageList));

  if (config.CommandLength() != 0 && HasOption(OptRunCheckbox)) {
    SetDlgItemTextA(dialog, IDC_RUN_CHECKBOX, RunCheckboxText(config.Command).c_str());
    // Buttons are checked and read with their own messages (as CheckDlgButton and
    // IsDlgButtonChecked would send them), which spares the stub two imports.
    SendDlgItemMessageA(dialog, IDC_RUN_CHECKBOX, BM_SETCHECK, BST_CHECKED, 0);
  } else {
    DestroyControl(dialog, IDC_RUN_CHECKBOX);
  }

  SetDlgItemTextA(dialog, IDC_FOLDER_EDIT, session->target_folder.c_str());
  SendDlgItemMessageA(dialog, IDC_FOLDER_EDIT, EM_SETSEL, 0, 0x7FFF);
  SendDlgItemMessageA(dialog, IDC_MODE_OVERWRITE + extraction.overwrite_mode, BM_SETCHECK,
                      BST_CHECKED, 0);

  CompactLowerPart(dialog);
  SetWindowTextA(dialog, config.Caption.c_str());
  for (const EntryRow& row : extraction.entries) AddFileRow(dialog, row);

  if (!HasOption(OptListCollapsed)) {
    SendMessageA(dialog, WM_COMMAND, IDC_SHOW_FILES, 0);
  } else if (HasOption(OptNoShowFiles)) {
    DestroyControl(dialog, IDC_SHOW_FILES);
  }
  if (HasOption(OptAutoRun)) SetTimer(dialog, 0, 20, nullptr);
  return FALSE;
}

void SwapFolderRowForProgress(HWND dialog, bool running) {
  ShowWindow(GetDlgItem(dialog, IDC_PROGRESS), running ? SW_SHOW : SW_HIDE);
  for (int id : {IDC_EXTRACT_LABEL, IDC_FOLDER_EDIT, IDC_BROWSE}) {
    ShowWindow(GetDlgItem(dialog, id), running ? SW_HIDE : SW_SHOW);
  }
}

void OnRunSucceeded(HWND dialog) {
  const SfxConfigState& config = session->config;
  if ((config.Options() & kSuccessMessageMask) == 0) {
    ShowMessage(dialog, "All files have been unzipped.", config.Caption, MB_OK);
  }
  // A removed checkbox reports unchecked, so with the option set and no command nothing runs.
  bool declined = HasOption(OptRunCheckbox) &&
                  SendDlgItemMessageA(dialog, IDC_RUN_CHECKBOX, BM_GETCHECK, 0, 0) != BST_CHECKED;
  if (!declined && !config.Command.empty() && RunCommand(config, session->target_folder) <= 32) {
    ShowError(dialog, RunFailureText(config.Command));
  }
  EndDialog(dialog, 1);
}

void OnRunFailed(HWND dialog) {
  Extraction& extraction = session->extraction;
  if (HasOption(OptHideOverwriteChoice)) extraction.overwrite_mode = kAsk;
  if (!extraction.cancel_requested) {
    // Show the rows that failed before saying so.
    if (GetDlgItem(dialog, IDC_SHOW_FILES) != nullptr) {
      SendMessageA(dialog, WM_COMMAND, IDC_SHOW_FILES, 0);
    }
    ShowError(dialog, HasOption(OptNoShowFiles) ? "Some file(s) could not be unzipped."
                                                : "The selected file(s) could not be unzipped.");
  }
  if (HasOption(OptAutoRun)) PostMessageA(dialog, WM_COMMAND, IDC_CLOSE, 0);
}

BOOL OnUnzip(HWND dialog) {
  Extraction& extraction = session->extraction;
  std::string& target_folder = session->target_folder;
  extraction.cancel_requested = false;
  if (!HasOption(OptUserSelects)) SelectAllRows(dialog);
  // The list view is where the user picks the files; the run works on the entry list.
  ReadSelection(dialog, extraction.entries);
  target_folder = WithoutTrailingBackslashes(ReadEditText(dialog, IDC_FOLDER_EDIT));
  if (target_folder.empty()) {
    // An empty box is no error: it gets the current folder, and the user presses again.
    target_folder = CurrentFolder();
    SetDlgItemTextA(dialog, IDC_FOLDER_EDIT, target_folder.c_str());
    return TRUE;
  }
  EnableChildren(dialog, false);
  if (HasOption(OptCancelAllowed)) EnableWindow(GetDlgItem(dialog, IDC_CLOSE), TRUE);
  SwapFolderRowForProgress(dialog, true);
  ExtractionBusy = true;
  bool succeeded = ExtractSelected(extraction, target_folder);
  ExtractionBusy = false;
  if (extraction.fault != Fault::kNone) {
    // The run cannot go on: the start-up reports it and ends the program.
    EndDialog(dialog, 0);
    return FALSE;
  }
  SwapFolderRowForProgress(dialog, false);
  EnableChildren(dialog, true);
  if (succeeded) {
    OnRunSucceeded(dialog);
  } else {
    OnRunFailed(dialog);
  }
  return FALSE;
}

BOOL OnClose(HWND dialog) {
  if (!ExtractionBusy) {
    EndDialog(dialog, 2);
    return TRUE;
  }
  // A Close that arrives through the run's message pump.
  bool& cancel_requested = session->extraction.cancel_requested;
  if (HasOption(OptCancelAllowed) &&
      (cancel_requested || ShowMessage(dialog, "Cancel unzip?", session->config.Caption,
                                       MB_YESNO | MB_ICONEXCLAMATION) == IDYES)) {
    cancel_requested = true;
    PostMessageA(dialog, WM_CLOSE, 0, 0);
    ExtractionBusy = false;
  }
  return FALSE;
}

void OnBrowse(HWND dialog) {
  std::string& target_folder = session->target_folder;
  target_folder = ReadEditText(dialog, IDC_FOLDER_EDIT);
  if (BrowseForFolder(dialog, target_folder)) {
    SetDlgItemTextA(dialog, IDC_FOLDER_EDIT, target_folder.c_str());
  }
}

BOOL OnCommand(HWND dialog, int id) {
  switch (id) {
    case IDC_UNZIP:
      return OnUnzip(dialog);
    case IDC_CLOSE:
      return OnClose(dialog);
    case IDC_BROWSE:
      OnBrowse(dialog);
      return FALSE;
    case IDC_HELP_BUTTON:
      ShowMessage(dialog, kHelpText, "Help", MB_ICONINFORMATION);
      return FALSE;
    case IDC_SHOW_FILES:
      ExpandFileList(dialog);
      return FALSE;
    case IDC_FILES_LABEL:
      SetFocus(GetDlgItem(dialog, IDC_FILE_LIST));
      return FALSE;
    case IDC_MODE_OVERWRITE:
    case IDC_MODE_DONT_OVERWRITE:
    case IDC_MODE_ASK:
      session->extraction.overwrite_mode = static_cast<std::uint8_t>(id - IDC_MODE_OVERWRITE);
      return FALSE;
    default:
      return FALSE;
  }
}

BOOL OnTimer(HWND dialog) {
  KillTimer(dialog, 0);
  PostMessageA(dialog, WM_COMMAND, IDC_UNZIP, 0);
  return FALSE;
}

BOOL OnNotify(HWND dialog, const NMHDR* header) {
  if (header->idFrom == IDC_FILE_LIST && header->code == LVN_ITEMCHANGED &&
      HasOption(OptUserSelects) && !ExtractionBusy) {
    HWND list = GetDlgItem(dialog, IDC_FILE_LIST);
    EnableWindow(GetDlgItem(dialog, IDC_UNZIP), ListView_GetSelectedCount(list) > 0);
  }
  return FALSE;
}

}  // namespace

// The extraction runs inside this procedure, and the CRC's SSE steps below it need the 16-byte
// stack alignment that the compiler's code assumes; the system calls window procedures with
// the stack aligned to 4 bytes only (Wine happens to give 16), so the procedure aligns it.
__attribute__((force_align_arg_pointer)) INT_PTR CALLBACK MainDialog(HWND dialog, UINT message,
                                                                     WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG:
      return OnInitDialog(dialog, lparam);
    case WM_COMMAND:
      return OnCommand(dialog, LOWORD(wparam));
    case WM_TIMER:
      return OnTimer(dialog);
    case WM_NOTIFY:
      return OnNotify(dialog, reinterpret_cast<const NMHDR*>(lparam));
    default:
      return FALSE;
  }
}

void InitializeCommonControls() { InitCommonControls(); }

void ObtainSystemImageList(const std::string& program_path) {
  SHFILEINFOA file_info = {};
  SystemImageList = reinterpret_cast<HIMAGELIST>(SHGetFileInfoA(
      program_path.c_str(), 0, &file_info, sizeof file_info, SHGFI_SYSICONINDEX | SHGFI_SMALLICON));
}

void RunMainDialog(Session& session) {
  DialogBoxParamA(GetModuleHandleA(nullptr), "MAINDIALOG", nullptr, &MainDialog,
                  reinterpret_cast<LPARAM>(&session));
}

}  // namespace selfx
