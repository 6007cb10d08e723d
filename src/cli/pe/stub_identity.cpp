#include "cli/pe/stub_identity.h"

#include <algorithm>
#include <cstring>

#include "archive/zip_signatures.h"
#include "base/byte_order.h"
#include "base/utf8.h"
#include "cli/pe/resource_section.h"
#include "platform/native_file.h"
#include "platform/platform.h"

namespace selfx::cli {

const char* const kVersionKeys[kVersionKeyCount] = {
    "FileDescription", "CompanyName",    "ProductName",      "FileVersion",
    "ProductVersion",  "LegalCopyright", "OriginalFilename", "Comments",
};

namespace {

constexpr std::size_t kFileVersionKey = 3;
constexpr std::size_t kProductVersionKey = 4;

// The dialogs show the icon by this name, so the maker's icon takes it over.
const std::u16string kIconGroupName = u"UNZIP";
constexpr std::uint16_t kUsEnglish = 0x0409;
constexpr std::uint16_t kUnicodeCodePage = 1200;  // 0x04B0: UTF-16

// An icon file: a 6-byte header (reserved 0, type 1 for icons, the image count), then one
// 16-byte entry per image: width, height (0 for 256), colour count, reserved, planes, bits per
// pixel, the image's size and its offset in the file.
constexpr std::size_t kIconHeaderSize = 6;
constexpr std::size_t kIconEntrySize = 16;
constexpr std::uint16_t kIconType = 1;
constexpr std::uint16_t kCursorType = 2;
constexpr std::size_t kMostIconImages = 256;
constexpr std::uint64_t kLargestIconFile = 16u << 20;
// In a resource the images are separate RT_ICON resources, and the group keeps a 14-byte
// entry per image: the first 12 bytes of the file's entry, then the image's resource number.
constexpr std::size_t kGroupEntrySize = 14;

const std::uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

std::uint32_t LoadBe32(const std::uint8_t* bytes) {
  return std::uint32_t{bytes[0]} << 24 | std::uint32_t{bytes[1]} << 16 |
         std::uint32_t{bytes[2]} << 8 | bytes[3];
}

std::uint32_t Pixels(std::uint8_t entry_size) { return entry_size == 0 ? 256 : entry_size; }

// UTF-8 as UTF-16; nothing when the text is not well-formed UTF-8.
std::optional<std::u16string> Utf8ToUtf16(const std::string& text) {
  std::u16string wide;
  for (std::size_t at = 0; at < text.size();) {
    std::size_t length = Utf8SequenceLength(text, at);
    if (length == 0) return std::nullopt;
    auto byte = [&](std::size_t i) {
      return static_cast<std::uint32_t>(static_cast<unsigned char>(text[at + i]));
    };
    std::uint32_t code = length == 1 ? byte(0) : byte(0) & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) code = code << 6 | (byte(i) & 0x3F);
    if (code >= 0x10000) {
      code -= 0x10000;
      wide += static_cast<char16_t>(0xD800 + (code >> 10));
      wide += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
    } else {
      wide += static_cast<char16_t>(code);
    }
    at += length;
  }
  return wide;
}

// The command line's text as UTF-8: Windows hands the ANSI entry point its code page's bytes.
std::string CommandLineTextToUtf8(const std::string& text) {
#ifdef _WIN32
  return platform::AnsiToUtf8Text(text);
#else
  return text;
#endif
}

// Checks a bitmap image (a BITMAPINFOHEADER, the palette, the colour rows and the rows of the
// transparency mask, both stored for twice the icon's height) against its directory entry,
// and fills in planes and bit count where the entry leaves them 0.
bool CheckBitmap(IconImage& image, std::string& problem) {
  const std::vector<std::uint8_t>& data = image.data;
  if (data.size() < 40) {
    problem = "is neither a PNG image nor a bitmap";
    return false;
  }
  std::uint32_t header_size = LoadLe32(data.data());
  if (header_size != 40 && header_size != 108 && header_size != 124) {
    problem = "is neither a PNG image nor a bitmap (its header is " + std::to_string(header_size) +
              " bytes)";
    return false;
  }
  auto width = static_cast<std::int32_t>(LoadLe32(data.data() + 4));
  auto height = static_cast<std::int32_t>(LoadLe32(data.data() + 8));
  std::uint16_t planes = LoadLe16(data.data() + 12);
  std::uint16_t bits = LoadLe16(data.data() + 14);
  std::uint32_t compression = LoadLe32(data.data() + 16);
  std::uint32_t colors_used = LoadLe32(data.data() + 32);
  std::uint32_t entry_width = Pixels(image.width);
  std::uint32_t entry_height = Pixels(image.height);
  if (width <= 0 || height <= 0 || static_cast<std::uint32_t>(width) != entry_width ||
      static_cast<std::uint32_t>(height) != 2 * entry_height) {
    problem = "is a bitmap of " + std::to_string(width) + " x " + std::to_string(height / 2) +
              " pixels, while its entry says " + std::to_string(entry_width) + " x " +
              std::to_string(entry_height);
    return false;
  }
  bool known_bits = bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
  if (planes != 1 || !known_bits || (compression != 0 && compression != 3) || colors_used > 256) {
    problem = "is a bitmap of a kind icons do not use (" + std::to_string(bits) +
              " bits per pixel, compression " + std::to_string(compression) + ")";
    return false;
  }
  std::uint64_t palette = colors_used != 0 ? colors_used : bits <= 8 ? 1u << bits : 0;
  std::uint64_t masks = compression == 3 && header_size == 40 ? 12 : 0;
  std::uint64_t color_row = (std::uint64_t{entry_width} * bits + 31) / 32 * 4;
  std::uint64_t mask_row = (std::uint64_t{entry_width} + 31) / 32 * 4;
  // 32-bit images carry their transparency in the pixels; writers still add the mask, but
  // the system does without it.
  std::uint64_t needed = header_size + palette * 4 + masks +
                         (color_row + (bits == 32 ? 0 : mask_row)) * entry_height;
  if (data.size() < needed) {
    problem = "is a bitmap cut short (" + std::to_string(data.size()) + " bytes of " +
              std::to_string(needed) + ")";
    return false;
  }
  if (image.planes == 0) image.planes = 1;
  if (image.bit_count == 0) image.bit_count = bits;
  return true;
}

// Checks a PNG image's header (its signature, then the IHDR chunk with width and height)
// against its directory entry.
bool CheckPng(IconImage& image, std::string& problem) {
  const std::vector<std::uint8_t>& data = image.data;
  // Signature, chunk length and type, width, height, bit depth, colour type.
  if (data.size() < 26 || std::memcmp(data.data() + 12, "IHDR", 4) != 0) {
    problem = "is a PNG image without its header chunk";
    return false;
  }
  std::uint32_t width = LoadBe32(data.data() + 16);
  std::uint32_t height = LoadBe32(data.data() + 20);
  if (width != Pixels(image.width) || height != Pixels(image.height)) {
    problem = "is a PNG image of " + std::to_string(width) + " x " + std::to_string(height) +
              " pixels, while its entry says " + std::to_string(Pixels(image.width)) + " x " +
              std::to_string(Pixels(image.height));
    return false;
  }
  if (image.planes == 0) image.planes = 1;
  if (image.bit_count == 0) image.bit_count = 32;
  return true;
}

// The resource numbers of a group's images; none when the group is not a sound one.
std::vector<std::uint16_t> GroupImageNumbers(const std::vector<std::uint8_t>& group) {
  std::vector<std::uint16_t> numbers;
  if (group.size() < kIconHeaderSize) return numbers;
  std::size_t count = LoadLe16(group.data() + 4);
  for (std::size_t i = 0; i < count; ++i) {
    std::size_t entry = kIconHeaderSize + i * kGroupEntrySize;
    if (entry + kGroupEntrySize > group.size()) break;
    numbers.push_back(LoadLe16(group.data() + entry + 12));
  }
  return numbers;
}

bool IsIconGroup(const Resource& resource) {
  return resource.type == ResourceKey::Number(kResourceGroupIcon) &&
         resource.name == ResourceKey::Text(kIconGroupName);
}

// Replaces the group UNZIP, and the images it names, by the icon file's images, numbered
// with the lowest numbers no other icon image uses.
void ReplaceIconGroup(std::vector<Resource>& resources, const std::vector<IconImage>& images) {
  std::uint16_t language = kUsEnglish;
  std::vector<std::uint16_t> old_numbers;
  for (const Resource& resource : resources) {
    if (!IsIconGroup(resource)) continue;
    language = resource.language;
    std::vector<std::uint16_t> numbers = GroupImageNumbers(resource.data);
    old_numbers.insert(old_numbers.end(), numbers.begin(), numbers.end());
  }
  auto removed = [&](const Resource& resource) {
    if (IsIconGroup(resource)) return true;
    return resource.type == ResourceKey::Number(kResourceIcon) && !resource.name.is_text &&
           std::find(old_numbers.begin(), old_numbers.end(), resource.name.number) !=
               old_numbers.end();
  };
  resources.erase(std::remove_if(resources.begin(), resources.end(), removed), resources.end());

  Resource group{
      ResourceKey::Number(kResourceGroupIcon), ResourceKey::Text(kIconGroupName), language, 0, {}};
  group.data.resize(kIconHeaderSize + images.size() * kGroupEntrySize);
  StoreLe16(group.data.data() + 2, kIconType);
  StoreLe16(group.data.data() + 4, static_cast<std::uint16_t>(images.size()));
  std::uint16_t number = 0;
  for (std::size_t i = 0; i < images.size(); ++i) {
    auto taken = [&](std::uint16_t candidate) {
      return std::any_of(resources.begin(), resources.end(), [&](const Resource& resource) {
        return resource.type == ResourceKey::Number(kResourceIcon) &&
               resource.name == ResourceKey::Number(candidate);
      });
    };
    do ++number;
    while (taken(number));
    const IconImage& image = images[i];
    std::uint8_t* entry = group.data.data() + kIconHeaderSize + i * kGroupEntrySize;
    entry[0] = image.width;
    entry[1] = image.height;
    entry[2] = image.color_count;
    StoreLe16(entry + 4, image.planes);
    StoreLe16(entry + 6, image.bit_count);
    StoreLe32(entry + 8, static_cast<std::uint32_t>(image.data.size()));
    StoreLe16(entry + 12, number);
    resources.push_back(
        {ResourceKey::Number(kResourceIcon), ResourceKey::Number(number), language, 0, image.data});
  }
  resources.push_back(std::move(group));
}

// One block of the version information: its length, the length of its value (in 16-bit
// units for text, in bytes otherwise), whether the value is text, its key as UTF-16 with a
// terminator, then the value and the child blocks, each on a 4-byte boundary.
class VersionBlock {
 public:
  VersionBlock(const std::u16string& key, bool text_value) {
    bytes_.resize(6);
    StoreLe16(bytes_.data() + 4, text_value ? 1 : 0);
    AppendText(key);
    Align();
  }

  VersionBlock& Value(const std::vector<std::uint8_t>& value, std::uint16_t length) {
    bytes_.insert(bytes_.end(), value.begin(), value.end());
    StoreLe16(bytes_.data() + 2, length);
    return *this;
  }
  VersionBlock& TextValue(const std::u16string& text) {
    AppendText(text);
    StoreLe16(bytes_.data() + 2, static_cast<std::uint16_t>(text.size() + 1));
    return *this;
  }
  VersionBlock& Child(const VersionBlock& child) {
    Align();
    std::vector<std::uint8_t> child_bytes = child.Bytes();
    bytes_.insert(bytes_.end(), child_bytes.begin(), child_bytes.end());
    return *this;
  }
  std::vector<std::uint8_t> Bytes() const {
    std::vector<std::uint8_t> bytes = bytes_;
    StoreLe16(bytes.data(), static_cast<std::uint16_t>(bytes.size()));
    return bytes;
  }

 private:
  void AppendText(const std::u16string& text) {
    for (char16_t unit : text) {
      bytes_.push_back(static_cast<std::uint8_t>(unit));
      bytes_.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    bytes_.push_back(0);
    bytes_.push_back(0);
  }
  void Align() { bytes_.resize((bytes_.size() + 3) / 4 * 4, 0); }

  std::vector<std::uint8_t> bytes_;
};

std::u16string Ascii16(const char* text) { return std::u16string(text, text + std::strlen(text)); }

std::uint32_t VersionHigh(const std::array<std::uint16_t, 4>& version) {
  return std::uint32_t{version[0]} << 16 | version[1];
}
std::uint32_t VersionLow(const std::array<std::uint16_t, 4>& version) {
  return std::uint32_t{version[2]} << 16 | version[3];
}

// The numeric version of one of the two version strings, UTF-16 of ASCII digits and dots.
std::array<std::uint16_t, 4> NumericVersion(const std::optional<std::u16string>& text) {
  if (!text) return {};
  std::string narrow;
  for (char16_t unit : *text) narrow += unit < 0x80 ? static_cast<char>(unit) : '?';
  return ParseVersionNumber(narrow).value_or(std::array<std::uint16_t, 4>{});
}

bool RequireAdministrator(std::vector<Resource>& resources, const std::string& stub_path,
                          std::string& error_text) {
  const std::string as_invoker = "level=\"asInvoker\"";
  const std::string administrator = "level=\"requireAdministrator\"";
  for (Resource& resource : resources) {
    if (!(resource.type == ResourceKey::Number(kResourceManifest))) continue;
    std::string manifest(resource.data.begin(), resource.data.end());
    std::string::size_type at = manifest.find(as_invoker);
    if (at == std::string::npos) break;
    manifest.replace(at, as_invoker.size(), administrator);
    resource.data.assign(manifest.begin(), manifest.end());
    return true;
  }
  error_text = stub_path +
               ": the stub's manifest has no execution level asInvoker for --admin to replace";
  return false;
}

// Where the image holds one of the ZIP record signatures as plain bytes, or nothing.
std::optional<std::size_t> FindZipSignature(const std::vector<std::uint8_t>& image) {
  const std::uint32_t signatures[] = {LocalHeaderSignature, CentralHeaderSignature,
                                      EndRecordSignature, 0x08074B50 /* data descriptor */};
  for (std::size_t at = 0; at + 4 <= image.size(); ++at) {
    std::uint32_t value = LoadLe32(image.data() + at);
    for (std::uint32_t signature : signatures) {
      if (value == signature) return at;
    }
  }
  return std::nullopt;
}

}  // namespace

bool StubIdentity::HasVersionInfo() const {
  return std::any_of(version_strings.begin(), version_strings.end(),
                     [](const std::optional<std::u16string>& value) { return value.has_value(); });
}

bool AddVersionString(const std::string& argument, StubIdentity& identity,
                      std::string& error_text) {
  std::string::size_type equals = argument.find('=');
  std::string key = argument.substr(0, equals);
  std::size_t index = 0;
  while (index < kVersionKeyCount && key != kVersionKeys[index]) ++index;
  if (equals == std::string::npos || index == kVersionKeyCount) {
    error_text = "--version-info: expected KEY=VALUE with KEY one of";
    for (const char* known : kVersionKeys) error_text += std::string(" ") + known;
    error_text += ", not \"" + argument + "\"";
    return false;
  }
  if (identity.version_strings[index]) {
    error_text = "--version-info: " + key + " is given twice";
    return false;
  }
  std::optional<std::u16string> value = Utf8ToUtf16(
      CommandLineTextToUtf8(argument.substr(equals + 1)));
  if (!value) {
    error_text = "--version-info: the value of " + key + " is not UTF-8 text";
    return false;
  }
  if (value->size() > 1000) {
    error_text = "--version-info: the value of " + key + " is longer than 1000 characters";
    return false;
  }
  if ((index == kFileVersionKey || index == kProductVersionKey) &&
      !ParseVersionNumber(argument.substr(equals + 1))) {
    error_text = "--version-info: " + key + " must start with a version such as 1.2.3 (up to " +
                 "four numbers from 0 to 65535), not \"" + argument.substr(equals + 1) + "\"";
    return false;
  }
  identity.version_strings[index] = *value;
  return true;
}

std::optional<std::array<std::uint16_t, 4>> ParseVersionNumber(const std::string& text) {
  std::array<std::uint16_t, 4> version{};
  std::size_t at = 0;
  for (std::size_t part = 0;; ++part) {
    std::size_t start = at;
    std::uint32_t value = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9' && at - start < 6) {
      value = value * 10 + static_cast<std::uint32_t>(text[at++] - '0');
    }
    if (at == start || value > 0xFFFF || part == 4) return std::nullopt;
    version[part] = static_cast<std::uint16_t>(value);
    if (at == text.size() || text[at] != '.') break;
    ++at;
  }
  if (at < text.size() && text[at] >= '0' && text[at] <= '9') return std::nullopt;
  return version;
}

std::optional<std::vector<IconImage>> ParseIconFile(const std::vector<std::uint8_t>& file,
                                                    std::string& error_text) {
  if (file.size() < kIconHeaderSize || LoadLe16(file.data()) != 0) {
    error_text = "not an icon file";
    return std::nullopt;
  }
  std::uint16_t type = LoadLe16(file.data() + 2);
  if (type != kIconType) {
    error_text = type == kCursorType ? "a cursor file, not an icon file" : "not an icon file";
    return std::nullopt;
  }
  std::size_t count = LoadLe16(file.data() + 4);
  if (count == 0 || count > kMostIconImages) {
    error_text = "an icon file of " + std::to_string(count) + " images (1 to " +
                 std::to_string(kMostIconImages) + " will do)";
    return std::nullopt;
  }
  std::size_t directory_end = kIconHeaderSize + count * kIconEntrySize;
  if (directory_end > file.size()) {
    error_text = "its directory of " + std::to_string(count) +
                 " images runs past the end of the file";
    return std::nullopt;
  }
  std::vector<IconImage> images(count);
  std::vector<std::pair<std::uint64_t, std::uint64_t>> extents;  // offset and end of each
  std::vector<std::size_t> order(count);
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t* entry = file.data() + kIconHeaderSize + i * kIconEntrySize;
    std::uint32_t size = LoadLe32(entry + 8);
    std::uint32_t offset = LoadLe32(entry + 12);
    std::string name = "image " + std::to_string(i + 1);
    if (size == 0 || offset < directory_end || std::uint64_t{offset} + size > file.size()) {
      error_text = name + " (" + std::to_string(size) + " bytes at offset " +
                   std::to_string(offset) + ") does not lie inside the file behind its directory";
      return std::nullopt;
    }
    IconImage& image = images[i];
    image.width = entry[0];
    image.height = entry[1];
    image.color_count = entry[2];
    image.planes = LoadLe16(entry + 4);
    image.bit_count = LoadLe16(entry + 6);
    image.data.assign(file.begin() + offset, file.begin() + offset + size);
    bool is_png = size >= sizeof kPngSignature &&
                  std::memcmp(image.data.data(), kPngSignature, sizeof kPngSignature) == 0;
    std::string problem;
    if (!(is_png ? CheckPng(image, problem) : CheckBitmap(image, problem))) {
      error_text = name + " " + problem;
      return std::nullopt;
    }
    extents.push_back({offset, std::uint64_t{offset} + size});
    order[i] = i;
  }
  std::sort(order.begin(), order.end(),
            [&](std::size_t a, std::size_t b) { return extents[a] < extents[b]; });
  for (std::size_t k = 1; k < count; ++k) {
    if (extents[order[k]].first < extents[order[k - 1]].second) {
      error_text = "images " + std::to_string(std::min(order[k - 1], order[k]) + 1) + " and " +
                   std::to_string(std::max(order[k - 1], order[k]) + 1) + " overlap";
      return std::nullopt;
    }
  }
  return images;
}

std::vector<std::uint8_t> VersionResource(const StubIdentity& identity) {
  std::array<std::uint16_t, 4> file_version = NumericVersion(
      identity.version_strings[kFileVersionKey] ? identity.version_strings[kFileVersionKey]
                                                : identity.version_strings[kProductVersionKey]);
  std::array<std::uint16_t, 4> product_version = NumericVersion(
      identity.version_strings[kProductVersionKey] ? identity.version_strings[kProductVersionKey]
                                                   : identity.version_strings[kFileVersionKey]);
  // VS_FIXEDFILEINFO: signature, structure version 1.0, file and product version (high and
  // low words each), flags mask and flags, the system (Windows NT, 32-bit), the type
  // (an application), subtype and a date, both 0.
  std::vector<std::uint8_t> fixed(52, 0);
  const std::uint32_t fields[] = {0xFEEF04BD,
                                  0x00010000,
                                  VersionHigh(file_version),
                                  VersionLow(file_version),
                                  VersionHigh(product_version),
                                  VersionLow(product_version),
                                  0x3F,
                                  0,
                                  0x00040004,
                                  1};
  for (std::size_t i = 0; i < std::size(fields); ++i) StoreLe32(fixed.data() + 4 * i, fields[i]);

  // Language and code page: as the hexadecimal key of the string table, and as the pair
  // of 16-bit values of the translation table.
  VersionBlock table(u"040904B0", true);
  for (std::size_t i = 0; i < kVersionKeyCount; ++i) {
    if (!identity.version_strings[i]) continue;
    table.Child(
        VersionBlock(Ascii16(kVersionKeys[i]), true).TextValue(*identity.version_strings[i]));
  }
  std::vector<std::uint8_t> translation(4);
  StoreLe16(translation.data(), kUsEnglish);
  StoreLe16(translation.data() + 2, kUnicodeCodePage);
  VersionBlock root(u"VS_VERSION_INFO", false);
  root.Value(fixed, static_cast<std::uint16_t>(fixed.size()));
  root.Child(VersionBlock(u"StringFileInfo", true).Child(table));
  root.Child(VersionBlock(u"VarFileInfo", true)
                 .Child(VersionBlock(u"Translation", false).Value(translation, 4)));
  return root.Bytes();
}

bool ApplyStubIdentity(std::vector<std::uint8_t>& stub, const std::string& stub_path,
                       const StubIdentity& identity, std::string& error_text) {
  std::optional<std::vector<Resource>> resources = ReadResources(stub, error_text);
  if (!resources) {
    error_text = stub_path + ": " + error_text;
    return false;
  }
  if (!identity.icon_path.empty()) {
    std::optional<std::vector<std::uint8_t>> file = ReadRegularFile(identity.icon_path,
                                                                    kLargestIconFile, error_text);
    std::optional<std::vector<IconImage>> images;
    if (file) images = ParseIconFile(*file, error_text);
    if (!images) {
      error_text = "--icon " + identity.icon_path + ": " + error_text;
      return false;
    }
    ReplaceIconGroup(*resources, *images);
  }
  if (identity.HasVersionInfo()) {
    auto is_version = [](const Resource& resource) {
      return resource.type == ResourceKey::Number(kResourceVersion);
    };
    resources->erase(std::remove_if(resources->begin(), resources->end(), is_version),
                     resources->end());
    resources->push_back({ResourceKey::Number(kResourceVersion), ResourceKey::Number(1), kUsEnglish,
                          0, VersionResource(identity)});
  }
  if (identity.require_administrator && !RequireAdministrator(*resources, stub_path, error_text)) {
    return false;
  }
  if (!ReplaceResources(stub, *resources, error_text)) {
    error_text = stub_path + ": " + error_text;
    return false;
  }
  if (std::optional<std::size_t> at = FindZipSignature(stub)) {
    error_text = "the stub with the new resources holds the bytes of a ZIP record signature (at " +
                 std::to_string(*at) +
                 "), which would mislead tools that look for the archive; choose another icon";
    return false;
  }
  return true;
}

}  // namespace selfx::cli
