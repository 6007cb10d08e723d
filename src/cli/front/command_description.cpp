#include "cli/front/command_description.h"

#include <cstdio>
#include <cstring>

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

namespace {

bool Is(const CommandLineItem& item, const OptionSpec& shared) {
  return item.option != nullptr && std::strcmp(item.option->long_name, shared.long_name) == 0;
}

std::string HelpHint(const CommandDescription& command) {
  return command.help_hint != nullptr ? command.help_hint
                                      : std::string("selfx help ") + command.name;
}

}  // namespace

std::optional<int> OpenCommand(const Arguments& arguments, const CommandDescription& command,
                               CommandArguments& read) {
  std::vector<CommandLineItem> items;
  std::string error_text;
  bool readable = ReadCommandLine(arguments, command.options, items, error_text);
  for (const CommandLineItem& item : items) {
    if (Is(item, kHelpOption)) {
      std::fputs((command.help != nullptr ? command.help() : CommandHelp(command)).c_str(), stdout);
      return kExitSuccess;
    }
  }
  for (const CommandLineItem& item : items) {
    if (Is(item, kJsonOption)) {
      RequestJsonOutput();
      console::Settings().show_progress = false;
    }
  }
  if (!readable) {
    ReportError(error_text + " (see " + HelpHint(command) + ")");
    return kExitUsage;
  }
  for (CommandLineItem& item : items) {
    if (item.option == nullptr) {
      read.operands.push_back(item.value);
    } else if (Is(item, kQuietOption) || Is(item, kProgressOption)) {
      read.quiet |= Is(item, kQuietOption);
      console::Settings().show_progress = false;
    } else if (!Is(item, kJsonOption)) {
      read.options.push_back(item);
    }
  }
  if (command.operands != kAnyOperands && read.operands.size() != command.operands) {
    ReportError(std::string(read.operands.empty() ? "no file given" : "too many files given") +
                "; usage: selfx " + command.usage + " (see " + HelpHint(command) + ")");
    return kExitUsage;
  }
  return std::nullopt;
}

}  // namespace selfx::cli
