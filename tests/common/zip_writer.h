// The tests' one writer of ZIP archives, for the unit tests (built natively) and the
// end-to-end tests (built with mingw), so plain C++17 only. Every field is under the test's
// control, so that damaged archives can be made from sound ones byte by byte. It writes what
// it is given: compressing or encrypting an entry's data is the caller's part.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace test_zip {

// Little-endian fields, as every ZIP record and the configuration block store them.
void AppendLe16(std::vector<std::uint8_t>& bytes, std::uint16_t value);
void AppendLe32(std::vector<std::uint8_t>& bytes, std::uint32_t value);
void PutLe16(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint16_t value);
void PutLe32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value);

// CRC-32 as ZIP records it, bit by bit: a reference independent of the code under test.
std::uint32_t Crc32(const std::string& data);

// One entry as its two headers record it.
struct ZipEntry {
  std::string name;       // "/" separates folders, a trailing "/" marks a folder
  std::string stored;     // the entry's data as the archive holds it
  std::uint32_t crc = 0;  // of the uncompressed data
  std::uint32_t uncompressed_size = 0;
  std::uint16_t method = 0;        // 0 stored, 8 deflated
  std::uint16_t flags = 0;         // bit 0: encrypted
  std::uint8_t version_made = 20;  // "version made by", low byte
  std::uint8_t host = 0;           // "version made by", high byte: 0 MS-DOS, 3 Unix, 11 NTFS
  std::uint16_t version_needed = 20;
  std::uint32_t dos_date_time = 0;  // date in the high half, time in the low half
  std::string local_extra;          // extra field of the local header
  std::string central_extra;        // extra field of the central header
  std::string comment;              // file comment, central header only
  std::uint32_t external_attributes = 0;
};

struct ZipImage {
  std::vector<std::uint8_t> bytes;
  std::vector<std::size_t> local_headers;    // positions within `bytes`
  std::vector<std::size_t> central_headers;  // positions within `bytes`
  std::size_t central_directory = 0;
  std::size_t end_record = 0;
};

// Central header field offsets that tests damage.
constexpr std::size_t kCentralNameLength = 28;
// End record field offsets.
constexpr std::size_t kEndTotalEntries = 10;
constexpr std::size_t kEndCommentLength = 20;
constexpr std::size_t kEndRecordSize = 22;

// The local headers with their data, the central directory and the end record.
// `offset_base` is added to every offset the archive records (local headers and the central
// directory): with 0 they count from the archive's first byte, as a zip tool writes them;
// with the archive's final position in a larger file they are absolute, as after `zip -A`; a
// negative base makes them smaller than the true positions.
ZipImage WriteZip(const std::vector<ZipEntry>& entries, std::int64_t offset_base = 0,
                  const std::string& archive_comment = "");

// A stored file or folder with its extra field in both headers, at 12:00:00 on 1 June 2020:
// what most end-to-end tests need.
struct ZipMember {
  ZipMember(std::string name_, std::string data_, std::string extra_ = "",
            std::string comment_ = "", std::uint8_t host_ = 0)
      : name(std::move(name_)),
        data(std::move(data_)),
        extra(std::move(extra_)),
        comment(std::move(comment_)),
        host(host_) {}

  std::string name;
  std::string data;           // stored as is
  std::string extra;          // extra field, in the local and the central header
  std::string comment;        // file comment, central header only
  std::uint8_t host = 0;      // "version made by", high byte
  std::uint8_t version = 20;  // "version made by", low byte
  std::uint16_t flags = 0;
};

// Stored members, recorded as version 1.0 archives do, with the MS-DOS attributes of a
// folder or a plain file.
ZipImage MakeStoredZip(const std::vector<ZipMember>& members, std::uint32_t offset_bias = 0,
                       const std::string& archive_comment = "");

}  // namespace test_zip
