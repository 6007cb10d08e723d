// A command of selfx as its help describes it, and the opening every command starts with:
// its arguments read against that description.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/front/command_line.h"

namespace selfx::cli {

// A command that takes any number of operands and judges them itself.
constexpr std::size_t kAnyOperands = SIZE_MAX;

// What a command's help says and what its command line may hold.
struct CommandDescription {
  const char* name;   // "list"
  const char* usage;  // what follows "usage: selfx ": "list [options] FILE"
  const char* about;  // the paragraph after the usage line
  std::vector<const OptionSpec*> options;
  const char* after;     // the text after the options (JSON shapes, exit status), or nullptr
  std::size_t operands;  // how many operands (files) the command takes, or kAnyOperands
  // The help --help prints when CommandHelp's is not enough (build's headings and flags).
  std::string (*help)() = nullptr;
  // What a usage error sends the user to; "selfx help NAME" when not given.
  const char* help_hint = nullptr;
};

// Options several commands share. The opening knows them by their long names, so a command
// may give one its own help text.
extern const OptionSpec kHelpOption;      // -h, --help
extern const OptionSpec kJsonOption;      // --json
extern const OptionSpec kQuietOption;     // -q, --quiet
extern const OptionSpec kProgressOption;  // --no-progress

// The command's help: usage, about, the options' lines, after.
std::string CommandHelp(const CommandDescription& command);

// A command's arguments as its opening read them.
struct CommandArguments {
  std::vector<CommandLineItem> options;  // the command's own options, in order
  std::vector<std::string> operands;
  bool quiet = false;  // -q, --quiet: no closing line
};

// Every command's opening: reads its arguments in one pass, and settles the options every
// command shares where they stand as options (never a value such as the one in
// "--caption --help"). With -h or --help it prints the help and returns 0, whatever else the
// line holds. --json asks for JSON output before anything can fail, so that a usage error
// ends in the one object too; --json, --quiet and --no-progress turn the progress bar off. On
// a command line it cannot read, or a wrong number of operands, it reports why and returns 2.
// Otherwise it returns nothing and fills read.
std::optional<int> OpenCommand(const Arguments& arguments, const CommandDescription& command,
                               CommandArguments& read);

}  // namespace selfx::cli
