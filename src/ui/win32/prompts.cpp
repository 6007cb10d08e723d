// The prompts of an extraction run, the message pump that keeps the dialog responsive
// between entries, the folder browser and the progress bar.

#include "ui/win32/prompts.h"

#include <commctrl.h>
#include <shlobj.h>

#include "archive/extraction.h"
#include "archive/paths.h"
#include "base/text.h"
#include "resource.h"
#include "ui/ui.h"
#include "ui/win32/main_dialog.h"

namespace selfx {

namespace {

constexpr std::size_t kPasswordLimit = 80;
constexpr const char* kBrowseTitle = "Choose the target folder";

// What the open prompt is about: the path it names, and for the password prompt where the
// answer goes. A prompt is modal, so there is one at a time.
const std::string* prompt_path = nullptr;
std::string* typed_password = nullptr;
bool dont_ask_again = false;

// One browse record and one display-name buffer, shared by the browser and its callback.
BROWSEINFOA browse_info;
char browse_display_name[260];

INT_PTR CALLBACK FileExistsDialog(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      SetDlgItemTextA(dialog, IDC_EXISTS_TEXT,
                      FormatWith("%s already exists. Overwrite?", *prompt_path).c_str());
      SetFocus(GetDlgItem(dialog, IDC_EXISTS_YES));
      return FALSE;
    case WM_COMMAND: {
      int id = LOWORD(wparam);
      if (id != IDC_EXISTS_YES && id != IDC_EXISTS_NO) return FALSE;
      dont_ask_again = SendDlgItemMessageA(dialog, IDC_DONT_ASK_AGAIN, BM_GETCHECK, 0, 0) ==
                       BST_CHECKED;
      if (dont_ask_again) {
        // The answer becomes the mode for the rest of this run and for later ones, and the
        // main dialog's buttons show it.
        CheckRadioButton(MainWindow, IDC_MODE_OVERWRITE, IDC_MODE_ASK,
                         id == IDC_EXISTS_YES ? IDC_MODE_OVERWRITE : IDC_MODE_DONT_OVERWRITE);
      }
      EndDialog(dialog, id);
      return TRUE;
    }
    default:
      return FALSE;
  }
}

INT_PTR CALLBACK PasswordDialog(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      SetWindowTextA(dialog,
                     FormatWith("Enter password for %s:", FileNamePart(*prompt_path)).c_str());
      SetFocus(GetDlgItem(dialog, IDC_PASSWORD_EDIT));
      return FALSE;
    case WM_COMMAND:
      if (LOWORD(wparam) == IDC_PASSWORD_EDIT && HIWORD(wparam) == EN_CHANGE) {
        EnableWindow(GetDlgItem(dialog, IDC_PASSWORD_OK),
                     GetWindowTextLengthA(GetDlgItem(dialog, IDC_PASSWORD_EDIT)) > 0);
      } else if (LOWORD(wparam) == IDC_PASSWORD_OK) {
        *typed_password = ReadEditText(dialog, IDC_PASSWORD_EDIT).substr(0, kPasswordLimit);
        EndDialog(dialog, IDOK);
      } else if (LOWORD(wparam) == IDC_PASSWORD_CANCEL) {
        typed_password->clear();
        EndDialog(dialog, IDCANCEL);
      }
      return FALSE;
    case WM_CLOSE:
      typed_password->clear();
      EndDialog(dialog, IDCANCEL);
      return FALSE;
    default:
      return FALSE;
  }
}

int CALLBACK BrowseCallback(HWND browser, UINT event, LPARAM event_data, LPARAM callback_data) {
  if (event == BFFM_INITIALIZED) {
    SendMessageA(browser, BFFM_SETSELECTIONA, TRUE, callback_data);
    SetWindowTextA(browser, kBrowseTitle);
  } else if (event == BFFM_SELCHANGED) {
    // Items such as "Control Panel" have no folder to extract into.
    if (!SHGetPathFromIDListA(reinterpret_cast<LPCITEMIDLIST>(event_data), browse_display_name)) {
      EnableWindow(GetDlgItem(browser, IDOK), FALSE);
    }
  }
  return 0;
}

}  // namespace

// A cancel arrives through the dialog's own Close handler, which sets the run's flag itself.
void PumpOneMessage(bool&) {
  MSG message;
  if (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

ExistsAnswer FileExistsPrompt(WindowHandle dialog, const std::string& path) {
  prompt_path = &path;
  dont_ask_again = false;
  bool overwrite = DialogBoxParamA(GetModuleHandleA(nullptr), "FILEEXIST",
                                   static_cast<HWND>(dialog), &FileExistsDialog,
                                   0) != IDC_EXISTS_NO;
  return {overwrite, dont_ask_again};
}

bool PasswordPrompt(WindowHandle dialog, const std::string& path, std::size_t,
                    std::string& password) {
  prompt_path = &path;
  typed_password = &password;
  return DialogBoxParamA(GetModuleHandleA(nullptr), "PASSWD", static_cast<HWND>(dialog),
                         &PasswordDialog, 0) == IDOK;
}

bool BrowseForFolder(HWND owner, std::string& folder) {
  browse_info.hwndOwner = owner;
  browse_info.pidlRoot = nullptr;
  browse_info.pszDisplayName = browse_display_name;
  browse_info.lpszTitle = kBrowseTitle;
  browse_info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
  browse_info.lpfn = &BrowseCallback;
  browse_info.lParam = reinterpret_cast<LPARAM>(folder.c_str());
  LPITEMIDLIST item = SHBrowseForFolderA(&browse_info);
  if (item == nullptr) return false;

  char path[520] = {};
  SHGetPathFromIDListA(item, path);
  folder = path;
  IMalloc* shell_allocator = nullptr;
  if (FAILED(SHGetMalloc(&shell_allocator))) return false;
  shell_allocator->Free(item);
  SetCurrentDirectoryA(folder.c_str());
  shell_allocator->Release();
  return true;
}

std::string ReadEditText(HWND dialog, int control_id) {
  HWND edit = GetDlgItem(dialog, control_id);
  int length = GetWindowTextLengthA(edit);
  std::string buffer(static_cast<std::size_t>(length) * 2, '\0');
  if (buffer.empty()) return std::string();
  GetDlgItemTextA(dialog, control_id, &buffer[0], static_cast<int>(buffer.size()));
  return buffer.c_str();
}

namespace {
// The bar moves once per hundredth of the rows.
constexpr int kProgressSteps = 100;
int progress_end = 1;
int shown_step = -1;
}  // namespace

void SetProgressRange(WindowHandle dialog, int row_count) {
  // A run over no rows shows position 0 only.
  progress_end = row_count > 0 ? row_count : 1;
  shown_step = -1;
  SendDlgItemMessageA(static_cast<HWND>(dialog), IDC_PROGRESS, PBM_SETRANGE, 0,
                      MAKELPARAM(0, row_count));
}

// The themed bar draws itself at once whenever its position changes, and with many small files
// that drawing took most of a run's time under Wine (5.8 of 6.9 s for 500 files). So the bar
// takes a row's position only when it starts a further hundredth of the rows: every row in a
// run of up to 100 rows, at most 101 drawings in a longer one, and always the last row.
void SetProgressPosition(WindowHandle dialog, int position) {
  int step = position * kProgressSteps / progress_end;
  if (step == shown_step) return;
  shown_step = step;
  SendDlgItemMessageA(static_cast<HWND>(dialog), IDC_PROGRESS, PBM_SETPOS,
                      static_cast<WPARAM>(position), 0);
}

}  // namespace selfx
