// Extraction of one entry to one file: local header, password, decoder, file time, CRC.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive/archive_entry.h"
#include "base/per_thread.h"
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

#ifndef SELFX_SINGLE_THREADED
// The bytes of an entry decoded elsewhere, in the pieces the decoders hand over: 32,768 bytes
// each, the last one the rest; and the CRC register over all of them.
struct DecodedPieces {
  std::vector<std::uint8_t*> pieces;
  std::uint64_t size = 0;
  std::uint32_t crc_register = 0xFFFFFFFF;
};

// The command-line tool decodes entries ahead on other threads. When set, ExtractEntry asks it
// first: the bytes of the entry, decoded with the password held now and found sound (CRC-32
// matched), or nullptr to prepare and decode the entry here. The bytes stay valid until the
// next call. Preparing an entry so taken would have shown and asked nothing, so only opening,
// writing, the file time, the CRC comparison and the close are left, as before.
using DecodedAheadLookup = const DecodedPieces* (*)(const ArchiveEntry& entry);
extern DecodedAheadLookup LookUpDecodedAhead;
#endif

// Finds the entry's data through its local header: the archive left at the first data byte and
// CompressedRemaining set to the bytes behind it (less the encryption header, which is not read;
// a size of 2 GiB or more leaves nothing to read). Or why it could not: the header cannot be
// reached or read whole, or it is not a local header. Says nothing itself.
enum class EntryData { kFound, kUnreachable, kNotLocalHeader };
EntryData SeekEntryData(const ArchiveEntry& entry);

// Sets the file's last-write time from a DOS date and time taken as local time.
void SetFileTimeFromDos(platform::FileHandle file, std::uint32_t dos_date_time);

}  // namespace selfx
