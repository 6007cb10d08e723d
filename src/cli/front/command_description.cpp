#include "cli/front/command_description.h"

#include <cstdio>

#include "cli/front/json.h"
#include "ui/console/console_ui.h"

namespace selfx::cli {

const OptionSpec kHelpOption{"h", "help", nullptr, "show this help"};
const OptionSpec kJsonOption{nullptr, "json", nullptr, "print one JSON object (see below)"};
const OptionSpec kQuietOption{"q", "quiet", nullptr, "no progress bar and no closing line"};
const OptionSpec kProgressOption{nullptr, "no-progress", nullptr, "no progress bar"};

std::string CommandHelp(const CommandDescription& command) {
  std::string help = std::string("usage: selfx ") + command.usage + "\n\n" + command.about;
  help += "\nOptions:\n" + OptionHelp(command.options);
  if (command.after != nullptr) help = help + "\n" + command.after;
  return help;
}

std::optional<int> ReadCommand(const Arguments& arguments, const CommandDescription& command,
                               std::vector<CommandLineItem>& options,
                               std::vector<std::string>& operands) {
  bool takes_json = false;
  for (const OptionSpec* option : command.options) takes_json |= option == &kJsonOption;
  for (const std::string& argument : arguments) {
    if (argument == "--") break;
    if (argument == "-h" || argument == "--help") {
      std::fputs(CommandHelp(command).c_str(), stdout);
      return kExitSuccess;
    }
    if (argument == "--json" && takes_json) {
      RequestJsonOutput();
      console::Settings().show_progress = false;
    }
  }
  std::vector<CommandLineItem> items;
  std::string error_text;
  if (!ReadCommandLine(arguments, command.options, items, error_text)) {
    ReportError(error_text + " (see selfx help " + command.name + ")");
    return kExitUsage;
  }
  for (CommandLineItem& item : items) {
    if (item.option == nullptr) {
      operands.push_back(item.value);
    } else {
      options.push_back(item);
    }
  }
  if (operands.size() != command.operands) {
    ReportError(std::string(operands.empty() ? "no file given" : "too many files given") +
                "; usage: selfx " + command.usage + " (see selfx help " + command.name + ")");
    return kExitUsage;
  }
  return std::nullopt;
}

}  // namespace selfx::cli
