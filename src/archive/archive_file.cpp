#include "archive/archive_file.h"

#include "base/fatal_error.h"
#include "base/per_thread.h"
#include "base/text.h"

namespace selfx {

SELFX_PER_THREAD ArchiveFileState ArchiveFile;
std::uint32_t ArchiveStart = 0;
std::uint32_t ArchiveEnd = 0;

void OpenArchiveFile(const std::string& path) {
  ArchiveFile.path = path;
  ArchiveFile.handle = platform::OpenForReading(path);
  if (ArchiveFile.handle == platform::kNoFile) {
    FatalError(FormatWith("Error reading zip %s", ArchiveFile.path));
  }
  ArchiveEnd = platform::FileSize(ArchiveFile.handle);
}

std::uint32_t SeekArchive(std::int32_t distance, platform::SeekOrigin origin) {
  return platform::Seek(ArchiveFile.handle, distance, origin);
}

std::uint32_t ReadArchive(void* buffer, std::uint32_t count) {
  return platform::Read(ArchiveFile.handle, buffer, count);
}

void ReadArchiveExact(void* buffer, std::uint32_t count) {
  if (ReadArchive(buffer, count) != count) FatalError(kCorruptMessage);
}

}  // namespace selfx
