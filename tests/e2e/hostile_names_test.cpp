// Entry names that would write outside the target folder or open a device, under Wine:
// each is refused with an error box
// that names it, its row stays selected, every other entry is extracted and nothing
// appears beside the target folder.
#include <gtest/gtest.h>

#include <algorithm>

#include "common/utf8_name_cases.h"
#include "extraction_support.h"

namespace e2e {
namespace {

struct NamedEntry {
  std::string name;  // as recorded in the archive
  std::string row;   // as the list shows it
  bool refused;
};

const std::vector<NamedEntry> kEntries = {
    {"good.txt", "good.txt", false},
    {"..\\x", "..\\x", true},
    {"sub/ok.txt", "sub\\ok.txt", false},
    {"../y", "..\\y", true},
    {"\\abs", "\\abs", true},
    {"a..b.txt", "a..b.txt", false},
    {"C:z", "C:z", true},
    {"CON", "CON", true},
    {"..hidden.txt", "..hidden.txt", false},
    {"sub\\NUL.txt", "sub\\NUL.txt", true},
    {"last.txt", "last.txt", false},
};

class HostileNames : public ExtractionTest {};

TEST_F(HostileNames, AreRefusedAndNothingIsWrittenOutsideTheTarget) {
  std::vector<ZipMember> members;
  for (const NamedEntry& entry : kEntries) members.push_back({entry.name, "data of " + entry.name});

  // The target lies in a folder of its own, with one file beside it.
  const std::string sandbox = NewFolder("sandbox");
  const std::string target = sandbox + "\\target";
  PlaceFile(sandbox + "\\beside.txt", "beside the target");
  const auto sandbox_before = TreeListing(sandbox, true);
  // Where the refused names would lead if they were taken as they are.
  const std::vector<std::string> elsewhere = {sandbox + "\\x", sandbox + "\\y", "Z:\\abs",
                                              "C:\\z",         "Z:\\z",         folder_ + "\\z",
                                              folder_ + "\\x", folder_ + "\\y"};
  for (const std::string& path : elsewhere) ASSERT_FALSE(PathExists(path)) << path;

  HWND dialog = nullptr;
  Process stub = Launch(MakeStoredZip(members).bytes, dialog);
  ASSERT_NE(nullptr, dialog);
  ListView list(stub, Control(dialog, kFileListId));
  std::vector<std::string> rows;
  for (const auto& row : list.Rows(1)) rows.push_back(row[0]);
  std::vector<std::string> expected_rows;
  for (const NamedEntry& entry : kEntries) expected_rows.push_back(entry.row);
  ASSERT_EQ(expected_rows, rows);

  StartUnzip(dialog, target);
  // One error box per refused entry, in list order, each naming its entry; then the run's
  // failure box.
  for (const NamedEntry& entry : kEntries) {
    if (!entry.refused) continue;
    SCOPED_TRACE(entry.row);
    auto box = NextMessageBox(stub);
    ASSERT_TRUE(box.has_value());
    EXPECT_EQ("Error", box->caption);
    EXPECT_NE(std::string::npos, box->text.find(entry.row)) << "the box says: " << box->text;
    EXPECT_NE(kSelectedFailedText, box->text);
    EXPECT_STREQ(IconName(MessageBoxIcon::kError), IconName(box->icon));
    EXPECT_EQ(std::vector<int>{IDOK}, box->ButtonIds());
    ASSERT_TRUE(AnswerMessageBox(*box, IDOK));
  }
  ExpectRunFailed(stub);

  std::vector<std::string> extracted;
  for (std::size_t row = 0; row < kEntries.size(); ++row) {
    const NamedEntry& entry = kEntries[row];
    SCOPED_TRACE(entry.row);
    EXPECT_EQ(entry.refused, list.IsSelected(static_cast<int>(row)));
    if (!entry.refused) {
      ExpectWrittenFile(target + "\\" + entry.row, "data of " + entry.name);
      extracted.push_back(entry.row);
    }
  }
  std::sort(extracted.begin(), extracted.end());
  EXPECT_EQ(extracted, TreeListing(target)) << "the target holds only the good entries";

  // Beside the target nothing changed, and nothing appeared where the names point.
  std::vector<std::string> sandbox_after;
  for (const std::string& path : TreeListing(sandbox, true)) {
    if (path.rfind("target\\", 0) != 0) sandbox_after.push_back(path);
  }
  EXPECT_EQ(sandbox_before, sandbox_after);
  EXPECT_EQ("beside the target", ReadText(sandbox + "\\beside.txt"));
  for (const std::string& path : elsewhere) EXPECT_FALSE(PathExists(path)) << path;
  ExpectCloseEndsWithZero(stub, dialog);
}

// A "." part of a name is dropped and a part made of dots and blanks only is refused like "..",
// also when the target is a $T folder that the run makes first; device names with a
// superscript digit (code page 1252 has \xB9, \xB2, \xB3) and the console's own names are
// refused too. Each refusal has its box and the run goes on. The superscripts come as archives
// write them: "COM\xC2\xB9" flagged as UTF-8, and "lpt\xFD" in code page 437 (which has a
// superscript two but no one).
TEST_F(HostileNames, DotPartsAndMoreDeviceNamesInANewTempFolder) {
  const std::string temp = NewFolder("temp");
  ASSERT_TRUE(MakeFolders(temp));
  ScopedEnvironment environment;
  environment.Set("TEMP", temp);
  std::vector<ZipMember> members = {
      {"./x.txt", "x"},    {"a/./b.txt", "b"},         {". ./c.txt", "c"},
      {" /d.txt", "d"},    {"COM\xC2\xB9", "com"},     {"lpt\xFD .txt", "lpt"},
      {"CONIN$", "conin"}, {"sub/CONOUT$.log", "out"}, {"last.txt", "last"},
  };
  members[4].flags = 0x0800;
  const std::vector<std::string> refused_rows = {". .\\c.txt",   " \\d.txt", "COM\xB9",
                                                 "lpt\xB2 .txt", "CONIN$",   "sub\\CONOUT$.log"};
  BlockSettings settings;
  settings.folder = "$T";
  HWND dialog = nullptr;
  Process stub = Launch(MakeStoredZip(members).bytes, dialog, settings);
  ASSERT_NE(nullptr, dialog);
  const std::string target = ControlText(dialog, kFolderEditId);
  ASSERT_EQ(temp + "\\_zip0000", target);
  ASSERT_FALSE(PathExists(target));

  StartUnzip(dialog, target);
  for (const std::string& row : refused_rows) {
    SCOPED_TRACE(row);
    auto box = NextMessageBox(stub);
    ASSERT_TRUE(box.has_value());
    EXPECT_EQ("Error", box->caption);
    EXPECT_NE(std::string::npos, box->text.find(row)) << "the box says: " << box->text;
    ASSERT_TRUE(AnswerMessageBox(*box, IDOK));
  }
  ExpectRunFailed(stub);
  ExpectWrittenFile(target + "\\x.txt", "x");
  ExpectWrittenFile(target + "\\a\\b.txt", "b");
  ExpectWrittenFile(target + "\\last.txt", "last");
  EXPECT_EQ((std::vector<std::string>{"a\\b.txt", "last.txt", "x.txt"}), TreeListing(target));
  ExpectCloseEndsWithZero(stub, dialog);
}

// Names flagged as UTF-8, invalid forms included, are written under the same ANSI names as
// the tool gives them on other systems (the table is shared with the host tests).
TEST_F(HostileNames, Utf8NamesBecomeTheSameAnsiNamesAsInTheTool) {
  std::vector<ZipMember> members;
  std::vector<std::string> expected;
  for (const name_cases::Utf8NameCase& c : name_cases::kUtf8NameCases) {
    members.push_back({c.utf8, c.what});
    members.back().flags = 0x0800;
    members.back().host = 3;
    members.back().version = 63;
    expected.push_back(c.ansi);
  }
  const std::string target = NewFolder("utf8 names");
  HWND dialog = nullptr;
  Process stub = Launch(MakeStoredZip(members).bytes, dialog);
  ASSERT_NE(nullptr, dialog);
  StartUnzip(dialog, target);
  ExpectRunSucceeded(stub);
  for (const name_cases::Utf8NameCase& c : name_cases::kUtf8NameCases) {
    SCOPED_TRACE(c.what);
    ExpectWrittenFile(target + "\\" + c.ansi, c.what);
  }
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(expected, TreeListing(target));
}

}  // namespace
}  // namespace e2e
