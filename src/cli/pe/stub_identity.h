// What the maker of an archive puts into its copy of the stub: an icon of their own, version
// information, and the execution level the manifest asks Windows for.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace selfx::cli {

// The string keys of the version information, in the order they are written.
constexpr std::size_t kVersionKeyCount = 8;
extern const char* const kVersionKeys[kVersionKeyCount];

struct StubIdentity {
  std::string icon_path;  // an .ico file; empty keeps the stub's icon
  // The values of kVersionKeys in UTF-16, unset where not given; none set: no version
  // information.
  std::array<std::optional<std::u16string>, kVersionKeyCount> version_strings;
  bool require_administrator = false;

  bool HasVersionInfo() const;
  bool Changes() const { return !icon_path.empty() || HasVersionInfo() || require_administrator; }
};

// Takes "KEY=VALUE" as given to --version-info (VALUE in the command line's encoding). False,
// with the reason, for an unknown key, a key given twice or a value that is not text.
bool AddVersionString(const std::string& argument, StubIdentity& identity, std::string& error_text);

// A version such as "1.2.3" or "2.0.1.7 beta" as the four 16-bit numbers of a version
// resource ("1.2.3" is 1.2.3.0): one to four decimal numbers separated by dots, optionally
// followed by text that starts with anything but a digit or a dot.
std::optional<std::array<std::uint16_t, 4>> ParseVersionNumber(const std::string& text);

// One image of an icon file with what its directory entry says about it.
struct IconImage {
  std::uint8_t width = 0;  // 0 stands for 256
  std::uint8_t height = 0;
  std::uint8_t color_count = 0;
  std::uint16_t planes = 0;
  std::uint16_t bit_count = 0;
  std::vector<std::uint8_t> data;  // a PNG file, or a bitmap without its file header
};

// The images of an .ico file, each checked: the header, the directory, every image inside the
// file and behind the directory, none overlapping another, and each a PNG or a bitmap of the
// size its entry gives. Nothing, with the reason, when the file fails one of these.
std::optional<std::vector<IconImage>> ParseIconFile(const std::vector<std::uint8_t>& file,
                                                    std::string& error_text);

// The VERSIONINFO resource for these strings: fixed information with the numeric file and
// product versions (taken from FileVersion and ProductVersion; one stands in for the other
// when only one is given), the strings for US English in UTF-16, and the translation table.
std::vector<std::uint8_t> VersionResource(const StubIdentity& identity);

// Rewrites the stub's resources with the identity: the icon group UNZIP and its images, the
// version information, the manifest's execution level. False, with a message that names the
// file at fault, when the icon file or the stub will not do.
bool ApplyStubIdentity(std::vector<std::uint8_t>& stub, const std::string& stub_path,
                       const StubIdentity& identity, std::string& error_text);

}  // namespace selfx::cli
