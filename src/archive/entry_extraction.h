// Extraction of one entry to one file: local header, password, decoder, file time, CRC.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "archive/archive_entry.h"
#include "archive/extraction.h"

namespace selfx {

enum class EntryOutcome : std::uint8_t {
  kDone,        // written (or tested), its CRC-32 matched and it closed cleanly
  kFailed,      // reported to the user; the run goes on with the next entry
  kNoPassword,  // encrypted, and no password was accepted: the run ends
  kFatal,       // the extraction's fault says what: the run and the program end
};

// Writes the row's entry to extraction.output_path. Every problem that lets the run go on is
// reported here, in an error box owned by extraction.window.
EntryOutcome ExtractEntry(Extraction& extraction, std::size_t row);

// Decodes the row's entry and checks its CRC-32 without writing a file; messages name it by
// its name.
EntryOutcome TestEntry(Extraction& extraction, std::size_t row);

// Finds the entry's data through its local header: the archive left at the first data byte and
// remaining set to the bytes behind it (less the encryption header, which is not read; a size
// of 2 GiB or more leaves nothing to read). Or why it could not: the header cannot be reached
// or read whole, or it is not a local header. Says nothing itself.
enum class EntryData { kFound, kUnreachable, kNotLocalHeader };
EntryData SeekEntryData(const ArchiveFile& archive, const ArchiveEntry& entry,
                        std::int32_t& remaining);

// Sets the file's last-write time from a DOS date and time taken as local time.
void SetFileTimeFromDos(platform::FileHandle file, std::uint32_t dos_date_time);

}  // namespace selfx
