#include "ui/win32/file_list.h"

#include <commctrl.h>
#include <shellapi.h>

#include <cstring>

#include "app/config_block.h"
#include "archive/entry_table.h"
#include "archive/paths.h"
#include "base/text.h"
#include "resource.h"
#include "ui/ui.h"

namespace selfx {

HIMAGELIST SystemImageList = nullptr;

namespace {
HWND FileList(HWND dialog) { return GetDlgItem(dialog, IDC_FILE_LIST); }
}  // namespace

void AddListColumn(HWND dialog, int column, const char* title, int width,
                   ColumnAlignment alignment) {
  LVCOLUMNA column_info = {};
  column_info.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
  column_info.fmt = alignment == ColumnAlignment::Right ? LVCFMT_RIGHT : LVCFMT_LEFT;
  column_info.cx = width;
  column_info.pszText = const_cast<char*>(title);
  column_info.cchTextMax = static_cast<int>(std::strlen(title));
  column_info.iSubItem = column;
  SendMessageA(FileList(dialog), LVM_INSERTCOLUMNA, column, reinterpret_cast<LPARAM>(&column_info));
}

void AddFileRow(WindowHandle dialog_handle, const std::string& name, const ArchiveEntry& entry) {
  HWND dialog = static_cast<HWND>(dialog_handle);
  // The icon belongs to the name alone: the file need not exist anywhere yet.
  SHFILEINFOA file_info = {};
  SHGetFileInfoA(FileNamePart(name).c_str(), FILE_ATTRIBUTE_NORMAL, &file_info, sizeof file_info,
                 SHGFI_SYSICONINDEX | SHGFI_USEFILEATTRIBUTES | SHGFI_SMALLICON);
  std::size_t index = AppendEntry(entry);

  LVITEMA item = {};
  item.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM | LVIF_STATE;
  item.iItem = 0x7FFFFFFF;
  item.pszText = const_cast<char*>(name.c_str());
  item.iImage = file_info.iIcon;
  item.lParam = static_cast<LPARAM>(index);
  item.state = (SfxConfig.Options() & OptUserSelects) != 0 ? LVIS_SELECTED : 0;
  item.stateMask = LVIS_SELECTED;
  int row = static_cast<int>(
      SendMessageA(FileList(dialog), LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));

  std::string size_text = DecimalText(entry.UncompressedSize());
  LVITEMA size_item = {};
  size_item.mask = LVIF_TEXT;
  size_item.iItem = row;
  size_item.iSubItem = 1;
  size_item.pszText = const_cast<char*>(size_text.c_str());
  SendMessageA(FileList(dialog), LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&size_item));
}

int RowCount(WindowHandle dialog) {
  return ListView_GetItemCount(FileList(static_cast<HWND>(dialog)));
}

bool IsRowSelected(WindowHandle dialog, int row) {
  return ListView_GetItemState(FileList(static_cast<HWND>(dialog)), row, LVIS_SELECTED) ==
         LVIS_SELECTED;
}

int SelectedRowCount(WindowHandle dialog) {
  return static_cast<int>(ListView_GetSelectedCount(FileList(static_cast<HWND>(dialog))));
}

FileRow ReadRow(WindowHandle dialog_handle, int row) {
  char text[521];
  LVITEMA item = {};
  item.mask = LVIF_PARAM | LVIF_TEXT;
  item.iItem = row;
  item.pszText = text;
  item.cchTextMax = sizeof text;
  SendMessageA(FileList(static_cast<HWND>(dialog_handle)), LVM_GETITEMA, 0,
               reinterpret_cast<LPARAM>(&item));
  FileRow result;
  result.entry = GetEntry(static_cast<std::size_t>(item.lParam));
  // The list may hand back its own copy of the text instead of filling the buffer.
  result.name = item.pszText;
  return result;
}

void DeselectRow(WindowHandle dialog, int row) {
  ListView_SetItemState(FileList(static_cast<HWND>(dialog)), row, 0, LVIS_SELECTED);
}

void SelectAllRows(HWND dialog) {
  ListView_SetItemState(FileList(dialog), -1, LVIS_SELECTED, LVIS_SELECTED);
}

void ShowFirstSelectedRow(WindowHandle dialog) {
  HWND list = FileList(static_cast<HWND>(dialog));
  int row = ListView_GetNextItem(list, -1, LVNI_SELECTED);
  if (row >= 0) ListView_EnsureVisible(list, row, FALSE);
}

}  // namespace selfx
