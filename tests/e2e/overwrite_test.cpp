// Existing files under Wine: an output file that cannot be
// created is reported and the run goes on; "don't overwrite" (radio 702) leaves a file as
// it was; the FILEEXIST prompt answers for one file, or with "Don't &ask again" for the
// rest of the run and ticks the main dialog's radio button to match.
#include <gtest/gtest.h>

#include "extraction_support.h"

#include <commctrl.h>

namespace e2e {
namespace {

const std::vector<ZipMember> kThreeFiles = {
    {"first.txt", "new first"}, {"second.txt", "new second"}, {"third.txt", "new third"}};

class OverwriteModes : public ExtractionTest {
 protected:
  void SetUp() override {
    ExtractionTest::SetUp();
    target_ = NewFolder("target");
  }

  std::string Path(const std::string& name) const { return target_ + "\\" + name; }

  void ExpectUntouched(const std::string& name, const std::string& data) {
    EXPECT_EQ(data, ReadText(Path(name))) << name;
    EXPECT_EQ(kPlacedStamp, LastWriteDosStamp(Path(name)).value_or(DosStamp{})) << name;
  }

  std::vector<int> SelectedRows(const Process& stub, HWND dialog) {
    ListView list(stub, Control(dialog, kFileListId));
    std::vector<int> rows;
    for (int row = 0; row < list.RowCount(); ++row) {
      if (list.IsSelected(row)) rows.push_back(row);
    }
    return rows;
  }

  std::string target_;
};

// --- an output file that cannot be created ---------------------------------------------------

// A read-only file is no obstacle here: Wine run as root (as CI runs it) opens one for
// writing all the same.
enum class Obstacle { kHeldOpen, kFolderInPlace };

struct ObstacleCase {
  const char* name;
  Obstacle obstacle;
};
std::ostream& operator<<(std::ostream& out, const ObstacleCase& c) { return out << c.name; }

class UnwritableFile : public OverwriteModes, public testing::WithParamInterface<ObstacleCase> {};

TEST_P(UnwritableFile, IsReportedAndTheNextEntryIsExtracted) {
  const std::string blocked = Path("first.txt");
  HANDLE held = INVALID_HANDLE_VALUE;
  switch (GetParam().obstacle) {
    case Obstacle::kHeldOpen:
      PlaceFile(blocked, "old first");
      // Open without sharing: nobody else may open it for writing while we hold it.
      held = CreateFileA(blocked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
      ASSERT_NE(INVALID_HANDLE_VALUE, held);
      break;
    case Obstacle::kFolderInPlace:
      ASSERT_TRUE(MakeFolders(blocked));
      break;
  }

  HWND dialog = nullptr;
  Process stub = Launch(MakeStoredZip(kThreeFiles).bytes, dialog);
  ASSERT_NE(nullptr, dialog);
  EXPECT_TRUE(IsChecked(dialog, kOverwriteId)) << "the block says overwrite";
  StartUnzip(dialog, target_);
  ExpectError(stub, "Cannot write to " + blocked);
  ExpectRunFailed(stub);
  if (held != INVALID_HANDLE_VALUE) CloseHandle(held);

  if (GetParam().obstacle == Obstacle::kFolderInPlace) {
    EXPECT_TRUE(IsFolder(blocked));
  } else {
    ExpectUntouched("first.txt", "old first");
  }
  ExpectWrittenFile(Path("second.txt"), "new second");
  ExpectWrittenFile(Path("third.txt"), "new third");
  EXPECT_EQ(std::vector<int>{0}, SelectedRows(stub, dialog));
  ExpectCloseEndsWithZero(stub, dialog);
}

INSTANTIATE_TEST_SUITE_P(
    Obstacles, UnwritableFile,
    testing::Values(ObstacleCase{"HeldOpenWithoutSharing", Obstacle::kHeldOpen},
                    ObstacleCase{"FolderInItsPlace", Obstacle::kFolderInPlace}),
    [](const testing::TestParamInfo<ObstacleCase>& info) { return info.param.name; });

// --- don't overwrite ---------------------------------------------------------------------

TEST_F(OverwriteModes, SkipLeavesAnExistingFileUntouched) {
  PlaceFile(Path("second.txt"), "old second");
  HWND dialog = nullptr;
  Process stub = Launch(MakeStoredZip(kThreeFiles).bytes, dialog);
  ASSERT_NE(nullptr, dialog);
  ClickButton(Control(dialog, kDontOverwriteId));
  ASSERT_TRUE(WaitUntil([&] { return IsChecked(dialog, kDontOverwriteId); }, kWindowTimeoutMs));
  EXPECT_FALSE(IsChecked(dialog, kOverwriteId));
  StartUnzip(dialog, target_);
  // No message for the skipped file; the run reports failure because its row stays.
  ExpectRunFailed(stub);
  ExpectUntouched("second.txt", "old second");
  ExpectWrittenFile(Path("first.txt"), "new first");
  ExpectWrittenFile(Path("third.txt"), "new third");
  EXPECT_EQ(std::vector<int>{1}, SelectedRows(stub, dialog));
  ExpectCloseEndsWithZero(stub, dialog);
}

// --- the FILEEXIST prompt ------------------------------------------------------------------

// Four entries; all but new.txt exist in the target before the run.
const std::vector<ZipMember> kMostlyExisting = {{"first.txt", "new first"},
                                                {"second.txt", "new second"},
                                                {"new.txt", "brand new"},
                                                {"third.txt", "new third"}};

class OverwritePrompt : public OverwriteModes {
 protected:
  void SetUp() override {
    OverwriteModes::SetUp();
    for (const char* name : {"first.txt", "second.txt", "third.txt"}) {
      PlaceFile(Path(name), std::string("old ") + name);
    }
    BlockSettings settings;
    settings.overwrite_mode = 2;  // ask
    process_.emplace(Launch(MakeStoredZip(kMostlyExisting).bytes, dialog_, settings));
    ASSERT_NE(nullptr, dialog_);
    EXPECT_TRUE(IsChecked(dialog_, kAskId)) << "the block says ask";
    StartUnzip(dialog_, target_);
  }

  Process& stub() { return *process_; }

  // Waits for the prompt about `name` and checks everything it shows.
  HWND NextPrompt(const std::string& name) {
    HWND prompt = NextWindow(stub());
    if (prompt == nullptr || !IsFileExistsPrompt(prompt)) {
      ADD_FAILURE() << "expected the prompt for " << name << "; the program shows:\n"
                    << DescribeWindows(stub().id());
      return nullptr;
    }
    EXPECT_EQ("File already exists", WindowText(prompt));
    EXPECT_EQ(Path(name) + " already exists. Overwrite?", ControlText(prompt, 201));
    EXPECT_EQ("&Yes", ControlText(prompt, 1));
    EXPECT_EQ("&No", ControlText(prompt, 2));
    EXPECT_EQ("Don't &ask again", ControlText(prompt, 301));
    EXPECT_FALSE(IsChecked(prompt, 301));
    EXPECT_EQ(Control(prompt, 1), FocusedWindow(prompt));
    EXPECT_FALSE(GetWindowLongA(prompt, GWL_STYLE) & WS_SYSMENU) << "FILEEXIST has no close box";
    return prompt;
  }

  void Answer(HWND prompt, int id, bool dont_ask_again) {
    if (dont_ask_again) {
      ClickButton(Control(prompt, 301));
      ASSERT_TRUE(WaitUntil([&] { return IsChecked(prompt, 301); }, kWindowTimeoutMs));
    }
    ClickButton(Control(prompt, id));
    ASSERT_TRUE(WaitForWindowToClose(prompt));
  }

  std::optional<Process> process_;
  HWND dialog_ = nullptr;
};

TEST_F(OverwritePrompt, YesWithDontAskAgainOverwritesTheRest) {
  HWND prompt = NextPrompt("first.txt");
  ASSERT_NE(nullptr, prompt);
  Answer(prompt, 1, true);
  // No further prompt: the next window is the run's success box. The main dialog's
  // buttons show the new mode while it is up.
  auto box = NextMessageBox(stub());
  ASSERT_TRUE(box.has_value());
  EXPECT_EQ(kSuccessText, box->text);
  EXPECT_TRUE(IsChecked(dialog_, kOverwriteId));
  EXPECT_FALSE(IsChecked(dialog_, kAskId));
  ASSERT_TRUE(AnswerMessageBox(*box, IDOK));
  EXPECT_EQ(0u, stub().WaitForExit().value_or(0xFFFFFFFF));
  for (const ZipMember& member : kMostlyExisting) ExpectWrittenFile(Path(member.name), member.data);
}

TEST_F(OverwritePrompt, NoWithDontAskAgainSkipsTheRest) {
  HWND prompt = NextPrompt("first.txt");
  ASSERT_NE(nullptr, prompt);
  Answer(prompt, 2, true);
  ExpectRunFailed(stub());
  EXPECT_TRUE(IsChecked(dialog_, kDontOverwriteId));
  EXPECT_FALSE(IsChecked(dialog_, kAskId));
  ExpectUntouched("first.txt", "old first.txt");
  ExpectUntouched("second.txt", "old second.txt");
  ExpectUntouched("third.txt", "old third.txt");
  ExpectWrittenFile(Path("new.txt"), "brand new");
  EXPECT_EQ((std::vector<int>{0, 1, 3}), SelectedRows(stub(), dialog_));
  ExpectCloseEndsWithZero(stub(), dialog_);
}

TEST_F(OverwritePrompt, WithoutTheBoxEachFileIsAskedFor) {
  HWND prompt = NextPrompt("first.txt");
  ASSERT_NE(nullptr, prompt);
  Answer(prompt, 1, false);
  prompt = NextPrompt("second.txt");
  ASSERT_NE(nullptr, prompt);
  Answer(prompt, 2, false);
  prompt = NextPrompt("third.txt");
  ASSERT_NE(nullptr, prompt);
  Answer(prompt, 1, false);
  ExpectRunFailed(stub());
  EXPECT_TRUE(IsChecked(dialog_, kAskId)) << "the mode stays ask";
  ExpectWrittenFile(Path("first.txt"), "new first");
  ExpectUntouched("second.txt", "old second.txt");
  ExpectWrittenFile(Path("new.txt"), "brand new");
  ExpectWrittenFile(Path("third.txt"), "new third");
  EXPECT_EQ(std::vector<int>{1}, SelectedRows(stub(), dialog_));
  ExpectCloseEndsWithZero(stub(), dialog_);
}

// --- a long run: the progress bar, and the row left behind ------------------------------------

// The bar takes a row's position only when the row starts a further hundredth of the rows
// (drawing it for every row was most of a run's time): at a prompt in the middle of a
// hundredth it still shows where that hundredth began, and the run ends with the bar full.
// The file declined there stays selected, far down the list, and the failed run scrolls it
// into view.
TEST_F(OverwriteModes, LongRunMovesTheBarByHundredthsAndShowsTheRowLeft) {
  constexpr int kRows = 1000;
  constexpr int kDeclined = 504;
  const std::vector<ZipMember> members = ManyMembers(kRows, 1);
  PlaceFile(Path(members[kDeclined].name), "old");
  BlockSettings settings;
  settings.overwrite_mode = 2;  // ask
  HWND dialog = nullptr;
  Process stub = Launch(MakeStoredZip(members).bytes, dialog, settings);
  ASSERT_NE(nullptr, dialog);
  HWND list = Control(dialog, kFileListId);
  ASSERT_EQ(0, SendMessageA(list, LVM_GETTOPINDEX, 0, 0));
  StartUnzip(dialog, target_);

  HWND prompt = NextWindow(stub);
  ASSERT_TRUE(prompt != nullptr && IsFileExistsPrompt(prompt)) << DescribeWindows(stub.id());
  EXPECT_EQ(Path(members[kDeclined].name) + " already exists. Overwrite?",
            ControlText(prompt, 201));
  HWND bar = Control(dialog, kProgressId);
  EXPECT_EQ(kRows, SendMessageA(bar, PBM_GETRANGE, FALSE, 0));
  EXPECT_EQ(500, SendMessageA(bar, PBM_GETPOS, 0, 0)) << "row 505 lies in the hundredth from 500";
  ClickButton(Control(prompt, 2));
  ASSERT_TRUE(WaitForWindowToClose(prompt));

  ExpectRunFailed(stub);
  EXPECT_EQ(kRows, SendMessageA(bar, PBM_GETPOS, 0, 0)) << "the last row fills the bar";
  const auto top = SendMessageA(list, LVM_GETTOPINDEX, 0, 0);
  const auto rows_shown = SendMessageA(list, LVM_GETCOUNTPERPAGE, 0, 0);
  EXPECT_TRUE(top <= kDeclined && kDeclined < top + rows_shown)
      << "rows " << top << " to " << top + rows_shown - 1 << " are in view";
  EXPECT_EQ(std::vector<int>{kDeclined}, SelectedRows(stub, dialog));
  EXPECT_EQ(static_cast<std::size_t>(kRows), FilesIn(target_).size());
  ExpectUntouched(members[kDeclined].name, "old");
  ExpectCloseEndsWithZero(stub, dialog);
}

}  // namespace
}  // namespace e2e
