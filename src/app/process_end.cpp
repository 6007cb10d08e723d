#include "app/process_end.h"

#include "app/config_block.h"
#include "app/target_folder.h"
#include "archive/archive_file.h"
#include "archive/extraction_state.h"
#include "base/fatal_error.h"
#include "platform/platform.h"
#include "ui/ui.h"

namespace selfx {

namespace {
std::uint32_t exit_code_of_process = 0;
}

void FatalError(const std::string& message) {
  if (!message.empty()) ShowError(nullptr, message);
  EndProgram(1);
}

void EndProgram(std::uint32_t exit_code) {
  exit_code_of_process = exit_code;
  CloseArchiveFiles();
  ReleaseProgramTexts();
  platform::ExitProcess(exit_code_of_process);
}

void ReleaseProgramTexts() {
  SfxConfig.Caption = std::string();
  SfxConfig.Command = std::string();
  SfxConfig.Message = std::string();
  TargetFolder = std::string();
  ArchiveFile.path = std::string();
  OutputFile.path = std::string();
}

}  // namespace selfx
