// EntryTable: the ArchiveEntry behind each row of the file list; a row refers to its record
// by index. It only grows while the program runs.
#pragma once

#include <cstddef>

#include "archive/archive_entry.h"

namespace selfx {

// Appends a copy of the record; returns its index (the previous record count).
std::size_t AppendEntry(const ArchiveEntry& entry);
// A copy of the record at the index.
ArchiveEntry GetEntry(std::size_t index);
// Frees the table; part of the process-end steps.
void ReleaseEntryTable();

}  // namespace selfx
