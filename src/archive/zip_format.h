// Constants of the ZIP records this system reads, and the builder writes: sizes and field
// offsets only. The signatures are not here: see zip_signatures.h.
#pragma once

#include <cstdint>

namespace selfx::zip {

// End of central directory record.
constexpr std::uint32_t kEndRecordSize = 22;
constexpr int kEndSignature = 0;
constexpr int kEndDiskEntries = 8;
constexpr int kEndTotalEntries = 10;
constexpr int kEndDirectorySize = 12;
constexpr int kEndDirectoryOffset = 16;
constexpr int kEndCommentLength = 20;
// The record plus the longest comment, plus one.
constexpr std::uint32_t kEndSearchWindow = 0x10016;

// ZIP64, which the stub does not read: a locator right in front of the end record points at
// a larger end record, and fields of all ones stand for values kept elsewhere.
constexpr std::uint32_t kZip64LocatorSignature = 0x07064B50;  // 50 4B 06 07
constexpr std::uint32_t kZip64LocatorSize = 20;
constexpr std::uint32_t kZip64Marker = 0xFFFFFFFF;

// Central directory file header (an ArchiveEntry).
constexpr std::uint32_t kCentralHeaderSize = 46;
constexpr int kCentralSignature = 0;
constexpr int kCentralVersionMadeBy = 4;
constexpr int kCentralHostSystem = 5;
constexpr int kCentralVersionNeeded = 6;
constexpr int kCentralFlags = 8;
constexpr int kCentralMethod = 10;
constexpr int kCentralTime = 12;
constexpr int kCentralDate = 14;
constexpr int kCentralCrc = 16;
constexpr int kCentralCompressedSize = 20;
constexpr int kCentralUncompressedSize = 24;
constexpr int kCentralNameLength = 28;
constexpr int kCentralExtraLength = 30;
constexpr int kCentralCommentLength = 32;
constexpr int kCentralExternalAttributes = 38;
constexpr int kCentralLocalHeaderOffset = 42;

// Local file header.
constexpr std::uint32_t kLocalHeaderSize = 30;
constexpr int kLocalSignature = 0;
constexpr int kLocalVersionNeeded = 4;
constexpr int kLocalFlags = 6;
constexpr int kLocalMethod = 8;
constexpr int kLocalTime = 10;
constexpr int kLocalDate = 12;
constexpr int kLocalCrc = 14;
constexpr int kLocalCompressedSize = 18;
constexpr int kLocalUncompressedSize = 22;
constexpr int kLocalNameLength = 26;
constexpr int kLocalExtraLength = 28;

// General purpose flags.
constexpr std::uint16_t kFlagEncrypted = 0x0001;
constexpr std::uint16_t kFlagDataDescriptor = 0x0008;
constexpr std::uint16_t kFlagUtf8Name = 0x0800;

// Compression methods.
constexpr std::uint16_t kMethodStored = 0;
constexpr std::uint16_t kMethodDeflated = 8;

// The longest entry name the directory reader accepts.
constexpr std::uint32_t kMaxNameLength = 520;

}  // namespace selfx::zip
