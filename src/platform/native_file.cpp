#include "platform/native_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cwchar>

#ifdef _WIN32
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#else
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <utility>

#include "platform/pending_file.h"
#include "platform/platform.h"

namespace selfx::cli {

std::optional<std::vector<std::uint8_t>> ReadRegularFile(const std::string& path,
                                                         std::uint64_t max_size,
                                                         std::string& error_text) {
  std::FILE* file = OpenRegularFile(path, true, error_text);
  if (file == nullptr) return std::nullopt;
  std::vector<std::uint8_t> bytes;
  std::uint8_t buffer[65536];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
    if (bytes.size() + n > max_size) {
      std::fclose(file);
      error_text = path + ": larger than " + std::to_string(max_size) + " bytes";
      return std::nullopt;
    }
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

std::string StubFileSizeProblem(std::uint64_t size) {
  if (size <= 0x7FFFFFFF) return std::string();
  return std::to_string(size) + " bytes; the stub reads files below 2 GiB only";
}

std::optional<std::string> ReadFirstLine(const std::string& path, std::string& error_text) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    error_text = path + ": " + std::strerror(errno);
    return std::nullopt;
  }
  constexpr std::size_t kLongestLine = 4096;
  std::string line;
  int c;
  while (line.size() < kLongestLine && (c = std::fgetc(file)) != EOF && c != '\r' && c != '\n') {
    line += static_cast<char>(c);
  }
  bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) {
    error_text = path + ": read error";
    return std::nullopt;
  }
  return line;
}

const char* PathKindName(PathKind kind) {
  switch (kind) {
    case PathKind::kRegular:
      return "a regular file";
    case PathKind::kFolder:
      return "a folder";
    case PathKind::kSymlink:
      return "a symbolic link";
    case PathKind::kFifo:
      return "a FIFO";
    case PathKind::kCharacterDevice:
      return "a character device";
    case PathKind::kBlockDevice:
      return "a block device";
    case PathKind::kSocket:
      return "a socket";
    case PathKind::kOther:
      break;
  }
  return "neither a file nor a folder";
}

#ifdef _WIN32

namespace {
// The system's error in the portable form where one exists, so that the callers' tests for
// "no such file" or "too long" read the same on every system.
std::error_code WindowsError(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return std::make_error_code(std::errc::no_such_file_or_directory);
    case ERROR_ACCESS_DENIED:
      return std::make_error_code(std::errc::permission_denied);
    case ERROR_FILENAME_EXCED_RANGE:
      return std::make_error_code(std::errc::filename_too_long);
    case ERROR_CANT_RESOLVE_FILENAME:
      return std::make_error_code(std::errc::too_many_symbolic_link_levels);
    case ERROR_DIRECTORY:
      return std::make_error_code(std::errc::not_a_directory);
    default:
      return std::error_code(static_cast<int>(error), std::system_category());
  }
}

std::time_t TimeFromFileTime(const FILETIME& time) {
  std::uint64_t ticks = (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) |
                        time.dwLowDateTime;
  constexpr std::uint64_t kTicksTo1970 = 116444736000000000ull;  // 100 ns ticks since 1601
  return ticks < kTicksTo1970 ? 0 : static_cast<std::time_t>((ticks - kTicksTo1970) / 10000000);
}
}  // namespace

std::error_code InspectPath(const std::string& path, bool follow_links, PathFacts& facts) {
  DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (follow_links ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
  HANDLE handle = CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, flags, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return WindowsError(GetLastError());
  BY_HANDLE_FILE_INFORMATION info;
  bool known = GetFileInformationByHandle(handle, &info) != 0;
  DWORD type = GetFileType(handle);
  DWORD error = GetLastError();
  CloseHandle(handle);
  if (type != FILE_TYPE_DISK) {
    facts = PathFacts();
    facts.kind = type == FILE_TYPE_PIPE ? PathKind::kFifo : PathKind::kCharacterDevice;
    return {};
  }
  if (!known) return WindowsError(error);
  bool folder = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if (!follow_links && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    facts.kind = PathKind::kSymlink;
  } else {
    facts.kind = folder ? PathKind::kFolder : PathKind::kRegular;
  }
  facts.size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  facts.modified = TimeFromFileTime(info.ftLastWriteTime);
  facts.mode = folder ? 040755 : 0100644;
  facts.identity.device = info.dwVolumeSerialNumber;
  facts.identity.inode = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) |
                         info.nFileIndexLow;
  return {};
}

namespace {
std::string FromWide(const wchar_t* text, UINT code_page) {
  int size = WideCharToMultiByte(code_page, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return std::string();
  std::string out(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(code_page, 0, text, -1, &out[0], size, nullptr, nullptr);
  out.resize(static_cast<std::size_t>(size - 1));
  return out;
}
}  // namespace

std::error_code ListFolder(const std::string& path, std::vector<FolderItem>& items) {
  std::string pattern = path + "\\*";
  int size = MultiByteToWideChar(CP_ACP, 0, pattern.c_str(), -1, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(size > 0 ? size : 1), L'\0');
  MultiByteToWideChar(CP_ACP, 0, pattern.c_str(), -1, &wide[0], size);
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(wide.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) return {};
    return WindowsError(error);
  }
  do {
    if (std::wcscmp(found.cFileName, L".") == 0 || std::wcscmp(found.cFileName, L"..") == 0) {
      continue;
    }
    items.push_back({FromWide(found.cFileName, CP_UTF8), FromWide(found.cFileName, CP_ACP)});
  } while (FindNextFileW(search, &found));
  DWORD error = GetLastError();
  FindClose(search);
  if (error != ERROR_NO_MORE_FILES) return WindowsError(error);
  return {};
}

std::FILE* OpenRegularFile(const std::string& path, bool follow_links, std::string& error_text) {
  PathFacts facts;
  if (!follow_links && !InspectPath(path, false, facts) && facts.kind == PathKind::kSymlink) {
    error_text = path + ": became a symbolic link while it was being packed";
    return nullptr;
  }
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    error_text = path + ": " + std::strerror(errno);
    return nullptr;
  }
  if (GetFileType(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)))) != FILE_TYPE_DISK) {
    std::fclose(file);
    error_text = path + ": not a regular file (a device or a pipe); not read";
    return nullptr;
  }
  return file;
}

#else

namespace {
PathKind KindOfMode(mode_t mode) {
  if (S_ISREG(mode)) return PathKind::kRegular;
  if (S_ISDIR(mode)) return PathKind::kFolder;
  if (S_ISLNK(mode)) return PathKind::kSymlink;
  if (S_ISFIFO(mode)) return PathKind::kFifo;
  if (S_ISCHR(mode)) return PathKind::kCharacterDevice;
  if (S_ISBLK(mode)) return PathKind::kBlockDevice;
  if (S_ISSOCK(mode)) return PathKind::kSocket;
  return PathKind::kOther;
}
}  // namespace

std::error_code InspectPath(const std::string& path, bool follow_links, PathFacts& facts) {
  struct stat info;
  int result = follow_links ? ::stat(path.c_str(), &info) : ::lstat(path.c_str(), &info);
  if (result != 0) return std::error_code(errno, std::generic_category());
  facts.kind = KindOfMode(info.st_mode);
  facts.size = static_cast<std::uint64_t>(info.st_size);
  facts.modified = info.st_mtime;
  facts.mode = static_cast<std::uint32_t>(info.st_mode);
  facts.identity.device = static_cast<std::uint64_t>(info.st_dev);
  facts.identity.inode = static_cast<std::uint64_t>(info.st_ino);
  return {};
}

std::error_code ListFolder(const std::string& path, std::vector<FolderItem>& items) {
  DIR* folder = ::opendir(path.c_str());
  if (folder == nullptr) return std::error_code(errno, std::generic_category());
  for (;;) {
    errno = 0;
    const dirent* item = ::readdir(folder);
    if (item == nullptr) break;
    if (std::strcmp(item->d_name, ".") == 0 || std::strcmp(item->d_name, "..") == 0) continue;
    items.push_back({item->d_name, item->d_name});
  }
  int error = errno;
  ::closedir(folder);
  if (error != 0) return std::error_code(error, std::generic_category());
  return {};
}

std::FILE* OpenRegularFile(const std::string& path, bool follow_links, std::string& error_text) {
  // O_NONBLOCK: opening a FIFO would otherwise wait for a writer for ever.
  int flags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | (follow_links ? 0 : O_NOFOLLOW);
  int descriptor = ::open(path.c_str(), flags);
  if (descriptor < 0) {
    error_text = path + ": " +
                 (errno == ELOOP && !follow_links
                      ? std::string("became a symbolic link while it was packed")
                      : std::string(std::strerror(errno)));
    return nullptr;
  }
  struct stat info;
  if (::fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode)) {
    error_text = path + ": is " + PathKindName(KindOfMode(info.st_mode)) +
                 " now, not the regular file it was; not read";
    ::close(descriptor);
    return nullptr;
  }
  // Reads of a regular file never wait anyway; the flag goes so that nothing else sees it.
  ::fcntl(descriptor, F_SETFL, ::fcntl(descriptor, F_GETFL) & ~O_NONBLOCK);
  std::FILE* file = ::fdopen(descriptor, "rb");
  if (file == nullptr) {
    error_text = path + ": " + std::strerror(errno);
    ::close(descriptor);
  }
  return file;
}

#endif

namespace {

// A stream over the temporary file's handle, which then belongs to the stream.
std::FILE* StreamOver(platform::FileHandle handle) {
#ifdef _WIN32
  int descriptor = _open_osfhandle(handle, _O_RDWR | _O_BINARY);
  if (descriptor < 0) return nullptr;
  std::FILE* file = _fdopen(descriptor, "w+b");
  if (file == nullptr) _close(descriptor);
  return file;
#else
  std::FILE* file = ::fdopen(static_cast<int>(handle), "w+b");
  if (file == nullptr) ::close(static_cast<int>(handle));
  return file;
#endif
}

}  // namespace

PartialFile::PartialFile(std::string final_path) : final_path_(std::move(final_path)) {}

PartialFile::~PartialFile() {
  if (file_ != nullptr) std::fclose(file_);
  if (pending_ != platform::kNoPending) platform::DiscardPending(pending_);
}

bool PartialFile::Open(std::string& error_text) {
  platform::FileHandle handle = platform::kNoFile;
  pending_ = platform::CreatePendingBeside(final_path_, handle);
  if (pending_ == platform::kNoPending) {
    error_text = final_path_ +
                 ": cannot create a temporary file beside it: " + platform::LastErrorText();
    return false;
  }
  partial_path_ = platform::PendingPath(pending_);
  platform::ForgetPendingHandle(pending_);
  file_ = StreamOver(handle);
  if (file_ == nullptr) {
    error_text = partial_path_ + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

bool PartialFile::Write(const std::vector<std::uint8_t>& bytes) {
  return bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file_) == bytes.size();
}

bool PartialFile::Close(std::string& error_text) {
  if (file_ == nullptr) return true;
#ifndef _WIN32
  // A program, readable and runnable as the umask allows.
  mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fileno(file_), 0755 & ~mask);
#endif
  bool closed = std::fclose(file_) == 0;
  file_ = nullptr;
  if (!closed) error_text = final_path_ + ": cannot write (" + std::strerror(errno) + ")";
  return closed;
}

// The new file takes the old one's place in one step: until the move succeeds the old
// output stands untouched, and a failed move leaves it as it was.
bool PartialFile::Commit(std::string& error_text) {
  if (!Close(error_text)) return false;
  bool moved = platform::CommitPending(pending_, platform::Placement::kReplace);
  pending_ = platform::kNoPending;
  if (!moved) error_text = final_path_ + ": cannot replace (" + platform::LastErrorText() + ")";
  return moved;
}

bool TruncateFile(std::FILE* file, std::uint64_t size) {
#ifdef _WIN32
  return _chsize_s(_fileno(file), static_cast<long long>(size)) == 0;
#else
  return ::ftruncate(fileno(file), static_cast<off_t>(size)) == 0;
#endif
}

}  // namespace selfx::cli
