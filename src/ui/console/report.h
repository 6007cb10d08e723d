// Messages of the command-line tool: "selfx: text" on stderr, escaped, clear of the progress
// line, and gathered for the one JSON object that --json promises.
#pragma once

#include <string>
#include <vector>

namespace selfx::console {

// Prints "selfx: text" on stderr. The text is in the terminal's encoding; control characters
// in it are escaped.
void ReportLine(const std::string& text);

// Every text ReportLine printed, in order.
const std::vector<std::string>& ReportedLines();

}  // namespace selfx::console
