// What the extraction suites share: a reader of a ZIP archive's central directory (the
// entries' names, CRCs and DOS times, read independently of the stub), file times as DOS
// times, folder walks, and a test fixture that drives a run through the main dialog:
// type the target folder into edit 201, press Unzip (button 1), answer the prompts and
// boxes that follow, and read how the run ended.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "archive_maker.h"
#include "dialog_support.h"
#include "harness.h"

namespace e2e {

// --- archives --------------------------------------------------------------------------------

struct ZipEntryInfo {
  std::string name;      // as recorded
  std::string row_name;  // as the stub shows and writes it: ANSI code page, "\" separators
  std::uint16_t flags = 0;
  std::uint16_t method = 0;
  std::uint16_t dos_time = 0;
  std::uint16_t dos_date = 0;
  std::uint32_t crc = 0;
  std::uint32_t compressed_size = 0;
  std::uint32_t size = 0;

  bool IsFolder() const { return !name.empty() && name.back() == '/'; }
};

// The central directory of the ZIP archive at the end of `file` (a .zip or a combined
// program): found through the end record nearest the end, offsets taken from the records'
// own sizes, so the archive may have been appended as it is or adjusted. Empty when there
// is no sound directory.
std::vector<ZipEntryInfo> ReadZipDirectory(const std::vector<std::uint8_t>& file);
// Only the file entries.
std::vector<ZipEntryInfo> FileEntries(const std::vector<ZipEntryInfo>& entries);

// --- files -----------------------------------------------------------------------------------

struct DosStamp {
  std::uint16_t date = 0;
  std::uint16_t time = 0;
  bool operator==(const DosStamp& other) const { return date == other.date && time == other.time; }
};
std::ostream& operator<<(std::ostream& out, const DosStamp& stamp);

// The file's last-write time as the stub must have set it: read with GetFileTime, turned
// into local time and then into MS-DOS form. Nothing when the file cannot be opened.
std::optional<DosStamp> LastWriteDosStamp(const std::string& path);
bool SetLastWriteDosStamp(const std::string& path, DosStamp stamp);
FILETIME LastWriteTime(const std::string& path);

// Files (and, with `folders`, folders with a trailing "\") under `folder`, as paths
// relative to it with "\" separators, sorted.
std::vector<std::string> TreeListing(const std::string& folder, bool folders = false);
bool IsFolder(const std::string& path);
// The text after the last "\", "/" or ":" (the whole path when there is none).
std::string FileNamePart(const std::string& path);

// --- driving a run ---------------------------------------------------------------------------

// The PASSWD prompt: a dialog with edit 201 that is not the main dialog.
bool IsPasswordPrompt(HWND window);
// The FILEEXIST prompt: a dialog with checkbox 301.
bool IsFileExistsPrompt(HWND window);

class ExtractionTest : public StubTest {
 protected:
  // Waits for the main dialog of `process`; fails the test when it does not come.
  HWND Open(Process& process);
  // Starts the stub with `settings` and the ZIP archive `zip`, and waits for its main
  // dialog (nullptr, with a failure, when it does not come).
  Process Launch(const std::vector<std::uint8_t>& zip, HWND& dialog,
                 const BlockSettings& settings = BlockSettings{});
  // Types `target` into the folder edit and presses Unzip.
  void StartUnzip(HWND dialog, const std::string& target);

  // The next window that is a message box or one of the two prompts: what the run shows.
  HWND NextWindow(const Process& process, DWORD timeout_ms = kWindowTimeoutMs);
  // Expects the next window to be a message box and reads it (nothing if it is not).
  std::optional<MessageBoxInfo> NextMessageBox(const Process& process,
                                               DWORD timeout_ms = kWindowTimeoutMs);
  // Expects an error box with `text`, and answers it.
  void ExpectError(const Process& process, const std::string& text);
  // Expects "All files have been unzipped.", answers it and expects the program to end
  // with 0.
  void ExpectRunSucceeded(Process& process, DWORD timeout_ms = kWindowTimeoutMs);
  // Expects "The selected file(s) could not be unzipped.", answers it; the dialog stays.
  void ExpectRunFailed(const Process& process, DWORD timeout_ms = kWindowTimeoutMs);

  // The file holds `data` and has the time of MakeStoredZip's entries.
  void ExpectWrittenFile(const std::string& path, const std::string& data);

  // The path of folder `name` in the test's own folder, with whatever an earlier run of
  // the test left there removed: it does not exist on return.
  std::string NewFolder(const std::string& name);

  // Every file entry of `archive` is in `target` with the bytes of the same file under
  // `source` and its last-write time equal to the entry's DOS time as local time, and
  // `target` holds no other file.
  void ExpectExtracted(const std::vector<std::uint8_t>& archive, const std::string& source,
                       const std::string& target);
};

// The fixtures' folder (SELFX_E2E_FIXTURES) and the password of their encrypted archives.
std::string FixturesFolder();
constexpr const char* kFixturePassword = "open sesame";

// Types `password` into the PASSWD prompt, waits for Ok to be enabled and presses it.
void EnterPassword(HWND prompt, const std::string& password);

// The time MakeStoredZip gives every entry: 1 June 2020, 12:00:00.
constexpr DosStamp kZipWriterStamp = {((2020 - 1980) << 9) | (6 << 5) | 1, 12 << 11};

// Writes `data` as a file (with its folders) and gives it a time unlike any entry's.
void PlaceFile(const std::string& path, const std::string& data);
constexpr DosStamp kPlacedStamp = {((2001 - 1980) << 9) | (9 << 5) | 9, (9 << 11) | (9 << 5)};

}  // namespace e2e
