// A small program for checking the end-to-end harness against known behaviour:
//
//   probe msgbox STYLE CAPTION TEXT   shows one message box; the exit code is its result
//   probe dialog                      a dialog with an edit box, a list of three rows and
//                                     two buttons; Unzip echoes the edit box in a message
//                                     box and ends with 1, Close ends with 2
#include <windows.h>
#include <commctrl.h>

#include <cstdlib>
#include <cstring>

namespace {

void AddColumn(HWND list, int index, const char* title, int width, int format) {
  LVCOLUMNA column = {};
  column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
  column.fmt = format;
  column.cx = width;
  column.pszText = const_cast<char*>(title);
  SendMessageA(list, LVM_INSERTCOLUMNA, index, reinterpret_cast<LPARAM>(&column));
}

void AddRow(HWND list, int index, const char* name, const char* size) {
  LVITEMA item = {};
  item.mask = LVIF_TEXT;
  item.iItem = index;
  item.pszText = const_cast<char*>(name);
  SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
  item.iSubItem = 1;
  item.pszText = const_cast<char*>(size);
  SendMessageA(list, LVM_SETITEMTEXTA, index, reinterpret_cast<LPARAM>(&item));
}

INT_PTR CALLBACK ProbeDialog(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG: {
      HWND list = GetDlgItem(dialog, 401);
      AddColumn(list, 0, "Filename", 160, LVCFMT_LEFT);
      AddColumn(list, 1, "Size", 64, LVCFMT_RIGHT);
      AddRow(list, 0, "readme.txt", "12");
      AddRow(list, 1, "docs\\guide.txt", "345");
      AddRow(list, 2, "empty", "0");
      SetDlgItemTextA(dialog, 201, "C:\\target");
      return TRUE;
    }
    case WM_COMMAND:
      if (LOWORD(wparam) == IDOK) {
        char text[260] = {};
        GetDlgItemTextA(dialog, 201, text, sizeof(text));
        MessageBoxA(dialog, text, "Echo", MB_OK | MB_ICONINFORMATION | MB_TASKMODAL);
        EndDialog(dialog, 1);
      } else if (LOWORD(wparam) == IDCANCEL) {
        EndDialog(dialog, 2);
      }
      return TRUE;
  }
  return FALSE;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  InitCommonControls();
  if (__argc == 5 && std::strcmp(__argv[1], "msgbox") == 0) {
    const auto style = static_cast<UINT>(std::strtoul(__argv[2], nullptr, 0));
    return MessageBoxA(nullptr, __argv[4], __argv[3], style | MB_TASKMODAL);
  }
  if (__argc == 2 && std::strcmp(__argv[1], "dialog") == 0) {
    return static_cast<int>(DialogBoxParamA(instance, "PROBEDIALOG", nullptr, ProbeDialog, 0));
  }
  return 99;
}
