// The main dialog under Wine, driven as a user drives it: the option bits, the Unzip and
// Close sequences, selections, failed runs and what follows them, runs started by
// themselves and runs cancelled or not cancellable.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include "archive_maker.h"
#include "dialog_support.h"

namespace e2e {
namespace {

constexpr const char* kCaption = "Dialog Test";

class MainDialog : public StubTest {
 protected:
  void SetUp() override {
    StubTest::SetUp();
    ASSERT_TRUE(RemoveTree(Out())) << "cannot empty " << Out();
  }

  std::string Out() const { return folder_ + "\\out"; }

  BlockSettings Settings(std::uint16_t options, std::uint8_t overwrite_mode = 0,
                         const std::string& command = "") const {
    BlockSettings settings;
    settings.options = options;
    settings.overwrite_mode = overwrite_mode;
    settings.caption = kCaption;
    settings.folder = Out();
    settings.command = command;
    return settings;
  }

  // Starts the archive and waits for its main dialog.
  Process Start(const BlockSettings& settings, const std::vector<ZipMember>& members, HWND* dialog,
                const std::string& name = "archive") {
    Process stub = Run(Combine(StubBytes(), settings, MakeStoredZip(members).bytes), name);
    *dialog = WaitForMainDialog(stub);
    EXPECT_NE(nullptr, *dialog) << DescribeWindows(stub.id()) << "exit code "
                                << stub.WaitForExit(0).value_or(kNoExitCode);
    return stub;
  }

  // A file in the target folder before the run, so that "don't overwrite" skips its row.
  void PutExisting(const std::string& name, const std::string& text) {
    ASSERT_TRUE(MakeFolders(Out()));
    ASSERT_TRUE(WriteText(Out() + "\\" + name, text));
  }

  // Waits for the box with `text`, checks that it is an error box of the dialog and
  // answers it; nothing else may come before it.
  void ExpectErrorBox(const Process& stub, HWND dialog, const std::string& text) {
    const auto box = WaitForMessageBox(stub);
    ASSERT_TRUE(box.has_value()) << DescribeWindows(stub.id());
    EXPECT_EQ(text, box->text);
    EXPECT_EQ("Error", box->caption);
    EXPECT_STREQ(IconName(MessageBoxIcon::kError), IconName(box->icon));
    EXPECT_EQ(dialog, GetWindow(box->window, GW_OWNER));
    ASSERT_TRUE(AnswerMessageBox(*box, IDOK));
  }

  void ExpectSuccessBox(const Process& stub, HWND dialog) {
    const auto box = WaitForMessageBox(stub);
    ASSERT_TRUE(box.has_value()) << DescribeWindows(stub.id());
    EXPECT_EQ(kSuccessText, box->text);
    EXPECT_EQ(kCaption, box->caption);
    EXPECT_EQ(std::vector<int>{IDOK}, box->ButtonIds());
    EXPECT_EQ(dialog, GetWindow(box->window, GW_OWNER));
    ASSERT_TRUE(AnswerMessageBox(*box, IDOK));
  }
};

const std::vector<ZipMember> kTwoFiles = {{"a.txt", "new A"}, {"b.txt", "new B"}};

// Option word 0x02C5: run checkbox, no overwrite choice, list collapsed, no "Show files",
// cancel allowed. The command runs after the success message has been answered.
TEST_F(MainDialog, CompactFormWithTickedCommandRunsItAfterTheSuccessMessage) {
  HWND dialog = nullptr;
  Process stub = Start(Settings(0x02C5, 0, "marker.exe"),
                       {{"marker.exe", MarkerProgramBytes()}, {"readme.txt", "hello"}}, &dialog);
  ASSERT_NE(nullptr, dialog);
  for (const int id :
       {kTopSeparatorId, kOverwriteGroupId, kOverwriteId, kDontOverwriteId, kAskId, kShowFilesId}) {
    EXPECT_EQ(nullptr, Control(dialog, id)) << "control " << id << " must be removed";
  }
  EXPECT_FALSE(IsWindowVisible(Control(dialog, kFileListId)));
  EXPECT_EQ("After unzip, run marker.exe ", ControlText(dialog, kRunCheckboxId));
  EXPECT_TRUE(IsChecked(dialog, kRunCheckboxId));
  EXPECT_EQ(Out(), ControlText(dialog, kFolderEditId));

  ClickButton(Control(dialog, kUnzipId));
  const auto box = WaitForMessageBox(stub);
  ASSERT_TRUE(box.has_value()) << DescribeWindows(stub.id());
  EXPECT_EQ(kSuccessText, box->text);
  EXPECT_EQ(kCaption, box->caption);
  EXPECT_EQ(0u, stub.ProcessesStarted().value_or(1)) << "the command ran before the message";
  EXPECT_EQ("hello", ReadText(Out() + "\\readme.txt"));
  ASSERT_TRUE(AnswerMessageBox(*box, IDOK));

  const auto marker = WaitForMarker(Out());
  ASSERT_TRUE(marker.has_value()) << "the command did not run in " << Out();
  EXPECT_EQ("", marker->parameters);
  EXPECT_EQ(1u, stub.ProcessesStarted().value_or(0));
  EXPECT_EQ(0u, stub.WaitForExit().value_or(kNoExitCode)) << DescribeWindows(stub.id());
}

// OptRunCheckbox without a command: the checkbox goes, nothing is started.
TEST_F(MainDialog, RunCheckboxWithoutCommandIsRemovedAndNothingRuns) {
  HWND dialog = nullptr;
  Process stub = Start(Settings(kOptRunCheckbox | kOptQuietSuccess),
                       {{"marker.exe", MarkerProgramBytes()}}, &dialog);
  ASSERT_NE(nullptr, dialog);
  EXPECT_EQ(nullptr, Control(dialog, kRunCheckboxId));
  ClickButton(Control(dialog, kUnzipId));
  EXPECT_EQ(0u, stub.WaitForExit().value_or(kNoExitCode)) << DescribeWindows(stub.id());
  EXPECT_TRUE(PathExists(Out() + "\\marker.exe"));
  ExpectNothingStarted(stub, Out());
}

// Without OptRunCheckbox a configured command has no checkbox and runs after every
// successful run; with it, unticking the checkbox keeps the command from running.
TEST_F(MainDialog, CommandRunsWithoutCheckboxAndNotWhenUnticked) {
  struct Case {
    const char* name;
    std::uint16_t options;
    bool untick;
    bool runs;
  };
  for (const Case& c :
       {Case{"no_checkbox", kOptQuietSuccess, false, true},
        Case{"no_checkbox_no_choice", kOptQuietSuccess | kOptHideOverwriteChoice, false, true},
        Case{"unticked", kOptQuietSuccess | kOptRunCheckbox, true, false}}) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(RemoveTree(Out()));
    HWND dialog = nullptr;
    Process stub = Start(Settings(c.options, 0, "marker.exe given"),
                         {{"marker.exe", MarkerProgramBytes()}}, &dialog, c.name);
    ASSERT_NE(nullptr, dialog);
    if (c.untick) {
      ClickButton(Control(dialog, kRunCheckboxId));
      ASSERT_TRUE(WaitUntil([&] { return !IsChecked(dialog, kRunCheckboxId); }, kWindowTimeoutMs));
    } else {
      EXPECT_EQ(nullptr, Control(dialog, kRunCheckboxId));
    }
    ClickButton(Control(dialog, kUnzipId));
    EXPECT_EQ(0u, stub.WaitForExit().value_or(kNoExitCode)) << DescribeWindows(stub.id());
    ASSERT_TRUE(PathExists(Out() + "\\marker.exe"));
    if (c.runs) {
      EXPECT_EQ(1u, stub.ProcessesStarted().value_or(0)) << "the command was not started once";
      const auto marker = WaitForMarker(Out());
      ASSERT_TRUE(marker.has_value()) << "the command did not run in " << Out();
      EXPECT_EQ("given", marker->parameters);
    } else {
      ExpectNothingStarted(stub, Out());
    }
  }
}

// An empty folder box, or one of backslashes only, receives the current folder and
// nothing is extracted; the next press extracts there.
TEST_F(MainDialog, EmptyFolderBoxIsFilledWithTheCurrentFolder) {
  HWND dialog = nullptr;
  Process stub = Start(Settings(0), kTwoFiles, &dialog);
  ASSERT_NE(nullptr, dialog);
  for (const char* text : {"", "\\\\\\"}) {
    SCOPED_TRACE(std::string("folder box \"") + text + "\"");
    ASSERT_TRUE(SetControlText(dialog, kFolderEditId, text));
    ClickButton(Control(dialog, kUnzipId));
    EXPECT_TRUE(
        WaitUntil([&] { return ControlText(dialog, kFolderEditId) == folder_; }, kWindowTimeoutMs))
        << "folder box: " << ControlText(dialog, kFolderEditId);
    ASSERT_TRUE(WaitUntilResponding(dialog));
    EXPECT_EQ(std::vector<std::string>{"archive.exe"}, FilesIn(folder_));
    EXPECT_FALSE(WaitForMessageBox(stub, 0).has_value());
    EXPECT_TRUE(IsWindowVisible(dialog));
  }
  ClickButton(Control(dialog, kUnzipId));
  ExpectSuccessBox(stub, dialog);
  EXPECT_EQ(0u, stub.WaitForExit().value_or(kNoExitCode));
  EXPECT_EQ((std::vector<std::string>{"a.txt", "archive.exe", "b.txt"}), FilesIn(folder_));
}

// OptUserSelects: Unzip follows the selection, and only selected rows are extracted.
TEST_F(MainDialog, UserSelectionEnablesUnzipAndChoosesTheFiles) {
  HWND dialog = nullptr;
  Process stub = Start(Settings(kOptUserSelects), {{"a.txt", "A"}, {"b.txt", "B"}, {"c.txt", "C"}},
                       &dialog);
  ASSERT_NE(nullptr, dialog);
  ListView list(stub, Control(dialog, kFileListId));
  EXPECT_EQ(3, list.SelectedCount());
  EXPECT_TRUE(IsEnabled(dialog, kUnzipId));
  ASSERT_TRUE(list.SetSelected(-1, false));
  EXPECT_TRUE(WaitUntil([&] { return !IsEnabled(dialog, kUnzipId); }, kWindowTimeoutMs))
      << "Unzip stays enabled with no row selected";
  ASSERT_TRUE(list.SetSelected(1, true));
  EXPECT_TRUE(WaitUntil([&] { return IsEnabled(dialog, kUnzipId); }, kWindowTimeoutMs))
      << "Unzip stays disabled with a row selected";
  ClickButton(Control(dialog, kUnzipId));
  ExpectSuccessBox(stub, dialog);
  EXPECT_EQ(0u, stub.WaitForExit().value_or(kNoExitCode));
  EXPECT_EQ(std::vector<std::string>{"b.txt"}, FilesIn(Out()));
}

// Without OptUserSelects every press of Unzip selects every row again: a second attempt
// after a failure extracts the files that the first one wrote as well.
TEST_F(MainDialog, RetryAfterFailureExtractsEveryFileAgain) {
  PutExisting("b.txt", "old B");
  HWND dialog = nullptr;
  Process stub = Start(Settings(0, 1), kTwoFiles, &dialog);  // don't overwrite
  ASSERT_NE(nullptr, dialog);
  ListView list(stub, Control(dialog, kFileListId));
  ClickButton(Control(dialog, kUnzipId));
  const auto box = WaitForMessageBox(stub);
  ASSERT_TRUE(box.has_value()) << DescribeWindows(stub.id());
  EXPECT_EQ(kSelectedFailedText, box->text);
  EXPECT_FALSE(list.IsSelected(0)) << "the extracted row is deselected";
  EXPECT_TRUE(list.IsSelected(1)) << "the skipped row stays selected";
  ASSERT_TRUE(AnswerMessageBox(*box, IDOK));
  EXPECT_EQ("new A", ReadText(Out() + "\\a.txt"));
  EXPECT_EQ("old B", ReadText(Out() + "\\b.txt"));

  ASSERT_TRUE(WriteText(Out() + "\\a.txt", "changed A"));
  ClickButton(Control(dialog, kOverwriteId));
  ASSERT_TRUE(WaitUntil([&] { return IsChecked(dialog, kOverwriteId); }, kWindowTimeoutMs));
  ClickButton(Control(dialog, kUnzipId));
  ExpectSuccessBox(stub, dialog);
  EXPECT_EQ(0u, stub.WaitForExit().value_or(kNoExitCode));
  EXPECT_EQ("new A", ReadText(Out() + "\\a.txt"));
  EXPECT_EQ("new B", ReadText(Out() + "\\b.txt"));
}

// With OptHideOverwriteChoice a failed run turns the mode to "ask": the next attempt asks
// before replacing each existing file, including the one the first attempt wrote.
TEST_F(MainDialog, HiddenOverwriteChoiceAsksAfterAFailedRun) {
  PutExisting("b.txt", "old B");
  HWND dialog = nullptr;
  Process stub = Start(Settings(kOptHideOverwriteChoice, 1), kTwoFiles, &dialog);
  ASSERT_NE(nullptr, dialog);
  ClickButton(Control(dialog, kUnzipId));
  ExpectErrorBox(stub, dialog, kSelectedFailedText);
  ASSERT_TRUE(WriteText(Out() + "\\a.txt", "changed A"));

  ClickButton(Control(dialog, kUnzipId));
  for (const char* name : {"a.txt", "b.txt"}) {
    HWND prompt = WaitForDialogWithControl(stub, 301);
    ASSERT_NE(nullptr, prompt) << "no overwrite prompt for " << name << "\n"
                               << DescribeWindows(stub.id());
    EXPECT_EQ("File already exists", WindowText(prompt));
    EXPECT_EQ(Out() + "\\" + name + " already exists. Overwrite?", ControlText(prompt, 201));
    PressButton(prompt, 1);  // "&Yes"
    ASSERT_TRUE(WaitForWindowToClose(prompt));
  }
  ExpectSuccessBox(stub, dialog);
  EXPECT_EQ(0u, stub.WaitForExit().value_or(kNoExitCode));
  EXPECT_EQ("new A", ReadText(Out() + "\\a.txt"));
  EXPECT_EQ("new B", ReadText(Out() + "\\b.txt"));
}

// A failed run while the list is hidden shows the list before the error box, unless
// "Show files" was removed; then the message says "Some file(s)".
TEST_F(MainDialog, FailedRunWithHiddenListShowsItBeforeTheError) {
  struct Case {
    const char* name;
    std::uint16_t options;
    bool list_shown;
    const char* text;
  };
  for (const Case& c :
       {Case{"show_files", kOptListCollapsed, true, kSelectedFailedText},
        Case{"no_show_files", kOptListCollapsed | kOptNoShowFiles, false, kSomeFailedText}}) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(RemoveTree(Out()));
    PutExisting("b.txt", "old B");
    HWND dialog = nullptr;
    Process stub = Start(Settings(c.options, 1), kTwoFiles, &dialog, c.name);
    ASSERT_NE(nullptr, dialog);
    HWND list = Control(dialog, kFileListId);
    ASSERT_FALSE(IsWindowVisible(list));
    ClickButton(Control(dialog, kUnzipId));
    const auto box = WaitForMessageBox(stub);
    ASSERT_TRUE(box.has_value()) << DescribeWindows(stub.id());
    EXPECT_EQ(c.text, box->text);
    EXPECT_EQ(c.list_shown, IsWindowVisible(list) != 0);
    EXPECT_EQ(nullptr, Control(dialog, kShowFilesId));
    if (c.list_shown) {
      EXPECT_TRUE(ListView(stub, list).IsSelected(1)) << "the failed row is shown selected";
      EXPECT_FALSE(ListView(stub, list).IsSelected(0));
    }
    ASSERT_TRUE(AnswerMessageBox(*box, IDOK));
    ExpectCloseEndsWithZero(stub, dialog);
  }
}

// OptAutoRun: the run starts by itself; success ends the program without a message, a
// failure shows its error and then closes the dialog.
TEST_F(MainDialog, AutoRunStartsByItselfAndClosesAfterAFailure) {
  {
    SCOPED_TRACE("success");
    Process stub = Run(Combine(StubBytes(), Settings(kOptAutoRun), MakeStoredZip(kTwoFiles).bytes),
                       "success");
    EXPECT_FALSE(WaitForMessageBox(stub, kExitTimeoutMs).has_value())
        << "no message after a successful run started by itself";
    EXPECT_EQ(0u, stub.WaitForExit().value_or(kNoExitCode)) << DescribeWindows(stub.id());
    EXPECT_EQ((std::vector<std::string>{"a.txt", "b.txt"}), FilesIn(Out()));
  }
  {
    SCOPED_TRACE("failure");
    ASSERT_TRUE(RemoveTree(Out()));
    PutExisting("b.txt", "old B");
    Process stub = Run(
        Combine(StubBytes(), Settings(kOptAutoRun, 1), MakeStoredZip(kTwoFiles).bytes), "failure");
    HWND dialog = WaitForMainDialog(stub);
    const auto box = WaitForMessageBox(stub);
    ASSERT_TRUE(box.has_value()) << DescribeWindows(stub.id());
    EXPECT_EQ(kSelectedFailedText, box->text);
    EXPECT_EQ(dialog, GetWindow(box->window, GW_OWNER));
    ASSERT_TRUE(AnswerMessageBox(*box, IDOK));
    EXPECT_EQ(0u, stub.WaitForExit().value_or(kNoExitCode)) << DescribeWindows(stub.id());
    EXPECT_EQ("new A", ReadText(Out() + "\\a.txt"));
    EXPECT_EQ("old B", ReadText(Out() + "\\b.txt"));
  }
}

TEST_F(MainDialog, HelpShowsTheThreeLineText) {
  HWND dialog = nullptr;
  Process stub = Start(Settings(0), kTwoFiles, &dialog);
  ASSERT_NE(nullptr, dialog);
  ClickButton(Control(dialog, kHelpId));
  const auto box = WaitForMessageBox(stub);
  ASSERT_TRUE(box.has_value()) << DescribeWindows(stub.id());
  EXPECT_EQ("Help", box->caption);
  EXPECT_EQ(
      "This is a self-extracting zip file.\r\n\r\n"
      "Click the browse button '...' to select or create a target folder,\r\n"
      "then click Unzip to unzip the contents to this folder.",
      box->text);
  EXPECT_STREQ(IconName(MessageBoxIcon::kInformation), IconName(box->icon));
  EXPECT_EQ(dialog, GetWindow(box->window, GW_OWNER));
  ASSERT_TRUE(AnswerMessageBox(*box, IDOK));
  ExpectCloseEndsWithZero(stub, dialog);
}

// Runs long enough to act during them: many stored files, each one a pumped message.
class LongRun : public MainDialog {
 protected:
  static constexpr int kFiles = 600;
  static std::vector<ZipMember> Members() { return ManyMembers(kFiles, 16384); }

  // Presses Unzip and waits until the progress bar has taken the folder row's place. The
  // swap is four calls in a row (the bar shown, then the label, the box and "..." hidden), so
  // the wait is for its last step: a look in between would see both rows.
  void StartRun(HWND dialog) {
    ClickButton(Control(dialog, kUnzipId));
    ASSERT_TRUE(WaitUntil(
        [&] {
          return IsWindowVisible(Control(dialog, kProgressId)) != 0 &&
                 IsWindowVisible(Control(dialog, kBrowseId)) == 0;
        },
        kWindowTimeoutMs))
        << "the progress bar did not take the folder row's place";
  }
  // Waits until the run has pumped every message posted to the dialog before the call.
  // Messages posted to a thread are taken in the order they were posted, so a probe posted
  // after them shows it by taking effect: it moves the selection of the folder box, which
  // is hidden during the run and read by nothing. A second round takes what the first
  // messages posted in their turn (the character TranslateMessage makes of a key). A
  // dialog that is gone ends the wait too; the checks that follow tell what happened.
  bool WaitUntilPostedMessagesArePumped(HWND dialog) {
    HWND edit = Control(dialog, kFolderEditId);
    for (const int start : {1, 2}) {
      PostMessageA(edit, EM_SETSEL, start, start + 1);
      const bool taken = WaitUntil(
          [&] {
            DWORD_PTR selection = 0;
            return !IsWindow(edit) ||
                   (SendMessageTimeoutA(edit, EM_GETSEL, 0, 0, SMTO_ABORTIFHUNG, 1000,
                                        &selection) != 0 &&
                    selection == static_cast<DWORD_PTR>(MAKELONG(start, start + 1)));
          },
          kWindowTimeoutMs);
      if (!taken) return false;
    }
    return true;
  }
  void ExpectStillRunning(HWND dialog) {
    ASSERT_TRUE(IsWindowVisible(Control(dialog, kProgressId)))
        << "the run ended too soon to act during it; make it longer";
  }
};

// OptCancelAllowed: Close during a run asks; No goes on to a complete run, Yes stops it
// without a failure message.
TEST_F(LongRun, CancelAllowedAsksAndYesStopsWithoutAFailureMessage) {
  for (const int answer : {IDNO, IDYES}) {
    SCOPED_TRACE(answer == IDYES ? "answered Yes" : "answered No");
    ASSERT_TRUE(RemoveTree(Out()));
    HWND dialog = nullptr;
    Process stub = Start(Settings(kOptCancelAllowed), Members(), &dialog,
                         answer == IDYES ? "yes" : "no");
    ASSERT_NE(nullptr, dialog);
    StartRun(dialog);
    ExpectStillRunning(dialog);
    EXPECT_TRUE(IsEnabled(dialog, kCloseId)) << "Close stays enabled";
    EXPECT_FALSE(IsEnabled(dialog, kUnzipId));
    ClickButton(Control(dialog, kCloseId));
    const auto question = WaitForMessageBox(stub);
    ASSERT_TRUE(question.has_value()) << DescribeWindows(stub.id());
    EXPECT_EQ("Cancel unzip?", question->text);
    EXPECT_EQ(kCaption, question->caption);
    EXPECT_EQ((std::vector<int>{IDYES, IDNO}), question->ButtonIds());
    EXPECT_STREQ(IconName(MessageBoxIcon::kWarning), IconName(question->icon));
    EXPECT_EQ(dialog, GetWindow(question->window, GW_OWNER));
    ASSERT_TRUE(AnswerMessageBox(*question, answer));
    if (answer == IDNO) {
      ExpectSuccessBox(stub, dialog);
      EXPECT_EQ(static_cast<std::size_t>(kFiles), FilesIn(Out()).size());
    } else {
      const auto next = WaitForMessageBox(stub, kExitTimeoutMs);
      EXPECT_FALSE(next.has_value()) << "after a cancel: " << next->text;
      EXPECT_LT(FilesIn(Out()).size(), static_cast<std::size_t>(kFiles));
    }
    EXPECT_EQ(0u, stub.WaitForExit().value_or(kNoExitCode)) << DescribeWindows(stub.id());
  }
}

// Without OptCancelAllowed the run cannot be stopped: Close is disabled, and Esc and the
// close box are not turned into commands while it goes on. The run here ends in a failure
// (its last file exists and is not overwritten), so that the dialog stays to be looked at
// after it: everything is enabled again and the folder row is back.
TEST_F(LongRun, WithoutCancelAllowedNothingStopsTheRun) {
  char last[32];
  std::snprintf(last, sizeof(last), "f%04d.bin", kFiles - 1);
  PutExisting(last, "old");
  HWND dialog = nullptr;
  Process stub = Start(Settings(0, 1), Members(), &dialog);
  ASSERT_NE(nullptr, dialog);
  HWND list = Control(dialog, kFileListId);
  HWND header = FindWindowExA(list, nullptr, WC_HEADERA, nullptr);
  ASSERT_NE(nullptr, header);
  StartRun(dialog);

  EXPECT_FALSE(IsWindowVisible(Control(dialog, kFolderEditId)));
  EXPECT_FALSE(IsWindowVisible(Control(dialog, kExtractToId)));
  EXPECT_FALSE(IsWindowVisible(Control(dialog, kBrowseId)));
  for (const int id : {kCloseId, kUnzipId, kHelpId, kFileListId, kOverwriteId, kAskId}) {
    EXPECT_FALSE(IsEnabled(dialog, id)) << "control " << id << " is enabled during the run";
  }
  EXPECT_FALSE(IsWindowEnabled(header)) << "the list's header is enabled during the run";
  EXPECT_TRUE(IsEnabled(dialog, kProgressId));

  ClickButton(Control(dialog, kCloseId));
  PressKey(dialog, VK_ESCAPE);
  PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
  EXPECT_TRUE(WaitUntilPostedMessagesArePumped(dialog))
      << "the run did not take the messages just posted";
  ExpectStillRunning(dialog);

  const auto box = WaitForMessageBox(stub, 60000);
  ASSERT_TRUE(box.has_value()) << DescribeWindows(stub.id());
  EXPECT_EQ(kSelectedFailedText, box->text) << "the run was stopped or asked to stop";
  EXPECT_TRUE(IsWindowVisible(dialog)) << "the dialog was ended during the run";
  ASSERT_TRUE(AnswerMessageBox(*box, IDOK));
  EXPECT_EQ(static_cast<std::size_t>(kFiles), FilesIn(Out()).size());
  EXPECT_EQ("old", ReadText(Out() + "\\" + last));

  EXPECT_FALSE(IsWindowVisible(Control(dialog, kProgressId)));
  EXPECT_TRUE(IsWindowVisible(Control(dialog, kFolderEditId)));
  for (const int id :
       {kCloseId, kUnzipId, kHelpId, kFileListId, kOverwriteId, kAskId, kFolderEditId, kBrowseId}) {
    EXPECT_TRUE(IsEnabled(dialog, id)) << "control " << id << " stays disabled after the run";
  }
  EXPECT_TRUE(IsWindowEnabled(header));
  ExpectCloseEndsWithZero(stub, dialog);
}

}  // namespace
}  // namespace e2e
