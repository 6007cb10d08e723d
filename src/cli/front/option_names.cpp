#include "cli/front/option_names.h"

#include <cstdlib>

#include "app/config_block.h"

namespace selfx::cli {

const OptionName kOptionNames[8] = {
    {OptRunCheckbox, "run-checkbox", "offer the command as a ticked checkbox"},
    {OptUserSelects, "user-selects", "rows start selected; the user picks the files"},
    {OptHideOverwriteChoice, "hide-overwrite-choice",
     "no overwrite buttons; ask after a failed run"},
    {OptAutoRun, "auto-run", "start unzipping at once and close afterwards"},
    {OptQuietSuccess, "quiet-success", "no \"All files have been unzipped.\" message"},
    {OptListCollapsed, "list-collapsed", "open with the file list hidden"},
    {OptNoShowFiles, "no-show-files", "with list-collapsed: no \"Show files\" button"},
    {OptCancelAllowed, "cancel-allowed", "Close stays usable during a run and cancels it"},
};

namespace {

struct NamedValue {
  const char* name;
  std::uint32_t value;
};

constexpr NamedValue kButtons[] = {{"ok", 0},          {"okcancel", 1}, {"abortretryignore", 2},
                                   {"yesnocancel", 3}, {"yesno", 4},    {"retrycancel", 5}};
constexpr NamedValue kIcons[] = {
    {"error", 0x10}, {"question", 0x20}, {"warning", 0x30}, {"information", 0x40}};
constexpr NamedValue kModes[] = {
    {"overwrite", kOverwrite}, {"skip", kDontOverwrite}, {"ask", kAsk}};

template <std::size_t N>
std::optional<std::uint32_t> Lookup(const NamedValue (&table)[N], const std::string& name) {
  for (const NamedValue& entry : table) {
    if (name == entry.name) return entry.value;
  }
  return std::nullopt;
}

template <std::size_t N>
const char* NameOf(const NamedValue (&table)[N], std::uint32_t value) {
  for (const NamedValue& entry : table) {
    if (entry.value == value) return entry.name;
  }
  return nullptr;
}

}  // namespace

std::optional<std::uint32_t> ParseNumber(const std::string& text, std::uint32_t max) {
  if (text.empty() || text[0] == '-' || text[0] == '+') return std::nullopt;
  char* end = nullptr;
  unsigned long long value = std::strtoull(text.c_str(), &end, 0);
  if (end == text.c_str() || *end != '\0' || value > max) return std::nullopt;
  return static_cast<std::uint32_t>(value);
}

std::optional<std::uint8_t> ParseOverwriteMode(const std::string& text) {
  if (std::optional<std::uint32_t> mode = Lookup(kModes, text)) {
    return static_cast<std::uint8_t>(*mode);
  }
  if (std::optional<std::uint32_t> number = ParseNumber(text, kAsk)) {
    return static_cast<std::uint8_t>(*number);
  }
  return std::nullopt;
}

const char* OverwriteModeName(std::uint8_t mode) {
  const char* name = NameOf(kModes, mode);
  return name != nullptr ? name : "ask (unknown value)";
}

std::optional<std::uint32_t> ParseMessageStyle(const std::string& text) {
  if (std::optional<std::uint32_t> number = ParseNumber(text, 0xFFFFFFFF)) return number;
  std::string::size_type plus = text.find('+');
  std::optional<std::uint32_t> buttons = Lookup(kButtons, text.substr(0, plus));
  if (!buttons) return std::nullopt;
  if (plus == std::string::npos) return buttons;
  std::optional<std::uint32_t> icon = Lookup(kIcons, text.substr(plus + 1));
  if (!icon) return std::nullopt;
  return *buttons | *icon;
}

std::string DescribeMessageStyle(std::uint32_t style) {
  const char* buttons = NameOf(kButtons, style & 0x0F);
  const char* icon = NameOf(kIcons, style & 0xF0);
  if (buttons == nullptr || (style & ~0xFFu) != 0 || ((style & 0xF0) != 0 && icon == nullptr)) {
    return "custom";
  }
  return icon == nullptr ? std::string(buttons) : std::string(buttons) + "+" + icon;
}

}  // namespace selfx::cli
