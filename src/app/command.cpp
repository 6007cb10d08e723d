#include "app/command.h"

#include "app/config_block.h"
#include "app/target_folder.h"
#include "archive/paths.h"
#include "base/text.h"
#include "platform/platform.h"

namespace selfx {

std::string CommandPart(int which) {
  const std::string& command = SfxConfig.Command;
  std::string::size_type blank = command.find(' ');
  if (which == 1) return blank == std::string::npos ? command : command.substr(0, blank);
  return blank == std::string::npos ? std::string() : command.substr(blank + 1);
}

int RunCommand() {
  if (SfxConfig.CommandLength() == 0) return 0;
  return platform::ShellOpen(CommandPart(1), CommandPart(2), TargetFolder);
}

std::string DescribeCommand(const std::string& format) {
  return FormatWith2(format, FileNamePart(CommandPart(1)), FileNamePart(CommandPart(2)));
}

std::string RunCheckboxText() { return DescribeCommand("After unzip, run %s %s"); }

std::string RunFailureText() { return DescribeCommand("Cannot run %s %s"); }

}  // namespace selfx
