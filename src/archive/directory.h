// Locating the ZIP end record behind the configuration trailer, and reading the central
// directory into the entry list.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "archive/archive_entry.h"
#include "archive/archive_file.h"
#include "archive/extraction.h"

namespace selfx {

// Searches the last 65,558 bytes of the archive (those before its end) behind its start for an end
// record whose comment ends exactly at the archive's end; the one nearest the window's start wins.
// Returns its file position, or nothing. The archive file position is left where it was.
std::optional<std::uint32_t> SearchEndRecord(const ArchiveFile& archive);
// The scan itself, over a window of the file that starts at window_start: the first
// signature whose record and comment end exactly at archive_end, or, when the window reaches
// archive_end, up to padding_allowed zero bytes before it (a signed file's padding). Returns
// the window offset.
std::optional<std::uint32_t> ScanForEndRecord(const std::uint8_t* window, std::uint32_t window_size,
                                              std::uint32_t window_start, std::uint32_t archive_end,
                                              std::uint32_t padding_allowed = 0);
// The same search over a whole file held in memory: the end record's file position, or
// nothing. The builder and `selfx info` judge a file by it exactly as the stub will.
std::optional<std::uint32_t> FindEndRecordInMemory(const std::uint8_t* file,
                                                   std::uint32_t file_size,
                                                   std::uint32_t archive_start);
// The archive's base for the end record read whole at end_record_position: where the directory
// ends (the record's own position) minus where the archive's writer recorded it to end, in
// 32-bit arithmetic.
std::int32_t OffsetBase(const std::uint8_t* end_record, std::uint32_t end_record_position);

// Finds the end record, reads the central directory, sets the archive's base and appends every
// file entry (not the folder entries) to the entry list in directory order, selected or not.
// False on any damage, with "file is corrupt" as the extraction's fault.
bool LoadDirectory(Extraction& extraction, bool rows_selected);

// The name as the user sees it: bytes the host recorded in the OEM code page (hosts 0 and 6,
// and 11 with format version 50) converted to ANSI, names flagged as UTF-8 converted from
// UTF-8, every other name kept byte for byte.
std::string ConvertEntryName(const std::string& name, const ArchiveEntry& entry);

}  // namespace selfx
