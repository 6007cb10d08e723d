#include "cli/native_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#include <io.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <utility>

namespace selfx::cli {

std::optional<std::vector<std::uint8_t>> ReadWholeFile(const std::string& path,
                                                       std::string& error_text) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    error_text = path + ": " + std::strerror(errno);
    return std::nullopt;
  }
  std::vector<std::uint8_t> bytes;
  std::uint8_t buffer[65536];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
    bytes.insert(bytes.end(), buffer, buffer + n);
  }
  bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) {
    error_text = path + ": read error";
    return std::nullopt;
  }
  return bytes;
}

std::optional<std::string> ReadFirstLine(const std::string& path, std::string& error_text) {
  std::optional<std::vector<std::uint8_t>> bytes = ReadWholeFile(path, error_text);
  if (!bytes) return std::nullopt;
  std::string text(bytes->begin(), bytes->end());
  return text.substr(0, text.find_first_of("\r\n"));
}

PartialFile::PartialFile(std::string final_path)
    : final_path_(std::move(final_path)), partial_path_(final_path_ + ".partial") {}

PartialFile::~PartialFile() {
  if (file_ != nullptr) std::fclose(file_);
  if (!committed_) std::remove(partial_path_.c_str());
}

bool PartialFile::Open(std::string& error_text) {
  file_ = std::fopen(partial_path_.c_str(), "w+b");
  if (file_ == nullptr) error_text = partial_path_ + ": " + std::strerror(errno);
  return file_ != nullptr;
}

bool PartialFile::Write(const std::vector<std::uint8_t>& bytes) {
  return bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file_) == bytes.size();
}

bool PartialFile::Close(std::string& error_text) {
  if (file_ == nullptr) return true;
  bool closed = std::fclose(file_) == 0;
  file_ = nullptr;
  if (!closed) error_text = final_path_ + ": cannot write (" + std::strerror(errno) + ")";
  return closed;
}

// The new file takes the old one's place in one step: until the move succeeds the old
// output stands untouched, and a failed move leaves both files as they were.
bool PartialFile::Commit(std::string& error_text) {
  if (!Close(error_text)) return false;
#ifdef _WIN32
  // rename() refuses an existing target on Windows; MoveFileEx replaces it, and waits for
  // the move to reach the disk.
  if (!MoveFileExA(partial_path_.c_str(), final_path_.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    error_text = final_path_ + ": cannot replace (error " + std::to_string(GetLastError()) + ")";
    return false;
  }
#else
  ::chmod(partial_path_.c_str(), 0755);
  if (std::rename(partial_path_.c_str(), final_path_.c_str()) != 0) {
    error_text = final_path_ + ": " + std::strerror(errno);
    return false;
  }
#endif
  committed_ = true;
  return true;
}

bool TruncateFile(std::FILE* file, std::uint64_t size) {
#ifdef _WIN32
  return _chsize_s(_fileno(file), static_cast<long long>(size)) == 0;
#else
  return ::ftruncate(fileno(file), static_cast<off_t>(size)) == 0;
#endif
}

}  // namespace selfx::cli
