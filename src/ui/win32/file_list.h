// The file list, list-view control 401 of the main dialog: the view of the entry list, one
// row per entry in the same order, where the user picks the files to extract.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <string>

#include "archive/extraction.h"

namespace selfx {

// The shell's image list of small file icons, shared by the list (never destroyed by it).
extern HIMAGELIST SystemImageList;

enum class ColumnAlignment { Left = 0, Right = 1 };
void AddListColumn(HWND dialog, int column, const char* title, int width,
                   ColumnAlignment alignment);

// Appends the entry's row: its icon, name and size, selected as the entry is.
void AddFileRow(HWND dialog, const EntryRow& row);
void SelectAllRows(HWND dialog);
// Takes the rows' selection into the entries (row n shows entries[n]).
void ReadSelection(HWND dialog, std::vector<EntryRow>& entries);
// The list's part of the user-interface boundary (DeselectRow, ShowFirstSelectedRow) is
// declared in ui/ui.h.

}  // namespace selfx
