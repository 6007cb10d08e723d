// The headers of a PE32 image (a 32-bit Windows program), read at named offsets:
//
//   DOS header | ... | "PE\0\0" | file header (20) | optional header (224) | section table
//
// Two things are read from them: where the image's raw data ends (the overlay: a builder
// appends the configuration block there), and the data directories (the certificate table of
// a signed file lies behind everything else and is not part of the archive).
//
// The readers trust the bytes they are given. The stub's own headers, mapped by the loader,
// are sound; a file a user names must pass CheckImageHeaders first.
#pragma once

#include <cstddef>
#include <cstdint>

namespace selfx::pe {

// DOS header.
constexpr std::uint32_t kDosHeaderSize = 0x40;
constexpr std::uint16_t kDosSignature = 0x5A4D;  // "MZ"
constexpr int kDosPeHeaderOffset = 0x3C;         // where the PE header starts

// The PE header: a signature, then the file header.
constexpr std::uint32_t kPeSignature = 0x00004550;  // "PE\0\0"
constexpr std::uint32_t kFileHeader = 4;
constexpr std::uint32_t kFileHeaderSize = 20;
constexpr int kFileMachine = 0;
constexpr int kFileNumberOfSections = 2;
constexpr int kFileSizeOfOptionalHeader = 16;
constexpr std::uint16_t kMachineI386 = 0x14C;

// The optional header of a PE32 image, directly behind the file header.
constexpr std::uint32_t kOptionalHeader = kFileHeader + kFileHeaderSize;
constexpr std::uint32_t kPe32OptionalHeaderSize = 224;
constexpr int kOptionalMagic = 0;
constexpr std::uint16_t kPe32Magic = 0x10B;
constexpr int kOptionalSizeOfInitializedData = 8;
constexpr int kOptionalSectionAlignment = 32;
constexpr int kOptionalFileAlignment = 36;
constexpr int kOptionalSizeOfImage = 56;
constexpr int kOptionalCheckSum = 64;
constexpr int kOptionalNumberOfRvaAndSizes = 92;
constexpr int kOptionalDataDirectories = 96;

// The data directories: room for 16 in a PE32 optional header, 8 bytes each, an address
// and a size.
constexpr std::uint32_t kDataDirectoryCount = 16;
constexpr std::uint32_t kDataDirectorySize = 8;
constexpr int kDirectoryAddress = 0;
constexpr int kDirectorySize = 4;
constexpr std::uint32_t kResourceTable = 2;
// Authenticode's signature; unlike every other directory its address is a file offset.
constexpr std::uint32_t kCertificateTable = 4;
constexpr std::uint32_t kBaseRelocationTable = 5;
// The table is a list of certificates, each behind an 8-byte header (length, revision, type)
// and each starting at a multiple of 8: a signer pads the file with up to 7 zero bytes before
// it appends the table.
constexpr std::uint32_t kCertificateHeaderSize = 8;
constexpr std::uint32_t kCertificateAlignment = 8;

// The section table follows the optional header. Its position is taken as fixed: a PE32
// image's optional header is 224 bytes, and the stub does not consult the size field.
constexpr std::uint32_t kSectionTable = kOptionalHeader + kPe32OptionalHeaderSize;
constexpr std::uint32_t kSectionHeaderSize = 40;
constexpr int kSectionVirtualSize = 8;
constexpr int kSectionVirtualAddress = 12;
constexpr int kSectionSizeOfRawData = 16;
constexpr int kSectionPointerToRawData = 20;
constexpr int kSectionCharacteristics = 36;
constexpr std::uint32_t kSectionInitializedData = 0x40;

static_assert(kSectionTable == 248);
static_assert(kOptionalDataDirectories + kDataDirectoryCount * kDataDirectorySize ==
              kPe32OptionalHeaderSize);

// What is wrong with the headers of a file, in the order they are checked.
enum class ImageFault {
  kNone,
  kNotPe32,              // no DOS header, no PE header, not i386 or not PE32
  kOptionalHeaderSize,   // an optional header other than the standard 224 bytes
  kSectionTableOutside,  // the section table runs past the end of the file
};

// Checks the first size bytes of a file: a PE32 image for i386 with the standard optional
// header, whose headers up to the end of the section table lie inside those bytes. Only
// then may the readers below be given them.
ImageFault CheckImageHeaders(const std::uint8_t* file, std::size_t size);

// The end of the image's raw data: the largest PointerToRawData + SizeOfRawData over the
// section headers, compared unsigned; 0 for an image without sections.
std::uint32_t OverlayStart(const std::uint8_t* image);

struct DataDirectory {
  std::uint32_t address = 0;
  std::uint32_t size = 0;
};
// Data directory `index` (kCertificateTable, ...); empty when the image records fewer.
DataDirectory ReadDataDirectory(const std::uint8_t* image, std::uint32_t index);

// Where the signed content of a file of file_size bytes ends, from the certificate table
// that the image's headers record. A signer appends that table behind everything else, so a
// table that begins at or behind content_start, holds at least one certificate header and
// ends exactly at the end of the file is the file's signature: the content ends where the
// table begins. Any other table (none, an empty one, one inside the content or one that does
// not reach the end) is just bytes of the file, and the content ends with the file.
std::uint32_t EndWithoutSignature(const std::uint8_t* image, std::uint32_t content_start,
                                  std::uint32_t file_size);

}  // namespace selfx::pe
