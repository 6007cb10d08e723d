// Win32 implementation of the platform layer, the part that the stub and the selfx tool
// share: each function is one system call and the translation of its result. The output
// functions and what only the tool needs are in win32_stub.cpp and win32_tool.cpp.

#include <windows.h>
#include <shellapi.h>

#include <memory>
#include <string>

#include "base/utf8.h"
#include "platform/platform.h"
#include "platform/win32_shared.h"

namespace selfx::platform {

namespace {
FileHandle OpenFile(const char* path, DWORD access, DWORD sharing, DWORD disposition) {
  HANDLE handle = CreateFileA(path, access, sharing, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
  return handle == INVALID_HANDLE_VALUE ? kNoFile : reinterpret_cast<FileHandle>(handle);
}
}  // namespace

FileHandle OpenForReading(const std::string& path) {
  return OpenFile(path.c_str(), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
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

std::uint32_t FileSize(FileHandle file) { return GetFileSize(AsHandle(file), nullptr); }

bool Close(FileHandle file) { return CloseHandle(AsHandle(file)) != 0; }

FileHandle CreateInPlace(const std::string& path) {
  return OpenFile(path.c_str(), GENERIC_WRITE, FILE_SHARE_WRITE, CREATE_ALWAYS);
}

FileHandle OpenNullOutput() {
  return OpenFile("NUL", GENERIC_WRITE, FILE_SHARE_WRITE, OPEN_EXISTING);
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

std::string WithNativeSeparators(const std::string& text) { return text; }

std::uint32_t FileAttributes(const std::string& path) { return GetFileAttributesA(path.c_str()); }

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

int ShellOpen(const std::string& file, const std::string& parameters, const std::string& folder) {
  HINSTANCE result = ShellExecuteA(nullptr, "open", file.c_str(), parameters.c_str(),
                                   folder.c_str(), SW_SHOW);
  return static_cast<int>(reinterpret_cast<INT_PTR>(result));
}

}  // namespace selfx::platform
