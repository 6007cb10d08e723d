// POSIX implementation of the platform layer (Linux host). Paths arrive in Windows form and
// in the ANSI code page (1252); they leave here as POSIX paths in UTF-8.

#include <fcntl.h>
#include <signal.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "base/utf8.h"
#include "platform/pending_file.h"
#include "platform/platform.h"
#include "platform/posix_paths.h"

namespace selfx::platform {

namespace {

// Code page 437 bytes 0x80..0xFF in code page 1252: the character itself where 1252 has it,
// else the nearest plain character (box drawings become + - |, Greek letters their Latin
// look-alikes).
constexpr std::uint8_t kOem437ToAnsi1252[128] = {
    0xC7, 0xFC, 0xE9, 0xE2, 0xE4, 0xE0, 0xE5, 0xE7, 0xEA, 0xEB, 0xE8, 0xEF, 0xEE, 0xEC, 0xC4, 0xC5,
    0xC9, 0xE6, 0xC6, 0xF4, 0xF6, 0xF2, 0xFB, 0xF9, 0xFF, 0xD6, 0xDC, 0xA2, 0xA3, 0xA5, 0x50, 0x83,
    0xE1, 0xED, 0xF3, 0xFA, 0xF1, 0xD1, 0xAA, 0xBA, 0xBF, 0xAC, 0xAC, 0xBD, 0xBC, 0xA1, 0xAB, 0xBB,
    0x23, 0x23, 0x23, 0x7C, 0x2B, 0x2B, 0x2B, 0x2B, 0x2B, 0x2B, 0x7C, 0x2B, 0x2B, 0x2B, 0x2B, 0x2B,
    0x2B, 0x2B, 0x2B, 0x2B, 0x2D, 0x2B, 0x2B, 0x2B, 0x2B, 0x2B, 0x2B, 0x2B, 0x2B, 0x2D, 0x2B, 0x2B,
    0x2B, 0x2B, 0x2B, 0x2B, 0x2B, 0x2B, 0x2B, 0x2B, 0x2B, 0x2B, 0x2B, 0x23, 0x5F, 0x7C, 0x7C, 0x2D,
    0x61, 0xDF, 0x47, 0x70, 0x53, 0x73, 0xB5, 0x74, 0x46, 0x4F, 0x4F, 0x64, 0x38, 0x66, 0x65, 0x6E,
    0x3D, 0xB1, 0x3E, 0x3C, 0x28, 0x29, 0xF7, 0x7E, 0xB0, 0xB7, 0xB7, 0x76, 0x6E, 0xB2, 0x23, 0xA0,
};

// Code page 1252 bytes 0x80..0x9F as Unicode; the rest of 1252 equals Latin-1. The five
// undefined bytes keep their own value, as Windows maps them.
constexpr std::uint16_t kAnsi1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

std::uint32_t AnsiToUnicode(std::uint8_t byte) {
  if (byte >= 0x80 && byte < 0xA0) return kAnsi1252High[byte - 0x80];
  return byte;
}

// The 1252 byte for a Unicode character, or 0 when the code page has none.
std::uint8_t UnicodeToAnsi(std::uint32_t code_point) {
  if (code_point < 0x80 || (code_point >= 0xA0 && code_point <= 0xFF)) {
    return static_cast<std::uint8_t>(code_point);
  }
  for (int i = 0; i < 32; ++i) {
    if (kAnsi1252High[i] == code_point) return static_cast<std::uint8_t>(0x80 + i);
  }
  return 0;
}

void AppendUtf8(std::string& out, std::uint32_t code_point) {
  if (code_point < 0x80) {
    out += static_cast<char>(code_point);
  } else if (code_point < 0x800) {
    out += static_cast<char>(0xC0 | (code_point >> 6));
    out += static_cast<char>(0x80 | (code_point & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (code_point >> 12));
    out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code_point & 0x3F));
  }
}

}  // namespace

namespace {

// Why the last failed call failed: an errno value, or a reason of this layer's own. Like errno,
// each thread has its own: a thread decoding ahead must not change the reason another shows.
thread_local int last_error = 0;
thread_local const char* last_reason = nullptr;

// The folder that writes are confined to, as the core names it, with one trailing "\";
// empty when writes may go anywhere.
std::string confined_root;

void (*write_observer)(std::uint32_t) = nullptr;

}  // namespace

void NoteFailure(int error, const char* reason) {
  last_error = error;
  last_reason = reason;
}

std::string AnsiToUtf8(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (unsigned char byte : text) AppendUtf8(out, AnsiToUnicode(byte));
  return out;
}

bool CommandLineTextToAnsi(const std::string& text, std::string& ansi) {
  ansi = Utf8TextToAnsi(text);
  // Utf8TextToAnsi turns what 1252 cannot hold into "_"; only a round trip shows whether
  // anything was lost.
  return AnsiToUtf8(ansi) == text;
}

bool ReadTerminalLine(std::string& line, bool echo) {
  int terminal = ::open("/dev/tty", O_RDWR | O_CLOEXEC);
  if (terminal < 0) return false;
  struct termios saved;
  bool restore = false;
  if (!echo && ::tcgetattr(terminal, &saved) == 0) {
    struct termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    restore = ::tcsetattr(terminal, TCSAFLUSH, &quiet) == 0;
  }
  line.clear();
  char c;
  bool got_any = false;
  while (::read(terminal, &c, 1) == 1) {
    got_any = true;
    if (c == '\n') break;
    line += c;
  }
  if (restore) {
    ::tcsetattr(terminal, TCSAFLUSH, &saved);
    if (::write(terminal, "\n", 1) < 0) {
      // The newline the user typed was not shown; nothing else to do about it.
    }
  }
  ::close(terminal);
  line = Utf8TextToAnsi(line);
  return got_any;
}

bool ErrorStreamIsTerminal() { return ::isatty(2) != 0; }

namespace {
void (*interrupt_handler)() = nullptr;

void OnSignal(int) {
  if (interrupt_handler != nullptr) interrupt_handler();
  // A second Ctrl-C ends the program at once, in the middle of a long entry too, removing
  // the file being written first.
  struct sigaction end_action = {};
  end_action.sa_handler = &RemovePendingAndEnd;
  ::sigaction(SIGINT, &end_action, nullptr);
}
}  // namespace

void OnInterrupt(void (*handler)()) {
  interrupt_handler = handler;
  struct sigaction action = {};
  action.sa_handler = &OnSignal;
  ::sigaction(SIGINT, &action, nullptr);
}

std::string AnsiToUtf8Text(const std::string& text) { return AnsiToUtf8(text); }

bool Utf8FitsAnsiCodePage(const std::string& text) {
  std::string ansi;
  return CommandLineTextToAnsi(text, ansi);
}

std::string AnsiToConsole(const std::string& text) { return AnsiToUtf8(text); }

std::string WithNativeSeparators(const std::string& text) {
  std::string native = text;
  for (char& c : native) {
    if (c == '\\') c = '/';
  }
  return native;
}

std::string ConsoleTextToUtf8(const std::string& text) {
  std::string utf8;
  for (std::size_t i = 0; i < text.size();) {
    std::size_t length = Utf8SequenceLength(text, i);
    if (length == 0) {
      utf8 += "\xEF\xBF\xBD";
      ++i;
    } else {
      utf8.append(text, i, length);
      i += length;
    }
  }
  return utf8;
}

std::string ToPosixPath(const std::string& path) {
  std::string out = AnsiToUtf8(path);
  for (char& c : out) {
    if (c == '\\') c = '/';
  }
  return out;
}

FileHandle OpenForReading(const std::string& path) {
  int fd = ::open(ToPosixPath(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) NoteFailure(errno);
  return fd < 0 ? kNoFile : fd;
}

namespace {

// The part of path below the confined root ("a\b.txt" of "out\a\b.txt"); false when writes
// are not confined or path does not lie below the root.
bool BelowRoot(const std::string& path, std::string& relative) {
  if (confined_root.empty() || path.size() <= confined_root.size() ||
      path.compare(0, confined_root.size(), confined_root) != 0) {
    return false;
  }
  relative = path.substr(confined_root.size());
  return true;
}

// Splits "a\b\c.txt" into its folder "a\b" and its last name "c.txt".
void SplitLastName(const std::string& relative, std::string& folder, std::string& name) {
  std::string::size_type last = relative.find_last_of('\\');
  folder = last == std::string::npos ? std::string() : relative.substr(0, last);
  name = last == std::string::npos ? relative : relative.substr(last + 1);
}

// Opens the folder at relative below the root one name at a time, following no link: nothing
// reached here lies outside the root, whatever links stand in the tree. -1 on failure.
int OpenFolderBelowRoot(const std::string& relative) {
  int folder = ::open(ToPosixPath(confined_root).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0) {
    NoteFailure(errno);
    return -1;
  }
  std::string::size_type at = 0;
  while (at < relative.size()) {
    std::string::size_type end = relative.find('\\', at);
    if (end == std::string::npos) end = relative.size();
    std::string name = AnsiToUtf8(relative.substr(at, end - at));
    at = end + 1;
    if (name.empty() || name == ".") continue;
    if (name == "..") {
      ::close(folder);
      NoteFailure(EACCES, "the path leads out of the target folder");
      return -1;
    }
    int next = ::openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (next < 0) {
      int error = errno;
      struct stat info;
      bool link = ::fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
                  S_ISLNK(info.st_mode);
      ::close(folder);
      NoteFailure(error, link ? "a folder of the path is a symbolic link" : nullptr);
      return -1;
    }
    ::close(folder);
    folder = next;
  }
  return folder;
}

}  // namespace

FileHandle CreateForWriting(const std::string& path) {
  std::string relative;
  if (!BelowRoot(path, relative)) {
    int fd = ::open(ToPosixPath(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) NoteFailure(errno);
    return fd < 0 ? kNoFile : fd;
  }
  std::string folder_part, name;
  SplitLastName(relative, folder_part, name);
  name = AnsiToUtf8(name);
  int folder = OpenFolderBelowRoot(folder_part);
  if (folder < 0) return kNoFile;
  struct stat existing;
  bool exists = !name.empty() &&
                ::fstatat(folder, name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0;
  int refusal = name.empty() ? EINVAL : 0;
  const char* reason = nullptr;
  if (exists && S_ISDIR(existing.st_mode)) {
    refusal = EISDIR;
    reason = "is a folder";
  } else if (exists && S_ISREG(existing.st_mode) &&
             ::faccessat(folder, name.c_str(), W_OK, AT_EACCESS) != 0) {
    // A file the user may not write stays, as an open for writing would have left it.
    refusal = errno;
  }
  if (refusal != 0) {
    ::close(folder);
    NoteFailure(refusal, reason);
    return kNoFile;
  }
  FileHandle file = kNoFile;
  if (CreatePendingIn(folder, name, file) == kNoPending) return kNoFile;
  // The replaced file's permissions carry over, as they would have with an open in place.
  if (exists && S_ISREG(existing.st_mode)) {
    ::fchmod(static_cast<int>(file), existing.st_mode & 0777);
  }
  return file;
}

bool CloseOutput(FileHandle file, OutputEnding ending) {
  PendingId pending = PendingOfHandle(file);
  bool closed = ::close(static_cast<int>(file)) == 0;
  if (!closed) NoteFailure(errno);
  if (pending == kNoPending) return closed;
  if (!closed || ending == OutputEnding::kDiscard) {
    DiscardPending(pending);
    return closed;
  }
  return CommitPending(
      pending, ending == OutputEnding::kCommit ? Placement::kReplace : Placement::kOnlyIfNew);
}

std::uint32_t Seek(FileHandle file, std::int32_t distance, SeekOrigin origin) {
  int whence = origin == SeekOrigin::FromStart     ? SEEK_SET
               : origin == SeekOrigin::FromCurrent ? SEEK_CUR
                                                   : SEEK_END;
  // As SetFilePointer without a high part: the distance is signed 32 bits, and a seek to a
  // negative position (from the start: 2 GiB or more taken unsigned) fails and leaves the
  // position where it was.
  off_t offset = static_cast<off_t>(distance);
  if (origin == SeekOrigin::FromStart && distance < 0) return 0xFFFFFFFFu;
  off_t result = ::lseek(static_cast<int>(file), offset, whence);
  return result < 0 ? 0xFFFFFFFFu : static_cast<std::uint32_t>(result);
}

std::uint32_t Read(FileHandle file, void* buffer, std::uint32_t count) {
  // One read call may deliver less than asked from a pipe; a regular file gives all it has.
  std::uint32_t total = 0;
  auto* bytes = static_cast<std::uint8_t*>(buffer);
  while (total < count) {
    ssize_t n = ::read(static_cast<int>(file), bytes + total, count - total);
    if (n < 0) return total == 0 ? 0 : total;
    if (n == 0) break;
    total += static_cast<std::uint32_t>(n);
  }
  return total;
}

std::uint32_t Write(FileHandle file, const void* buffer, std::uint32_t count) {
  std::uint32_t total = 0;
  const auto* bytes = static_cast<const std::uint8_t*>(buffer);
  while (total < count) {
    ssize_t n = ::write(static_cast<int>(file), bytes + total, count - total);
    if (n <= 0) {
      NoteFailure(n < 0 ? errno : ENOSPC);
      break;
    }
    total += static_cast<std::uint32_t>(n);
  }
  if (write_observer != nullptr && total > 0) write_observer(total);
  return total;
}

std::uint32_t FileSize(FileHandle file) {
  struct stat info;
  if (::fstat(static_cast<int>(file), &info) != 0) return 0xFFFFFFFFu;
  return static_cast<std::uint32_t>(info.st_size);
}

bool Close(FileHandle file) {
  bool closed = ::close(static_cast<int>(file)) == 0;
  if (!closed) NoteFailure(errno);
  return closed;
}

FileHandle OpenNullOutput() {
  int fd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  return fd < 0 ? kNoFile : fd;
}

void SetLastWriteTimeFromDos(FileHandle file, std::uint16_t dos_date, std::uint16_t dos_time) {
  std::tm local = {};
  local.tm_year = 80 + (dos_date >> 9);
  local.tm_mon = ((dos_date >> 5) & 15) - 1;
  local.tm_mday = dos_date & 31;
  local.tm_hour = dos_time >> 11;
  local.tm_min = (dos_time >> 5) & 63;
  local.tm_sec = (dos_time & 31) * 2;
  local.tm_isdst = -1;  // whatever daylight saving time was in force on that day
  std::time_t when = std::mktime(&local);
  if (when == static_cast<std::time_t>(-1)) return;
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;  // the access time stays
  times[1].tv_sec = when;
  times[1].tv_nsec = 0;
  ::futimens(static_cast<int>(file), times);
}

void Beep() { std::fputs("\a", stderr); }

std::string ModulePath() {
  char buffer[4096];
  ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer);
  return n <= 0 ? std::string() : std::string(buffer, static_cast<std::size_t>(n));
}

const std::uint8_t* ModuleImage() { return nullptr; }

std::string OemTextToAnsi(const std::string& text) {
  std::string out = text;
  for (char& c : out) {
    auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x80) c = static_cast<char>(kOem437ToAnsi1252[byte - 0x80]);
  }
  return out;
}

std::string Utf8TextToAnsi(const std::string& text) {
  std::u16string units(text.size(), u'\0');
  units.resize(Utf8ToUtf16(text.data(), text.size(), &units[0]));
  std::string out;
  for (char16_t unit : units) {
    std::uint8_t ansi = UnicodeToAnsi(unit);
    out += (ansi == 0 && unit != 0) ? '_' : static_cast<char>(ansi);
  }
  return out;
}

std::uint32_t FileAttributes(const std::string& path) {
  struct stat info;
  std::string relative, folder_part, name;
  if (BelowRoot(path, relative)) {
    // Below the root only the last name may be a link: the folders on the way are not
    // followed.
    SplitLastName(relative, folder_part, name);
    int folder = OpenFolderBelowRoot(folder_part);
    if (folder < 0) return kInvalidAttributes;
    bool found = ::fstatat(folder, AnsiToUtf8(name).c_str(), &info, 0) == 0;
    ::close(folder);
    if (!found) return kInvalidAttributes;
  } else if (::stat(ToPosixPath(path).c_str(), &info) != 0) {
    return kInvalidAttributes;
  }
  return S_ISDIR(info.st_mode) ? kFolderAttribute : 0x80;  // FILE_ATTRIBUTE_NORMAL
}

std::string FromPosixPath(const std::string& path) {
  std::string out = Utf8TextToAnsi(path);
  for (char& c : out) {
    if (c == '/') c = '\\';
  }
  return out;
}

bool CreateFolder(const std::string& path) {
  std::string relative, folder_part, name;
  int folder = AT_FDCWD;
  std::string target = ToPosixPath(path);
  if (BelowRoot(path, relative)) {
    SplitLastName(relative, folder_part, name);
    folder = OpenFolderBelowRoot(folder_part);
    if (folder < 0) return false;
    target = AnsiToUtf8(name);
  }
  bool created = ::mkdirat(folder, target.c_str(), 0777) == 0;
  if (!created) {
    int error = errno;
    struct stat info;
    bool in_the_way = error == EEXIST &&
                      ::fstatat(folder, target.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
    NoteFailure(error, !in_the_way             ? nullptr
                       : S_ISLNK(info.st_mode) ? "a symbolic link stands in the folder's place"
                                               : "not a folder");
  }
  if (folder != AT_FDCWD) ::close(folder);
  return created;
}

bool ExpandEnvironmentVariables(const std::string& text, std::string& expanded) {
  // As on Windows: %NAME% is replaced when NAME is defined, and kept as written otherwise.
  expanded.clear();
  std::string::size_type at = 0;
  while (at < text.size()) {
    std::string::size_type open = text.find('%', at);
    std::string::size_type close = open == std::string::npos ? std::string::npos
                                                             : text.find('%', open + 1);
    if (close == std::string::npos) {
      expanded += text.substr(at);
      break;
    }
    expanded += text.substr(at, open - at);
    std::string name = text.substr(open + 1, close - open - 1);
    const char* value = name.empty() ? nullptr : std::getenv(name.c_str());
    if (value == nullptr && !name.empty()) {
      // Windows matches names without regard to case; POSIX environments are usually
      // upper case.
      std::string upper = name;
      for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      value = std::getenv(upper.c_str());
    }
    if (value != nullptr) {
      expanded += FromPosixPath(value);
      at = close + 1;
    } else {
      // An unknown name keeps its first "%"; its closing one may open the next name.
      expanded += text.substr(open, close - open);
      at = close;
    }
  }
  return true;
}

std::string CurrentDirectory() {
  char buffer[4096];
  if (::getcwd(buffer, sizeof buffer) == nullptr) return std::string();
  return FromPosixPath(buffer);
}

bool FullPathName(const std::string& path, std::string& full_path) {
  if (path.empty()) return false;
  std::string absolute = path;
  if (absolute[0] != '\\' && absolute[0] != '/') {
    absolute = CurrentDirectory() + '\\' + absolute;
  }
  // Normalise: drop empty and "." parts, let ".." remove the part before it.
  std::string result;
  std::string::size_type at = 0;
  while (at <= absolute.size()) {
    std::string::size_type end = absolute.find_first_of("\\/", at);
    if (end == std::string::npos) end = absolute.size();
    std::string part = absolute.substr(at, end - at);
    if (part == "..") {
      std::string::size_type cut = result.rfind('\\');
      result.erase(cut == std::string::npos ? 0 : cut);
    } else if (!part.empty() && part != ".") {
      result += '\\';
      result += part;
    }
    at = end + 1;
  }
  // Like GetFullPathNameA, a trailing separator is kept.
  char last = path.back();
  if (result.empty() || last == '\\' || last == '/') result += '\\';
  full_path = result;
  return true;
}

std::string SystemDirectory() { return "\\usr\\bin"; }
std::string WindowsDirectory() { return "\\usr"; }

bool ReadRegistryValue(int, const std::string&, const std::string&, std::size_t, std::string&) {
  return false;
}

bool RandomBytes(void* buffer, std::size_t count) {
  auto* bytes = static_cast<std::uint8_t*>(buffer);
  while (count > 0) {
    ssize_t n = ::getrandom(bytes, count, 0);
    if (n <= 0) return false;
    bytes += n;
    count -= static_cast<std::size_t>(n);
  }
  return true;
}

int ShellOpen(const std::string&, const std::string&, const std::string&) {
  return 2;  // ERROR_FILE_NOT_FOUND: there is no Windows shell to open anything with
}

void ExitProcess(std::uint32_t exit_code) {
  DiscardAllPending();
  std::exit(static_cast<int>(exit_code));
}

void ConfineWritesTo(const std::string& root) {
  if (root.empty()) return;
  confined_root = root.back() == '\\' ? root : root + '\\';
  RemovePendingOnSignals();
}

std::string LastErrorText() {
  if (last_reason != nullptr) return last_reason;
  return last_error != 0 ? std::strerror(last_error) : std::string();
}

void ObserveWrites(void (*observer)(std::uint32_t bytes)) { write_observer = observer; }

PathKind KindOfPath(const std::string& path) {
  struct stat info;
  if (::stat(ToPosixPath(path).c_str(), &info) != 0) {
    NoteFailure(errno);
    return PathKind::kMissing;
  }
  return S_ISREG(info.st_mode)   ? PathKind::kFile
         : S_ISDIR(info.st_mode) ? PathKind::kFolder
                                 : PathKind::kOther;
}

bool TerminalAvailable() {
  int terminal = ::open("/dev/tty", O_RDWR | O_CLOEXEC);
  if (terminal < 0) return false;
  ::close(terminal);
  return true;
}

}  // namespace selfx::platform
