// The builder's own file input and output, with the paths exactly as the user typed them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace selfx::cli {

// The whole of a regular file of at most max_size bytes, opened with OpenRegularFile: a FIFO
// or a device given in its place is refused instead of being read for ever.
std::optional<std::vector<std::uint8_t>> ReadRegularFile(const std::string& path,
                                                         std::uint64_t max_size,
                                                         std::string& error_text);

// Why the stub could not read a file of this size, or empty when it can: it seeks with signed
// 32-bit positions, so nothing at 2 GiB or beyond can be reached.
std::string StubFileSizeProblem(std::uint64_t size);

// The file's first line, without its line end: how a password file is read. Reads no
// further than the line end (or 4 KiB), so a pipe such as <(echo secret) works too.
std::optional<std::string> ReadFirstLine(const std::string& path, std::string& error_text);

// What a path names, as far as packing cares.
enum class PathKind {
  kRegular,
  kFolder,
  kSymlink,  // only when the link itself was asked for
  kFifo,
  kCharacterDevice,
  kBlockDevice,
  kSocket,
  kOther,
};

// "a FIFO", "a character device", ...: for messages.
const char* PathKindName(PathKind kind);

// The file system's own identity of a file: the same pair means the same file, whatever
// the names or links that lead to it.
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  bool operator==(const FileIdentity& other) const {
    return device == other.device && inode == other.inode;
  }
};

struct PathFacts {
  PathKind kind = PathKind::kOther;
  std::uint64_t size = 0;
  std::time_t modified = 0;
  std::uint32_t mode = 0;  // Unix permission and type bits, for the archive's records
  FileIdentity identity;
};

// The facts of the path itself (follow_links false: a symlink is reported as one) or of
// what its links lead to. The error is the system's (no such file, too long, a loop of
// links, no permission).
std::error_code InspectPath(const std::string& path, bool follow_links, PathFacts& facts);

// One name in a folder: in UTF-8 for the archive, and in the form the system's narrow calls
// take it (the same bytes on POSIX, the ANSI code page on Windows).
struct FolderItem {
  std::string name;
  std::string native_name;
};

// The folder's items, without "." and "..", in the system's order.
std::error_code ListFolder(const std::string& path, std::vector<FolderItem>& items);

// Opens a file that must be regular for reading. It is opened so that a FIFO or device put
// in its place since it was inspected neither blocks nor is read: the open does not wait
// and the open file is checked again. With follow_links false a symlink is refused too.
std::FILE* OpenRegularFile(const std::string& path, bool follow_links, std::string& error_text);

// A file written beside its final name under a fresh name of its own and renamed into place
// only when complete, so that no half-written file ever stands under the final name and no
// file of the user's is touched before then. Removed unless committed: on every return, on
// exit(), and on SIGINT, SIGTERM and SIGHUP (console control events on Windows). The
// platform layer's temporary files (platform/pending_file.h) are the mechanism.
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
  int pending_ = -1;  // its registration (platform::PendingId) until committed or removed
};

// Cuts an open file to size bytes.
bool TruncateFile(std::FILE* file, std::uint64_t size);

}  // namespace selfx::cli
