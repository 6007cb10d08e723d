// The main dialog's file list under Wine: which entries become rows, their text and size,
// and archives placed in the file in the two ways builders place them.
#include <gtest/gtest.h>

#include "archive_maker.h"

namespace e2e {
namespace {

using Rows = std::vector<std::vector<std::string>>;

// An "extended timestamp" extra field as Info-ZIP writes it: the reader must skip it.
const std::string kTimestampExtra("UT\x05\x00\x01\x00\x00\x00\x5f", 9);

std::vector<ZipMember> MixedMembers() {
  std::vector<ZipMember> members = {
      {"docs/", ""},
      {"docs/readme.txt", "Read me first", kTimestampExtra, "the first file"},
      {"setup.ini", ""},
      {"docs/sub/", "", kTimestampExtra},
      {"docs/sub/big.bin", std::string(100000, 'x')},
      {"a/b/c/name with spaces.txt", "7 bytes", "", "", 3},
  };
  return members;
}

const Rows kMixedRows = {
    {"docs\\readme.txt", "13"},
    {"setup.ini", "0"},
    {"docs\\sub\\big.bin", "100000"},
    {"a\\b\\c\\name with spaces.txt", "7"},
};

enum class Offsets { kFromArchiveStart, kFromFileStart };

struct PlacementCase {
  const char* name;
  Offsets offsets;
  std::string archive_comment;
};
std::ostream& operator<<(std::ostream& out, const PlacementCase& c) { return out << c.name; }

class FileList : public StubTest, public testing::WithParamInterface<PlacementCase> {};

TEST_P(FileList, ShowsEachFileOnceWithItsSize) {
  const PlacementCase& c = GetParam();
  const BlockSettings settings;
  // Absolute offsets name the final file positions, as `zip -A` leaves them.
  const std::uint32_t bias = c.offsets == Offsets::kFromFileStart
                                 ? static_cast<std::uint32_t>(StubBytes().size() +
                                                              EncodedBlockSize(settings))
                                 : 0;
  const ZipImage zip = MakeStoredZip(MixedMembers(), bias, c.archive_comment);
  Process stub = Run(Combine(StubBytes(), settings, zip.bytes));

  HWND dialog = WaitForMainDialog(stub);
  ASSERT_NE(nullptr, dialog) << DescribeWindows(stub.id());
  ListView list(stub, Control(dialog, kFileListId));
  ASSERT_EQ(2, list.ColumnCount());
  EXPECT_EQ("Filename", list.ColumnTitle(0));
  EXPECT_EQ("Size", list.ColumnTitle(1));
  EXPECT_EQ(kMixedRows, list.Rows());
  EXPECT_EQ(0, list.SelectedCount()) << "without OptUserSelects no row starts selected";
  ExpectCloseEndsWithZero(stub, dialog);
}

INSTANTIATE_TEST_SUITE_P(
    Placements, FileList,
    testing::Values(PlacementCase{"OffsetsFromArchiveStart", Offsets::kFromArchiveStart, ""},
                    PlacementCase{"OffsetsFromFileStart", Offsets::kFromFileStart, ""},
                    PlacementCase{"WithArchiveComment", Offsets::kFromArchiveStart,
                                  "made for the end-to-end tests"},
                    // The record then sits 65,557 bytes before the end, at the far edge of
                    // the search window.
                    PlacementCase{"WithLongestComment", Offsets::kFromFileStart,
                                  std::string(65535, 'c')}),
    [](const testing::TestParamInfo<PlacementCase>& info) { return info.param.name; });

class FileListRows : public StubTest {
 protected:
  // Starts an archive and returns the rows of its list, closing the dialog afterwards.
  Rows ListedRows(const std::vector<ZipMember>& members, std::uint16_t options = 0,
                  const std::string& archive_comment = "", int* selected = nullptr) {
    BlockSettings settings;
    settings.options = options;
    Process stub = Run(
        Combine(StubBytes(), settings, MakeStoredZip(members, 0, archive_comment).bytes));
    HWND dialog = WaitForMainDialog(stub);
    EXPECT_NE(nullptr, dialog) << DescribeWindows(stub.id()) << "exit code "
                               << stub.WaitForExit(0).value_or(0xFFFFFFFF);
    if (dialog == nullptr) return {{"(no dialog)"}};
    ListView list(stub, Control(dialog, kFileListId));
    Rows rows = list.Rows(2);
    if (selected != nullptr) *selected = list.SelectedCount();
    ExpectCloseEndsWithZero(stub, dialog);
    return rows;
  }
};

TEST_F(FileListRows, IsShownAtOnceWithoutOptListCollapsed) {
  Process stub = Run(Combine(StubBytes(), BlockSettings{}, MakeStoredZip(MixedMembers()).bytes));
  HWND dialog = WaitForMainDialog(stub);
  ASSERT_NE(nullptr, dialog) << DescribeWindows(stub.id());
  EXPECT_TRUE(IsWindowVisible(Control(dialog, kFileListId))) << DescribeWindows(stub.id());
  ExpectCloseEndsWithZero(stub, dialog);
}

TEST_F(FileListRows, RowsStartSelectedWithOptUserSelects) {
  int selected = -1;
  EXPECT_EQ(kMixedRows, ListedRows(MixedMembers(), 0x0002, "", &selected));
  EXPECT_EQ(4, selected);
}

// An archive without entries is sound when something follows its end record's fixed part
// (22 bytes or fewer behind the trailer cannot hold an end record; see DamagedArchive).
TEST_F(FileListRows, EmptyArchiveGivesAnEmptyList) {
  EXPECT_EQ(Rows{}, ListedRows({}, 0, "x"));
  EXPECT_EQ(Rows{}, ListedRows({{"only/", ""}, {"folders/", ""}}));
}

// A comment may itself hold something that looks like a directory and an end record
// reaching the end of the file. The record nearest the start of the search is the real one;
// a search from the end would list the impostor.
TEST_F(FileListRows, EndRecordNearestTheStartWins) {
  const ZipImage impostor = MakeStoredZip({{"impostor.txt", "fake"}});
  const std::string comment(impostor.bytes.begin() + impostor.central_directory,
                            impostor.bytes.end());
  BlockSettings settings;
  Process stub = Run(
      Combine(StubBytes(), settings, MakeStoredZip({{"real.txt", "real data"}}, 0, comment).bytes));
  HWND dialog = WaitForMainDialog(stub);
  ASSERT_NE(nullptr, dialog) << DescribeWindows(stub.id());
  EXPECT_EQ((Rows{{"real.txt", "9"}}), ListView(stub, Control(dialog, kFileListId)).Rows(2));
  ExpectCloseEndsWithZero(stub, dialog);
}

// Archives made by Info-ZIP zip (see make_fixtures.py), as zip wrote it and after `zip -A`
// rewrote its offsets to count from the start of the combined file.
TEST_F(FileListRows, InfoZipArchivesListTheSameBeforeAndAfterZipA) {
  const std::string fixtures = PathFromEnvironment("SELFX_E2E_FIXTURES");
  ASSERT_FALSE(fixtures.empty()) << "SELFX_E2E_FIXTURES is not set";
  const Rows expected = {
      {"docs\\readme.txt", "13"}, {"docs\\sub\\data.bin", "2560"}, {"setup.ini", "0"}};
  for (const char* name : {"info_zip_relative", "info_zip_adjusted"}) {
    SCOPED_TRACE(name);
    const auto bytes = ReadFileBytes(fixtures + "\\" + name + ".exe");
    ASSERT_FALSE(bytes.empty()) << "missing fixture " << name;
    Process stub = Run(bytes, name);
    HWND dialog = WaitForMainDialog(stub);
    ASSERT_NE(nullptr, dialog) << DescribeWindows(stub.id());
    EXPECT_EQ("Made with Info-ZIP", WindowText(dialog));
    EXPECT_EQ(expected, ListView(stub, Control(dialog, kFileListId)).Rows(2));
    ExpectCloseEndsWithZero(stub, dialog);
  }
}

// Names from MS-DOS and OS/2 hosts, and from NTFS with version 5.0, are in the OEM code
// page; names from other hosts are shown byte for byte.
TEST_F(FileListRows, OemNamesAreConvertedByHost) {
  ASSERT_EQ(437u, GetOEMCP()) << "the expectations below assume OEM code page 437";
  ASSERT_EQ(1252u, GetACP()) << "the expectations below assume ANSI code page 1252";
  auto member = [](std::uint8_t host, std::uint8_t version) {
    ZipMember m{"M\x81nchen.txt", "x"};
    m.host = host;
    m.version = version;
    return m;
  };
  const Rows rows = ListedRows(
      {member(0, 20), member(6, 20), member(11, 50), member(11, 20), member(3, 30)});
  const std::string converted = "M\xFCnchen.txt";
  const std::string unchanged = "M\x81nchen.txt";
  EXPECT_EQ((Rows{{converted, "1"},
                  {converted, "1"},
                  {converted, "1"},
                  {unchanged, "1"},
                  {unchanged, "1"}}),
            rows);
}

// Flag bit 11 marks a UTF-8 name: it is shown in the ANSI code page, and a character that
// code page lacks becomes "_".
TEST_F(FileListRows, Utf8NamesAreShownInTheAnsiCodePage) {
  ASSERT_EQ(1252u, GetACP()) << "the expectation below assumes ANSI code page 1252";
  ZipMember member{"Gr\xC3\xBC\xC3\x9F\xE4\xB8\xAD.txt", "utf"};
  member.flags = 0x0800;
  EXPECT_EQ((Rows{{"Gr\xFC\xDF_.txt", "3"}}), ListedRows({member}));
}

}  // namespace
}  // namespace e2e
