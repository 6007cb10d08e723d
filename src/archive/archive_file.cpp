#include "archive/archive_file.h"

namespace selfx {

bool OpenArchiveFile(ArchiveFile& archive, const std::string& path) {
  archive.path = path;
  archive.handle = platform::OpenForReading(path);
  if (archive.handle == platform::kNoFile) return false;
  archive.end = platform::FileSize(archive.handle);
  return true;
}

namespace {
std::uint32_t ReadFromArchive(void* archive, void* buffer, std::uint32_t count) {
  return static_cast<ArchiveFile*>(archive)->Read(buffer, count);
}
}  // namespace

InputSource ArchiveSource(ArchiveFile& archive) { return {&ReadFromArchive, &archive}; }

}  // namespace selfx
