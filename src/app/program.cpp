#include "app/program.h"

#include "app/config_block.h"
#include "app/target_folder.h"
#include "archive/archive_file.h"
#include "archive/extraction_state.h"
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

std::string FormatWith(const std::string& format, const std::string& argument) {
  std::string::size_type at = format.find("%s");
  if (at == std::string::npos) return format;
  std::string result = format;
  result.replace(at, 2, argument);
  return result;
}

std::string FormatWith2(const std::string& format, const std::string& first,
                        const std::string& second) {
  return FormatWith(FormatWith(format, first), second);
}

std::string DecimalText(std::uint32_t value, int min_digits) {
  char digits[10];
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  std::string text(count < min_digits ? static_cast<std::size_t>(min_digits - count) : 0, '0');
  while (count > 0) text += digits[--count];
  return text;
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
