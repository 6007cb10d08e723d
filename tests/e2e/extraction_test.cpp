// Extraction runs driven through the main dialog under Wine: archives
// made by real zip tools come out byte for byte with their entries' times; folders of a
// path are created; a parent that is a file, a wrong CRC and an unknown method give their
// messages and the run ends or goes on as the Parts say.
#include <gtest/gtest.h>

#include "extraction_support.h"

namespace e2e {
namespace {

enum Methods { kStored = 1, kDeflated = 2 };

struct ToolCase {
  const char* fixture;  // make_extraction_fixtures.py writes <fixture>.exe
  int methods;          // the methods its file entries use, as Methods bits
  bool encrypted;
};
std::ostream& operator<<(std::ostream& out, const ToolCase& c) { return out << c.fixture; }

class RealToolExtraction : public ExtractionTest, public testing::WithParamInterface<ToolCase> {};

TEST_P(RealToolExtraction, ExtractsEveryFileByteForByteWithItsTime) {
  const ToolCase& c = GetParam();
  const auto bytes = ReadFileBytes(FixturesFolder() + "\\" + c.fixture + ".exe");
  ASSERT_FALSE(bytes.empty()) << "missing fixture " << c.fixture << " in " << FixturesFolder();

  // The archive is what the case says it is: the tool did not choose otherwise.
  const auto entries = FileEntries(ReadZipDirectory(bytes));
  ASSERT_EQ(8u, entries.size());
  int methods = 0;
  for (const ZipEntryInfo& entry : entries) {
    methods |= entry.method == 0 ? kStored : entry.method == 8 ? kDeflated : 0x100;
    EXPECT_EQ(c.encrypted, (entry.flags & 1) != 0) << entry.name;
  }
  ASSERT_EQ(c.methods, methods);

  Process stub = Run(bytes, c.fixture);
  HWND dialog = Open(stub);
  ASSERT_NE(nullptr, dialog);
  // A target that does not exist yet: the run creates it with the entries' folders.
  const std::string target = NewFolder("target");
  StartUnzip(dialog, target);
  if (c.encrypted) {
    HWND prompt = NextWindow(stub);
    ASSERT_TRUE(prompt != nullptr && IsPasswordPrompt(prompt)) << DescribeWindows(stub.id());
    EnterPassword(prompt, kFixturePassword);
  }
  ExpectRunSucceeded(stub, 60000);
  ExpectExtracted(bytes, FixturesFolder() + "\\extraction_tree", target);
}

INSTANTIATE_TEST_SUITE_P(Tools, RealToolExtraction,
                         testing::Values(ToolCase{"info_zip_stored", kStored, false},
                                         ToolCase{"info_zip_deflated", kStored | kDeflated, false},
                                         ToolCase{"info_zip_encrypted", kStored | kDeflated, true},
                                         ToolCase{"seven_zip", kStored | kDeflated, false},
                                         ToolCase{"python_zipfile", kStored | kDeflated, false}),
                         [](const testing::TestParamInfo<ToolCase>& info) {
                           return info.param.fixture;
                         });

// Runs over archives from the test's own zip writer, whose every field is known.
class ExtractionRun : public ExtractionTest {
 protected:
  // Starts `zip` and presses Unzip with `target`.
  Process Start(const std::vector<std::uint8_t>& zip, const std::string& target,
                HWND* dialog_out = nullptr) {
    HWND dialog = nullptr;
    Process stub = Launch(zip, dialog);
    if (dialog != nullptr) StartUnzip(dialog, target);
    if (dialog_out != nullptr) *dialog_out = dialog;
    return stub;
  }
};

TEST_F(ExtractionRun, CreatesEveryFolderOfAPath) {
  const std::string target = NewFolder("new") + "\\deeper";
  Process stub = Start(MakeStoredZip({{"a/b/c.txt", "deep inside"}}).bytes, target);
  ExpectRunSucceeded(stub);
  EXPECT_TRUE(IsFolder(target + "\\a"));
  EXPECT_TRUE(IsFolder(target + "\\a\\b"));
  ExpectWrittenFile(target + "\\a\\b\\c.txt", "deep inside");
  EXPECT_EQ(std::vector<std::string>({"a\\", "a\\b\\", "a\\b\\c.txt"}), TreeListing(target, true));
}

TEST_F(ExtractionRun, ParentThatIsAFileEndsTheRun) {
  const std::string target = NewFolder("target");
  PlaceFile(target + "\\blocker", "a file, not a folder");
  HWND dialog = nullptr;
  Process stub = Start(
      MakeStoredZip(
          {{"first.txt", "one"}, {"blocker/inner.txt", "cannot be"}, {"last.txt", "never reached"}})
          .bytes,
      target, &dialog);
  ASSERT_NE(nullptr, dialog);
  ExpectError(stub, "Error in folder " + target + "\\blocker");
  ExpectRunFailed(stub);
  ExpectWrittenFile(target + "\\first.txt", "one");
  EXPECT_EQ("a file, not a folder", ReadText(target + "\\blocker"));
  EXPECT_FALSE(PathExists(target + "\\last.txt")) << "the run went on after the folder error";
  ListView list(stub, Control(dialog, kFileListId));
  EXPECT_FALSE(list.IsSelected(0));
  EXPECT_TRUE(list.IsSelected(1));
  EXPECT_TRUE(list.IsSelected(2));
  ExpectCloseEndsWithZero(stub, dialog);
}

TEST_F(ExtractionRun, WrongCrcIsReportedAndTheFileStays) {
  ZipImage zip = MakeStoredZip({{"good.txt", "sound"},
                                {"bad.txt", "damaged in the record"},
                                {"after.txt", "still extracted"}});
  // The central directory's CRC rules; the data itself is intact.
  PutLe32(zip.bytes, zip.central_headers[1] + 16, Crc32("damaged in the record") ^ 0x1);
  const std::string target = NewFolder("target");
  HWND dialog = nullptr;
  Process stub = Start(zip.bytes, target, &dialog);
  ASSERT_NE(nullptr, dialog);
  ExpectError(stub, "CRC-32 error in " + target + "\\bad.txt");
  ExpectRunFailed(stub);
  ExpectWrittenFile(target + "\\good.txt", "sound");
  ExpectWrittenFile(target + "\\bad.txt", "damaged in the record");
  ExpectWrittenFile(target + "\\after.txt", "still extracted");
  ListView list(stub, Control(dialog, kFileListId));
  EXPECT_EQ(1, list.SelectedCount());
  EXPECT_TRUE(list.IsSelected(1));
  ExpectCloseEndsWithZero(stub, dialog);
}

TEST_F(ExtractionRun, UnknownMethodIsReportedAndTheRunGoesOn) {
  ZipImage zip = MakeStoredZip(
      {{"before.txt", "first"}, {"shrunk.bin", "method 12 data"}, {"after.txt", "last"}});
  PutLe16(zip.bytes, zip.central_headers[1] + 10, 12);  // bzip2
  const std::string target = NewFolder("target");
  HWND dialog = nullptr;
  Process stub = Start(zip.bytes, target, &dialog);
  ASSERT_NE(nullptr, dialog);
  ExpectError(stub, "Unknown compression type");
  ExpectRunFailed(stub);
  ExpectWrittenFile(target + "\\before.txt", "first");
  ExpectWrittenFile(target + "\\after.txt", "last");
  EXPECT_FALSE(PathExists(target + "\\shrunk.bin")) << "no file for an unknown method";
  ListView list(stub, Control(dialog, kFileListId));
  EXPECT_EQ(1, list.SelectedCount());
  EXPECT_TRUE(list.IsSelected(1));
  ExpectCloseEndsWithZero(stub, dialog);
}

}  // namespace
}  // namespace e2e
