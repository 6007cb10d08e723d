// Turning the configured folder text into the initial target folder: plain paths, paths with
// environment variables, and the macros $T (a fresh folder under TEMP), $W (the Windows
// folder), $S (the system folder) and registry values ($HLM\key\value+suffix and friends).
#pragma once

#include <cstdint>
#include <string>

namespace selfx {

// The folder to extract into for the configured text; empty when none could be resolved.
std::string ResolveTargetFolder(std::uint8_t folder_length, const std::string& folder_text);

// %VAR% expansion; empty when the expansion fails or does not fit 518 characters.
std::string ExpandEnvironment(const std::string& text);
// The absolute, normalised path; empty on failure or when it does not fit 520 characters.
std::string FullPathOf(const std::string& text);
// The process's current directory.
std::string CurrentFolder();
enum class SystemFolder { System, Windows };
std::string SystemFolderPath(SystemFolder which);
// The registry value a macro names, followed by its suffix; empty when anything fails.
std::string RegistryFolder(const std::string& macro_text);
// TEMP\_zip0000 .. TEMP\_zip9999: the first name that does not exist yet.
std::string NewTempFolderName();

// A registry macro taken apart: root, key path, value name and suffix.
enum class RegistryRoot { None, CurrentUser, LocalMachine, Users };
struct RegistryMacro {
  RegistryRoot root = RegistryRoot::None;
  std::string key_path;
  std::string value_name;
  std::string suffix;
};
// Parses "ROOT\key\path\value+suffix". root is None when the text has no "\" or names no
// known root.
RegistryMacro ParseRegistryMacro(const std::string& macro_text);

}  // namespace selfx
