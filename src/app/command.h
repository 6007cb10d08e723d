// The command opened through the shell after a successful extraction: a file, then after
// the first blank its parameters (no quoting; tabs do not separate).
#pragma once

#include <string>

#include "app/config_block.h"

namespace selfx {

// The file the command opens: the text before the first blank (the whole command when it
// has none).
std::string CommandFile(const std::string& command);
// The parameters passed to it: everything after the first blank, or nothing.
std::string CommandParameters(const std::string& command);
// Opens the configured command through the shell in folder; the shell's result (32 or less
// is a failure), or 0 when no command is configured.
int RunCommand(const SfxConfigState& config, const std::string& folder);
// The format's two "%s" filled in turn with the name parts of the file and of the
// parameters.
std::string DescribeCommand(const std::string& format, const std::string& command);
// "After unzip, run %s %s" filled in: the run checkbox's label.
std::string RunCheckboxText(const std::string& command);
// "Cannot run %s %s" filled in.
std::string RunFailureText(const std::string& command);

}  // namespace selfx
