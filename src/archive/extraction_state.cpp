#include "archive/extraction_state.h"

#include "archive/archive_file.h"
#include "archive/entry_table.h"
#include "base/fatal_error.h"
#include "base/per_thread.h"
#include "base/text.h"
#include "codec/crc32.h"
#include "ui/ui.h"

namespace selfx {

SELFX_PER_THREAD ArchiveEntry CurrentEntry;
SELFX_PER_THREAD std::int32_t CompressedRemaining = 0;
SELFX_PER_THREAD std::uint32_t RunningCrc = 0xFFFFFFFF;
SELFX_PER_THREAD OutputFileState OutputFile;
std::string Password;
bool CancelRequested = false;

void WriteOutput(platform::FileHandle file, const void* buffer, std::uint32_t count,
                 const std::string& path) {
  if (platform::Write(file, buffer, count) < count) {
    FatalError(FormatWith("Cannot write to %s", path));
  }
}

void WriteOutputPiece(const std::uint8_t* bytes, std::uint32_t count) {
  WriteOutput(OutputFile.handle, bytes, count, OutputFile.path);
  UpdateCrc(bytes, static_cast<std::int32_t>(count), RunningCrc);
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
  // An output still open here was cut short: it goes, and a file of its name stays.
  platform::FileHandle output = OutputFile.handle;
  OutputFile.handle = platform::kNoFile;
  if (output != 0 && output != platform::kNoFile &&
      !platform::CloseOutput(output, platform::OutputEnding::kDiscard)) {
    ShowError(nullptr, FormatWith("Cannot close %s", OutputFile.path));
  }
}

}  // namespace selfx
