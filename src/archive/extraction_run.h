// The extraction run over the selected rows of the file list.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace selfx {

// The full path of the row being handled: the target folder, one backslash, the entry name.
// The prompts show it.
extern std::string OutputPath;

// How a file that already exists is treated: the configured OverwriteMode, changed by the
// user in the dialog or by "Don't ask again" in the prompt.
enum OverwriteModeValue : std::uint8_t { kOverwrite = 0, kDontOverwrite = 1, kAsk = 2 };

// Extracts every selected row into target_folder, in list order: folders first, then the
// overwrite policy, then the entry. A row whose file was extracted is deselected. True when
// no row is left selected. overwrite_mode is read again for every row: the prompt's "Don't
// ask again" changes it during the run.
bool ExtractSelected(platform::WindowHandle dialog, const std::string& target_folder,
                     const std::uint8_t& overwrite_mode);

// Why an entry name must not be written below the target folder, or empty when it may:
// absolute names, drives, ".." components and device names would leave the folder or reach
// something that is not a file.
std::string UnsafeNameReason(const std::string& name);

// Leaves the "." parts out of the name that starts at path[from]: they name the folder they
// stand in ("./x.txt" is written as "x.txt", "a\\.\\b" as "a\\b").
void DropDotParts(std::string& path, std::string::size_type from);

}  // namespace selfx
