#include "cli/pe/stub_image.h"

#include <algorithm>

#include "app/config_block.h"
#include "archive/pe_image.h"
#include "base/byte_order.h"

namespace selfx::cli {

std::optional<std::uint32_t> CheckedOverlayStart(const std::vector<std::uint8_t>& file,
                                                 std::string& error_text) {
  switch (pe::CheckImageHeaders(file.data(), file.size())) {
    case pe::ImageFault::kNone:
      error_text.clear();
      return FindOverlayStart(file.data());
    case pe::ImageFault::kNotPe32:
      error_text = "not a 32-bit Windows program (no PE32 image headers)";
      break;
    case pe::ImageFault::kOptionalHeaderSize:
      // The stub finds its section table at a fixed 248 bytes into the PE header, which
      // holds for a PE32 image with the standard optional header; a builder must not accept
      // any other.
      error_text = "the image's optional header is not the standard 224 bytes";
      break;
    case pe::ImageFault::kSectionTableOutside:
      error_text = "the image's section table lies outside the file";
      break;
  }
  return std::nullopt;
}

namespace {

std::uint32_t ChecksumOffset(const std::vector<std::uint8_t>& file) {
  return LoadLe32(file.data() + pe::kDosPeHeaderOffset) + pe::kOptionalHeader +
         pe::kOptionalCheckSum;
}

}  // namespace

bool LeaveOutSignature(std::vector<std::uint8_t>& file, std::uint32_t overlay_start) {
  auto size = static_cast<std::uint32_t>(file.size());
  std::uint32_t end = pe::EndWithoutSignature(file.data(), overlay_start, size);
  if (end == size) return false;
  // The signer pads the file to a multiple of 8 with zero bytes before its table.
  if (end - overlay_start < pe::kCertificateAlignment &&
      std::all_of(file.begin() + overlay_start, file.begin() + end,
                  [](std::uint8_t byte) { return byte == 0; })) {
    end = overlay_start;
  }
  file.resize(end);
  std::uint8_t* table_entry = file.data() + LoadLe32(file.data() + pe::kDosPeHeaderOffset) +
                              pe::kOptionalHeader + pe::kOptionalDataDirectories +
                              pe::kCertificateTable * pe::kDataDirectorySize;
  StoreLe32(table_entry + pe::kDirectoryAddress, 0);
  StoreLe32(table_entry + pe::kDirectorySize, 0);
  StoreLe32(file.data() + ChecksumOffset(file), ImageChecksum(file));
  return true;
}

std::uint32_t ImageChecksum(const std::vector<std::uint8_t>& file) {
  std::size_t checksum_at = ChecksumOffset(file);
  auto byte_at = [&](std::size_t i) -> std::uint32_t {
    bool in_checksum = i >= checksum_at && i - checksum_at < 4;
    return i < file.size() && !in_checksum ? file[i] : 0;
  };
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < file.size(); i += 2) {
    sum += byte_at(i) | byte_at(i + 1) << 8;
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  return sum + static_cast<std::uint32_t>(file.size());
}

}  // namespace selfx::cli
