#include "archive/extraction_state.h"

#include <memory>

#include "archive/archive_file.h"
#include "archive/entry_table.h"
#include "base/fatal_error.h"
#include "base/per_thread.h"
#include "base/text.h"
#include "codec/crc32.h"
#include "codec/inflate.h"
#include "ui/ui.h"

namespace selfx {

SELFX_PER_THREAD ArchiveEntry CurrentEntry;
SELFX_PER_THREAD std::int32_t CompressedRemaining = 0;
SELFX_PER_THREAD std::uint32_t RunningCrc = 0xFFFFFFFF;
SELFX_PER_THREAD OutputFileState OutputFile;
SELFX_PER_THREAD ZipKeys EntryKeys;
std::string Password;
bool CancelRequested = false;

void WriteOutput(platform::FileHandle file, const void* buffer, std::uint32_t count,
                 const std::string& path) {
  if (platform::Write(file, buffer, count) < count) {
    FatalError(FormatWith("Cannot write to %s", path));
  }
}

Inflater& ThreadInflater() {
#ifdef SELFX_SINGLE_THREADED
  static Inflater inflater;  // zeros: no code, no room in the file
  return inflater;
#else
  thread_local std::unique_ptr<Inflater> inflater;
  if (!inflater) inflater = std::make_unique<Inflater>();
  return *inflater;
#endif
}

bool WriteOutputPiece(void*, const std::uint8_t* bytes, std::uint32_t count) {
  WriteOutput(OutputFile.handle, bytes, count, OutputFile.path);
  UpdateCrc(bytes, static_cast<std::int32_t>(count), RunningCrc);
  return true;
}

std::uint32_t ReadArchiveInput(void*, void* buffer, std::uint32_t count) {
  return ReadArchive(buffer, count);
}

bool CloseAndReset(platform::FileHandle& handle) {
  bool closed = true;
  if (handle != 0 && handle != platform::kNoFile) closed = platform::Close(handle);
  handle = platform::kNoFile;
  return closed;
}

void CloseArchiveFiles() {
  ReleaseEntryTable();
  if (!CloseAndReset(ArchiveFile.handle)) {
    ShowError(nullptr, FormatWith("Cannot close %s", ArchiveFile.path));
  }
  if (!CloseAndReset(OutputFile.handle)) {
    ShowError(nullptr, FormatWith("Cannot close %s", OutputFile.path));
  }
}

}  // namespace selfx
