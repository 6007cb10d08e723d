#include "extraction_support.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <ostream>

namespace e2e {

namespace {

std::uint16_t Le16(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  return static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

std::uint32_t Le32(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  return Le16(bytes, at) | (static_cast<std::uint32_t>(Le16(bytes, at + 2)) << 16);
}

// Compared byte by byte, so that this program's image never holds a whole signature.
bool HasSignature(const std::vector<std::uint8_t>& bytes, std::size_t at, std::uint8_t third,
                  std::uint8_t fourth) {
  return at + 4 <= bytes.size() && bytes[at] == 'P' && bytes[at + 1] == 'K' &&
         bytes[at + 2] == third && bytes[at + 3] == fourth;
}

constexpr std::size_t kEndSize = 22;
constexpr std::size_t kCentralSize = 46;

std::string Recode(const std::string& text, UINT from, UINT to) {
  if (text.empty()) return text;
  const int wide_length = MultiByteToWideChar(from, 0, text.data(), static_cast<int>(text.size()),
                                              nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(wide_length), L'\0');
  MultiByteToWideChar(from, 0, text.data(), static_cast<int>(text.size()), &wide[0], wide_length);
  const char* fallback = to == CP_UTF8 ? nullptr : "_";
  const int length = WideCharToMultiByte(to, 0, wide.data(), wide_length, nullptr, 0, fallback,
                                         nullptr);
  std::string out(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(to, 0, wide.data(), wide_length, &out[0], length, fallback, nullptr);
  return out;
}

// The name as the stub converts it: UTF-8 when flag bit 11 says so, the OEM code
// page for MS-DOS and OS/2 hosts and NTFS with version 5.0, otherwise the bytes as they are.
std::string RowName(const std::string& name, std::uint16_t flags, std::uint8_t host,
                    std::uint8_t version) {
  std::string converted = name;
  std::replace(converted.begin(), converted.end(), '/', '\\');
  if (flags & 0x0800) return Recode(converted, CP_UTF8, CP_ACP);
  if (host == 0 || host == 6 || (host == 11 && version == 50)) {
    return Recode(converted, CP_OEMCP, CP_ACP);
  }
  return converted;
}

void ListInto(const std::string& folder, const std::string& prefix, bool folders,
              std::vector<std::string>& out) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    const std::string name = found.cFileName;
    if (name == "." || name == "..") continue;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      if (folders) out.push_back(prefix + name + "\\");
      ListInto(folder + "\\" + name, prefix + name + "\\", folders, out);
    } else {
      out.push_back(prefix + name);
    }
  } while (FindNextFileA(search, &found));
  FindClose(search);
}

std::string Visible(const std::string& text) {
  return text.size() > 200 ? text.substr(0, 200) + "..." : text;
}

}  // namespace

std::vector<ZipEntryInfo> ReadZipDirectory(const std::vector<std::uint8_t>& file) {
  std::vector<ZipEntryInfo> entries;
  if (file.size() < kEndSize) return entries;
  std::size_t end = file.size() - kEndSize;
  while (!HasSignature(file, end, 5, 6)) {
    if (end == 0 || file.size() - end > kEndSize + 65535) return entries;
    --end;
  }
  const std::uint16_t count = Le16(file, end + 10);
  const std::uint32_t directory_size = Le32(file, end + 12);
  if (directory_size > end) return entries;
  // The directory ends where the end record begins, wherever the archive starts.
  std::size_t at = end - directory_size;
  for (std::uint16_t n = 0; n < count; ++n) {
    if (at + kCentralSize > end || !HasSignature(file, at, 1, 2)) return {};
    ZipEntryInfo entry;
    const std::uint8_t version = file[at + 4];
    const std::uint8_t host = file[at + 5];
    entry.flags = Le16(file, at + 8);
    entry.method = Le16(file, at + 10);
    entry.dos_time = Le16(file, at + 12);
    entry.dos_date = Le16(file, at + 14);
    entry.crc = Le32(file, at + 16);
    entry.compressed_size = Le32(file, at + 20);
    entry.size = Le32(file, at + 24);
    const std::uint16_t name_length = Le16(file, at + 28);
    const std::size_t record = kCentralSize + name_length + Le16(file, at + 30) +
                               Le16(file, at + 32);
    if (at + record > end) return {};
    entry.name.assign(file.begin() + at + kCentralSize,
                      file.begin() + at + kCentralSize + name_length);
    entry.row_name = RowName(entry.name, entry.flags, host, version);
    entries.push_back(std::move(entry));
    at += record;
  }
  return entries;
}

std::vector<ZipEntryInfo> FileEntries(const std::vector<ZipEntryInfo>& entries) {
  std::vector<ZipEntryInfo> files;
  std::copy_if(entries.begin(), entries.end(), std::back_inserter(files),
               [](const ZipEntryInfo& entry) { return !entry.IsFolder(); });
  return files;
}

std::ostream& operator<<(std::ostream& out, const DosStamp& stamp) {
  char text[64];
  std::snprintf(text, sizeof(text), "%04d-%02d-%02d %02d:%02d:%02d", 1980 + (stamp.date >> 9),
                (stamp.date >> 5) & 15, stamp.date & 31, stamp.time >> 11, (stamp.time >> 5) & 63,
                (stamp.time & 31) * 2);
  return out << text;
}

FILETIME LastWriteTime(const std::string& path) {
  FILETIME written = {};
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return written;
  GetFileTime(file, nullptr, nullptr, &written);
  CloseHandle(file);
  return written;
}

std::optional<DosStamp> LastWriteDosStamp(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  FILETIME written = {};
  FILETIME local = {};
  DosStamp stamp;
  const bool ok = GetFileTime(file, nullptr, nullptr, &written) &&
                  FileTimeToLocalFileTime(&written, &local) &&
                  FileTimeToDosDateTime(&local, &stamp.date, &stamp.time);
  CloseHandle(file);
  if (!ok) return std::nullopt;
  return stamp;
}

bool SetLastWriteDosStamp(const std::string& path, DosStamp stamp) {
  FILETIME local = {};
  FILETIME written = {};
  if (!DosDateTimeToFileTime(stamp.date, stamp.time, &local) ||
      !LocalFileTimeToFileTime(&local, &written)) {
    return false;
  }
  HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const bool ok = SetFileTime(file, nullptr, nullptr, &written);
  return CloseHandle(file) && ok;
}

std::vector<std::string> TreeListing(const std::string& folder, bool folders) {
  std::vector<std::string> listing;
  ListInto(folder, "", folders, listing);
  std::sort(listing.begin(), listing.end());
  return listing;
}

bool IsFolder(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string FileNamePart(const std::string& path) {
  const std::size_t last = path.find_last_of("\\/:");
  return last == std::string::npos ? path : path.substr(last + 1);
}

void PlaceFile(const std::string& path, const std::string& data) {
  const std::size_t last = path.find_last_of('\\');
  ASSERT_TRUE(last == std::string::npos || MakeFolders(path.substr(0, last))) << path;
  ASSERT_TRUE(WriteFileBytes(path, std::vector<std::uint8_t>(data.begin(), data.end()))) << path;
  ASSERT_TRUE(SetLastWriteDosStamp(path, kPlacedStamp)) << path;
}

std::string FixturesFolder() { return PathFromEnvironment("SELFX_E2E_FIXTURES"); }

void EnterPassword(HWND prompt, const std::string& password) {
  TypeText(Control(prompt, kFolderEditId), password);
  ASSERT_TRUE(WaitUntil([&] { return IsEnabled(prompt, IDOK); }, kWindowTimeoutMs))
      << "Ok stays disabled after typing";
  ClickButton(Control(prompt, IDOK));
  ASSERT_TRUE(WaitForWindowToClose(prompt)) << "the password prompt stays open";
}

bool IsPasswordPrompt(HWND window) {
  return IsDialogWithControl(window, kFolderEditId) && Control(window, kFileListId) == nullptr &&
         ClassName(Control(window, kFolderEditId)) == "Edit";
}

bool IsFileExistsPrompt(HWND window) { return IsDialogWithControl(window, 301); }

// --- ExtractionTest --------------------------------------------------------------------------

HWND ExtractionTest::Open(Process& process) {
  HWND dialog = WaitForMainDialog(process);
  EXPECT_NE(nullptr, dialog) << "no main dialog; the program shows:\n"
                             << DescribeWindows(process.id());
  return dialog;
}

Process ExtractionTest::Launch(const std::vector<std::uint8_t>& zip, HWND& dialog,
                               const BlockSettings& settings) {
  Process process = Run(Combine(StubBytes(), settings, zip));
  dialog = Open(process);
  return process;
}

void ExtractionTest::StartUnzip(HWND dialog, const std::string& target) {
  ASSERT_TRUE(SetControlText(dialog, kFolderEditId, target));
  ASSERT_EQ(target, ControlText(dialog, kFolderEditId));
  ClickButton(Control(dialog, kUnzipId));
}

HWND ExtractionTest::NextWindow(const Process& process, DWORD timeout_ms) {
  HWND window = WaitForWindow(
      process,
      [](HWND candidate) {
        return IsMessageBox(candidate) || IsPasswordPrompt(candidate) ||
               IsFileExistsPrompt(candidate);
      },
      timeout_ms);
  if (window != nullptr) WaitUntilResponding(window);
  return window;
}

std::optional<MessageBoxInfo> ExtractionTest::NextMessageBox(const Process& process,
                                                             DWORD timeout_ms) {
  HWND window = NextWindow(process, timeout_ms);
  if (window == nullptr || !IsMessageBox(window)) {
    ADD_FAILURE() << "expected a message box; the program shows:\n"
                  << DescribeWindows(process.id());
    return std::nullopt;
  }
  return ReadMessageBox(window);
}

void ExtractionTest::ExpectError(const Process& process, const std::string& text) {
  SCOPED_TRACE("expecting the error \"" + text + "\"");
  auto box = NextMessageBox(process);
  ASSERT_TRUE(box.has_value());
  EXPECT_EQ("Error", box->caption);
  EXPECT_EQ(text, box->text);
  EXPECT_EQ(std::vector<int>{IDOK}, box->ButtonIds());
  EXPECT_STREQ(IconName(MessageBoxIcon::kError), IconName(box->icon));
  ASSERT_TRUE(AnswerMessageBox(*box, IDOK));
}

void ExtractionTest::ExpectRunSucceeded(Process& process, DWORD timeout_ms) {
  auto box = NextMessageBox(process, timeout_ms);
  ASSERT_TRUE(box.has_value());
  ASSERT_EQ(kSuccessText, box->text) << "caption " << box->caption;
  ASSERT_TRUE(AnswerMessageBox(*box, IDOK));
  EXPECT_EQ(0u, process.WaitForExit().value_or(0xFFFFFFFF)) << "the program shows:\n"
                                                            << DescribeWindows(process.id());
}

void ExtractionTest::ExpectRunFailed(const Process& process, DWORD timeout_ms) {
  auto box = NextMessageBox(process, timeout_ms);
  ASSERT_TRUE(box.has_value());
  EXPECT_EQ("Error", box->caption);
  ASSERT_EQ(kSelectedFailedText, box->text);
  ASSERT_TRUE(AnswerMessageBox(*box, IDOK));
}

void ExtractionTest::ExpectWrittenFile(const std::string& path, const std::string& data) {
  EXPECT_EQ(data, ReadText(path)) << path;
  EXPECT_EQ(kZipWriterStamp, LastWriteDosStamp(path).value_or(DosStamp{})) << path;
}

std::string ExtractionTest::NewFolder(const std::string& name) {
  const std::string path = folder_ + "\\" + name;
  EXPECT_TRUE(RemoveTree(path)) << "cannot clear " << path;
  return path;
}

void ExtractionTest::ExpectExtracted(const std::vector<std::uint8_t>& archive,
                                     const std::string& source, const std::string& target) {
  const auto entries = FileEntries(ReadZipDirectory(archive));
  ASSERT_FALSE(entries.empty()) << "no directory in the archive";
  std::vector<std::string> expected;
  int mismatches = 0;
  for (const ZipEntryInfo& entry : entries) {
    expected.push_back(entry.row_name);
    if (mismatches >= 10) continue;  // enough to see what is wrong
    SCOPED_TRACE(entry.row_name);
    const std::string path = target + "\\" + entry.row_name;
    const auto want = ReadFileBytes(source + "\\" + entry.row_name);
    const auto got = ReadFileBytes(path);
    bool same = PathExists(path) && want == got;
    EXPECT_TRUE(same) << path << ": " << got.size() << " bytes, expected " << want.size()
                      << (PathExists(path) ? "" : " (missing)");
    const auto stamp = LastWriteDosStamp(path);
    const DosStamp recorded{entry.dos_date, entry.dos_time};
    EXPECT_TRUE(stamp.has_value()) << path;
    if (stamp) {
      EXPECT_EQ(recorded, *stamp) << path << ": last-write time";
      same = same && recorded == *stamp;
    }
    if (!same) ++mismatches;
  }
  std::sort(expected.begin(), expected.end());
  const auto found = TreeListing(target);
  if (expected != found) {
    std::string extra;
    std::string missing;
    for (const auto& name : found) {
      if (!std::binary_search(expected.begin(), expected.end(), name)) extra += " " + name;
    }
    for (const auto& name : expected) {
      if (!std::binary_search(found.begin(), found.end(), name)) missing += " " + name;
    }
    ADD_FAILURE() << "the target holds " << found.size() << " files, the archive "
                  << expected.size() << "; not in the archive:" << Visible(extra)
                  << "; missing:" << Visible(missing);
  }
}

}  // namespace e2e
