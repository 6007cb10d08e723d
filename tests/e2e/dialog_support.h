// Helpers shared by the suites that drive the main dialog through whole runs: control
// positions, the files a run leaves, the marker program that commands start, environment
// and registry settings that are undone when a test ends.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "archive_maker.h"
#include "harness.h"

namespace e2e {

constexpr DWORD kNoExitCode = 0xFFFFFFFF;

// Controls of the main dialog.
constexpr int kUnzipId = 1;
constexpr int kHelpId = 103;
constexpr int kBrowseId = 104;
constexpr int kShowFilesId = 105;
constexpr int kFolderEditId = 201;
constexpr int kTopSeparatorId = 202;
constexpr int kRunCheckboxId = 302;
constexpr int kFilesLabelId = 501;
constexpr int kBottomSeparatorId = 502;
constexpr int kExtractToId = 601;
constexpr int kOverwriteGroupId = 602;
constexpr int kOverwriteId = 701;
constexpr int kDontOverwriteId = 702;
constexpr int kAskId = 703;
constexpr int kProgressId = 801;

constexpr std::uint16_t kOptRunCheckbox = 0x0001;
constexpr std::uint16_t kOptUserSelects = 0x0002;
constexpr std::uint16_t kOptHideOverwriteChoice = 0x0004;
constexpr std::uint16_t kOptAutoRun = 0x0008;
constexpr std::uint16_t kOptQuietSuccess = 0x0010;
constexpr std::uint16_t kOptListCollapsed = 0x0040;
constexpr std::uint16_t kOptNoShowFiles = 0x0080;
constexpr std::uint16_t kOptCancelAllowed = 0x0200;

constexpr const char* kSuccessText = "All files have been unzipped.";
constexpr const char* kSelectedFailedText = "The selected file(s) could not be unzipped.";
constexpr const char* kSomeFailedText = "Some file(s) could not be unzipped.";
constexpr const char* kMarkerName = "selfx-marker.txt";

// Layout units of the dialog's moves in pixels, from the system's dialog base units.
inline int LayoutPixels(int units) { return MulDiv(units, HIWORD(GetDialogBaseUnits()), 8); }

// The window's normal-position rectangle: a control's in its dialog's client area, a
// dialog's on the screen.
inline RECT Placement(HWND window) {
  WINDOWPLACEMENT placement = {};
  placement.length = sizeof(placement);
  GetWindowPlacement(window, &placement);
  return placement.rcNormalPosition;
}

inline bool PathExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

inline std::string ReadText(const std::string& path) {
  const auto bytes = ReadFileBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

inline bool WriteText(const std::string& path, const std::string& text) {
  return WriteFileBytes(path, std::vector<std::uint8_t>(text.begin(), text.end()));
}

// The names of the files (not folders) directly in `folder`, sorted.
inline std::vector<std::string> FilesIn(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(found.cFileName);
  } while (FindNextFileA(search, &found));
  FindClose(search);
  std::sort(names.begin(), names.end());
  return names;
}

// The marker program (marker/marker.cpp), built next to the probe.
inline std::string MarkerProgramPath() {
  std::string probe = PathFromEnvironment("SELFX_PROBE");
  const auto slash = probe.find_last_of("\\/");
  return (slash == std::string::npos ? std::string() : probe.substr(0, slash + 1)) +
         "selfx_e2e_marker.exe";
}

inline std::string MarkerProgramBytes() {
  const auto bytes = ReadFileBytes(MarkerProgramPath());
  return std::string(bytes.begin(), bytes.end());
}

// What the marker program wrote into `folder`: its parameters and its own path, or nothing
// when it has not run there within `timeout_ms`. The program writes the file under another
// name and renames it into place, but a reader can still meet it while the rename holds it
// (Wine renames through a handle opened for delete), so the wait lasts until the file reads
// and its record parses whole. The record comes back once the program has ended as well
// (the file names its process id): it holds `folder` as its working folder until it is gone,
// and a test that removes the folder next must not race it.
struct MarkerRecord {
  std::string parameters;
  std::string program;
  DWORD process_id = 0;
};

// The three lines of a marker file, each with its line end; nothing for a partial record.
inline std::optional<MarkerRecord> ParseMarker(const std::string& text) {
  MarkerRecord record;
  std::string process_text;
  std::size_t at = 0;
  for (std::string* line : {&record.parameters, &record.program, &process_text}) {
    const std::size_t end = text.find('\n', at);
    if (end == std::string::npos) return std::nullopt;
    *line = text.substr(at, end - at);
    at = end + 1;
  }
  if (process_text.empty() || process_text.find_first_not_of("0123456789") != std::string::npos) {
    return std::nullopt;
  }
  record.process_id = static_cast<DWORD>(std::strtoul(process_text.c_str(), nullptr, 10));
  if (record.process_id == 0) return std::nullopt;
  return record;
}

inline std::optional<MarkerRecord> WaitForMarker(const std::string& folder,
                                                 DWORD timeout_ms = kWindowTimeoutMs) {
  const std::string path = folder + "\\" + kMarkerName;
  std::optional<MarkerRecord> record;
  std::optional<std::vector<std::uint8_t>> last_read;
  WaitUntil(
      [&] {
        if (!PathExists(path)) return false;
        last_read = TryReadFileBytes(path);
        if (last_read) record = ParseMarker(std::string(last_read->begin(), last_read->end()));
        return record.has_value();
      },
      timeout_ms);
  if (!record) {
    if (PathExists(path)) {
      ADD_FAILURE() << path << " holds no whole record: "
                    << (last_read ? "\"" + std::string(last_read->begin(), last_read->end()) + "\""
                                  : std::string("it cannot be read"));
    }
    return std::nullopt;
  }
  if (!WaitForProcessEnd(record->process_id)) {
    ADD_FAILURE() << "the marker program (process " << record->process_id << ") still runs in "
                  << folder;
  }
  return record;
}

// For a program that must not have started anything: once `program` has ended, whatever it
// started is there already (a start returns once the new process exists), so it is enough
// that its job counted no other process and that no marker file was written in `folder`.
inline void ExpectNothingStarted(Process& program, const std::string& folder) {
  ASSERT_TRUE(program.WaitForExit().has_value()) << "the program still runs";
  const std::optional<DWORD> started = program.ProcessesStarted();
  ASSERT_TRUE(started.has_value()) << "the program's job tells no count of processes";
  EXPECT_EQ(0u, *started) << "the program started " << *started << " other process(es)";
  EXPECT_FALSE(PathExists(folder + "\\" + kMarkerName)) << "a marker program ran in " << folder;
}

// Environment variables of this process changed for the programs it starts while the
// object lives; the old values come back afterwards. A missing value removes the variable.
class ScopedEnvironment {
 public:
  ScopedEnvironment() = default;
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;
  ~ScopedEnvironment() {
    for (const auto& [name, value] : saved_) {
      SetEnvironmentVariableA(name.c_str(), value ? value->c_str() : nullptr);
    }
  }
  void Set(const std::string& name, const std::optional<std::string>& value) {
    if (saved_.find(name) == saved_.end()) saved_[name] = Get(name);
    SetEnvironmentVariableA(name.c_str(), value ? value->c_str() : nullptr);
  }
  static std::optional<std::string> Get(const std::string& name) {
    char buffer[32768];
    const DWORD length = GetEnvironmentVariableA(name.c_str(), buffer, sizeof(buffer));
    if (length == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
    return std::string(buffer, length);
  }

 private:
  std::map<std::string, std::optional<std::string>> saved_;
};

// A registry key `base`\`path` that the test creates and deletes again, with the keys of
// `path` that it created on the way; `base` must exist. String values only.
class ScopedRegistryKey {
 public:
  ScopedRegistryKey(HKEY root, const std::string& base, const std::string& path)
      : root_(root), base_(base), path_(path) {
    HKEY existing = nullptr;
    existed_ = RegOpenKeyExA(root, Full(path).c_str(), 0, KEY_READ, &existing) == ERROR_SUCCESS;
    if (existed_) RegCloseKey(existing);
    created_ = !existed_ && RegCreateKeyExA(root, Full(path).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                            nullptr, &key_, nullptr) == ERROR_SUCCESS;
  }
  ~ScopedRegistryKey() {
    if (!created_) return;
    RegCloseKey(key_);
    // The key, then its parents within `path` as long as they are empty (a full one refuses).
    std::string path = path_;
    while (!path.empty() && RegDeleteKeyA(root_, Full(path).c_str()) == ERROR_SUCCESS) {
      const auto backslash = path.find_last_of('\\');
      path = backslash == std::string::npos ? "" : path.substr(0, backslash);
    }
  }
  ScopedRegistryKey(const ScopedRegistryKey&) = delete;
  ScopedRegistryKey& operator=(const ScopedRegistryKey&) = delete;

  // False also when the key was there before: the test must not change what it did not make.
  bool created() const { return created_; }
  bool existed() const { return existed_; }
  // An empty name sets the key's default value.
  bool Set(const std::string& name, const std::string& value) const {
    return RegSetValueExA(key_, name.empty() ? nullptr : name.c_str(), 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
  }

 private:
  std::string Full(const std::string& path) const { return base_ + "\\" + path; }
  HKEY root_;
  std::string base_;
  std::string path_;
  HKEY key_ = nullptr;
  bool existed_ = false;
  bool created_ = false;
};

// Answers the message boxes the program shows, one after another, with their default
// reply (OK or the first button), until one with `text` appears; that one is returned
// unanswered. The texts of the boxes answered on the way are appended to `passed`.
inline std::optional<MessageBoxInfo> WaitForMessageBoxWithText(
    const Process& process, const std::string& text, std::vector<std::string>* passed = nullptr,
    DWORD timeout_ms = kWindowTimeoutMs) {
  for (int i = 0; i < 1000; ++i) {
    auto box = WaitForMessageBox(process, timeout_ms);
    if (!box.has_value() || box->text == text) return box;
    if (passed != nullptr) passed->push_back(box->text);
    const auto ids = box->ButtonIds();
    if (ids.empty() || !AnswerMessageBox(*box, ids.front())) return std::nullopt;
  }
  return std::nullopt;
}

// Stored members: `count` files "f0000.bin".. of `size` bytes each (for runs that last long
// enough to act during them).
inline std::vector<ZipMember> ManyMembers(int count, std::size_t size) {
  std::vector<ZipMember> members;
  for (int i = 0; i < count; ++i) {
    char name[32];
    std::snprintf(name, sizeof(name), "f%04d.bin", i);
    members.emplace_back(name, std::string(size, static_cast<char>('a' + i % 26)));
  }
  return members;
}

}  // namespace e2e
