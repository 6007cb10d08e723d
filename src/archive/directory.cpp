#include "archive/directory.h"

#include <vector>

#include "archive/pe_image.h"
#include "archive/zip_format.h"
#include "archive/zip_signatures.h"

namespace selfx {

namespace {

constexpr std::uint8_t kHostMsDos = 0;
constexpr std::uint8_t kHostOs2 = 6;
constexpr std::uint8_t kHostNtfs = 11;
constexpr std::uint8_t kNtfsOemFormatVersion = 50;

}  // namespace

namespace {

// How much of the file's end the search looks at: everything behind archive_start, but no
// more than the record with the longest comment, plus one. Nothing when that is too short to
// hold more than a bare record.
std::optional<std::uint32_t> SearchWindowSize(std::uint32_t file_size,
                                              std::uint32_t archive_start) {
  // An archive said to start past the end of the file has nothing to search (unchecked, the
  // difference would wrap and the search would look before the archive's start).
  std::uint32_t window_size = file_size > archive_start ? file_size - archive_start : 0;
  if (window_size > zip::kEndSearchWindow) window_size = zip::kEndSearchWindow;
  if (window_size <= zip::kEndRecordSize) return std::nullopt;
  return window_size;
}

}  // namespace

std::optional<std::uint32_t> SearchEndRecord(const ArchiveFile& archive) {
  std::optional<std::uint32_t> window_size = SearchWindowSize(archive.end, archive.start);
  if (!window_size) return std::nullopt;
  // Only a signed file's archive ends before the file does.
  bool is_signed = archive.end != platform::FileSize(archive.handle);

  std::vector<std::uint8_t> window(*window_size);
  std::uint32_t position_before = archive.Seek(0, platform::SeekOrigin::FromCurrent);
  std::uint32_t window_start = archive.Seek(static_cast<std::int32_t>(archive.end - *window_size),
                                            platform::SeekOrigin::FromStart);
  std::uint32_t read = archive.Read(window.data(), *window_size);
  archive.Seek(static_cast<std::int32_t>(position_before), platform::SeekOrigin::FromStart);
  if (read < *window_size) return std::nullopt;

  std::optional<std::uint32_t> offset = ScanForEndRecord(
      window.data(), *window_size, window_start, archive.end,
      is_signed ? pe::kCertificateAlignment - 1 : 0);
  if (!offset) return std::nullopt;
  return window_start + *offset;
}

std::optional<std::uint32_t> FindEndRecordInMemory(const std::uint8_t* file,
                                                   std::uint32_t file_size,
                                                   std::uint32_t archive_start) {
  std::optional<std::uint32_t> window_size = SearchWindowSize(file_size, archive_start);
  if (!window_size) return std::nullopt;
  std::uint32_t window_start = file_size - *window_size;
  std::optional<std::uint32_t> offset = ScanForEndRecord(file + window_start, *window_size,
                                                         window_start, file_size);
  if (!offset) return std::nullopt;
  return window_start + *offset;
}

std::optional<std::uint32_t> ScanForEndRecord(const std::uint8_t* window, std::uint32_t window_size,
                                              std::uint32_t window_start, std::uint32_t archive_end,
                                              std::uint32_t padding_allowed) {
  if (window_size < zip::kEndRecordSize) return std::nullopt;
  for (std::uint32_t i = 0; i <= window_size - zip::kEndRecordSize; ++i) {
    if (LoadLe32(window + i) != EndRecordSignature) continue;
    std::uint32_t comment_length = LoadLe16(window + i + zip::kEndCommentLength);
    // Only a record whose comment ends exactly at the end of the archive is the real one;
    // anything else is data that happens to look like a signature.
    std::uint32_t record_end = window_start + i + zip::kEndRecordSize + comment_length;
    std::uint32_t gap = archive_end - record_end;  // a record past the end wraps to a huge gap
    if (gap > padding_allowed) continue;
    // In a signed file the signer's padding, a few zero bytes, may stand between the two.
    const std::uint8_t* padding = window + (record_end - window_start);
    while (gap != 0 && padding[gap - 1] == 0) --gap;
    if (gap == 0) return i;
  }
  return std::nullopt;
}

std::int32_t OffsetBase(const std::uint8_t* end_record, std::uint32_t end_record_position) {
  std::uint32_t directory_size = LoadLe32(end_record + zip::kEndDirectorySize);
  std::uint32_t recorded_offset = LoadLe32(end_record + zip::kEndDirectoryOffset);
  return static_cast<std::int32_t>(end_record_position - (recorded_offset + directory_size));
}

std::string ConvertEntryName(const std::string& name, const ArchiveEntry& entry) {
  // Today's zip tools mark names they store in UTF-8, mostly with host 0; reading those
  // bytes as OEM would garble every non-ASCII name.
  if ((entry.Flags() & zip::kFlagUtf8Name) != 0) return platform::Utf8TextToAnsi(name);
  std::uint8_t host = entry.HostSystem();
  bool oem = host == kHostMsDos || host == kHostOs2 ||
             (host == kHostNtfs && entry.FormatVersion() == kNtfsOemFormatVersion);
  return oem ? platform::OemTextToAnsi(name) : name;
}

namespace {

// The directory's records, read from where the end record says the directory begins.
bool ReadDirectory(Extraction& extraction, bool rows_selected) {
  ArchiveFile& archive = extraction.archive;
  std::optional<std::uint32_t> end_record_position = SearchEndRecord(archive);
  if (!end_record_position) return false;
  archive.Seek(static_cast<std::int32_t>(*end_record_position), platform::SeekOrigin::FromStart);
  std::uint8_t end_record[zip::kEndRecordSize];
  if (!archive.ReadExact(end_record, zip::kEndRecordSize)) return false;
  archive.base = OffsetBase(end_record, *end_record_position);
  // The directory is found from the end record alone: it ends where the record begins.
  std::uint32_t directory_size = LoadLe32(end_record + zip::kEndDirectorySize);
  archive.Seek(-static_cast<std::int32_t>(zip::kEndRecordSize + directory_size),
               platform::SeekOrigin::FromCurrent);
  std::uint16_t entry_count = LoadLe16(end_record + zip::kEndTotalEntries);
  // Rows are read in place; a folder entry's row is taken by the next entry, and what is left
  // over at the end goes. (Growing the list a row at a time would cost the stub the code that
  // moves rows.)
  std::vector<EntryRow> rows(entry_count);
  std::size_t kept = 0;
  for (std::uint32_t n = 0; n < entry_count; ++n) {
    EntryRow& row = rows[kept];
    ArchiveEntry& entry = row.entry;
    if (!archive.ReadExact(entry.bytes, zip::kCentralHeaderSize)) return false;
    std::uint16_t name_length = entry.NameLength();
    if (entry.Signature() != CentralHeaderSignature || name_length == 0 ||
        name_length > zip::kMaxNameLength) {
      return false;
    }
    std::string name(name_length, '\0');
    if (!archive.ReadExact(&name[0], name_length)) return false;
    for (char& c : name) {
      if (c == '/') c = '\\';
    }
    row.name = ConvertEntryName(name, entry);
    row.selected = rows_selected;
    // A conversion may change the length (UTF-8 to ANSI shrinks); the folder test looks at
    // the last byte of what the user sees.
    bool folder_entry = !row.name.empty() && row.name.back() == '\\';
    if (!folder_entry) ++kept;
    archive.Seek(entry.ExtraLength() + entry.CommentLength(), platform::SeekOrigin::FromCurrent);
  }
  rows.erase(rows.begin() + static_cast<std::ptrdiff_t>(kept), rows.end());
  extraction.entries.swap(rows);
  return true;
}

}  // namespace

bool LoadDirectory(Extraction& extraction, bool rows_selected) {
  if (ReadDirectory(extraction, rows_selected)) return true;
  extraction.fault = Fault::kCorrupt;
  return false;
}

}  // namespace selfx
