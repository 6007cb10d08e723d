#include "app/command.h"

#include "app/config_block.h"
#include "app/target_folder.h"
#include "archive/paths.h"
#include "base/text.h"
#include "platform/platform.h"

namespace selfx {

std::string CommandFile() {
  const std::string& command = SfxConfig.Command;
  return command.substr(0, command.find(' '));
}

std::string CommandParameters() {
  const std::string& command = SfxConfig.Command;
  std::string::size_type blank = command.find(' ');
  return blank == std::string::npos ? std::string() : command.substr(blank + 1);
}

int RunCommand() {
  if (SfxConfig.CommandLength() == 0) return 0;
  return platform::ShellOpen(CommandFile(), CommandParameters(), TargetFolder);
}

std::string DescribeCommand(const std::string& format) {
  // One placeholder filled after the other: a file name that itself holds "%s" receives the
  // parameters there, and the format's second "%s" stays as it is.
  std::string with_file = FormatWith(format, FileNamePart(CommandFile()));
  return FormatWith(with_file, FileNamePart(CommandParameters()));
}

std::string RunCheckboxText() { return DescribeCommand("After unzip, run %s %s"); }

std::string RunFailureText() { return DescribeCommand("Cannot run %s %s"); }

}  // namespace selfx
