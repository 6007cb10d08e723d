// Positioned reads of the archive file: the stub's own executable, or the file a console
// command was given. All reads of the archive go through these operations and share the one
// handle and its single file position.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace selfx {

struct ArchiveFileState {
  std::string path;  // the %s of "Error reading zip %s"
  platform::FileHandle handle = platform::kNoFile;
};
extern ArchiveFileState ArchiveFile;

// The first file offset behind the configuration trailer: where the archive begins. Set once
// the configuration has been loaded.
extern std::uint32_t ArchiveStart;

// Where the archive ends: the end of the file, or in a signed file the start of its
// certificate table. Every search from the end of the file starts here instead.
extern std::uint32_t ArchiveEnd;

// Opens path as the archive file and sets ArchiveEnd to its size; FatalError "Error reading
// zip %s" when it cannot be opened.
void OpenArchiveFile(const std::string& path);

// Leaves a signature out of the archive: when the certificate table recorded in the image's
// headers was appended behind everything from archive_start on, ArchiveEnd becomes its start.
// `image` holds the archive file's headers: the stub's own mapped image (the loader maps them
// as they are in the file), or a file's first bytes that passed pe::CheckImageHeaders.
void ExcludeSignature(const std::uint8_t* image, std::uint32_t archive_start);

// Moves the archive's file position; returns the new position. No error is reported.
std::uint32_t SeekArchive(std::int32_t distance, platform::SeekOrigin origin);
// Reads up to count bytes; the number read, 0 when the read fails.
std::uint32_t ReadArchive(void* buffer, std::uint32_t count);
// Reads exactly count bytes or ends the program with "Cannot unzip: file is corrupt.".
void ReadArchiveExact(void* buffer, std::uint32_t count);

}  // namespace selfx
