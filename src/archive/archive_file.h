// Positioned reads of the archive file: the stub's own executable, or the file a console
// command was given. All reads of the archive go through these operations and share the one
// handle and its single file position.
#pragma once

#include <cstdint>
#include <string>

#include "base/per_thread.h"
#include "platform/platform.h"

namespace selfx {

struct ArchiveFileState {
  std::string path;  // the %s of "Error reading zip %s"
  platform::FileHandle handle = platform::kNoFile;
};
extern SELFX_PER_THREAD ArchiveFileState ArchiveFile;

// The first file offset behind the configuration trailer: where the archive begins. Set once
// the configuration has been loaded.
extern std::uint32_t ArchiveStart;

// Where the archive ends: the end of the file, or in a signed file the start of its
// certificate table (pe::EndWithoutSignature, once ArchiveStart is known). The search for the
// end record looks back from here instead of from the end of the file.
extern std::uint32_t ArchiveEnd;

// Opens path as the archive file and sets ArchiveEnd to its size; FatalError "Error reading
// zip %s" when it cannot be opened.
void OpenArchiveFile(const std::string& path);

// Moves the archive's file position; returns the new position. No error is reported.
std::uint32_t SeekArchive(std::int32_t distance, platform::SeekOrigin origin);
// Reads up to count bytes; the number read, 0 when the read fails.
std::uint32_t ReadArchive(void* buffer, std::uint32_t count);
// Reads exactly count bytes or ends the program with "Cannot unzip: file is corrupt.".
void ReadArchiveExact(void* buffer, std::uint32_t count);

}  // namespace selfx
