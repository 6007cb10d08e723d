#include "stub/startup.h"

#include "app/config_block.h"
#include "app/session.h"
#include "archive/directory.h"
#include "archive/zip_signatures.h"
#include "codec/crc32.h"
#include "codec/inflate.h"
#include "platform/platform.h"
#include "stub/process_end.h"
#include "ui/ui.h"
#include "ui/win32/main_dialog.h"

namespace selfx {

void RunStub() {
  // Before the main sequence: the signatures the directory reader compares against, the
  // fixed deflate tables, and the caption every box shows until a configured one replaces it.
  PrepareZipSignatures();
  BuildFixedTables();
  Session session;
  SetSessionToEnd(&session);
  Extraction& extraction = session.extraction;

  InitializeCommonControls();
  if (!OpenArchiveFile(extraction.archive, platform::ModulePath())) {
    extraction.fault = Fault::kReadingZip;
    EndWithFault(extraction);
  }
  BuildCrcTable();
  StartupOutcome startup = LoadConfig(session);
  if (startup == StartupOutcome::kDeclined) EndProgram(0);
  // The rows start selected only where the user picks the files from them.
  if (startup == StartupOutcome::kCorrupt) {
    extraction.fault = Fault::kCorrupt;
  } else {
    ObtainSystemImageList(extraction.archive.path);
    if (LoadDirectory(extraction, session.HasOption(OptUserSelects))) RunMainDialog(session);
  }
  if (extraction.fault != Fault::kNone) EndWithFault(extraction);
  EndProgram(0);
}

}  // namespace selfx
