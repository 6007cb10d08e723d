#include "cli/native_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#ifndef _WIN32
#include <sys/stat.h>
#endif

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

bool WriteFileAtomically(const std::string& path,
                         const std::vector<const std::vector<std::uint8_t>*>& parts,
                         std::string& error_text) {
  std::string temporary = path + ".partial";
  std::FILE* file = std::fopen(temporary.c_str(), "wb");
  if (file == nullptr) {
    error_text = temporary + ": " + std::strerror(errno);
    return false;
  }
  bool written = true;
  for (const std::vector<std::uint8_t>* part : parts) {
    if (!part->empty() && std::fwrite(part->data(), 1, part->size(), file) != part->size()) {
      written = false;
    }
  }
  if (std::fclose(file) != 0) written = false;
  if (!written) {
    error_text = path + ": cannot write (" + std::strerror(errno) + ")";
    std::remove(temporary.c_str());
    return false;
  }
#ifdef _WIN32
  std::remove(path.c_str());  // rename does not replace on Windows
#else
  ::chmod(temporary.c_str(), 0755);
#endif
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    error_text = path + ": " + std::strerror(errno);
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace selfx::cli
