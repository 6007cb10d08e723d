// The password prompt of an encrypted archive under Wine, on the
// archive Info-ZIP made with zip -e -P (make_extraction_fixtures.py): asked once and
// remembered for the next entries, asked again after a wrong password, the run ended
// after the third wrong one or a cancelled prompt, with no message but the run's own.
//
// Not seen from here: the beep after a refused password. The stub has no console and
// Wine's Beep makes no sound without one.
#include <gtest/gtest.h>

#include "extraction_support.h"

namespace e2e {
namespace {

class EncryptedExtraction : public ExtractionTest {
 protected:
  void SetUp() override {
    ExtractionTest::SetUp();
    archive_ = ReadFileBytes(FixturesFolder() + "\\info_zip_encrypted.exe");
    ASSERT_FALSE(archive_.empty()) << "missing fixture info_zip_encrypted in " << FixturesFolder();
    process_.emplace(Run(archive_));
    dialog_ = Open(stub());
    ASSERT_NE(nullptr, dialog_);
    ListView list(stub(), Control(dialog_, kFileListId));
    ASSERT_GT(list.RowCount(), 1);
    // The prompt names the first file that the run reaches: the first row.
    expected_title_ = "Enter password for " + FileNamePart(list.CellText(0, 0)) + ":";
    target_ = NewFolder("target");
  }

  // Waits for the next PASSWD prompt and checks its title.
  HWND NextPrompt() {
    HWND window = NextWindow(stub());
    if (window == nullptr || !IsPasswordPrompt(window)) {
      ADD_FAILURE() << "expected the password prompt; the program shows:\n"
                    << DescribeWindows(stub().id());
      return nullptr;
    }
    EXPECT_EQ(expected_title_, WindowText(window));
    return window;
  }

  void ExpectNothingExtracted() {
    EXPECT_EQ(std::vector<std::string>{}, TreeListing(target_)) << "files were written";
  }

  std::vector<std::uint8_t> archive_;
  Process& stub() { return *process_; }

  std::optional<Process> process_;
  HWND dialog_ = nullptr;
  std::string expected_title_;
  std::string target_;
};

TEST_F(EncryptedExtraction, AsksOnceAndRemembersThePassword) {
  StartUnzip(dialog_, target_);
  HWND prompt = NextPrompt();
  ASSERT_NE(nullptr, prompt);

  // Ok is disabled until the edit holds text; Cancel is the default button.
  HWND edit = Control(prompt, kFolderEditId);
  EXPECT_EQ("Edit", ClassName(edit));
  EXPECT_TRUE(GetWindowLongA(edit, GWL_STYLE) & ES_PASSWORD);
  EXPECT_EQ("Ok", ControlText(prompt, IDOK));
  EXPECT_EQ("&Cancel", ControlText(prompt, IDCANCEL));
  EXPECT_FALSE(IsEnabled(prompt, IDOK));
  EXPECT_TRUE(IsEnabled(prompt, IDCANCEL));
  EXPECT_EQ(edit, FocusedWindow(prompt));
  DWORD_PTR default_id = 0;
  ASSERT_TRUE(SendMessageTimeoutA(prompt, DM_GETDEFID, 0, 0, SMTO_NORMAL, 5000, &default_id));
  EXPECT_EQ(IDCANCEL, LOWORD(default_id));
  TypeText(edit, "x");
  EXPECT_TRUE(WaitUntil([&] { return IsEnabled(prompt, IDOK); }, kWindowTimeoutMs));
  TypeText(edit, "\b");
  EXPECT_TRUE(WaitUntil([&] { return !IsEnabled(prompt, IDOK); }, kWindowTimeoutMs))
      << "Ok stays enabled with an empty edit";

  EnterPassword(prompt, kFixturePassword);
  // Every later entry opens with the remembered password: no further prompt.
  ExpectRunSucceeded(stub(), 60000);
  ExpectExtracted(archive_, FixturesFolder() + "\\extraction_tree", target_);
}

TEST_F(EncryptedExtraction, WrongPasswordAsksAgain) {
  StartUnzip(dialog_, target_);
  HWND prompt = NextPrompt();
  ASSERT_NE(nullptr, prompt);
  EnterPassword(prompt, "not the password");
  HWND again = NextPrompt();
  ASSERT_NE(nullptr, again) << "no second prompt after a wrong password";
  EnterPassword(again, kFixturePassword);
  ExpectRunSucceeded(stub(), 60000);
  ExpectExtracted(archive_, FixturesFolder() + "\\extraction_tree", target_);
}

TEST_F(EncryptedExtraction, ThirdWrongPasswordEndsTheRun) {
  StartUnzip(dialog_, target_);
  for (int attempt = 1; attempt <= 3; ++attempt) {
    SCOPED_TRACE("attempt " + std::to_string(attempt));
    HWND prompt = NextPrompt();
    ASSERT_NE(nullptr, prompt);
    EnterPassword(prompt, "wrong " + std::to_string(attempt));
  }
  // No fourth prompt and no message of the entry's own: only the run's failure box.
  ExpectRunFailed(stub());
  ExpectNothingExtracted();
  ListView list(stub(), Control(dialog_, kFileListId));
  EXPECT_EQ(list.RowCount(), list.SelectedCount()) << "every row stays selected";
  ExpectCloseEndsWithZero(stub(), dialog_);
}

enum class CancelWay { kCancelButton, kCloseBox, kEnterKey, kEscapeKey };

struct CancelCase {
  const char* name;
  CancelWay way;
};
std::ostream& operator<<(std::ostream& out, const CancelCase& c) { return out << c.name; }

class CancelledPassword : public EncryptedExtraction,
                          public testing::WithParamInterface<CancelCase> {};

TEST_P(CancelledPassword, EndsTheRunAndForgetsThePassword) {
  StartUnzip(dialog_, target_);
  HWND prompt = NextPrompt();
  ASSERT_NE(nullptr, prompt);
  HWND edit = Control(prompt, kFolderEditId);
  switch (GetParam().way) {
    case CancelWay::kCancelButton:
      ClickButton(Control(prompt, IDCANCEL));
      break;
    case CancelWay::kCloseBox:
      PostMessageA(prompt, WM_SYSCOMMAND, SC_CLOSE, 0);
      break;
    case CancelWay::kEnterKey:
      // Cancel is the default button: Enter cancels even with the right password typed.
      TypeText(edit, kFixturePassword);
      ASSERT_TRUE(WaitUntil([&] { return IsEnabled(prompt, IDOK); }, kWindowTimeoutMs));
      PressKey(edit, VK_RETURN);
      break;
    case CancelWay::kEscapeKey:
      PressKey(edit, VK_ESCAPE);
      break;
  }
  ASSERT_TRUE(WaitForWindowToClose(prompt));
  ExpectRunFailed(stub());
  ExpectNothingExtracted();

  // The next run asks again (nothing was remembered) and goes through with the password.
  StartUnzip(dialog_, target_);
  HWND again = NextPrompt();
  ASSERT_NE(nullptr, again) << "no prompt in the second run";
  EnterPassword(again, kFixturePassword);
  ExpectRunSucceeded(stub(), 60000);
  ExpectExtracted(archive_, FixturesFolder() + "\\extraction_tree", target_);
}

INSTANTIATE_TEST_SUITE_P(Ways, CancelledPassword,
                         testing::Values(CancelCase{"CancelButton", CancelWay::kCancelButton},
                                         CancelCase{"CloseBox", CancelWay::kCloseBox},
                                         CancelCase{"EnterKey", CancelWay::kEnterKey},
                                         CancelCase{"EscapeKey", CancelWay::kEscapeKey}),
                         [](const testing::TestParamInfo<CancelCase>& info) {
                           return info.param.name;
                         });

}  // namespace
}  // namespace e2e
