#include "cli/pack/entry_names.h"

#include <cstring>

#include "archive/extraction_run.h"
#include "archive/zip_format.h"

namespace selfx::cli {

namespace {

bool IsControlCharacter(char c) {
  auto byte = static_cast<unsigned char>(c);
  return byte < 0x20 || byte == 0x7F;
}

// The characters Windows refuses in a name, and the trailing dots and blanks it drops.
std::string ComponentProblem(const std::string& part, bool backslash_separates) {
  for (char c : part) {
    if (std::strchr("<>:\"|?*", c) != nullptr || (c == '\\' && !backslash_separates)) {
      return "holds a character Windows does not allow in names";
    }
  }
  // A lone "." names the folder it stands in; the stub leaves it out.
  if (!part.empty() && part != "." && (part.back() == '.' || part.back() == ' ')) {
    return "ends in a dot or a blank, which Windows drops";
  }
  return std::string();
}

}  // namespace

std::string EntryNameProblem(const std::string& stored, const std::string& shown,
                             bool backslash_separates) {
  if (stored.empty()) return "has an empty name";
  // The stub's directory reader stops at a longer name and calls the whole archive corrupt.
  if (stored.size() > zip::kMaxNameLength) {
    return "has a name of " + std::to_string(stored.size()) + " bytes; the stub reads at most " +
           std::to_string(zip::kMaxNameLength);
  }
  for (char c : shown) {
    if (IsControlCharacter(c)) return "holds a control character in its name";
  }
  // A ready ZIP's drive or absolute path is named as such first; a colon in a file's name on
  // disk is just a character Windows does not allow.
  std::string unsafe = UnsafeNameReason(shown);
  if (!unsafe.empty() && backslash_separates) return "is refused by the stub: " + unsafe;
  const char* separators = backslash_separates ? "/\\" : "/";
  std::string::size_type start = 0;
  while (start < shown.size()) {
    std::string::size_type end = shown.find_first_of(separators, start);
    if (end == std::string::npos) end = shown.size();
    std::string problem = ComponentProblem(shown.substr(start, end - start), backslash_separates);
    if (!problem.empty()) return problem;
    start = end + 1;
  }
  // The stub refuses the same names (drives, "..", devices); say so before building.
  if (!unsafe.empty()) return "is refused by the stub: " + unsafe;
  return std::string();
}

}  // namespace selfx::cli
