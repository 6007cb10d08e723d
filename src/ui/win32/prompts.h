// The folder browser, and the reader of an edit box that the main dialog and the password
// prompt share.
#pragma once

#include <windows.h>

#include <string>

namespace selfx {

// Opens the shell's folder browser on folder; true with folder replaced by the chosen one,
// which also becomes the current directory.
bool BrowseForFolder(HWND owner, std::string& folder);
// The whole text of the dialog's edit control `control_id`.
std::string ReadEditText(HWND dialog, int control_id);

}  // namespace selfx
