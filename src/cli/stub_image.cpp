#include "cli/stub_image.h"

#include "base/byte_order.h"
#include "app/config_block.h"

namespace selfx::cli {

namespace {
constexpr std::uint16_t kPe32Magic = 0x10B;
constexpr std::uint16_t kMachineI386 = 0x14C;
}  // namespace

std::optional<std::uint32_t> CheckedOverlayStart(const std::vector<std::uint8_t>& file,
                                                 std::string& error_text) {
  error_text = "not a 32-bit Windows program (no PE32 image headers)";
  if (file.size() < 0x40 || file[0] != 'M' || file[1] != 'Z') return std::nullopt;
  std::uint32_t pe_offset = LoadLe32(&file[0x3C]);
  if (pe_offset > file.size() || file.size() - pe_offset < 24 + 2) return std::nullopt;
  const std::uint8_t* pe = &file[pe_offset];
  if (LoadLe32(pe) != 0x00004550 || LoadLe16(pe + 4) != kMachineI386 ||
      LoadLe16(pe + 24) != kPe32Magic) {
    return std::nullopt;
  }
  // The stub finds its section table at a fixed 248 bytes into the PE header, which holds
  // for a PE32 image with the standard optional header; a builder must not accept any other.
  if (LoadLe16(pe + 20) != 224) {
    error_text = "the image's optional header is not the standard 224 bytes";
    return std::nullopt;
  }
  std::uint16_t sections = LoadLe16(pe + 6);
  std::uint64_t table_end = std::uint64_t{pe_offset} + 248 + std::uint64_t{sections} * 40;
  if (table_end > file.size()) {
    error_text = "the image's section table lies outside the file";
    return std::nullopt;
  }
  error_text.clear();
  return FindOverlayStart(file.data());
}

}  // namespace selfx::cli
