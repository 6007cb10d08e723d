#include "cli/pe/resource_section.h"

#include <map>
#include <set>

#include "archive/pe_image.h"
#include "base/byte_order.h"
#include "cli/pe/stub_image.h"

namespace selfx::cli {

namespace {

// The resource tree's records. A directory: characteristics, time stamp, version (12 bytes),
// then the counts of its entries keyed by text and by number, then the entries themselves,
// those keyed by text first. An entry: the key (a number, or with the high bit the offset of
// a text: a 16-bit length and as many UTF-16 code units), then the value (with the high bit
// the offset of a subdirectory, else that of a data entry). A data entry: the RVA and size
// of the bytes, their code page, and a reserved word.
constexpr std::uint32_t kDirectoryHeaderSize = 16;
constexpr int kDirectoryTextCount = 12;
constexpr int kDirectoryNumberCount = 14;
constexpr std::uint32_t kDirectoryEntrySize = 8;
constexpr std::uint32_t kDataEntrySize = 16;
constexpr std::uint32_t kHighBit = 0x80000000;
// Resource bytes start on 8-byte boundaries, as the resource compilers place them.
constexpr std::uint32_t kDataAlignment = 8;

// More resource bytes than a stub could sensibly carry: a tree that adds up to this much
// reuses its data entries, and a new tree this large is refused.
constexpr std::uint64_t kMostResourceBytes = 256u << 20;

std::uint64_t AlignUp(std::uint64_t value, std::uint32_t alignment) {
  return (value + alignment - 1) / alignment * alignment;
}

bool IsPowerOfTwo(std::uint32_t value) { return value != 0 && (value & (value - 1)) == 0; }

struct Section {
  std::uint32_t header = 0;  // where its header lies in the file
  std::uint32_t virtual_size = 0;
  std::uint32_t virtual_address = 0;
  std::uint32_t raw_size = 0;
  std::uint32_t raw_pointer = 0;
  std::uint32_t characteristics = 0;

  // How far the loader maps it: its virtual size, or its raw size when that is not given.
  std::uint32_t Extent() const { return virtual_size != 0 ? virtual_size : raw_size; }
  bool HoldsAddress(std::uint32_t rva) const {
    return rva >= virtual_address && rva - virtual_address < Extent();
  }
};

// The headers and sections of an image whose headers have been checked, with the resource
// section found.
struct ImageLayout {
  std::uint32_t optional_header = 0;  // file offset
  std::uint32_t table_end = 0;        // file offset behind the section table
  std::uint32_t section_alignment = 0;
  std::uint32_t file_alignment = 0;
  std::vector<Section> sections;
  std::size_t resources = 0;  // index of the resource section
  // The bytes of the resource section that hold the tree: its raw data, no further than its
  // virtual size (padding behind the tree is not part of it).
  std::uint32_t tree_size = 0;
};

std::uint32_t DirectoryField(const std::vector<std::uint8_t>& image, const ImageLayout& layout,
                             std::uint32_t index, int field) {
  return LoadLe32(image.data() + layout.optional_header + pe::kOptionalDataDirectories +
                  index * pe::kDataDirectorySize + field);
}

bool ReadLayout(const std::vector<std::uint8_t>& image, ImageLayout& layout,
                std::string& error_text) {
  if (pe::CheckImageHeaders(image.data(), image.size()) != pe::ImageFault::kNone) {
    error_text = "not a PE32 image with sound headers";
    return false;
  }
  std::uint32_t pe_offset = LoadLe32(image.data() + pe::kDosPeHeaderOffset);
  layout.optional_header = pe_offset + pe::kOptionalHeader;
  const std::uint8_t* optional_header = image.data() + layout.optional_header;
  layout.section_alignment = LoadLe32(optional_header + pe::kOptionalSectionAlignment);
  layout.file_alignment = LoadLe32(optional_header + pe::kOptionalFileAlignment);
  if (!IsPowerOfTwo(layout.file_alignment) || layout.file_alignment > 0x10000 ||
      !IsPowerOfTwo(layout.section_alignment) || layout.section_alignment < layout.file_alignment) {
    error_text = "the image's section and file alignments are not powers of two";
    return false;
  }
  std::uint16_t count = LoadLe16(image.data() + pe_offset + pe::kFileHeader +
                                 pe::kFileNumberOfSections);
  layout.table_end = pe_offset + pe::kSectionTable + count * pe::kSectionHeaderSize;
  for (std::uint16_t i = 0; i < count; ++i) {
    Section section;
    section.header = pe_offset + pe::kSectionTable + i * pe::kSectionHeaderSize;
    const std::uint8_t* header = image.data() + section.header;
    section.virtual_size = LoadLe32(header + pe::kSectionVirtualSize);
    section.virtual_address = LoadLe32(header + pe::kSectionVirtualAddress);
    section.raw_size = LoadLe32(header + pe::kSectionSizeOfRawData);
    section.raw_pointer = LoadLe32(header + pe::kSectionPointerToRawData);
    section.characteristics = LoadLe32(header + pe::kSectionCharacteristics);
    if (std::uint64_t{section.raw_pointer} + section.raw_size > image.size()) {
      error_text = "a section's raw data lies outside the file";
      return false;
    }
    layout.sections.push_back(section);
  }
  pe::DataDirectory directory = pe::ReadDataDirectory(image.data(), pe::kResourceTable);
  if (directory.address == 0) {
    error_text = "the image has no resources";
    return false;
  }
  for (std::size_t i = 0; i < layout.sections.size(); ++i) {
    const Section& section = layout.sections[i];
    if (section.virtual_address != directory.address || section.raw_size == 0) continue;
    layout.resources = i;
    layout.tree_size = section.virtual_size != 0 && section.virtual_size < section.raw_size
                           ? section.virtual_size
                           : section.raw_size;
    return true;
  }
  error_text = "the image's resources do not start a section of their own";
  return false;
}

// Reads the three levels of the tree, checking every offset against the section.
class TreeReader {
 public:
  TreeReader(const std::uint8_t* tree, std::uint32_t size, std::uint32_t rva)
      : tree_(tree), size_(size), rva_(rva) {}

  bool Read(std::vector<Resource>& resources, std::string& error_text) {
    Resource path;
    if (ReadDirectory(0, 0, path, resources)) return true;
    error_text = "the resource section is damaged: " + std::string(problem_);
    return false;
  }

 private:
  bool Fail(const char* problem) {
    problem_ = problem;
    return false;
  }

  bool Inside(std::uint64_t offset, std::uint64_t length) const {
    return offset <= size_ && length <= size_ - offset;
  }

  bool ReadDirectory(std::uint32_t offset, int level, Resource& path,
                     std::vector<Resource>& resources) {
    // A sound tree reaches each directory once; this also ends a tree that loops.
    if (!visited_.insert(offset).second) return Fail("a directory is reached twice");
    if (!Inside(offset, kDirectoryHeaderSize)) return Fail("a directory lies outside it");
    std::uint32_t text_count = LoadLe16(tree_ + offset + kDirectoryTextCount);
    std::uint32_t count = text_count + LoadLe16(tree_ + offset + kDirectoryNumberCount);
    std::uint32_t entries = offset + kDirectoryHeaderSize;
    if (!Inside(entries, std::uint64_t{count} * kDirectoryEntrySize)) {
      return Fail("a directory's entries run past its end");
    }
    for (std::uint32_t i = 0; i < count; ++i) {
      const std::uint8_t* entry = tree_ + entries + i * kDirectoryEntrySize;
      ResourceKey key;
      if (!ReadKey(LoadLe32(entry), key)) return false;
      std::uint32_t value = LoadLe32(entry + 4);
      bool is_directory = (value & kHighBit) != 0;
      if (is_directory != (level < 2)) return Fail("the tree is not three levels deep");
      if (level == 0) {
        path.type = key;
      } else if (level == 1) {
        path.name = key;
      } else {
        if (key.is_text) return Fail("a language is given as a text");
        path.language = key.number;
      }
      bool read = is_directory ? ReadDirectory(value & ~kHighBit, level + 1, path, resources)
                               : ReadData(value, path, resources);
      if (!read) return false;
    }
    return true;
  }

  bool ReadKey(std::uint32_t field, ResourceKey& key) {
    if ((field & kHighBit) == 0) {
      if (field > 0xFFFF) return Fail("a number key is larger than 16 bits");
      key = ResourceKey::Number(static_cast<std::uint16_t>(field));
      return true;
    }
    std::uint32_t offset = field & ~kHighBit;
    if (!Inside(offset, 2)) return Fail("a name lies outside it");
    std::uint32_t length = LoadLe16(tree_ + offset);
    if (!Inside(offset + 2, std::uint64_t{length} * 2)) return Fail("a name runs past its end");
    std::u16string text;
    for (std::uint32_t i = 0; i < length; ++i) {
      text += static_cast<char16_t>(LoadLe16(tree_ + offset + 2 + 2 * i));
    }
    key = ResourceKey::Text(text);
    return true;
  }

  bool ReadData(std::uint32_t offset, const Resource& path, std::vector<Resource>& resources) {
    if (!Inside(offset, kDataEntrySize)) return Fail("a data entry lies outside it");
    std::uint32_t rva = LoadLe32(tree_ + offset);
    std::uint32_t size = LoadLe32(tree_ + offset + 4);
    if (rva < rva_ || !Inside(rva - rva_, size)) return Fail("resource data lies outside it");
    total_bytes_ += size;
    if (total_bytes_ > kMostResourceBytes) return Fail("its data entries add up to too much");
    Resource resource = path;
    resource.code_page = LoadLe32(tree_ + offset + 8);
    const std::uint8_t* data = tree_ + (rva - rva_);
    resource.data.assign(data, data + size);
    resources.push_back(std::move(resource));
    return true;
  }

  const std::uint8_t* tree_;
  std::uint32_t size_;
  std::uint32_t rva_;
  std::set<std::uint32_t> visited_;
  std::uint64_t total_bytes_ = 0;
  const char* problem_ = "";
};

// The resources as the tree orders them; a later resource replaces an earlier one of the same
// type, name and language.
using LanguageMap = std::map<std::uint16_t, const Resource*>;
using NameMap = std::map<ResourceKey, LanguageMap>;
using TypeMap = std::map<ResourceKey, NameMap>;

std::uint32_t DirectorySize(std::size_t entries) {
  return kDirectoryHeaderSize + static_cast<std::uint32_t>(entries) * kDirectoryEntrySize;
}

// Lays the tree out as the resource compilers do: all directories (the root, then the name
// directories of every type, then the language directories), the data entries, the texts of
// the keys, and the resource bytes. rva is where the loader places the section.
class TreeWriter {
 public:
  TreeWriter(const std::vector<Resource>& resources, std::uint32_t rva) : rva_(rva) {
    for (const Resource& resource : resources) {
      types_[resource.type][resource.name][resource.language] = &resource;
    }
  }

  std::uint64_t Size() {
    Plan();
    return size_;
  }

  std::vector<std::uint8_t> Write() {
    Plan();
    tree_.assign(size_, 0);
    std::uint32_t next_directory = DirectorySize(types_.size());
    std::uint32_t next_leaf_directory = next_directory;
    for (const auto& type : types_) next_leaf_directory += DirectorySize(type.second.size());
    std::uint32_t next_data_entry = data_entries_;
    std::uint32_t next_data = data_;

    std::vector<std::pair<ResourceKey, std::uint32_t>> root_entries;
    for (const auto& [type, names] : types_) {
      std::uint32_t names_offset = next_directory;
      next_directory += DirectorySize(names.size());
      root_entries.push_back({type, kHighBit | names_offset});
      std::vector<std::pair<ResourceKey, std::uint32_t>> name_entries;
      for (const auto& [name, languages] : names) {
        std::uint32_t languages_offset = next_leaf_directory;
        next_leaf_directory += DirectorySize(languages.size());
        name_entries.push_back({name, kHighBit | languages_offset});
        std::vector<std::pair<ResourceKey, std::uint32_t>> language_entries;
        for (const auto& [language, resource] : languages) {
          language_entries.push_back({ResourceKey::Number(language), next_data_entry});
          std::uint8_t* entry = tree_.data() + next_data_entry;
          StoreLe32(entry, rva_ + next_data);
          StoreLe32(entry + 4, static_cast<std::uint32_t>(resource->data.size()));
          StoreLe32(entry + 8, resource->code_page);
          std::copy(resource->data.begin(), resource->data.end(), tree_.begin() + next_data);
          next_data_entry += kDataEntrySize;
          next_data = static_cast<std::uint32_t>(
              AlignUp(next_data + resource->data.size(), kDataAlignment));
        }
        WriteDirectory(languages_offset, language_entries);
      }
      WriteDirectory(names_offset, name_entries);
    }
    WriteDirectory(0, root_entries);
    for (const auto& [text, offset] : texts_) {
      StoreLe16(tree_.data() + offset, static_cast<std::uint16_t>(text.size()));
      for (std::size_t i = 0; i < text.size(); ++i) {
        StoreLe16(tree_.data() + offset + 2 + 2 * i, static_cast<std::uint16_t>(text[i]));
      }
    }
    return std::move(tree_);
  }

 private:
  // Where the parts go; the size of the whole.
  void Plan() {
    std::uint64_t directories = DirectorySize(types_.size());
    std::uint64_t leaves = 0;
    for (const auto& [type, names] : types_) {
      directories += DirectorySize(names.size());
      for (const auto& [name, languages] : names) {
        directories += DirectorySize(languages.size());
        leaves += languages.size();
      }
    }
    data_entries_ = static_cast<std::uint32_t>(directories);
    std::uint64_t offset = directories + leaves * kDataEntrySize;
    texts_.clear();
    auto add_text = [&](const ResourceKey& key) {
      if (key.is_text && texts_.emplace(key.text, static_cast<std::uint32_t>(offset)).second) {
        offset += 2 + 2 * std::uint64_t{key.text.size()};
      }
    };
    for (const auto& [type, names] : types_) {
      add_text(type);
      for (const auto& name : names) add_text(name.first);
    }
    offset = AlignUp(offset, kDataAlignment);
    data_ = static_cast<std::uint32_t>(offset);
    for (const auto& type : types_) {
      for (const auto& name : type.second) {
        for (const auto& language : name.second) {
          offset = AlignUp(offset + language.second->data.size(), kDataAlignment);
        }
      }
    }
    size_ = offset;
  }

  void WriteDirectory(std::uint32_t offset,
                      const std::vector<std::pair<ResourceKey, std::uint32_t>>& entries) {
    std::uint16_t text_count = 0;
    for (const auto& entry : entries) text_count += entry.first.is_text ? 1 : 0;
    std::uint8_t* directory = tree_.data() + offset;
    StoreLe16(directory + kDirectoryTextCount, text_count);
    StoreLe16(directory + kDirectoryNumberCount,
              static_cast<std::uint16_t>(entries.size() - text_count));
    std::uint8_t* entry = directory + kDirectoryHeaderSize;
    // The maps already hold texts before numbers, each in the loader's order.
    for (const auto& [key, value] : entries) {
      StoreLe32(entry, key.is_text ? kHighBit | texts_.at(key.text) : key.number);
      StoreLe32(entry + 4, value);
      entry += kDirectoryEntrySize;
    }
  }

  std::uint32_t rva_;
  TypeMap types_;
  std::map<std::u16string, std::uint32_t> texts_;
  std::uint32_t data_entries_ = 0;
  std::uint32_t data_ = 0;
  std::uint64_t size_ = 0;
  std::vector<std::uint8_t> tree_;
};

// The sections that must move when the resource section changes size: those behind it in
// memory. Only the base relocations may be among them; anything else could be addressed from
// code that a new position would break.
bool SectionsToMove(const std::vector<std::uint8_t>& image, const ImageLayout& layout,
                    std::vector<std::size_t>& moved, std::string& error_text) {
  const Section& resources = layout.sections[layout.resources];
  pe::DataDirectory relocations = pe::ReadDataDirectory(image.data(), pe::kBaseRelocationTable);
  for (std::size_t i = 0; i < layout.sections.size(); ++i) {
    const Section& section = layout.sections[i];
    if (i == layout.resources) continue;
    if (section.virtual_address < resources.virtual_address) {
      if (section.raw_size != 0 && section.raw_pointer + section.raw_size > resources.raw_pointer) {
        error_text = "a section before the resources has its raw data behind them";
        return false;
      }
      continue;
    }
    bool holds_relocations = relocations.size != 0 &&
                             section.virtual_address == relocations.address &&
                             relocations.size <= section.Extent();
    if (!holds_relocations || section.raw_pointer < resources.raw_pointer + resources.raw_size) {
      error_text =
          "a section other than the base relocations follows the resources, so they cannot grow";
      return false;
    }
    for (std::uint32_t index = 0; index < pe::kDataDirectoryCount; ++index) {
      if (index == pe::kCertificateTable || index == pe::kBaseRelocationTable) continue;
      pe::DataDirectory directory = pe::ReadDataDirectory(image.data(), index);
      if (directory.size != 0 && section.HoldsAddress(directory.address)) {
        error_text = "the base relocation section holds other tables too";
        return false;
      }
    }
    moved.push_back(i);
  }
  return true;
}

}  // namespace

bool ResourceKey::operator<(const ResourceKey& other) const {
  if (is_text != other.is_text) return is_text;
  return is_text ? text < other.text : number < other.number;
}

std::optional<std::vector<Resource>> ReadResources(const std::vector<std::uint8_t>& image,
                                                   std::string& error_text) {
  ImageLayout layout;
  if (!ReadLayout(image, layout, error_text)) return std::nullopt;
  const Section& section = layout.sections[layout.resources];
  TreeReader reader(image.data() + section.raw_pointer, layout.tree_size, section.virtual_address);
  std::vector<Resource> resources;
  if (!reader.Read(resources, error_text)) return std::nullopt;
  return resources;
}

bool ReplaceResources(std::vector<std::uint8_t>& image, const std::vector<Resource>& resources,
                      std::string& error_text) {
  ImageLayout layout;
  if (!ReadLayout(image, layout, error_text)) return false;
  if (pe::ReadDataDirectory(image.data(), pe::kCertificateTable).size != 0) {
    error_text = "the image is signed, and a new resource section would break the signature";
    return false;
  }
  std::vector<std::size_t> moved;
  if (!SectionsToMove(image, layout, moved, error_text)) return false;
  const Section& old_resources = layout.sections[layout.resources];
  if (old_resources.raw_pointer < layout.table_end) {
    error_text = "the resources' raw data overlaps the headers";
    return false;
  }

  TreeWriter writer(resources, old_resources.virtual_address);
  if (writer.Size() > kMostResourceBytes) {
    error_text = "the resources would take more than 256 MiB";
    return false;
  }
  std::vector<std::uint8_t> tree = writer.Write();
  auto tree_size = static_cast<std::uint32_t>(tree.size());
  auto raw_size = static_cast<std::uint32_t>(AlignUp(tree_size, layout.file_alignment));

  // Everything in front of the resources stays as it is, headers included.
  std::vector<std::uint8_t> result(image.begin(), image.begin() + old_resources.raw_pointer);
  result.insert(result.end(), tree.begin(), tree.end());
  result.resize(std::size_t{old_resources.raw_pointer} + raw_size, 0);
  std::uint8_t* resource_header = result.data() + old_resources.header;
  StoreLe32(resource_header + pe::kSectionVirtualSize, tree_size);
  StoreLe32(resource_header + pe::kSectionSizeOfRawData, raw_size);

  std::uint8_t* optional_header = result.data() + layout.optional_header;
  std::uint8_t* directories = optional_header + pe::kOptionalDataDirectories;
  StoreLe32(directories + pe::kResourceTable * pe::kDataDirectorySize + pe::kDirectorySize,
            tree_size);
  if (old_resources.characteristics & pe::kSectionInitializedData) {
    std::uint32_t initialized = LoadLe32(optional_header + pe::kOptionalSizeOfInitializedData);
    StoreLe32(optional_header + pe::kOptionalSizeOfInitializedData,
              initialized - old_resources.raw_size + raw_size);
  }

  // The sections behind move up or down with the resources' end, in memory and in the file.
  std::uint64_t next_address = AlignUp(std::uint64_t{old_resources.virtual_address} + tree_size,
                                       layout.section_alignment);
  for (std::size_t index : moved) {
    const Section& section = layout.sections[index];
    auto address = static_cast<std::uint32_t>(next_address);
    auto pointer = static_cast<std::uint32_t>(result.size());
    result.insert(result.end(), image.begin() + section.raw_pointer,
                  image.begin() + section.raw_pointer + section.raw_size);
    std::uint8_t* header = result.data() + section.header;
    StoreLe32(header + pe::kSectionVirtualAddress, address);
    StoreLe32(header + pe::kSectionPointerToRawData, pointer);
    std::uint8_t* relocations = directories + pe::kBaseRelocationTable * pe::kDataDirectorySize;
    StoreLe32(
        relocations + pe::kDirectoryAddress,
        address + (DirectoryField(image, layout, pe::kBaseRelocationTable, pe::kDirectoryAddress) -
                   section.virtual_address));
    next_address = AlignUp(std::uint64_t{address} + section.Extent(), layout.section_alignment);
  }

  // The image ends behind its last section in memory.
  std::uint64_t image_end = next_address;
  for (std::size_t i = 0; i < layout.sections.size(); ++i) {
    const Section& section = layout.sections[i];
    if (i == layout.resources || section.virtual_address > old_resources.virtual_address) continue;
    image_end = std::max(image_end,
                         AlignUp(std::uint64_t{section.virtual_address} + section.Extent(),
                                 layout.section_alignment));
  }
  StoreLe32(optional_header + pe::kOptionalSizeOfImage, static_cast<std::uint32_t>(image_end));

  if (LoadLe32(optional_header + pe::kOptionalCheckSum) != 0) {
    StoreLe32(result.data() + layout.optional_header + pe::kOptionalCheckSum,
              ImageChecksum(result));
  }
  image = std::move(result);
  error_text.clear();
  return true;
}

}  // namespace selfx::cli
