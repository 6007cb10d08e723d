// The PE image reader: which file headers it lets through, where the raw data ends, the
// data directories, and where a signed file's content ends.

#include <gtest/gtest.h>

#include "archive/pe_image.h"
#include "test_support.h"

namespace selfx {
namespace {

using test::Bytes;

void Put16(Bytes& bytes, std::size_t at, std::uint16_t value) {
  Bytes le = test::Le16(value);
  std::copy(le.begin(), le.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
}
void Put32(Bytes& bytes, std::size_t at, std::uint32_t value) {
  Bytes le = test::Le32(value);
  std::copy(le.begin(), le.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
}

constexpr std::size_t kPe = 0x80;  // where the test images put their PE header

// A PE32 image for i386 with the standard optional header, two sections whose raw data ends
// at 0x600, and the file cut right there.
Bytes Image() {
  Bytes image(0x600, 0);
  image[0] = 'M';
  image[1] = 'Z';
  Put32(image, 0x3C, kPe);
  Put32(image, kPe, 0x00004550);        // "PE\0\0"
  Put16(image, kPe + 4, 0x14C);         // machine: i386
  Put16(image, kPe + 6, 2);             // two sections
  Put16(image, kPe + 20, 224);          // size of the optional header
  Put16(image, kPe + 24, 0x10B);        // PE32
  Put32(image, kPe + 24 + 92, 16);      // sixteen data directories
  Put32(image, kPe + 248 + 16, 0x200);  // .text: 0x200 bytes at 0x400
  Put32(image, kPe + 248 + 20, 0x400);
  Put32(image, kPe + 248 + 40 + 16, 0x200);  // .data: 0x200 bytes at 0x200
  Put32(image, kPe + 248 + 40 + 20, 0x200);
  return image;
}

// The image's first `size` bytes.
Bytes Cut(std::size_t size) {
  Bytes image = Image();
  image.resize(size);
  return image;
}

TEST(PeImage, FileHeadersAreCheckedBeforeTheyAreRead) {
  struct Case {
    const char* what;
    Bytes file;
    pe::ImageFault fault;
  };
  auto changed = [](auto change) {
    Bytes image = Image();
    change(image);
    return image;
  };
  const Case cases[] = {
      {"a sound image", Image(), pe::ImageFault::kNone},
      {"shorter than a DOS header", Cut(0x3F), pe::ImageFault::kNotPe32},
      {"no MZ", changed([](Bytes& b) { b[1] = 'X'; }), pe::ImageFault::kNotPe32},
      {"PE header beyond the file", changed([](Bytes& b) { Put32(b, 0x3C, 0xFFFFFFF0); }),
       pe::ImageFault::kNotPe32},
      {"file ends before the optional header's magic", Cut(kPe + 25), pe::ImageFault::kNotPe32},
      {"no PE signature", changed([](Bytes& b) { b[kPe + 1] = 'X'; }), pe::ImageFault::kNotPe32},
      {"an x64 image", changed([](Bytes& b) { Put16(b, kPe + 4, 0x8664); }),
       pe::ImageFault::kNotPe32},
      {"a PE32+ optional header", changed([](Bytes& b) { Put16(b, kPe + 24, 0x20B); }),
       pe::ImageFault::kNotPe32},
      {"an optional header of 240 bytes", changed([](Bytes& b) { Put16(b, kPe + 20, 240); }),
       pe::ImageFault::kOptionalHeaderSize},
      {"a section table past the end", changed([](Bytes& b) { Put16(b, kPe + 6, 0xFFFF); }),
       pe::ImageFault::kSectionTableOutside},
      {"a file that ends inside the second section header", Cut(kPe + 248 + 79),
       pe::ImageFault::kSectionTableOutside},
      {"a file that ends with the section table", Cut(kPe + 248 + 80), pe::ImageFault::kNone},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // Each file is exactly as long as its bytes, so that a read past them is a sanitizer
    // report.
    EXPECT_EQ(pe::CheckImageHeaders(c.file.data(), c.file.size()), c.fault);
  }
}

TEST(PeImage, OverlayStartIsTheFurthestRawDataEnd) {
  Bytes image = Image();
  EXPECT_EQ(pe::OverlayStart(image.data()), 0x600u);
  // Sums are compared unsigned and taken modulo 2^32, as the stub takes them.
  Put32(image, kPe + 248 + 40 + 16, 0xFFFFF000);
  EXPECT_EQ(pe::OverlayStart(image.data()), 0xFFFFF200u);
  Put32(image, kPe + 248 + 40 + 16, 0xFFFFFF00);
  EXPECT_EQ(pe::OverlayStart(image.data()), 0x600u);
  Put16(image, kPe + 6, 0);
  EXPECT_EQ(pe::OverlayStart(image.data()), 0u);
}

TEST(PeImage, DataDirectoriesUpToTheCountRecorded) {
  Bytes image = Image();
  std::size_t certificate = kPe + 24 + 96 + 4 * 8;
  Put32(image, certificate, 0x600);  // a file offset, unlike every other directory
  Put32(image, certificate + 4, 0x1A8);
  pe::DataDirectory directory = pe::ReadDataDirectory(image.data(), pe::kCertificateTable);
  EXPECT_EQ(directory.address, 0x600u);
  EXPECT_EQ(directory.size, 0x1A8u);
  EXPECT_EQ(pe::ReadDataDirectory(image.data(), 3).address, 0u);

  // An image that records only four directories has no certificate table, whatever the
  // bytes where it would be hold; a count above sixteen gives no seventeenth.
  Put32(image, kPe + 24 + 92, 4);
  EXPECT_EQ(pe::ReadDataDirectory(image.data(), pe::kCertificateTable).size, 0u);
  Put32(image, kPe + 24 + 92, 0xFFFF);
  Put32(image, kPe + 248, 0x12345678);  // the section table, where directory 16 would be
  EXPECT_EQ(pe::ReadDataDirectory(image.data(), 16).address, 0u);
  EXPECT_EQ(pe::ReadDataDirectory(image.data(), pe::kCertificateTable).size, 0x1A8u);
}

TEST(PeImage, OnlyATableAppendedAtTheEndIsASignature) {
  // The images' raw data ends at 0x600; the files are 0x2000 bytes long.
  constexpr std::uint32_t kContentStart = 0x600, kFileSize = 0x2000;
  struct Case {
    const char* what;
    std::uint32_t address;
    std::uint32_t size;
    std::uint32_t directory_count;
    std::uint32_t content_end;
  };
  const Case cases[] = {
      {"no table", 0, 0, 16, kFileSize},
      {"a table that ends the file", 0x1800, 0x800, 16, 0x1800},
      {"a table right behind the image", 0x600, 0x1A00, 16, 0x600},
      {"the smallest table: one certificate header", 0x1FF8, 8, 16, 0x1FF8},
      {"a table that ends before the file does", 0x1800, 0x7F8, 16, kFileSize},
      {"a table that runs past the end", 0x1800, 0x801, 16, kFileSize},
      {"an empty table at the end", kFileSize, 0, 16, kFileSize},
      {"a table too small for a header", 0x1FF9, 7, 16, kFileSize},
      {"a table that starts inside the image", 0x500, 0x1B00, 16, kFileSize},
      {"address and size that wrap past 2^32 onto the end", 0xFFFFF000, 0x3000, 16, kFileSize},
      {"a table that starts past the end", 0x3000, 0xFFFFF000, 16, kFileSize},
      {"an image that records only four directories", 0x1800, 0x800, 4, kFileSize},
      {"an image that records five", 0x1800, 0x800, 5, 0x1800},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes image = Image();
    Put32(image, kPe + 24 + 92, c.directory_count);
    Put32(image, kPe + 24 + 96 + 4 * 8, c.address);
    Put32(image, kPe + 24 + 96 + 4 * 8 + 4, c.size);
    EXPECT_EQ(pe::EndWithoutSignature(image.data(), kContentStart, kFileSize), c.content_end);
  }
}

}  // namespace
}  // namespace selfx
