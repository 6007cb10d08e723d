// A whole archive as the stub reads it: the configuration block at offset 0, its trailer,
// the ZIP directory, and every entry's local header, password check and data decoded and
// CRC-checked. Damage ends the run with a fault, a normal outcome; everything else (a crash,
// a leak, a sanitizer report, a hang) is a find.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "app/config_block.h"
#include "app/session.h"
#include "archive/archive_file.h"
#include "archive/directory.h"
#include "archive/entry_extraction.h"
#include "archive/extraction.h"
#include "archive/zip_signatures.h"
#include "codec/crc32.h"
#include "codec/inflate.h"
#include "ui/ui.h"

namespace selfx {

// A silent user interface: every box is answered OK, every prompt cancelled.
int ShowMessage(WindowHandle, const std::string&, const std::string&, std::uint32_t) {
  return kIdOk;
}
void ShowError(WindowHandle, const std::string&) {}
void DeselectRow(WindowHandle, int) {}
void ShowFirstSelectedRow(WindowHandle) {}
void SetProgressRange(WindowHandle, int) {}
void SetProgressPosition(WindowHandle, int) {}
void PumpOneMessage(bool&) {}
ExistsAnswer FileExistsPrompt(WindowHandle, const std::string&) { return {false, false}; }
bool PasswordPrompt(WindowHandle, const std::string&, std::size_t, std::string& password) {
  password.clear();
  return false;
}

}  // namespace selfx

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  selfx::PrepareZipSignatures();
  selfx::BuildCrcTable();
  selfx::BuildFixedTables();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace selfx;
  int file = ::memfd_create("archive", 0);
  if (file < 0 || ::write(file, data, size) != static_cast<ssize_t>(size)) std::abort();
  Session session;
  Extraction& extraction = session.extraction;
  extraction.password = "password";
  if (OpenArchiveFile(extraction.archive, "/proc/self/fd/" + std::to_string(file)) &&
      LoadConfigAt(session, 0) == StartupOutcome::kProceed && LoadDirectory(extraction, true)) {
    // A few entries are enough to reach every path; a directory of thousands of entries
    // that all point at one bomb would only test patience.
    for (std::size_t i = 0; i < extraction.entries.size() && i < 8; ++i) {
      if (TestEntry(extraction, i) == EntryOutcome::kFatal) break;
    }
  }
  CloseArchiveFiles(extraction);
  ::close(file);
  return 0;
}
