#include "archive/pe_image.h"

#include "base/byte_order.h"

namespace selfx::pe {

namespace {

const std::uint8_t* PeHeader(const std::uint8_t* image) {
  return image + LoadLe32(image + kDosPeHeaderOffset);
}

// Where data directory `index` lies in the headers, or nothing when the image records fewer.
const std::uint8_t* DirectoryEntry(const std::uint8_t* image, std::uint32_t index) {
  const std::uint8_t* optional_header = PeHeader(image) + kOptionalHeader;
  // A count above the header's room would point into the section table.
  std::uint32_t count = LoadLe32(optional_header + kOptionalNumberOfRvaAndSizes);
  if (index >= count || index >= kDataDirectoryCount) return nullptr;
  return optional_header + kOptionalDataDirectories + index * kDataDirectorySize;
}

}  // namespace

ImageFault CheckImageHeaders(const std::uint8_t* file, std::size_t size) {
  if (size < kDosHeaderSize || LoadLe16(file) != kDosSignature) return ImageFault::kNotPe32;
  std::uint32_t pe_offset = LoadLe32(file + kDosPeHeaderOffset);
  // Up to the optional header's magic, the first field that tells a PE32 image.
  if (pe_offset > size || size - pe_offset < kOptionalHeader + kOptionalMagic + 2) {
    return ImageFault::kNotPe32;
  }
  const std::uint8_t* pe_header = file + pe_offset;
  const std::uint8_t* file_header = pe_header + kFileHeader;
  if (LoadLe32(pe_header) != kPeSignature || LoadLe16(file_header + kFileMachine) != kMachineI386 ||
      LoadLe16(pe_header + kOptionalHeader + kOptionalMagic) != kPe32Magic) {
    return ImageFault::kNotPe32;
  }
  if (LoadLe16(file_header + kFileSizeOfOptionalHeader) != kPe32OptionalHeaderSize) {
    return ImageFault::kOptionalHeaderSize;
  }
  std::uint16_t section_count = LoadLe16(file_header + kFileNumberOfSections);
  std::uint64_t table_end = std::uint64_t{pe_offset} + kSectionTable +
                            std::uint64_t{section_count} * kSectionHeaderSize;
  if (table_end > size) return ImageFault::kSectionTableOutside;
  return ImageFault::kNone;
}

std::uint32_t OverlayStart(const std::uint8_t* image) {
  const std::uint8_t* pe_header = PeHeader(image);
  std::uint16_t section_count = LoadLe16(pe_header + kFileHeader + kFileNumberOfSections);
  const std::uint8_t* section = pe_header + kSectionTable;
  std::uint32_t overlay_start = 0;
  for (std::uint16_t i = 0; i < section_count; ++i, section += kSectionHeaderSize) {
    std::uint32_t end = LoadLe32(section + kSectionSizeOfRawData) +
                        LoadLe32(section + kSectionPointerToRawData);
    if (end > overlay_start) overlay_start = end;
  }
  return overlay_start;
}

DataDirectory ReadDataDirectory(const std::uint8_t* image, std::uint32_t index) {
  const std::uint8_t* directory = DirectoryEntry(image, index);
  if (directory == nullptr) return {};
  return {LoadLe32(directory + kDirectoryAddress), LoadLe32(directory + kDirectorySize)};
}

std::uint32_t EndWithoutSignature(const std::uint8_t* image, std::uint32_t content_start,
                                  std::uint32_t file_size) {
  const std::uint8_t* table = DirectoryEntry(image, kCertificateTable);
  if (table == nullptr) return file_size;
  std::uint32_t address = LoadLe32(table + kDirectoryAddress);
  std::uint32_t size = LoadLe32(table + kDirectorySize);
  // Compared as a distance from the end, so that an address and a size whose sum wraps past
  // 2^32 onto the file's size are not taken for a table that ends there.
  bool appended = address >= content_start && address <= file_size &&
                  size >= kCertificateHeaderSize && file_size - address == size;
  return appended ? address : file_size;
}

}  // namespace selfx::pe
