// A whole archive as the stub reads it: the configuration block at offset 0, its trailer,
// the ZIP directory, and every entry's local header, password check and data decoded and
// CRC-checked. Damage ends the program by design; here that end is caught and counted as a
// normal outcome, and everything else (a crash, a leak, a sanitizer report, a hang) is a find.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "app/config_block.h"
#include "archive/archive_file.h"
#include "archive/directory.h"
#include "archive/entry_extraction.h"
#include "archive/entry_table.h"
#include "archive/extraction_state.h"
#include "archive/zip_signatures.h"
#include "codec/crc32.h"
#include "codec/inflate.h"
#include "platform/posix_paths.h"
#include "ui/ui.h"

namespace selfx {

namespace {
struct ProgramEnded {};
std::vector<FileRow> rows;
}  // namespace

// A silent user interface: every box is answered OK, every prompt cancelled.
int ShowMessage(WindowHandle, const std::string&, const std::string&, std::uint32_t) {
  return kIdOk;
}
void ShowError(WindowHandle, const std::string&) {}
void AddFileRow(WindowHandle, const std::string& name, const ArchiveEntry& entry) {
  rows.push_back({entry, name});
}
int RowCount(WindowHandle) { return static_cast<int>(rows.size()); }
bool IsRowSelected(WindowHandle, int) { return true; }
FileRow ReadRow(WindowHandle, int row) { return rows[static_cast<std::size_t>(row)]; }
void DeselectRow(WindowHandle, int) {}
int SelectedRowCount(WindowHandle) { return 0; }
void ShowFirstSelectedRow(WindowHandle) {}
void SetProgressRange(WindowHandle, int) {}
void SetProgressPosition(WindowHandle, int) {}
void PumpOneMessage() {}
int FileExistsPrompt(WindowHandle) { return kPromptNo; }
int PasswordPrompt(WindowHandle) { return kPromptCancel; }

}  // namespace selfx

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  selfx::PrepareZipSignatures();
  selfx::BuildCrcTable();
  selfx::BuildFixedTables();
  selfx::platform::SetExitHookForTesting([](std::uint32_t) { throw selfx::ProgramEnded(); });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace selfx;
  int file = ::memfd_create("archive", 0);
  if (file < 0 || ::write(file, data, size) != static_cast<ssize_t>(size)) std::abort();
  rows.clear();
  Password = "password";
  CancelRequested = false;
  try {
    OpenArchiveFile("/proc/self/fd/" + std::to_string(file));
    LoadConfigAt(0);
    LoadDirectory(nullptr);
    // A few entries are enough to reach every path; a directory of thousands of entries
    // that all point at one bomb would only test patience.
    for (std::size_t i = 0; i < rows.size() && i < 8; ++i) {
      bool password_abort = false;
      TestEntry(nullptr, rows[i].name, rows[i].entry, password_abort);
    }
    CloseArchiveFiles();
  } catch (const ProgramEnded&) {
    // FatalError or EndProgram: the archive files were closed on the way out.
  }
  ReleaseEntryTable();
  ::close(file);
  return 0;
}
