// Win32 implementation of the platform layer: each function is one system call and the
// translation of its result.

#include <windows.h>
#include <shellapi.h>

#include <memory>
#include <string>

#ifdef SELFX_TOOL_BUILD
#include <cstdio>
#endif

#include "base/utf8.h"
#include "platform/platform.h"

namespace selfx::platform {

namespace {
HANDLE AsHandle(FileHandle file) { return reinterpret_cast<HANDLE>(file); }

FileHandle OpenFile(const char* path, DWORD access, DWORD sharing, DWORD disposition) {
  HANDLE handle = CreateFileA(path, access, sharing, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
  return handle == INVALID_HANDLE_VALUE ? kNoFile : reinterpret_cast<FileHandle>(handle);
}
}  // namespace

#ifdef SELFX_TOOL_BUILD
// The selfx tool's additions (see ConfineWritesTo in platform.h); the stub is built without
// them and stays as it was.
namespace {

DWORD last_error = 0;
const char* last_reason = nullptr;

void NoteFailure(DWORD error, const char* reason = nullptr) {
  last_error = error;
  last_reason = reason;
}

// The confined root with one trailing backslash; empty when writes may go anywhere.
std::string confined_root;

// The one file being written under a temporary name. A console event handler (on a thread
// of the system's) may remove it.
struct PendingFile {
  volatile LONG active = 0;
  HANDLE handle = INVALID_HANDLE_VALUE;
  std::string temporary_path;
  std::string final_path;
  bool complete = false;  // its time was set: the core's last step before closing
  bool failed = false;    // a write failed
};
PendingFile pending;

void (*write_observer)(std::uint32_t) = nullptr;

bool BelowRoot(const std::string& path) {
  return !confined_root.empty() && path.size() > confined_root.size() &&
         path.compare(0, confined_root.size(), confined_root) == 0;
}

// Refuses a path whose folders below the root include a reparse point (a symbolic link or a
// junction), which would lead the write elsewhere.
bool FoldersBelowRootAreReal(const std::string& path) {
  std::string::size_type at = confined_root.size();
  for (;;) {
    std::string::size_type end = path.find('\\', at);
    if (end == std::string::npos) return true;
    DWORD attributes = GetFileAttributesA(path.substr(0, end).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      NoteFailure(ERROR_ACCESS_DENIED, "a folder of the path is a link or a junction");
      return false;
    }
    at = end + 1;
  }
}

void DiscardPending() {
  if (InterlockedExchange(&pending.active, 0) == 0) return;
  CloseHandle(pending.handle);
  DeleteFileA(pending.temporary_path.c_str());
}

FileHandle CreateBelowRoot(const std::string& path) {
  if (pending.active != 0 || !FoldersBelowRootAreReal(path)) return kNoFile;
  DWORD existing = GetFileAttributesA(path.c_str());
  if (existing != INVALID_FILE_ATTRIBUTES &&
      (existing & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0) {
    bool folder = (existing & FILE_ATTRIBUTE_DIRECTORY) != 0;
    NoteFailure(ERROR_ACCESS_DENIED, folder ? "is a folder" : nullptr);
    return kNoFile;
  }
  std::string folder = path.substr(0, path.find_last_of('\\') + 1);
  HANDLE handle = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 8 && handle == INVALID_HANDLE_VALUE; ++attempt) {
    std::uint8_t random[8];
    if (!RandomBytes(random, sizeof random)) break;
    char name[40];
    wsprintfA(name, ".selfx-%02x%02x%02x%02x%02x%02x%02x%02x.tmp", random[0], random[1], random[2],
              random[3], random[4], random[5], random[6], random[7]);
    pending.temporary_path = folder + name;
    // CREATE_NEW makes a new file or nothing; delete sharing lets a console event remove it
    // while it is open.
    handle = CreateFileA(pending.temporary_path.c_str(), GENERIC_WRITE,
                         FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) break;
  }
  if (handle == INVALID_HANDLE_VALUE) {
    NoteFailure(GetLastError());
    return kNoFile;
  }
  pending.handle = handle;
  pending.final_path = path;
  pending.complete = false;
  pending.failed = false;
  pending.active = 1;
  return reinterpret_cast<FileHandle>(handle);
}

bool ClosePending() {
  bool closed = CloseHandle(pending.handle) != 0;
  if (!closed) NoteFailure(GetLastError());
  bool keep = closed && pending.complete && !pending.failed;
  bool moved = keep && MoveFileExA(pending.temporary_path.c_str(), pending.final_path.c_str(),
                                   MOVEFILE_REPLACE_EXISTING) != 0;
  if (keep && !moved) NoteFailure(GetLastError());
  if (!moved) DeleteFileA(pending.temporary_path.c_str());
  pending.active = 0;
  return closed && moved == keep;
}

bool IsPending(FileHandle file) { return pending.active != 0 && AsHandle(file) == pending.handle; }

// Every console event that ends the program (a second Ctrl-C, Ctrl-Break, closing the window,
// logging off) removes the file being written first.
BOOL WINAPI OnEndingEvent(DWORD) {
  DiscardPending();
  return FALSE;
}

}  // namespace
#endif

FileHandle OpenForReading(const std::string& path) {
  return OpenFile(path.c_str(), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
}

FileHandle CreateForWriting(const std::string& path) {
#ifdef SELFX_TOOL_BUILD
  if (BelowRoot(path)) return CreateBelowRoot(path);
#endif
  return OpenFile(path.c_str(), GENERIC_WRITE, FILE_SHARE_WRITE, CREATE_ALWAYS);
}

std::uint32_t Seek(FileHandle file, std::int32_t distance, SeekOrigin origin) {
  DWORD method = origin == SeekOrigin::FromStart     ? FILE_BEGIN
                 : origin == SeekOrigin::FromCurrent ? FILE_CURRENT
                                                     : FILE_END;
  return SetFilePointer(AsHandle(file), distance, nullptr, method);
}

std::uint32_t Read(FileHandle file, void* buffer, std::uint32_t count) {
  DWORD read = 0;
  if (!ReadFile(AsHandle(file), buffer, count, &read, nullptr)) return 0;
  return read;
}

std::uint32_t Write(FileHandle file, const void* buffer, std::uint32_t count) {
  DWORD written = 0;
#ifdef SELFX_TOOL_BUILD
  bool wrote = WriteFile(AsHandle(file), buffer, count, &written, nullptr) != 0;
  if (!wrote) written = 0;
  if (written < count) {
    NoteFailure(wrote ? ERROR_DISK_FULL : GetLastError());
    if (IsPending(file)) pending.failed = true;
  }
  if (write_observer != nullptr && written > 0) write_observer(written);
#else
  if (!WriteFile(AsHandle(file), buffer, count, &written, nullptr)) return 0;
#endif
  return written;
}

std::uint32_t FileSize(FileHandle file) { return GetFileSize(AsHandle(file), nullptr); }

bool Close(FileHandle file) {
#ifdef SELFX_TOOL_BUILD
  if (IsPending(file)) return ClosePending();
#endif
  return CloseHandle(AsHandle(file)) != 0;
}

FileHandle OpenNullOutput() {
  return OpenFile("NUL", GENERIC_WRITE, FILE_SHARE_WRITE, OPEN_EXISTING);
}

void SetLastWriteTimeFromDos(FileHandle file, std::uint16_t dos_date, std::uint16_t dos_time) {
#ifdef SELFX_TOOL_BUILD
  if (IsPending(file)) pending.complete = true;
#endif
  FILETIME local_time;
  FILETIME utc_time;
  if (DosDateTimeToFileTime(dos_date, dos_time, &local_time) &&
      LocalFileTimeToFileTime(&local_time, &utc_time)) {
    SetFileTime(AsHandle(file), nullptr, nullptr, &utc_time);
  }
}

void Beep() { ::Beep(0, 0); }

std::string ModulePath() {
  char buffer[261];
  DWORD length = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
  return std::string(buffer, length);
}

const std::uint8_t* ModuleImage() {
  return reinterpret_cast<const std::uint8_t*>(GetModuleHandleA(nullptr));
}

std::string OemTextToAnsi(const std::string& text) {
  std::string converted = text;
  if (!converted.empty()) OemToCharA(&converted[0], &converted[0]);
  return converted;
}

std::string Utf8TextToAnsi(const std::string& text) {
  // The UTF-8 is decoded by the core's own rule, not by MultiByteToWideChar, whose handling of
  // invalid forms differs between Windows versions and from the tool's on other systems.
  if (text.empty()) return text;
  std::unique_ptr<char16_t[]> wide(new char16_t[text.size()]);
  auto units = reinterpret_cast<const wchar_t*>(wide.get());
  int wide_length = static_cast<int>(Utf8ToUtf16(text.data(), text.size(), wide.get()));
  // No best fit: a character the code page lacks must not turn into a look-alike that names
  // another file (or a path separator).
  int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, units, wide_length, nullptr, 0,
                                   "_", nullptr);
  std::string converted(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, units, wide_length, &converted[0], length, "_",
                      nullptr);
  return converted;
}

bool CommandLineTextToAnsi(const std::string& text, std::string& ansi) {
  ansi = text;  // the ANSI entry point already delivers the code page's bytes
  return true;
}

// The console, and below the random source, serve the selfx tool alone: the stub is built
// without them, as an unused function's imports would stay in it.
#ifdef SELFX_TOOL_BUILD
bool ReadTerminalLine(std::string& line, bool echo) {
  HANDLE input = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                             OPEN_EXISTING, 0, nullptr);
  if (input == INVALID_HANDLE_VALUE) return false;
  DWORD saved_mode = 0;
  bool restore = !echo && GetConsoleMode(input, &saved_mode) &&
                 SetConsoleMode(input, saved_mode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
  line.clear();
  char c;
  DWORD read = 0;
  bool got_any = false;
  while (ReadFile(input, &c, 1, &read, nullptr) && read == 1) {
    got_any = true;
    if (c == '\n') break;
    if (c != '\r') line += c;
  }
  if (restore) {
    SetConsoleMode(input, saved_mode);
    DWORD written;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), "\r\n", 2, &written, nullptr);
  }
  CloseHandle(input);
  return got_any;
}

bool ErrorStreamIsTerminal() {
  DWORD mode;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

namespace {
void (*interrupt_handler)() = nullptr;
bool interrupted_once = false;
BOOL WINAPI OnConsoleEvent(DWORD event) {
  // A second Ctrl-C falls through to the system, which ends the program at once.
  if (event != CTRL_C_EVENT || interrupt_handler == nullptr || interrupted_once) return FALSE;
  interrupted_once = true;
  interrupt_handler();
  return TRUE;
}
}  // namespace

void OnInterrupt(void (*handler)()) {
  interrupt_handler = handler;
  SetConsoleCtrlHandler(&OnConsoleEvent, TRUE);
}
#endif

namespace {
// The text from one code page to another, through UTF-16.
std::string ConvertCodePage(const std::string& text, UINT from, UINT to) {
  if (text.empty()) return text;
  int wide_length = MultiByteToWideChar(from, 0, text.data(), static_cast<int>(text.size()),
                                        nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(wide_length), L'\0');
  MultiByteToWideChar(from, 0, text.data(), static_cast<int>(text.size()), &wide[0], wide_length);
  int length = WideCharToMultiByte(to, 0, wide.data(), wide_length, nullptr, 0, nullptr, nullptr);
  std::string converted(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(to, 0, wide.data(), wide_length, &converted[0], length, nullptr, nullptr);
  return converted;
}
}  // namespace

std::string AnsiToUtf8Text(const std::string& text) {
  return ConvertCodePage(text, CP_ACP, CP_UTF8);
}

bool Utf8FitsAnsiCodePage(const std::string& text) {
  if (text.empty()) return true;
  int wide_length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                        static_cast<int>(text.size()), nullptr, 0);
  if (wide_length == 0) return false;
  std::wstring wide(static_cast<std::size_t>(wide_length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0],
                      wide_length);
  BOOL lossy = FALSE;
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), wide_length, nullptr, 0, nullptr,
                      &lossy);
  return !lossy;
}

#ifdef SELFX_TOOL_BUILD
std::string AnsiToConsole(const std::string& text) {
  std::string converted = text;
  if (!converted.empty()) CharToOemA(&converted[0], &converted[0]);
  return converted;
}
#endif

std::string WithNativeSeparators(const std::string& text) { return text; }

std::uint32_t FileAttributes(const std::string& path) { return GetFileAttributesA(path.c_str()); }

bool CreateFolder(const std::string& path) {
#ifdef SELFX_TOOL_BUILD
  if (BelowRoot(path) && !FoldersBelowRootAreReal(path)) return false;
  bool created = CreateDirectoryA(path.c_str(), nullptr) != 0;
  if (!created) {
    DWORD error = GetLastError();
    DWORD attributes = GetFileAttributesA(path.c_str());
    bool file_in_the_way = error == ERROR_ALREADY_EXISTS && attributes != INVALID_FILE_ATTRIBUTES &&
                           (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    NoteFailure(error, file_in_the_way ? "not a folder" : nullptr);
  }
  return created;
#else
  return CreateDirectoryA(path.c_str(), nullptr) != 0;
#endif
}

bool ExpandEnvironmentVariables(const std::string& text, std::string& expanded) {
  char buffer[520] = {};
  DWORD length = ExpandEnvironmentStringsA(text.c_str(), buffer, 519);
  if (length == 0) return false;
  // A result that does not fit reports its needed size and leaves the buffer unusable.
  if (length > 519) {
    std::string large(length, '\0');
    if (ExpandEnvironmentStringsA(text.c_str(), &large[0], length) == 0) return false;
    expanded = large.c_str();
    return true;
  }
  expanded = buffer;
  return true;
}

bool FullPathName(const std::string& path, std::string& full_path) {
  char buffer[520];
  DWORD length = GetFullPathNameA(path.c_str(), sizeof buffer, buffer, nullptr);
  if (length == 0) return false;
  if (length < sizeof buffer) {
    full_path.assign(buffer, length);
    return true;
  }
  // Too long for the buffer: the call reported the size it needs.
  std::string large(length, '\0');
  length = GetFullPathNameA(path.c_str(), static_cast<DWORD>(large.size()), &large[0], nullptr);
  if (length == 0 || length >= large.size()) return false;
  full_path.assign(large, 0, length);
  return true;
}

std::string CurrentDirectory() {
  char buffer[260];
  DWORD length = GetCurrentDirectoryA(sizeof buffer, buffer);
  if (length >= sizeof buffer) return std::string();
  return std::string(buffer, length);
}

namespace {
// The folder that `get` (GetSystemDirectoryA or GetWindowsDirectoryA) reports; empty when it
// fails.
std::string SystemFolder(UINT(WINAPI* get)(LPSTR, UINT)) {
  char buffer[261] = {};
  get(buffer, 260);
  return buffer;
}
}  // namespace

std::string SystemDirectory() { return SystemFolder(&GetSystemDirectoryA); }

std::string WindowsDirectory() { return SystemFolder(&GetWindowsDirectoryA); }

bool ReadRegistryValue(int root, const std::string& key_path, const std::string& value_name,
                       std::size_t max_size, std::string& data) {
  HKEY root_key = root == 1 ? HKEY_CURRENT_USER : root == 2 ? HKEY_LOCAL_MACHINE : HKEY_USERS;
  HKEY key;
  if (RegOpenKeyExA(root_key, key_path.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
    return false;
  }
  std::string buffer(max_size, '\0');
  DWORD size = static_cast<DWORD>(max_size);
  LONG result = RegQueryValueExA(key, value_name.c_str(), nullptr, nullptr,
                                 reinterpret_cast<BYTE*>(&buffer[0]), &size);
  RegCloseKey(key);
  if (result != ERROR_SUCCESS) return false;
  data.assign(buffer, 0, size);
  return true;
}

#ifdef SELFX_TOOL_BUILD
bool RandomBytes(void* buffer, std::size_t count) {
  // RtlGenRandom: the system's cryptographic source, in advapi32 since Windows XP.
  using GenRandom = BOOLEAN(WINAPI*)(PVOID, ULONG);
  HMODULE advapi = LoadLibraryA("advapi32.dll");
  auto generate = advapi == nullptr ? nullptr
                                    : reinterpret_cast<GenRandom>(reinterpret_cast<void*>(
                                          GetProcAddress(advapi, "SystemFunction036")));
  return generate != nullptr && generate(buffer, static_cast<ULONG>(count));
}
#endif

int ShellOpen(const std::string& file, const std::string& parameters, const std::string& folder) {
  HINSTANCE result = ShellExecuteA(nullptr, "open", file.c_str(), parameters.c_str(),
                                   folder.c_str(), SW_SHOW);
  return static_cast<int>(reinterpret_cast<INT_PTR>(result));
}

#ifdef SELFX_TOOL_BUILD
namespace {
void (*process_exit_handler)(std::uint32_t) = nullptr;
}

void OnProcessExit(void (*handler)(std::uint32_t exit_code)) { process_exit_handler = handler; }

void ExitProcess(std::uint32_t exit_code) {
  DiscardPending();
  if (process_exit_handler != nullptr) process_exit_handler(exit_code);
  // The tool's output is buffered by the C run-time, which ::ExitProcess does not flush.
  std::fflush(stdout);
  std::fflush(stderr);
  ::ExitProcess(exit_code);
}

std::string ConsoleTextToUtf8(const std::string& text) {
  UINT code_page = GetConsoleOutputCP();
  return ConvertCodePage(text, code_page != 0 ? code_page : CP_OEMCP, CP_UTF8);
}
void ConfineWritesTo(const std::string& root) {
  if (root.empty()) return;
  confined_root = root.back() == '\\' ? root : root + '\\';
  SetConsoleCtrlHandler(&OnEndingEvent, TRUE);
}

std::string LastErrorText() {
  if (last_reason != nullptr) return last_reason;
  if (last_error == 0) return std::string();
  char buffer[512];
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                last_error, 0, buffer, sizeof buffer, nullptr);
  // The system's texts end in a full stop and a line end.
  while (length > 0 && (buffer[length - 1] == '\r' || buffer[length - 1] == '\n' ||
                        buffer[length - 1] == '.' || buffer[length - 1] == ' ')) {
    --length;
  }
  return length == 0 ? "error " + std::to_string(last_error) : std::string(buffer, length);
}

void ObserveWrites(void (*observer)(std::uint32_t bytes)) { write_observer = observer; }

PathKind KindOfPath(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    NoteFailure(GetLastError());
    return PathKind::kMissing;
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return PathKind::kFolder;
  // A device (CON, a pipe) answers to attributes too; only a disk file is a file.
  HANDLE handle = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return PathKind::kFile;
  DWORD type = GetFileType(handle);
  CloseHandle(handle);
  return type == FILE_TYPE_DISK ? PathKind::kFile : PathKind::kOther;
}

bool TerminalAvailable() {
  HANDLE input = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                             OPEN_EXISTING, 0, nullptr);
  if (input == INVALID_HANDLE_VALUE) return false;
  CloseHandle(input);
  return true;
}
#else
void ExitProcess(std::uint32_t exit_code) { ::ExitProcess(exit_code); }
#endif

}  // namespace selfx::platform
