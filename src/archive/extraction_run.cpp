#include "archive/extraction_run.h"

#include "archive/entry_extraction.h"
#include "archive/paths.h"
#include "base/text.h"
#include "ui/ui.h"

namespace selfx {

namespace {

bool EqualsIgnoringAsciiCase(const std::string& text, const char* upper) {
  return AsciiUpperCase(text) == upper;
}

// CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM1-9 and LPT1-9 name devices in every folder,
// whatever extension follows and whatever blanks stand before it; Windows takes the
// superscript digits of the ANSI code page (B9, B2, B3: one, two, three) for digits there.
bool IsDeviceName(const std::string& component) {
  std::string base = component.substr(0, component.find('.'));
  std::string::size_type end = base.find_last_not_of(' ');
  base = end == std::string::npos ? std::string() : base.substr(0, end + 1);
  for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
    if (EqualsIgnoringAsciiCase(base, device)) return true;
  }
  if (base.size() != 4) return false;
  auto digit = static_cast<unsigned char>(base[3]);
  if ((digit >= '1' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3) {
    std::string prefix = base.substr(0, 3);
    return EqualsIgnoringAsciiCase(prefix, "COM") || EqualsIgnoringAsciiCase(prefix, "LPT");
  }
  return false;
}

}  // namespace

std::string UnsafeNameReason(const std::string& name) {
  if (!name.empty() && (name[0] == '\\' || name[0] == '/')) return "its name is an absolute path";
  // A colon names a drive ("C:x") or, later in a name, a stream of another file.
  if (name.find(':') != std::string::npos) return "its name holds a drive or a colon";
  std::string::size_type start = 0;
  while (start <= name.size()) {
    std::string::size_type end = name.find_first_of("\\/", start);
    if (end == std::string::npos) end = name.size();
    std::string component = name.substr(start, end - start);
    // Windows drops trailing dots and blanks, so ".. " and "..." climb like "..", and ". "
    // or an all-blank name cannot be created at all. A lone "." names the folder it stands
    // in and is left out of the output path.
    bool dots_and_blanks = !component.empty() &&
                           component.find_first_not_of(". ") == std::string::npos;
    if (dots_and_blanks && component.find("..") != std::string::npos) {
      return "its name leads out of the target folder";
    }
    if (dots_and_blanks && component != ".") {
      return "its name holds a part of only dots and blanks";
    }
    if (IsDeviceName(component)) return "its name is a device name";
    start = end + 1;
  }
  return std::string();
}

void DropDotParts(std::string& path, std::string::size_type from) {
  std::string::size_type write = from;
  std::string::size_type start = from;
  for (std::string::size_type read = from; read <= path.size(); ++read) {
    if (read < path.size() && path[read] != '\\' && path[read] != '/') continue;
    bool dot = read - start == 1 && path[start] == '.';
    if (!dot) {
      // The separator that stood before the part, unless it is now the first.
      if (write > from) path[write++] = path[start - 1];
      while (start < read) path[write++] = path[start++];
    }
    start = read + 1;
  }
  path.resize(write);
}

bool ExtractSelected(Extraction& extraction, const std::string& target_folder) {
  platform::WindowHandle dialog = extraction.window;
  std::string& output_path = extraction.output_path;
  int row_count = static_cast<int>(extraction.entries.size());
  SetProgressRange(dialog, row_count);
  SetProgressPosition(dialog, 0);
  for (int row = 0; row < row_count; ++row) {
    PumpOneMessage(extraction.cancel_requested);
    if (extraction.cancel_requested) break;
    SetProgressPosition(dialog, row + 1);
    EntryRow& entry_row = extraction.entries[static_cast<std::size_t>(row)];
    if (!entry_row.selected) continue;

    const std::string& name = entry_row.name;
    output_path = WithTrailingBackslash(target_folder);
    extraction.name_start = output_path.size();
    output_path += name;
    DropDotParts(output_path, extraction.name_start);
    std::string reason = UnsafeNameReason(name);
    if (!reason.empty()) {
      // The entry stays selected, so the run reports failure; the others go on.
      ShowError(dialog, "Cannot unzip " + name + ": " + reason + ".");
      ++extraction.counts.failed;
      continue;
    }
    std::string parent = ParentFolder(output_path);
    if (!ForceFolders(parent)) {
      ShowError(dialog, FormatWith("Error in folder %s", parent));
      ++extraction.counts.failed;
      break;
    }
    if (extraction.overwrite_mode != kOverwrite && FileExists(output_path)) {
      // Any mode but these two asks, as "ask" does.
      bool overwrite = false;
      if (extraction.overwrite_mode != kDontOverwrite) {
        ExistsAnswer answer = FileExistsPrompt(dialog, output_path);
        overwrite = answer.overwrite;
        if (answer.dont_ask_again) {
          extraction.overwrite_mode = overwrite ? kOverwrite : kDontOverwrite;
        }
      }
      if (!overwrite) {
        ++extraction.counts.skipped;
        continue;
      }
    }
    EntryOutcome outcome = ExtractEntry(extraction, static_cast<std::size_t>(row));
    if (outcome == EntryOutcome::kFatal) return false;
    if (outcome == EntryOutcome::kDone) {
      entry_row.selected = false;
      DeselectRow(dialog, row);
      ++extraction.counts.extracted;
    } else {
      ++extraction.counts.failed;
    }
    if (outcome == EntryOutcome::kNoPassword) break;
  }
  bool left = false;
  for (const EntryRow& entry_row : extraction.entries) left |= entry_row.selected;
  if (left) ShowFirstSelectedRow(dialog);
  return !left;
}

}  // namespace selfx
