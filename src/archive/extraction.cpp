#include "archive/extraction.h"

#include "base/text.h"
#include "codec/crc32.h"
#include "ui/ui.h"

namespace selfx {

std::string FaultMessage(const Extraction& extraction) {
  return FaultMessage(extraction.fault, extraction.fault == Fault::kCannotWrite
                                            ? extraction.output.path
                                            : extraction.archive.path);
}

bool WriteOutput(Extraction& extraction, const void* buffer, std::uint32_t count) {
  if (platform::Write(extraction.output.handle, buffer, count) < count) {
    extraction.fault = Fault::kCannotWrite;
    return false;
  }
  return true;
}

namespace {
bool WriteOutputPiece(void* context, const std::uint8_t* bytes, std::uint32_t count) {
  Extraction& extraction = *static_cast<Extraction*>(context);
  if (!WriteOutput(extraction, bytes, count)) return false;
  UpdateCrc(bytes, static_cast<std::int32_t>(count), extraction.running_crc);
  return true;
}
}  // namespace

OutputSink OutputToFile(Extraction& extraction) { return {&WriteOutputPiece, &extraction}; }

bool CloseAndReset(platform::FileHandle& handle) {
  bool closed = true;
  if (handle != 0 && handle != platform::kNoFile) closed = platform::Close(handle);
  handle = platform::kNoFile;
  return closed;
}

void CloseArchiveFiles(Extraction& extraction) {
  std::vector<EntryRow>().swap(extraction.entries);
  if (!CloseAndReset(extraction.archive.handle)) {
    ShowError(nullptr, FormatWith("Cannot close %s", extraction.archive.path));
  }
  platform::FileHandle& output = extraction.output.handle;
  if (output != 0 && output != platform::kNoFile &&
      !platform::CloseOutput(output, platform::OutputEnding::kDiscard)) {
    ShowError(nullptr, FormatWith("Cannot close %s", extraction.output.path));
  }
  output = platform::kNoFile;
}

}  // namespace selfx
