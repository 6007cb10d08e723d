// The command line of every selfx command, read as command-line tools conventionally read it.
#pragma once

#include <string>
#include <vector>

namespace selfx::cli {

// Exit statuses of every command: 0 success, 1 the work failed (a damaged file, a failed
// write), 2 bad usage.
constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

using Arguments = std::vector<std::string>;

// One option of a command.
struct OptionSpec {
  const char* short_name;  // the letter after "-", or nullptr
  const char* long_name;   // the name after "--"
  const char* value_name;  // the value as the help names it; nullptr for a flag
  const char* help;        // lines after the first are indented; nullptr: not shown
};

// An option with its value, or an operand, in the order given.
struct CommandLineItem {
  const OptionSpec* option = nullptr;  // nullptr for an operand
  std::string value;                   // the option's value, or the operand itself
  std::string spelling;                // the option as written ("-l", "--level")
};

// Reads the arguments against the options in one pass: "--name value", "--name=value",
// "-n value", "-nVALUE", flags together ("-qh"), and "--", after which everything is an
// operand (a lone "-" is always one). An option's value is whatever follows it, even a text
// that looks like an option ("-o --help" names a file "--help"). False with error_text on the
// first unknown option, missing value or value given to a flag; the reading still goes on to
// the end, so that items hold every option the line does hold (a "--help" after an unknown
// option is still there; the rest of a group of flags after an unknown letter is skipped, since
// that letter may have taken it as its value).
bool ReadCommandLine(const Arguments& arguments, const std::vector<const OptionSpec*>& options,
                     std::vector<CommandLineItem>& items, std::string& error_text);

// The option's line in a help text: "  -l, --level N" and its explanation from the column on.
std::string OptionHelpLine(const OptionSpec& option);
// The lines of every option that has a help text.
std::string OptionHelp(const std::vector<const OptionSpec*>& options);

// Prints "selfx: message" on stderr.
void ReportError(const std::string& message);

// This version of selfx, as --version prints it.
extern const char* const kVersion;

}  // namespace selfx::cli
