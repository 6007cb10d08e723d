// Extraction of one entry to one file: local header, password, decoder, file time, CRC.
#pragma once

#include <string>

#include "archive/archive_entry.h"
#include "platform/platform.h"

namespace selfx {

// Writes the entry to output_path. True when the file was written, its CRC-32 matched and it
// closed cleanly. password_abort becomes true only when the entry is encrypted and no
// password was accepted; the run then ends. Every problem is reported here, as an error box
// owned by owner or as a fatal stop.
bool ExtractEntry(platform::WindowHandle owner, const std::string& output_path,
                  const ArchiveEntry& entry, bool& password_abort);

// Decodes the entry and checks its CRC-32 without writing a file; messages name it by name.
bool TestEntry(platform::WindowHandle owner, const std::string& name, const ArchiveEntry& entry,
               bool& password_abort);

// Sets the file's last-write time from a DOS date and time taken as local time.
void SetFileTimeFromDos(platform::FileHandle file, std::uint32_t dos_date_time);

}  // namespace selfx
