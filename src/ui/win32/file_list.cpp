#include "ui/win32/file_list.h"

#include <commctrl.h>
#include <shellapi.h>

#include <cstring>

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

void AddFileRow(HWND dialog, const EntryRow& entry_row) {
  const std::string& name = entry_row.name;
  // The icon belongs to the name alone: the file need not exist anywhere yet.
  SHFILEINFOA file_info = {};
  SHGetFileInfoA(FileNamePart(name).c_str(), FILE_ATTRIBUTE_NORMAL, &file_info, sizeof file_info,
                 SHGFI_SYSICONINDEX | SHGFI_USEFILEATTRIBUTES | SHGFI_SMALLICON);

  LVITEMA item = {};
  item.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_STATE;
  item.iItem = 0x7FFFFFFF;
  item.pszText = const_cast<char*>(name.c_str());
  item.iImage = file_info.iIcon;
  item.state = entry_row.selected ? LVIS_SELECTED : 0;
  item.stateMask = LVIS_SELECTED;
  int row = static_cast<int>(
      SendMessageA(FileList(dialog), LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));

  std::string size_text = DecimalText(entry_row.entry.UncompressedSize());
  LVITEMA size_item = {};
  size_item.mask = LVIF_TEXT;
  size_item.iItem = row;
  size_item.iSubItem = 1;
  size_item.pszText = const_cast<char*>(size_text.c_str());
  SendMessageA(FileList(dialog), LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&size_item));
}

void ReadSelection(HWND dialog, std::vector<EntryRow>& entries) {
  HWND list = FileList(dialog);
  for (std::size_t row = 0; row < entries.size(); ++row) {
    entries[row].selected = ListView_GetItemState(list, static_cast<int>(row), LVIS_SELECTED) ==
                            LVIS_SELECTED;
  }
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
