// The resources of a PE32 image: the tree of its resource section read into a flat list, and
// the section written anew from such a list.
//
// The tree has three levels, type -> name -> language, each a directory of 8-byte entries
// (a number or a text for the key, a subdirectory or a data entry as the value). Its offsets
// count from the start of the section, while a data entry holds the RVA of its bytes: the
// section's bytes know where the loader places them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace selfx::cli {

// Resource types by number.
constexpr std::uint16_t kResourceIcon = 3;
constexpr std::uint16_t kResourceGroupIcon = 14;
constexpr std::uint16_t kResourceVersion = 16;
constexpr std::uint16_t kResourceManifest = 24;

// A resource type or name: a number, or a text of UTF-16 code units.
struct ResourceKey {
  bool is_text = false;
  std::uint16_t number = 0;
  std::u16string text;

  static ResourceKey Number(std::uint16_t number) { return {false, number, {}}; }
  static ResourceKey Text(std::u16string text) { return {true, 0, std::move(text)}; }
  bool operator==(const ResourceKey& other) const {
    return is_text == other.is_text && number == other.number && text == other.text;
  }
  // The order of a directory: texts first, by code unit, then numbers, ascending. The loader
  // searches a directory by halves and relies on it.
  bool operator<(const ResourceKey& other) const;
};

struct Resource {
  ResourceKey type;
  ResourceKey name;
  std::uint16_t language = 0;
  std::uint32_t code_page = 0;
  std::vector<std::uint8_t> data;
};

// The image's resources in the tree's order. The image must have passed CheckImageHeaders;
// the tree itself is checked as it is read (offsets, a directory reached twice, data outside
// the section), and nothing is returned, with the reason in error_text, when it is unsound.
std::optional<std::vector<Resource>> ReadResources(const std::vector<std::uint8_t>& image,
                                                   std::string& error_text);

// Replaces the image's resource section by a tree of these resources. The section grows or
// shrinks in place; a section behind it may only be the base relocations, which do not depend
// on their own position and move behind the new tree. Section headers, the size of the image
// and of its initialised data, the data directories and a checksum (when the image has one)
// are kept consistent, and the file still ends where the image ends. False, with the image
// unchanged, when its layout does not allow it.
bool ReplaceResources(std::vector<std::uint8_t>& image, const std::vector<Resource>& resources,
                      std::string& error_text);

}  // namespace selfx::cli
