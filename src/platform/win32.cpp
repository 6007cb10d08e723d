// Win32 implementation of the platform layer: each function is one system call and the
// translation of its result.

#include <windows.h>
#include <shellapi.h>

#include <string>

#ifdef SELFX_TOOL_BUILD
#include <cstdio>
#endif

#include "platform/platform.h"

namespace selfx::platform {

namespace {
HANDLE AsHandle(FileHandle file) { return reinterpret_cast<HANDLE>(file); }
}  // namespace

FileHandle OpenForReading(const std::string& path) {
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  return handle == INVALID_HANDLE_VALUE ? kNoFile : reinterpret_cast<FileHandle>(handle);
}

FileHandle CreateForWriting(const std::string& path) {
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  return handle == INVALID_HANDLE_VALUE ? kNoFile : reinterpret_cast<FileHandle>(handle);
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
  if (!WriteFile(AsHandle(file), buffer, count, &written, nullptr)) return 0;
  return written;
}

std::uint32_t FileSize(FileHandle file) { return GetFileSize(AsHandle(file), nullptr); }

bool Close(FileHandle file) { return CloseHandle(AsHandle(file)) != 0; }

FileHandle OpenNullOutput() {
  HANDLE handle = CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  return handle == INVALID_HANDLE_VALUE ? kNoFile : reinterpret_cast<FileHandle>(handle);
}

void SetLastWriteTimeFromDos(FileHandle file, std::uint16_t dos_date, std::uint16_t dos_time) {
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
  if (text.empty()) return text;
  int wide_length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                        nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(wide_length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0],
                      wide_length);
  // No best fit: a character the code page lacks must not turn into a look-alike that names
  // another file (or a path separator).
  int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), wide_length, nullptr,
                                   0, "_", nullptr);
  std::string converted(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), wide_length, &converted[0], length,
                      "_", nullptr);
  return converted;
}

bool CommandLineTextToAnsi(const std::string& text, std::string& ansi) {
  ansi = text;  // the ANSI entry point already delivers the code page's bytes
  return true;
}

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

std::string AnsiToUtf8Text(const std::string& text) {
  if (text.empty()) return text;
  int wide_length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                        nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(wide_length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0], wide_length);
  int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), wide_length, nullptr, 0, nullptr,
                                   nullptr);
  std::string converted(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), wide_length, &converted[0], length, nullptr,
                      nullptr);
  return converted;
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

std::string AnsiToConsole(const std::string& text) {
  std::string converted = text;
  if (!converted.empty()) CharToOemA(&converted[0], &converted[0]);
  return converted;
}

std::uint32_t FileAttributes(const std::string& path) { return GetFileAttributesA(path.c_str()); }

bool CreateFolder(const std::string& path) { return CreateDirectoryA(path.c_str(), nullptr) != 0; }

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

std::string SystemDirectory() {
  char buffer[261] = {};
  GetSystemDirectoryA(buffer, 260);
  return buffer;
}

std::string WindowsDirectory() {
  char buffer[261] = {};
  GetWindowsDirectoryA(buffer, 260);
  return buffer;
}

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

bool RandomBytes(void* buffer, std::size_t count) {
  // RtlGenRandom: the system's cryptographic source, in advapi32 since Windows XP.
  using GenRandom = BOOLEAN(WINAPI*)(PVOID, ULONG);
  HMODULE advapi = LoadLibraryA("advapi32.dll");
  auto generate = advapi == nullptr ? nullptr
                                    : reinterpret_cast<GenRandom>(reinterpret_cast<void*>(
                                          GetProcAddress(advapi, "SystemFunction036")));
  return generate != nullptr && generate(buffer, static_cast<ULONG>(count));
}

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
  if (process_exit_handler != nullptr) process_exit_handler(exit_code);
  // The tool's output is buffered by the C run-time, which ::ExitProcess does not flush.
  std::fflush(stdout);
  std::fflush(stderr);
  ::ExitProcess(exit_code);
}

std::string ConsoleTextToUtf8(const std::string& text) {
  if (text.empty()) return text;
  UINT code_page = GetConsoleOutputCP();
  if (code_page == 0) code_page = CP_OEMCP;
  int wide_length = MultiByteToWideChar(code_page, 0, text.data(), static_cast<int>(text.size()),
                                        nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(wide_length), L'\0');
  MultiByteToWideChar(code_page, 0, text.data(), static_cast<int>(text.size()), &wide[0],
                      wide_length);
  int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), wide_length, nullptr, 0, nullptr,
                                   nullptr);
  std::string converted(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), wide_length, &converted[0], length, nullptr,
                      nullptr);
  return converted;
}
#else
void ExitProcess(std::uint32_t exit_code) { ::ExitProcess(exit_code); }
#endif

}  // namespace selfx::platform
