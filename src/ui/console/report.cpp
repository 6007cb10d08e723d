#include "ui/console/report.h"

#include <cstdio>

#include "ui/console/printable.h"
#include "ui/console/progress.h"

namespace selfx::console {

namespace {
std::vector<std::string>& Lines() {
  static std::vector<std::string> lines;
  return lines;
}
}  // namespace

void ReportLine(const std::string& text) {
  ClearProgressLine();
  std::fprintf(stderr, "selfx: %s\n", Printable(text).c_str());
  Lines().push_back(text);
}

const std::vector<std::string>& ReportedLines() { return Lines(); }

}  // namespace selfx::console
