// The builder's own file input and output, with the paths exactly as the user typed them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace selfx::cli {

// The whole file, or nothing when it cannot be read (error_text then says why).
std::optional<std::vector<std::uint8_t>> ReadWholeFile(const std::string& path,
                                                       std::string& error_text);

// The file's first line, without its line end: how a password file is read.
std::optional<std::string> ReadFirstLine(const std::string& path, std::string& error_text);

// A file written beside its final name and renamed into place only when complete, so that
// no half-written file ever stands under the final name. Removed unless committed.
class PartialFile {
 public:
  explicit PartialFile(std::string final_path);
  ~PartialFile();
  PartialFile(const PartialFile&) = delete;
  PartialFile& operator=(const PartialFile&) = delete;

  bool Open(std::string& error_text);
  std::FILE* file() const { return file_; }
  const std::string& partial_path() const { return partial_path_; }
  bool Write(const std::vector<std::uint8_t>& bytes);
  // Closes the file (if still open); false when the close loses data.
  bool Close(std::string& error_text);
  // Closes it and moves it to the final name.
  bool Commit(std::string& error_text);

 private:
  std::string final_path_;
  std::string partial_path_;
  std::FILE* file_ = nullptr;
  bool committed_ = false;
};

// Cuts an open file to size bytes.
bool TruncateFile(std::FILE* file, std::uint64_t size);

}  // namespace selfx::cli
