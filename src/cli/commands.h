// The selfx commands. Each takes the arguments after its name and returns the exit status:
// 0 success, 1 the work failed (a damaged file, a failed write), 2 bad usage.
#pragma once

#include <string>
#include <vector>

namespace selfx::cli {

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

using Arguments = std::vector<std::string>;

int BuildCommand(const Arguments& arguments);
int InfoCommand(const Arguments& arguments);
int ListCommand(const Arguments& arguments);
int TestCommand(const Arguments& arguments);
int ExtractCommand(const Arguments& arguments);

// Prints "selfx: message" on stderr.
void ReportError(const std::string& message);

}  // namespace selfx::cli
