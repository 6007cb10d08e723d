// The archive file: the stub's own executable, or the file a selfx command was given. Every
// read of the archive goes through one of these, with one handle and its single file position.
#pragma once

#include <cstdint>
#include <string>

#include "codec/stream.h"
#include "platform/platform.h"

namespace selfx {

struct ArchiveFile {
  std::string path;  // the %s of "Error reading zip %s"
  platform::FileHandle handle = platform::kNoFile;
  // The first file offset behind the configuration trailer: where the archive begins.
  std::uint32_t start = 0;
  // Where the archive ends: the end of the file, or in a signed file the start of its
  // certificate table. The search for the end record looks back from here.
  std::uint32_t end = 0;
  // Added to every recorded local-header offset to give its file position. It absorbs the
  // difference between where the archive's writer thought the directory was and where it is:
  // 0 for offsets recorded from the start of the combined file, start for a ZIP appended as it
  // was.
  std::int32_t base = 0;

  // Moves the file position; returns the new position. No error is reported.
  std::uint32_t Seek(std::int32_t distance, platform::SeekOrigin origin) const {
    return platform::Seek(handle, distance, origin);
  }
  // Reads up to count bytes; the number read, 0 when the read fails.
  std::uint32_t Read(void* buffer, std::uint32_t count) const {
    return platform::Read(handle, buffer, count);
  }
  // Reads exactly count bytes; false when the file gives fewer.
  bool ReadExact(void* buffer, std::uint32_t count) const { return Read(buffer, count) == count; }
};

// Opens path as the archive and sets its end to the file's size; false when it cannot be
// opened (the caller's "Error reading zip %s").
bool OpenArchiveFile(ArchiveFile& archive, const std::string& path);

// The archive's reads as a decoder's input source.
InputSource ArchiveSource(ArchiveFile& archive);

}  // namespace selfx
