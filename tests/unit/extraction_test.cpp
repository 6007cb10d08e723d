// Extracting entries and the extraction run: files, times, CRC, passwords, overwrite modes,
// folders, refused names and cancelling.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>
#include <filesystem>
#include <fstream>

#include "archive/archive_file.h"
#include "archive/directory.h"
#include "archive/extraction.h"
#include "archive/extraction_run.h"
#include "codec_test_support.h"
#include "scripted_ui.h"
#include "test_support.h"

namespace selfx {
namespace {

namespace fs = std::filesystem;
using test::ZipEntrySpec;

void WriteText(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// An archive opened as the program's, its rows listed and selected, and an empty target
// folder beside it.
class ExtractionRun : public ::testing::Test {
 protected:
  void Open(const std::vector<ZipEntrySpec>& entries, std::uint8_t mode = kOverwrite) {
    OpenBytes(test::MakeZip({entries, ""}), mode);
  }
  // Every row selected, an empty target folder beside the archive.
  void OpenBytes(const test::Bytes& zip, std::uint8_t mode = kOverwrite) {
    codec_test::EnsureCodecTables();
    extraction_ = std::make_unique<Extraction>();
    archive_ = test::OpenAsArchive(zip, *extraction_);
    ASSERT_TRUE(LoadDirectory(*extraction_, true));
    target_ = fs::path(archive_->folder()) / "target";
    target_folder_ = target_.string();
    extraction_->overwrite_mode = mode;
  }
  // The run as the dialog starts it: into the target folder, with the mode of the moment.
  bool ExtractSelectedRows() { return ExtractSelected(*extraction_, target_folder_); }
  std::vector<std::string> SelectedNames() const { return selfx::SelectedNames(*extraction_); }
  std::vector<std::string> ErrorTexts() const {
    std::vector<std::string> texts;
    for (const ShownMessage& message : TheScriptedUi.messages) texts.push_back(message.text);
    return texts;
  }
  // Where a file lands, for reading it back.
  std::string Target(const std::string& relative) const { return (target_ / relative).string(); }
  // The same path as the core names it in its messages (Windows separators).
  std::string CorePath(const std::string& relative) const {
    std::string path = target_.string() + "\\" + relative;
    std::replace(path.begin() + static_cast<std::ptrdiff_t>(target_.string().size()), path.end(),
                 '/', '\\');
    return path;
  }

  std::unique_ptr<Extraction> extraction_;
  std::unique_ptr<test::TempFile> archive_;
  fs::path target_;
  std::string target_folder_;
};

TEST_F(ExtractionRun, WritesEveryFileWithItsTime) {
  std::string big(100000, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>((i * 7) % 251);
  Open({{"a.txt", "stored text"}, {"d/e/f.txt", big, 20, 0, 0, 8}, {"empty", ""}, {"d/", ""}});
  EXPECT_TRUE(ExtractSelectedRows());
  EXPECT_TRUE(SelectedNames().empty());
  EXPECT_TRUE(TheScriptedUi.messages.empty());
  EXPECT_EQ(test::ReadFileText(Target("a.txt")), "stored text");
  EXPECT_EQ(test::ReadFileText(Target("d/e/f.txt")), big);
  EXPECT_EQ(fs::file_size(Target("empty")), 0u);
  EXPECT_EQ(TheScriptedUi.progress_range, 3);
  EXPECT_EQ(TheScriptedUi.progress, (std::vector<int>{0, 1, 2, 3}));

  // 1996-10-02 00:00:00, read as local time.
  std::tm local = {};
  local.tm_year = 96;
  local.tm_mon = 9;
  local.tm_mday = 2;
  local.tm_isdst = -1;
  struct stat info;
  ASSERT_EQ(::stat(Target("d/e/f.txt").c_str(), &info), 0);
  EXPECT_EQ(info.st_mtime, std::mktime(&local));
}

TEST_F(ExtractionRun, FailedRowsStaySelected) {
  // The second entry's recorded CRC is wrong, the third uses a method the stub does not
  // know, the fourth was never selected.
  Open({{"one", "1"},
        {"two", "2", 20, 0, 0, 0, "", 0x12345678},
        {"odd", "x", 20, 0, 0, 12},
        {"three", "3"},
        {"unselected", "4"}});
  extraction_->entries[4].selected = false;
  EXPECT_FALSE(ExtractSelectedRows());
  EXPECT_EQ(SelectedNames(), (std::vector<std::string>{"two", "odd"}));
  EXPECT_EQ(ErrorTexts(), (std::vector<std::string>{"CRC-32 error in " + CorePath("two"),
                                                    "Unknown compression type"}));
  EXPECT_EQ(test::ReadFileText(Target("two")), "2");  // the damaged file stays
  EXPECT_FALSE(fs::exists(Target("odd")));
  EXPECT_FALSE(fs::exists(Target("unselected")));
  EXPECT_TRUE(fs::exists(Target("three")));
  EXPECT_EQ(TheScriptedUi.progress.back(), 5);  // the bar counts every row
}

TEST_F(ExtractionRun, LocalExtraFieldDecidesWhereDataStarts) {
  Open({{"x", "payload", 20, 0, 0, 0, "", std::nullopt, std::string(37, 'e')}});
  EXPECT_TRUE(ExtractSelectedRows());
  EXPECT_EQ(test::ReadFileText(Target("x")), "payload");
}

struct PasswordCase {
  const char* what;
  std::vector<std::string> typed;  // the prompt's answers; Cancel after the last
  int prompts;
  int beeps;
  std::vector<std::string> left_selected;
};

class PasswordLoop : public ExtractionRun, public ::testing::WithParamInterface<PasswordCase> {};

TEST_P(PasswordLoop, AsksAtMostThreeTimes) {
  const PasswordCase& c = GetParam();
  Open({{"first", "secret data", 20, 0, 0, 8, "pass"},
        {"second", "more secret data", 20, 0, 0, 0, "pass"},
        {"plain", "open"}});
  TheScriptedUi.passwords = c.typed;
  ::testing::internal::CaptureStderr();
  bool all = ExtractSelectedRows();
  std::string stderr_text = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(TheScriptedUi.password_prompts, c.prompts);
  EXPECT_EQ(std::count(stderr_text.begin(), stderr_text.end(), '\a'), c.beeps);
  EXPECT_EQ(SelectedNames(), c.left_selected);
  EXPECT_EQ(all, c.left_selected.empty());
  EXPECT_TRUE(TheScriptedUi.messages.empty());  // a missing password is no error box
  if (all) {
    EXPECT_EQ(test::ReadFileText(Target("second")), "more secret data");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PasswordLoop,
    ::testing::Values(
        // Once accepted, the password opens the next entry without a prompt.
        PasswordCase{"right at once", {"pass"}, 1, 0, {}},
        PasswordCase{"right at the third try", {"bad1", "bad2", "pass"}, 3, 2, {}},
        // Three refusals end the run: nothing after the entry is touched.
        PasswordCase{
            "wrong three times", {"bad1", "bad2", "bad3"}, 3, 3, {"first", "second", "plain"}},
        PasswordCase{"cancelled", {}, 1, 0, {"first", "second", "plain"}}),
    [](const ::testing::TestParamInfo<PasswordCase>& info) {
      std::string name = info.param.what;
      std::replace(name.begin(), name.end(), ' ', '_');
      return name;
    });

TEST_F(ExtractionRun, CancelledPromptForgetsThePassword) {
  Open({{"first", "data", 20, 0, 0, 0, "pass"}});
  extraction_->password = "stale";
  EXPECT_FALSE(ExtractSelectedRows());
  EXPECT_EQ(TheScriptedUi.password_prompts, 1);
  EXPECT_TRUE(extraction_->password.empty());
}

TEST_F(ExtractionRun, OverwriteModes) {
  auto prepare = [&](std::uint8_t mode) {
    Open({{"a", "new a"}, {"b", "new b"}, {"c", "new c"}}, mode);
    fs::create_directories(target_);
    WriteText(Target("a"), "old a, longer than the new one");
    WriteText(Target("c"), "old c");
  };

  prepare(kOverwrite);
  EXPECT_TRUE(ExtractSelectedRows());
  EXPECT_EQ(test::ReadFileText(Target("a")), "new a");  // replaced, not appended to

  prepare(kDontOverwrite);
  EXPECT_FALSE(ExtractSelectedRows());
  EXPECT_EQ(test::ReadFileText(Target("a")), "old a, longer than the new one");
  EXPECT_EQ(SelectedNames(), (std::vector<std::string>{"a", "c"}));
  EXPECT_EQ(TheScriptedUi.exists_prompts, 0);

  // "No" with "Don't ask again": this and every later existing file are skipped unasked.
  prepare(kAsk);
  TheScriptedUi.exists_answers = {kPromptNo};
  TheScriptedUi.dont_ask_again = {true};
  EXPECT_FALSE(ExtractSelectedRows());
  EXPECT_EQ(TheScriptedUi.exists_prompts, 1);
  EXPECT_EQ(test::ReadFileText(Target("c")), "old c");
  EXPECT_EQ(extraction_->overwrite_mode, kDontOverwrite);

  // "Yes" with it: every later existing file is overwritten unasked.
  prepare(kAsk);
  TheScriptedUi.exists_answers = {kPromptYes};
  TheScriptedUi.dont_ask_again = {true};
  EXPECT_TRUE(ExtractSelectedRows());
  EXPECT_EQ(TheScriptedUi.exists_prompts, 1);
  EXPECT_EQ(test::ReadFileText(Target("c")), "new c");

  // Without the box every existing file is asked about.
  prepare(kAsk);
  TheScriptedUi.exists_answers = {kPromptYes, kPromptNo};
  EXPECT_FALSE(ExtractSelectedRows());
  EXPECT_EQ(TheScriptedUi.exists_prompts, 2);
  EXPECT_EQ(test::ReadFileText(Target("a")), "new a");
  EXPECT_EQ(test::ReadFileText(Target("c")), "old c");
}

TEST_F(ExtractionRun, FilesThatCannotBeCreatedAndFolderErrors) {
  Open({{"taken", "x"}, {"next", "y"}});
  fs::create_directories(target_ / "taken");  // a folder where the file should go
  EXPECT_FALSE(ExtractSelectedRows());
  EXPECT_EQ(ErrorTexts(), (std::vector<std::string>{"Cannot write to " + CorePath("taken")}));
  EXPECT_EQ(test::ReadFileText(Target("next")), "y");

  Open({{"blocker/inside.txt", "x"}, {"later", "y"}});
  fs::create_directories(target_);
  WriteText(Target("blocker"), "a file where a folder should be");
  EXPECT_FALSE(ExtractSelectedRows());
  EXPECT_EQ(ErrorTexts(), (std::vector<std::string>{"Error in folder " + CorePath("blocker")}));
  EXPECT_FALSE(fs::exists(Target("later")));  // the run ended there
}

TEST_F(ExtractionRun, NamesThatLeaveTheTargetAreRefused) {
  const std::vector<std::string> unsafe = {"../escape.txt",
                                           "..\\escape2.txt",
                                           "a/../../escape3.txt",
                                           "/abs.txt",
                                           "\\abs2.txt",
                                           "C:evil.txt",
                                           "C:/evil2.txt",
                                           "sub/CON",
                                           "nul.txt",
                                           "Com1.log",
                                           "LPT9",
                                           "aux .txt",
                                           "ok.txt:stream",
                                           "dir/.. /x",
                                           "...\\y"};
  std::vector<ZipEntrySpec> entries = {{"first.txt", "1"}};
  for (const std::string& name : unsafe) entries.push_back({name, "bad"});
  entries.push_back({"sub/last.txt", "2"});
  entries.push_back({"dots..name.txt", "3"});
  entries.push_back({"console.txt", "4"});
  Open(entries);
  EXPECT_FALSE(ExtractSelectedRows());

  std::vector<std::string> refused = SelectedNames();
  ASSERT_EQ(refused.size(), unsafe.size());
  EXPECT_EQ(TheScriptedUi.messages.size(), unsafe.size());
  for (const ShownMessage& message : TheScriptedUi.messages) {
    EXPECT_EQ(message.text.rfind("Cannot unzip ", 0), 0u) << message.text;
  }
  EXPECT_EQ(test::ReadFileText(Target("first.txt")), "1");
  EXPECT_EQ(test::ReadFileText(Target("sub/last.txt")), "2");
  EXPECT_EQ(test::ReadFileText(Target("dots..name.txt")), "3");
  EXPECT_EQ(test::ReadFileText(Target("console.txt")), "4");
  // Nothing was written anywhere but the files above.
  std::size_t files = 0;
  for (const auto& item : fs::recursive_directory_iterator(archive_->folder())) {
    files += item.is_regular_file() ? 1 : 0;
  }
  EXPECT_EQ(files, 1u + 4u);  // the archive itself and the four good files
}

// The target does not exist before the run, as with a $T folder: a "." part must not make
// the folder creation fail on a folder that exists.
TEST_F(ExtractionRun, DotPartsAreLeftOutAndPartsOfDotsAndBlanksRefused) {
  struct Case {
    const char* name;
    const char* written;  // where the file lands, or nullptr when it is refused
  };
  const Case cases[] = {
      {"./first.txt", "first.txt"},
      {"a/./b.txt", "a/b.txt"},
      {"./c/./d.txt", "c/d.txt"},
      {". ./x.txt", nullptr},
      {". /x.txt", nullptr},
      {" /x.txt", nullptr},
      {"a/  /x.txt", nullptr},
      {"a/. .", nullptr},
      {"COM\xC2\xB9.txt", nullptr},  // the superscript digits, which code page 1252 holds
      {"lpt\xC2\xB2", nullptr},
      {"Com\xC2\xB3 .log", nullptr},
      {"CONIN$", nullptr},
      {"conout$.txt", nullptr},
      {"sub/CONOUT$ . .txt", nullptr},
      {"COM0.txt", "COM0.txt"},  // not a device
      {"CONIN.txt", "CONIN.txt"},
      {"last.txt", "last.txt"},
  };
  std::vector<ZipEntrySpec> entries;
  for (const Case& c : cases) {
    ZipEntrySpec entry{c.name, std::string("data of ") + c.name};
    entry.flags = zip::kFlagUtf8Name;
    entries.push_back(entry);
  }
  Open(entries);
  EXPECT_FALSE(ExtractSelectedRows());

  std::size_t refused = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.written != nullptr) {
      EXPECT_EQ(test::ReadFileText(Target(c.written)), std::string("data of ") + c.name);
    } else {
      ++refused;
    }
  }
  // One "Cannot unzip NAME: reason." for each refused name, and the run went on to the end.
  ASSERT_EQ(TheScriptedUi.messages.size(), refused);
  for (const ShownMessage& message : TheScriptedUi.messages) {
    EXPECT_EQ(message.text.rfind("Cannot unzip ", 0), 0u) << message.text;
  }
  EXPECT_EQ(SelectedNames().size(), refused);
}

TEST(ExtractionPaths, DropDotParts) {
  const std::pair<const char*, const char*> cases[] = {
      {"T\\.\\x.txt", "T\\x.txt"},  {"T\\a\\.\\b", "T\\a\\b"},
      {"T\\.\\.\\x", "T\\x"},       {"T\\a/./b", "T\\a/b"},
      {"T\\a\\.", "T\\a"},          {"T\\a\\\\b", "T\\a\\\\b"},  // an empty part stays
      {"T\\..x\\.y", "T\\..x\\.y"}, {"T\\x", "T\\x"},
  };
  for (const auto& [path, expected] : cases) {
    std::string dropped = path;
    DropDotParts(dropped, 2);
    EXPECT_EQ(dropped, expected) << path;
  }
}

TEST_F(ExtractionRun, CancelStopsBeforeTheNextFile) {
  Open({{"a", "1"}, {"b", "2"}, {"c", "3"}});
  // Pumps: row a, a's file, row b (where the cancel arrives).
  TheScriptedUi.cancel_after_pumps = 2;
  EXPECT_FALSE(ExtractSelectedRows());
  EXPECT_TRUE(fs::exists(Target("a")));
  EXPECT_FALSE(fs::exists(Target("b")));
  EXPECT_EQ(SelectedNames(), (std::vector<std::string>{"b", "c"}));
  EXPECT_TRUE(TheScriptedUi.messages.empty());
}

// A local header that a signed 32-bit seek cannot reach ends the run as corrupt, rather than
// reading whatever lies where the file position was; so does one past the file's end.
TEST_F(ExtractionRun, UnreachableLocalHeadersAreFatal) {
  for (std::uint32_t header_offset : {0x80000000u, 0xFFFFFFF0u, 0x7FFFFFF0u}) {
    SCOPED_TRACE(header_offset);
    test::Bytes zip = test::MakeZip({{{"first", "1"}, {"far", "unreachable"}}, ""});
    // The second central header's offset field (the first header's name is 5 bytes).
    std::size_t directory = zip.size() - 22 - 2 * (46 + 5) + (46 + 5);
    std::copy_n(test::Le32(header_offset).begin(), 4, zip.begin() + directory + 42);
    OpenBytes(zip);
    EXPECT_FALSE(ExtractSelectedRows());
    EXPECT_EQ(extraction_->fault, Fault::kCorrupt);
    EXPECT_EQ(FaultMessage(*extraction_), "Cannot unzip: file is corrupt.");
    // The run ended there: the entry before it was written, and nothing was said.
    EXPECT_EQ(test::ReadFileText(Target("first")), "1");
    EXPECT_EQ(SelectedNames(), (std::vector<std::string>{"far"}));
    EXPECT_TRUE(TheScriptedUi.messages.empty());
  }
}

// A compressed size of 2 GiB or more is more than the archive can hold: nothing is read for
// the entry, whose CRC then fails, and the run goes on. Just above 2 GiB, taking away the
// encryption header must not wrap the size round to a huge one.
TEST_F(ExtractionRun, CompressedSizesOf2GiBOrMoreReadNothing) {
  for (std::uint32_t size : {0x80000000u, 0x80000005u, 0x8000000Bu, 0xFFFFFFFFu}) {
    SCOPED_TRACE(size);
    ZipEntrySpec big{"big.txt", "secret"};
    big.password = "pw";
    test::Bytes zip = test::MakeZip({{big, {"after.txt", "after"}}, ""});
    // The first central header's compressed-size field.
    std::size_t directory = zip.size() - 22 - (46 + 7) - (46 + 9);
    std::copy_n(test::Le32(size).begin(), 4, zip.begin() + directory + 20);
    OpenBytes(zip);
    extraction_->password = "pw";
    EXPECT_FALSE(ExtractSelectedRows());
    EXPECT_EQ(ErrorTexts(), std::vector<std::string>{"CRC-32 error in " + CorePath("big.txt")});
    EXPECT_EQ(test::ReadFileText(Target("after.txt")), "after");
  }
}

// The POSIX platform seeks as SetFilePointer does: a position of 2 GiB or more from the start
// is a negative distance, which fails and leaves the file where it was.
TEST(PlatformSeek, NegativePositionsFailAndKeepThePosition) {
  test::TempFile file(test::Bytes(300, 'x'));
  platform::FileHandle handle = platform::OpenForReading(file.path());
  ASSERT_NE(handle, platform::kNoFile);
  EXPECT_EQ(platform::Seek(handle, 100, platform::SeekOrigin::FromStart), 100u);
  EXPECT_EQ(platform::Seek(handle, static_cast<std::int32_t>(0x80000000u),
                           platform::SeekOrigin::FromStart),
            0xFFFFFFFFu);
  EXPECT_EQ(platform::Seek(handle, 0, platform::SeekOrigin::FromCurrent), 100u);
  EXPECT_EQ(platform::Seek(handle, -10, platform::SeekOrigin::FromCurrent), 90u);
  EXPECT_EQ(platform::Seek(handle, -10, platform::SeekOrigin::FromEnd), 290u);
  platform::Close(handle);
}

TEST_F(ExtractionRun, ShortWriteAndTruncatedDataAreFatal) {
  Open({{"full", "cannot be written"}, {"after", "not reached"}});
  target_folder_ = "/dev";
  EXPECT_FALSE(ExtractSelectedRows());
  EXPECT_EQ(extraction_->fault, Fault::kCannotWrite);
  EXPECT_EQ(FaultMessage(*extraction_), "Cannot write to /dev\\full");
  EXPECT_TRUE(TheScriptedUi.messages.empty());
  EXPECT_EQ(SelectedNames(), (std::vector<std::string>{"full", "after"}));

  codec_test::EnsureCodecTables();
  test::Bytes zip = test::MakeZip({{{"cut", std::string(5000, 's')}}, ""});
  // Point the directory's entry at a local header whose data runs past the file's end.
  test::Bytes cut(zip.begin(), zip.begin() + 30 + 3 + 100);
  test::Bytes directory(zip.begin() + 30 + 3 + 5000, zip.end());
  test::Append(cut, directory);
  std::uint32_t directory_offset = 30 + 3 + 100;
  test::Bytes offset = test::Le32(directory_offset);
  std::copy(offset.begin(), offset.end(), cut.end() - 22 + 16);
  OpenBytes(cut);
  EXPECT_FALSE(ExtractSelectedRows());
  EXPECT_EQ(extraction_->fault, Fault::kCorrupt);
  EXPECT_TRUE(TheScriptedUi.messages.empty());
}

}  // namespace
}  // namespace selfx
