// A ready ZIP archive that selfx build uses as it is. It is judged the way the stub will
// read it (the end record found at the file's end, no ZIP64 records, every name one the stub
// can create) and copied into the output in pieces: memory does not grow with the archive.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

namespace selfx::cli {

class ReadyZip {
 public:
  ReadyZip() = default;
  ~ReadyZip();
  ReadyZip(const ReadyZip&) = delete;
  ReadyZip& operator=(const ReadyZip&) = delete;

  // Opens the archive and checks it; false with error_text when the stub could not read it
  // or could not create one of its files.
  bool Open(const std::string& path, std::string& error_text);
  // Appends the whole archive to output; progress is told the bytes of every piece.
  bool CopyTo(std::FILE* output, const std::function<void(std::uint64_t)>& progress,
              std::string& error_text);

  std::uint64_t size() const { return size_; }
  std::uint32_t entries() const { return entries_; }

 private:
  bool CheckEndAndDirectory(std::string& error_text);
  bool CheckDirectory(std::uint32_t directory_start, std::uint32_t directory_size,
                      std::uint32_t entry_count, std::string& error_text);

  std::string path_;
  std::FILE* file_ = nullptr;
  std::uint64_t size_ = 0;
  std::uint32_t entries_ = 0;
};

}  // namespace selfx::cli
