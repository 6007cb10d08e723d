#include "ui/console/console_ui.h"

#include <cstdio>

#include "platform/platform.h"
#include "ui/ui.h"

namespace selfx {

namespace console {
std::vector<FileRow>& FileRows() {
  static std::vector<FileRow> rows;
  return rows;
}
}  // namespace console

int ShowMessage(WindowHandle, const std::string& text, const std::string& caption,
                std::uint32_t flags) {
  // A console has no one to answer a box: notices go to stderr and count as OK.
  bool error = (flags & kMbIconError) != 0;
  std::fprintf(stderr, "%s%s\n", error ? "selfx: " : "",
               platform::AnsiToConsole(error ? text : caption + ": " + text).c_str());
  return kIdOk;
}

void ShowError(WindowHandle owner, const std::string& text) {
  ShowMessage(owner, text, "Error", kMbIconError);
}

void AddFileRow(WindowHandle, const std::string& name, const ArchiveEntry& entry) {
  console::FileRows().push_back({name, entry});
}

}  // namespace selfx
