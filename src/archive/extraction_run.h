// The extraction run over the selected rows of the file list.
#pragma once

#include <string>

#include "platform/platform.h"

namespace selfx {

// The full path of the row being handled: the target folder, one backslash, the entry name.
// The prompts show it.
extern std::string OutputPath;

// Extracts every selected row into TargetFolder, in list order: folders first, then the
// overwrite policy, then the entry. A row whose file was extracted is deselected. True when
// no row is left selected.
bool ExtractSelected(platform::WindowHandle dialog);

// Why an entry name must not be written below the target folder, or empty when it may:
// absolute names, drives, ".." components and device names would leave the folder or reach
// something that is not a file.
std::string UnsafeNameReason(const std::string& name);

}  // namespace selfx
