#include "app/target_folder.h"

#include "archive/paths.h"
#include "base/text.h"
#include "platform/platform.h"

namespace selfx {

namespace {

// The root macros in one text; where a macro first occurs selects the root, so a shortened
// macro selects whatever it matches first ($H finds "$HCU").
constexpr const char* kRootMacroList = "$CURUSER$HCU$LOCAL$HLM$USERS$HU";
constexpr std::size_t kExpansionLimit = 518;  // 519 bytes with the terminating zero
constexpr std::size_t kFullPathLimit = 519;   // 520 characters with the terminating zero
constexpr std::size_t kRegistryValueLimit = 520;

RegistryRoot RootAtPosition(std::size_t position) {
  switch (position) {
    case 1:
    case 9:
      return RegistryRoot::CurrentUser;
    case 13:
    case 19:
      return RegistryRoot::LocalMachine;
    case 23:
    case 29:
      return RegistryRoot::Users;
    default:
      return RegistryRoot::None;
  }
}

}  // namespace

std::string ExpandEnvironment(const std::string& text) {
  std::string expanded;
  if (!platform::ExpandEnvironmentVariables(text, expanded)) return std::string();
  // The system stops at the first zero byte, as a C string would.
  expanded = expanded.c_str();
  return expanded.size() > kExpansionLimit ? std::string() : expanded;
}

std::string FullPathOf(const std::string& text) {
  std::string full_path;
  if (text.empty() || !platform::FullPathName(text, full_path)) return std::string();
  return full_path.size() > kFullPathLimit ? std::string() : full_path;
}

std::string CurrentFolder() { return platform::CurrentDirectory(); }

std::string SystemFolderPath(SystemFolder which) {
  return which == SystemFolder::System ? platform::SystemDirectory() : platform::WindowsDirectory();
}

RegistryMacro ParseRegistryMacro(const std::string& macro_text) {
  RegistryMacro macro;
  std::string::size_type first_backslash = macro_text.find('\\');
  if (first_backslash == std::string::npos) return macro;
  std::string root_macro = AsciiUpperCase(macro_text.substr(0, first_backslash));
  std::string rest = macro_text.substr(first_backslash + 1);

  std::string::size_type plus = rest.find('+');
  if (plus != std::string::npos) {
    macro.suffix = rest.substr(plus + 1);
    rest.erase(plus);
  }
  std::string::size_type last_backslash = rest.rfind('\\');
  if (last_backslash != std::string::npos && last_backslash + 1 != rest.size()) {
    macro.value_name = rest.substr(last_backslash + 1);
    macro.key_path = rest.substr(0, last_backslash);
  } else {
    // No value name: the key's default value; a trailing backslash stays in the key path.
    macro.key_path = rest;
  }

  std::string::size_type found = root_macro.empty() ? std::string::npos
                                                    : std::string(kRootMacroList).find(root_macro);
  macro.root = found == std::string::npos ? RegistryRoot::None : RootAtPosition(found + 1);
  return macro;
}

std::string RegistryFolder(const std::string& macro_text) {
  RegistryMacro macro = ParseRegistryMacro(macro_text);
  if (macro.root == RegistryRoot::None) return std::string();
  std::string data;
  if (!platform::ReadRegistryValue(static_cast<int>(macro.root), macro.key_path, macro.value_name,
                                   kRegistryValueLimit, data)) {
    return std::string();
  }
  // The data less its last byte, the terminator of a string value. An empty value has no
  // terminator to drop.
  if (!data.empty()) data.pop_back();
  return data + macro.suffix;
}

std::string NewTempFolderName() {
  std::string base = WithTrailingBackslash(ExpandEnvironment("%temp%")) + "_zip";
  for (int n = 0; n <= 9999; ++n) {
    std::string candidate = base + DecimalText(static_cast<std::uint32_t>(n), 4);
    if (!FileExists(candidate)) return candidate;
  }
  return base;
}

std::string ResolveTargetFolder(std::uint8_t folder_length, const std::string& folder_text) {
  if (folder_length <= 1) return CurrentFolder();
  std::string text = folder_text;
  if (text[0] == '$') {
    switch (text[1]) {
      case 'T':
        text = NewTempFolderName();
        break;
      case 'W':
        text = SystemFolderPath(SystemFolder::Windows);
        break;
      case 'S':
        text = SystemFolderPath(SystemFolder::System);
        break;
      default:
        text = RegistryFolder(text);
        break;
    }
  }
  return FullPathOf(ExpandEnvironment(text));
}

}  // namespace selfx
