#include "app/command.h"

#include "app/config_block.h"
#include "app/program.h"
#include "archive/paths.h"

namespace selfx {

std::string CommandPart(int which) {
  const std::string& command = SfxConfig.Command;
  std::string::size_type blank = command.find(' ');
  if (which == 1) return blank == std::string::npos ? command : command.substr(0, blank);
  return blank == std::string::npos ? std::string() : command.substr(blank + 1);
}

std::string DescribeCommand(const std::string& format) {
  return FormatWith2(format, FileNamePart(CommandPart(1)), FileNamePart(CommandPart(2)));
}

std::string RunCheckboxText() { return DescribeCommand("After unzip, run %s %s"); }

std::string RunFailureText() { return DescribeCommand("Cannot run %s %s"); }

}  // namespace selfx
