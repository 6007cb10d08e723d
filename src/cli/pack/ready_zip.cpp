#include "cli/pack/ready_zip.h"

#include <cstring>
#include <optional>
#include <vector>

#include "archive/archive_entry.h"
#include "archive/directory.h"
#include "archive/zip_format.h"
#include "archive/zip_signatures.h"
#include "base/byte_order.h"
#include "cli/pack/entry_names.h"
#include "platform/native_file.h"
#include "platform/platform.h"

namespace selfx::cli {

namespace {

constexpr std::uint64_t kLargestArchive = 0x7FFFFFFF;  // the stub seeks with signed 32 bits
constexpr std::size_t kCopyPiece = 1 << 20;

bool SeekTo(std::FILE* file, std::uint64_t position) {
#ifdef _WIN32
  return _fseeki64(file, static_cast<long long>(position), SEEK_SET) == 0;
#else
  return fseeko(file, static_cast<off_t>(position), SEEK_SET) == 0;
#endif
}

std::uint64_t LengthOf(std::FILE* file) {
#ifdef _WIN32
  if (_fseeki64(file, 0, SEEK_END) != 0) return 0;
  long long end = _ftelli64(file);
#else
  if (fseeko(file, 0, SEEK_END) != 0) return 0;
  off_t end = ftello(file);
#endif
  return end < 0 ? 0 : static_cast<std::uint64_t>(end);
}

bool ReadExact(std::FILE* file, void* buffer, std::size_t size) {
  return size == 0 || std::fread(buffer, 1, size, file) == size;
}

}  // namespace

ReadyZip::~ReadyZip() {
  if (file_ != nullptr) std::fclose(file_);
}

bool ReadyZip::Open(const std::string& path, std::string& error_text) {
  path_ = path;
  file_ = OpenRegularFile(path, true, error_text);
  if (file_ == nullptr) return false;
  size_ = LengthOf(file_);
  if (size_ > kLargestArchive) {
    error_text = path + ": archives of 2 GiB or more cannot be read by the stub";
    return false;
  }
  return CheckEndAndDirectory(error_text);
}

// The ZIP must be one the stub can read: an end record whose comment ends the file, and no
// ZIP64 records, which the stub does not know and which would make it look in the wrong
// place. Only the file's end is read for it: the search window and the locator before it.
bool ReadyZip::CheckEndAndDirectory(std::string& error_text) {
  auto size = static_cast<std::uint32_t>(size_);
  std::uint32_t window_size = size < zip::kEndSearchWindow ? size : zip::kEndSearchWindow;
  std::uint32_t window_start = size - window_size;
  std::uint32_t read_start = window_start < zip::kZip64LocatorSize
                                 ? 0
                                 : window_start - zip::kZip64LocatorSize;
  std::vector<std::uint8_t> tail(size - read_start);
  if (!SeekTo(file_, read_start) || !ReadExact(file_, tail.data(), tail.size())) {
    error_text = path_ + ": read error";
    return false;
  }
  std::optional<std::uint32_t> offset;
  if (window_size > zip::kEndRecordSize) {
    offset = ScanForEndRecord(tail.data() + (window_start - read_start), window_size, window_start,
                              size);
  }
  if (!offset) {
    error_text = path_ +
                 ": not a ZIP archive the stub can read (no end of central directory "
                 "record at its end, or nothing but one)";
    return false;
  }
  std::uint32_t end_position = window_start + *offset;
  const std::uint8_t* end_record = tail.data() + (end_position - read_start);
  bool zip64_locator = end_position >= read_start + zip::kZip64LocatorSize &&
                       LoadLe32(end_record - zip::kZip64LocatorSize) == zip::kZip64LocatorSignature;
  bool zip64_markers = LoadLe16(end_record + zip::kEndTotalEntries) == 0xFFFF ||
                       LoadLe32(end_record + zip::kEndDirectorySize) == zip::kZip64Marker ||
                       LoadLe32(end_record + zip::kEndDirectoryOffset) == zip::kZip64Marker;
  if (zip64_locator || zip64_markers) {
    error_text = path_ +
                 ": the archive carries ZIP64 records, which the stub cannot read "
                 "(rebuild it without ZIP64, e.g. zip -fz-)";
    return false;
  }
  std::uint32_t directory_size = LoadLe32(end_record + zip::kEndDirectorySize);
  if (directory_size > end_position) {
    error_text = path_ + ": the archive is damaged (its directory is larger than the file)";
    return false;
  }
  // The stub finds the directory where the end record says it ends, right before the record.
  return CheckDirectory(end_position - directory_size, directory_size,
                        LoadLe16(end_record + zip::kEndTotalEntries), error_text);
}

// Reads the central directory entry by entry, as the stub will, and judges every name.
bool ReadyZip::CheckDirectory(std::uint32_t directory_start, std::uint32_t directory_size,
                              std::uint32_t entry_count, std::string& error_text) {
  if (!SeekTo(file_, directory_start)) {
    error_text = path_ + ": read error";
    return false;
  }
  std::uint64_t left = directory_size;
  std::vector<std::uint8_t> skipped;
  for (std::uint32_t n = 0; n < entry_count; ++n) {
    ArchiveEntry entry;
    std::string stored;
    bool sound = left >= zip::kCentralHeaderSize &&
                 ReadExact(file_, entry.bytes, sizeof entry.bytes) &&
                 entry.Signature() == CentralHeaderSignature;
    if (sound) {
      left -= zip::kCentralHeaderSize;
      std::uint32_t rest = std::uint32_t{entry.NameLength()} + entry.ExtraLength() +
                           entry.CommentLength();
      stored.resize(entry.NameLength());
      skipped.resize(rest - entry.NameLength());
      sound = left >= rest && ReadExact(file_, &stored[0], stored.size()) &&
              ReadExact(file_, skipped.data(), skipped.size());
      left -= sound ? rest : 0;
    }
    if (!sound) {
      error_text = path_ + ": the archive is damaged (entry " + std::to_string(n + 1) + " of " +
                   std::to_string(entry_count) + " in its directory cannot be read)";
      return false;
    }
    std::string shown = ConvertEntryName(stored, entry);
    std::string problem = EntryNameProblem(stored, shown, true);
    if (!problem.empty()) {
      if (shown.size() > zip::kMaxNameLength) shown = shown.substr(0, 60) + "...";
      error_text = path_ + ": the entry \"" + platform::AnsiToConsole(shown) + "\" " + problem;
      return false;
    }
  }
  entries_ = entry_count;
  return true;
}

bool ReadyZip::CopyTo(std::FILE* output, const std::function<void(std::uint64_t)>& progress,
                      std::string& error_text) {
  if (!SeekTo(file_, 0)) {
    error_text = path_ + ": read error";
    return false;
  }
  std::vector<std::uint8_t> piece(kCopyPiece);
  for (std::uint64_t left = size_; left != 0;) {
    std::size_t want = left < piece.size() ? static_cast<std::size_t>(left) : piece.size();
    if (!ReadExact(file_, piece.data(), want)) {
      error_text = path_ + ": read error (did the file change while it was copied?)";
      return false;
    }
    if (std::fwrite(piece.data(), 1, want, output) != want) {
      error_text = "cannot write the output";
      return false;
    }
    if (progress) progress(want);
    left -= want;
  }
  return true;
}

}  // namespace selfx::cli
