// The console side of the user-interface boundary: message boxes become lines on stderr,
// file-list rows are collected for the command that asked for them.
#pragma once

#include <string>
#include <vector>

#include "archive/archive_entry.h"

namespace selfx::console {

struct FileRow {
  std::string name;  // as the stub would show it, in the ANSI code page
  ArchiveEntry entry;
};

// The rows LoadDirectory handed over, in directory order.
std::vector<FileRow>& FileRows();

}  // namespace selfx::console
