// ArchiveEntry: one 46-byte central directory file header, kept whole as read. The entry's
// name travels beside it as text.
#pragma once

#include <cstdint>

#include "archive/zip_format.h"
#include "base/byte_order.h"

namespace selfx {

struct ArchiveEntry {
  std::uint8_t bytes[zip::kCentralHeaderSize] = {};

  std::uint32_t Signature() const { return LoadLe32(bytes + zip::kCentralSignature); }
  std::uint8_t FormatVersion() const { return bytes[zip::kCentralVersionMadeBy]; }
  std::uint8_t HostSystem() const { return bytes[zip::kCentralHostSystem]; }
  std::uint16_t Flags() const { return LoadLe16(bytes + zip::kCentralFlags); }
  std::uint16_t Method() const { return LoadLe16(bytes + zip::kCentralMethod); }
  std::uint16_t DosTime() const { return LoadLe16(bytes + zip::kCentralTime); }
  std::uint16_t DosDate() const { return LoadLe16(bytes + zip::kCentralDate); }
  std::uint32_t Crc() const { return LoadLe32(bytes + zip::kCentralCrc); }
  std::uint32_t CompressedSize() const { return LoadLe32(bytes + zip::kCentralCompressedSize); }
  std::uint32_t UncompressedSize() const { return LoadLe32(bytes + zip::kCentralUncompressedSize); }
  std::uint16_t NameLength() const { return LoadLe16(bytes + zip::kCentralNameLength); }
  std::uint16_t ExtraLength() const { return LoadLe16(bytes + zip::kCentralExtraLength); }
  std::uint16_t CommentLength() const { return LoadLe16(bytes + zip::kCentralCommentLength); }
  std::uint32_t LocalHeaderOffset() const {
    return LoadLe32(bytes + zip::kCentralLocalHeaderOffset);
  }
  bool IsEncrypted() const { return (Flags() & zip::kFlagEncrypted) != 0; }
};

static_assert(sizeof(ArchiveEntry) == zip::kCentralHeaderSize);

}  // namespace selfx
