#include "common/zip_writer.h"

namespace test_zip {

void AppendLe16(std::vector<std::uint8_t>& bytes, std::uint16_t value) {
  bytes.push_back(static_cast<std::uint8_t>(value));
  bytes.push_back(static_cast<std::uint8_t>(value >> 8));
}

void AppendLe32(std::vector<std::uint8_t>& bytes, std::uint32_t value) {
  AppendLe16(bytes, static_cast<std::uint16_t>(value));
  AppendLe16(bytes, static_cast<std::uint16_t>(value >> 16));
}

void PutLe16(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint16_t value) {
  bytes.at(at) = static_cast<std::uint8_t>(value);
  bytes.at(at + 1) = static_cast<std::uint8_t>(value >> 8);
}

void PutLe32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
  PutLe16(bytes, at, static_cast<std::uint16_t>(value));
  PutLe16(bytes, at + 2, static_cast<std::uint16_t>(value >> 16));
}

std::uint32_t Crc32(const std::string& data) {
  std::uint32_t crc = 0xFFFFFFFF;
  for (unsigned char byte : data) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320 & (0u - (crc & 1)));
  }
  return ~crc;
}

namespace {

void AppendText(std::vector<std::uint8_t>& bytes, const std::string& text) {
  bytes.insert(bytes.end(), text.begin(), text.end());
}

// "PK" and two bytes, so that no program built with this file carries a whole signature in
// its image.
void AppendSignature(std::vector<std::uint8_t>& bytes, std::uint8_t third, std::uint8_t fourth) {
  bytes.push_back('P');
  bytes.push_back('K');
  bytes.push_back(third);
  bytes.push_back(fourth);
}

std::uint32_t RecordedOffset(std::size_t position, std::int64_t offset_base) {
  return static_cast<std::uint32_t>(static_cast<std::int64_t>(position) + offset_base);
}

// The fields the local and the central header share, from "version needed" to the
// uncompressed size.
void AppendCommonFields(std::vector<std::uint8_t>& out, const ZipEntry& entry) {
  AppendLe16(out, entry.version_needed);
  AppendLe16(out, entry.flags);
  AppendLe16(out, entry.method);
  AppendLe32(out, entry.dos_date_time);
  AppendLe32(out, entry.crc);
  AppendLe32(out, static_cast<std::uint32_t>(entry.stored.size()));
  AppendLe32(out, entry.uncompressed_size);
}

}  // namespace

ZipImage WriteZip(const std::vector<ZipEntry>& entries, std::int64_t offset_base,
                  const std::string& archive_comment) {
  ZipImage zip;
  auto& out = zip.bytes;
  for (const ZipEntry& entry : entries) {
    zip.local_headers.push_back(out.size());
    AppendSignature(out, 3, 4);
    AppendCommonFields(out, entry);
    AppendLe16(out, static_cast<std::uint16_t>(entry.name.size()));
    AppendLe16(out, static_cast<std::uint16_t>(entry.local_extra.size()));
    AppendText(out, entry.name);
    AppendText(out, entry.local_extra);
    AppendText(out, entry.stored);
  }
  zip.central_directory = out.size();
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const ZipEntry& entry = entries[i];
    zip.central_headers.push_back(out.size());
    AppendSignature(out, 1, 2);
    out.push_back(entry.version_made);
    out.push_back(entry.host);
    AppendCommonFields(out, entry);
    AppendLe16(out, static_cast<std::uint16_t>(entry.name.size()));
    AppendLe16(out, static_cast<std::uint16_t>(entry.central_extra.size()));
    AppendLe16(out, static_cast<std::uint16_t>(entry.comment.size()));
    AppendLe16(out, 0);  // disk number
    AppendLe16(out, 0);  // internal attributes
    AppendLe32(out, entry.external_attributes);
    AppendLe32(out, RecordedOffset(zip.local_headers[i], offset_base));
    AppendText(out, entry.name);
    AppendText(out, entry.central_extra);
    AppendText(out, entry.comment);
  }
  zip.end_record = out.size();
  AppendSignature(out, 5, 6);
  AppendLe16(out, 0);  // this disk
  AppendLe16(out, 0);  // disk with the directory
  AppendLe16(out, static_cast<std::uint16_t>(entries.size()));
  AppendLe16(out, static_cast<std::uint16_t>(entries.size()));
  AppendLe32(out, static_cast<std::uint32_t>(zip.end_record - zip.central_directory));
  AppendLe32(out, RecordedOffset(zip.central_directory, offset_base));
  AppendLe16(out, static_cast<std::uint16_t>(archive_comment.size()));
  AppendText(out, archive_comment);
  return zip;
}

ZipImage MakeStoredZip(const std::vector<ZipMember>& members, std::uint32_t offset_bias,
                       const std::string& archive_comment) {
  // 12:00:00 on 1 June 2020 in MS-DOS form.
  constexpr std::uint32_t kDosTime = 12 << 11;
  constexpr std::uint32_t kDosDate = ((2020 - 1980) << 9) | (6 << 5) | 1;
  std::vector<ZipEntry> entries;
  for (const ZipMember& member : members) {
    ZipEntry entry;
    entry.name = member.name;
    entry.stored = member.data;
    entry.crc = Crc32(member.data);
    entry.uncompressed_size = static_cast<std::uint32_t>(member.data.size());
    entry.flags = member.flags;
    entry.version_made = member.version;
    entry.host = member.host;
    entry.version_needed = 10;
    entry.dos_date_time = kDosDate << 16 | kDosTime;
    entry.local_extra = member.extra;
    entry.central_extra = member.extra;
    entry.comment = member.comment;
    const bool folder = !member.name.empty() && member.name.back() == '/';
    entry.external_attributes = folder ? 0x10 : 0x20;  // directory or archive
    entries.push_back(std::move(entry));
  }
  return WriteZip(entries, offset_bias, archive_comment);
}

}  // namespace test_zip
