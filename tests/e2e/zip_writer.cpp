#include "zip_writer.h"

namespace e2e {

void AppendLe16(std::vector<std::uint8_t>& bytes, std::uint16_t value) {
  bytes.push_back(static_cast<std::uint8_t>(value));
  bytes.push_back(static_cast<std::uint8_t>(value >> 8));
}

void AppendLe32(std::vector<std::uint8_t>& bytes, std::uint32_t value) {
  AppendLe16(bytes, static_cast<std::uint16_t>(value));
  AppendLe16(bytes, static_cast<std::uint16_t>(value >> 16));
}

namespace {

void AppendText(std::vector<std::uint8_t>& bytes, const std::string& text) {
  bytes.insert(bytes.end(), text.begin(), text.end());
}

// "PK" and two bytes, so that this file's image never carries a whole signature.
void AppendSignature(std::vector<std::uint8_t>& bytes, std::uint8_t third, std::uint8_t fourth) {
  bytes.push_back('P');
  bytes.push_back('K');
  bytes.push_back(third);
  bytes.push_back(fourth);
}

// 12:00:00 on 1 June 2020 in MS-DOS form.
constexpr std::uint16_t kDosTime = 12 << 11;
constexpr std::uint16_t kDosDate = ((2020 - 1980) << 9) | (6 << 5) | 1;

}  // namespace

std::uint32_t Crc32(const std::string& data) {
  std::uint32_t crc = 0xFFFFFFFF;
  for (unsigned char byte : data) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320 & (0u - (crc & 1)));
  }
  return ~crc;
}

void PutLe16(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint16_t value) {
  bytes.at(at) = static_cast<std::uint8_t>(value);
  bytes.at(at + 1) = static_cast<std::uint8_t>(value >> 8);
}

void PutLe32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
  PutLe16(bytes, at, static_cast<std::uint16_t>(value));
  PutLe16(bytes, at + 2, static_cast<std::uint16_t>(value >> 16));
}

ZipImage MakeStoredZip(const std::vector<ZipMember>& members, std::uint32_t offset_bias,
                       const std::string& archive_comment) {
  ZipImage zip;
  auto& out = zip.bytes;
  for (const ZipMember& member : members) {
    zip.local_headers.push_back(out.size());
    AppendSignature(out, 3, 4);
    AppendLe16(out, 10);  // version needed
    AppendLe16(out, member.flags);
    AppendLe16(out, 0);  // stored
    AppendLe16(out, kDosTime);
    AppendLe16(out, kDosDate);
    AppendLe32(out, Crc32(member.data));
    AppendLe32(out, static_cast<std::uint32_t>(member.data.size()));
    AppendLe32(out, static_cast<std::uint32_t>(member.data.size()));
    AppendLe16(out, static_cast<std::uint16_t>(member.name.size()));
    AppendLe16(out, static_cast<std::uint16_t>(member.extra.size()));
    AppendText(out, member.name);
    AppendText(out, member.extra);
    AppendText(out, member.data);
  }
  zip.central_directory = out.size();
  for (std::size_t i = 0; i < members.size(); ++i) {
    const ZipMember& member = members[i];
    zip.central_headers.push_back(out.size());
    AppendSignature(out, 1, 2);
    out.push_back(member.version);
    out.push_back(member.host);
    AppendLe16(out, 10);  // version needed
    AppendLe16(out, member.flags);
    AppendLe16(out, 0);  // stored
    AppendLe16(out, kDosTime);
    AppendLe16(out, kDosDate);
    AppendLe32(out, Crc32(member.data));
    AppendLe32(out, static_cast<std::uint32_t>(member.data.size()));
    AppendLe32(out, static_cast<std::uint32_t>(member.data.size()));
    AppendLe16(out, static_cast<std::uint16_t>(member.name.size()));
    AppendLe16(out, static_cast<std::uint16_t>(member.extra.size()));
    AppendLe16(out, static_cast<std::uint16_t>(member.comment.size()));
    AppendLe16(out, 0);  // disk number
    AppendLe16(out, 0);  // internal attributes
    const bool folder = !member.name.empty() && member.name.back() == '/';
    AppendLe32(out, folder ? 0x10 : 0x20);  // external attributes: directory or archive
    AppendLe32(out, static_cast<std::uint32_t>(zip.local_headers[i]) + offset_bias);
    AppendText(out, member.name);
    AppendText(out, member.extra);
    AppendText(out, member.comment);
  }
  zip.end_record = out.size();
  const auto directory_size = static_cast<std::uint32_t>(zip.end_record - zip.central_directory);
  AppendSignature(out, 5, 6);
  AppendLe16(out, 0);  // this disk
  AppendLe16(out, 0);  // disk with the directory
  AppendLe16(out, static_cast<std::uint16_t>(members.size()));
  AppendLe16(out, static_cast<std::uint16_t>(members.size()));
  AppendLe32(out, directory_size);
  AppendLe32(out, static_cast<std::uint32_t>(zip.central_directory) + offset_bias);
  AppendLe16(out, static_cast<std::uint16_t>(archive_comment.size()));
  AppendText(out, archive_comment);
  return zip;
}

}  // namespace e2e
