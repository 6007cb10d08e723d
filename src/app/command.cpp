#include "app/command.h"

#include "archive/paths.h"
#include "base/text.h"
#include "platform/platform.h"

namespace selfx {

std::string CommandFile(const std::string& command) { return command.substr(0, command.find(' ')); }

std::string CommandParameters(const std::string& command) {
  std::string::size_type blank = command.find(' ');
  return blank == std::string::npos ? std::string() : command.substr(blank + 1);
}

int RunCommand(const SfxConfigState& config, const std::string& folder) {
  if (config.CommandLength() == 0) return 0;
  return platform::ShellOpen(CommandFile(config.Command), CommandParameters(config.Command),
                             folder);
}

std::string DescribeCommand(const std::string& format, const std::string& command) {
  // One placeholder filled after the other: a file name that itself holds "%s" receives the
  // parameters there, and the format's second "%s" stays as it is.
  std::string with_file = FormatWith(format, FileNamePart(CommandFile(command)));
  return FormatWith(with_file, FileNamePart(CommandParameters(command)));
}

std::string RunCheckboxText(const std::string& command) {
  return DescribeCommand("After unzip, run %s %s", command);
}

std::string RunFailureText(const std::string& command) {
  return DescribeCommand("Cannot run %s %s", command);
}

}  // namespace selfx
