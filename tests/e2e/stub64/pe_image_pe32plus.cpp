// The PE header readers of archive/pe_image.h for the 64-bit test build of the stub, which
// reads its own headers as a PE32+ image: the same fields, but a 240-byte optional header
// (ImageBase and the stack and heap sizes grow to 8 bytes each), so the data directories and
// the section table lie further on. Built into that test build in place of
// archive/pe_image.cpp; the shipped stub and the tool read PE32 images only.
#include <cstddef>
#include <cstdint>

#include "archive/pe_image.h"
#include "base/byte_order.h"

namespace selfx::pe {

namespace {

constexpr std::uint16_t kMachineAmd64 = 0x8664;
constexpr std::uint16_t kPe32PlusMagic = 0x20B;
constexpr std::uint32_t kPe32PlusOptionalHeaderSize = 240;
constexpr int kPlusNumberOfRvaAndSizes = 108;
constexpr int kPlusDataDirectories = 112;
constexpr std::uint32_t kPlusSectionTable = kOptionalHeader + kPe32PlusOptionalHeaderSize;
static_assert(kPlusDataDirectories + kDataDirectoryCount * kDataDirectorySize ==
              kPe32PlusOptionalHeaderSize);

const std::uint8_t* PeHeader(const std::uint8_t* image) {
  return image + LoadLe32(image + kDosPeHeaderOffset);
}

const std::uint8_t* DirectoryEntry(const std::uint8_t* image, std::uint32_t index) {
  const std::uint8_t* optional_header = PeHeader(image) + kOptionalHeader;
  std::uint32_t count = LoadLe32(optional_header + kPlusNumberOfRvaAndSizes);
  if (index >= count || index >= kDataDirectoryCount) return nullptr;
  return optional_header + kPlusDataDirectories + index * kDataDirectorySize;
}

}  // namespace

ImageFault CheckImageHeaders(const std::uint8_t* file, std::size_t size) {
  if (size < kDosHeaderSize || LoadLe16(file) != kDosSignature) return ImageFault::kNotPe32;
  std::uint32_t pe_offset = LoadLe32(file + kDosPeHeaderOffset);
  if (pe_offset > size || size - pe_offset < kOptionalHeader + kOptionalMagic + 2) {
    return ImageFault::kNotPe32;
  }
  const std::uint8_t* pe_header = file + pe_offset;
  const std::uint8_t* file_header = pe_header + kFileHeader;
  if (LoadLe32(pe_header) != kPeSignature ||
      LoadLe16(file_header + kFileMachine) != kMachineAmd64 ||
      LoadLe16(pe_header + kOptionalHeader + kOptionalMagic) != kPe32PlusMagic) {
    return ImageFault::kNotPe32;
  }
  if (LoadLe16(file_header + kFileSizeOfOptionalHeader) != kPe32PlusOptionalHeaderSize) {
    return ImageFault::kOptionalHeaderSize;
  }
  std::uint16_t section_count = LoadLe16(file_header + kFileNumberOfSections);
  std::uint64_t table_end = std::uint64_t{pe_offset} + kPlusSectionTable +
                            std::uint64_t{section_count} * kSectionHeaderSize;
  if (table_end > size) return ImageFault::kSectionTableOutside;
  return ImageFault::kNone;
}

std::uint32_t OverlayStart(const std::uint8_t* image) {
  const std::uint8_t* pe_header = PeHeader(image);
  std::uint16_t section_count = LoadLe16(pe_header + kFileHeader + kFileNumberOfSections);
  const std::uint8_t* section = pe_header + kPlusSectionTable;
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
  bool appended = address >= content_start && address <= file_size &&
                  size >= kCertificateHeaderSize && file_size - address == size;
  return appended ? address : file_size;
}

}  // namespace selfx::pe
