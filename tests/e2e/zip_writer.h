// A small writer of stored ZIP archives for test data: every field is under the test's
// control, so that damaged archives can be made from sound ones byte by byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace e2e {

// Little-endian fields, as every ZIP record and the configuration block store them.
void AppendLe16(std::vector<std::uint8_t>& bytes, std::uint16_t value);
void AppendLe32(std::vector<std::uint8_t>& bytes, std::uint32_t value);

struct ZipMember {
  ZipMember(std::string name_, std::string data_, std::string extra_ = "",
            std::string comment_ = "", std::uint8_t host_ = 0)
      : name(std::move(name_)),
        data(std::move(data_)),
        extra(std::move(extra_)),
        comment(std::move(comment_)),
        host(host_) {}

  std::string name;           // as recorded: "/" separates folders, a trailing "/" marks a folder
  std::string data;           // stored as is
  std::string extra;          // extra field, in the local and the central header
  std::string comment;        // file comment, central header only
  std::uint8_t host = 0;      // "version made by", high byte: 0 MS-DOS, 3 Unix, 11 NTFS
  std::uint8_t version = 20;  // "version made by", low byte
  std::uint16_t flags = 0;
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

// `offset_bias` is added to every offset the archive records (local headers and the
// central directory). With 0 the offsets count from the archive's first byte, as a zip tool
// writes them; with the archive's final position in a larger file they are absolute, as
// after `zip -A`.
ZipImage MakeStoredZip(const std::vector<ZipMember>& members, std::uint32_t offset_bias = 0,
                       const std::string& archive_comment = "");

std::uint32_t Crc32(const std::string& data);

void PutLe16(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint16_t value);
void PutLe32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value);

}  // namespace e2e
