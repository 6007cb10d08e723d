// The folder browser and the edit-box reader of the main dialog.
#pragma once

#include <windows.h>

#include <string>

namespace selfx {

// Opens the shell's folder browser on folder; true with folder replaced by the chosen one,
// which also becomes the current directory.
bool BrowseForFolder(HWND owner, std::string& folder);
// The whole text of the dialog's control 201.
std::string ReadEditText(HWND dialog);

}  // namespace selfx
