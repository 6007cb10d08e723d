// The selfx commands. Each takes the arguments after its name and returns the exit status:
// 0 success, 1 the work failed (a damaged file, a failed write), 2 bad usage.
#pragma once

#include <string>
#include <vector>

#include "archive/extraction.h"
#include "cli/front/command_line.h"

namespace selfx::cli {

int BuildCommand(const Arguments& arguments);
int InfoCommand(const Arguments& arguments);
int ListCommand(const Arguments& arguments);
int TestCommand(const Arguments& arguments);
int ExtractCommand(const Arguments& arguments);

// Opens a combined file or a plain ZIP as the extraction's archive (the ZIP starts behind the
// configuration trailer, or at 0) and reads its entries, all selected. False after saying why.
bool OpenArchive(const std::string& native_path, Extraction& extraction);
// Says what ended the extraction (its fault), as the stub would, naming a damaged archive.
void ReportFault(const Extraction& extraction);
struct TestSummary {
  int tested = 0;
  int failed = 0;
  bool stopped = false;       // no password, or Ctrl-C
  std::vector<bool> results;  // per row, in order, as far as the test went
};
// Decodes and CRC-checks every entry of the opened archive; with more than one job, entries
// are decoded ahead on that many threads, with the same results and messages. Ends early with
// the extraction's fault set when the archive cannot be read on.
TestSummary TestOpenedArchive(Extraction& extraction, unsigned jobs = 1);

}  // namespace selfx::cli
