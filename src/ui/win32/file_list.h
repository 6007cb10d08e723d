// The file list, list-view control 401 of the main dialog: one row per file entry, whose
// selection is the work list of the extraction run.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <string>

#include "archive/archive_entry.h"

namespace selfx {

// The shell's image list of small file icons, shared by the list (never destroyed by it).
extern HIMAGELIST SystemImageList;

enum class ColumnAlignment { Left = 0, Right = 1 };
void AddListColumn(HWND dialog, int column, const char* title, int width,
                   ColumnAlignment alignment);

void SelectAllRows(HWND dialog);
// The list's part of the user-interface boundary (RowCount, ReadRow, DeselectRow, ...) is
// declared in ui/ui.h.

}  // namespace selfx
