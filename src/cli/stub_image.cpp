#include "cli/stub_image.h"

#include "app/config_block.h"
#include "archive/pe_image.h"

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

}  // namespace selfx::cli
