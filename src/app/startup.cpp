#include "app/startup.h"

#include "app/config_block.h"
#include "archive/archive_file.h"
#include "archive/zip_signatures.h"
#include "base/fatal_error.h"
#include "codec/crc32.h"
#include "codec/inflate.h"
#include "platform/platform.h"
#include "ui/ui.h"

namespace selfx {

void RunStub() {
  // Before the main sequence: the signatures the directory reader compares against, the
  // fixed deflate tables, and the caption every box shows until a configured one replaces it.
  PrepareZipSignatures();
  BuildFixedTables();
  SfxConfig.Caption = kDefaultCaption;

  InitializeCommonControls();
  OpenArchiveFile(platform::ModulePath());
  BuildCrcTable();
  LoadConfig();
  ObtainSystemImageList(ArchiveFile.path);
  RunMainDialog();
  EndProgram(0);
}

}  // namespace selfx
