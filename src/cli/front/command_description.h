// A command of selfx as its help describes it, and the reading of its arguments against that.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cli/front/command_line.h"

namespace selfx::cli {

// What a command's help says and what its command line may hold.
struct CommandDescription {
  const char* name;   // "list"
  const char* usage;  // what follows "usage: selfx ": "list [options] FILE"
  const char* about;  // the paragraph after the usage line
  std::vector<const OptionSpec*> options;
  const char* after;     // the text after the options (JSON shapes, exit status), or nullptr
  std::size_t operands;  // how many operands (files) the command takes
};

// Options several commands share.
extern const OptionSpec kHelpOption;      // -h, --help
extern const OptionSpec kJsonOption;      // --json
extern const OptionSpec kQuietOption;     // -q, --quiet
extern const OptionSpec kProgressOption;  // --no-progress

// The command's help: usage, about, the options' lines, after.
std::string CommandHelp(const CommandDescription& command);

// Reads a command's arguments. With -h or --help anywhere before "--" it prints the help and
// returns 0; with --json it asks for JSON output before anything can fail. On a command line
// it cannot read, or a wrong number of operands, it reports why and returns 2. Otherwise it
// returns nothing and fills options (in order) and operands.
std::optional<int> ReadCommand(const Arguments& arguments, const CommandDescription& command,
                               std::vector<CommandLineItem>& options,
                               std::vector<std::string>& operands);

}  // namespace selfx::cli
