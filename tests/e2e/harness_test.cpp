// The harness checked against a probe program whose behaviour is known, so that a fault in
// the harness is not mistaken for a fault in the stub.
#include <gtest/gtest.h>

#include "harness.h"

namespace e2e {
namespace {

std::string ProbePath() { return PathFromEnvironment("SELFX_PROBE"); }

struct MessageBoxCase {
  const char* name;
  UINT style;
  int answer;
  std::vector<int> buttons;
  MessageBoxIcon icon;
};

std::ostream& operator<<(std::ostream& out, const MessageBoxCase& c) { return out << c.name; }

class Harness : public testing::TestWithParam<MessageBoxCase> {};

TEST_P(Harness, ReadsAndAnswersMessageBoxes) {
  const MessageBoxCase& c = GetParam();
  Process probe = Process::Start(ProbePath(), "msgbox " + std::to_string(c.style) +
                                                  " \"Probe caption\" " + "\"First line, & more\"");
  ASSERT_TRUE(probe.started()) << probe.error();
  const auto box = WaitForMessageBox(probe);
  ASSERT_TRUE(box.has_value()) << DescribeWindows(probe.id());
  EXPECT_EQ("Probe caption", box->caption);
  EXPECT_EQ("First line, & more", box->text);
  EXPECT_EQ(c.buttons, box->ButtonIds());
  EXPECT_STREQ(IconName(c.icon), IconName(box->icon));
  ASSERT_TRUE(AnswerMessageBox(*box, c.answer));
  EXPECT_EQ(static_cast<DWORD>(c.answer), probe.WaitForExit().value_or(0xFFFFFFFF));
}

INSTANTIATE_TEST_SUITE_P(
    Styles, Harness,
    testing::Values(MessageBoxCase{"OkPlain", MB_OK, IDOK, {IDOK}, MessageBoxIcon::kNone},
                    MessageBoxCase{
                        "OkError", MB_OK | MB_ICONERROR, IDOK, {IDOK}, MessageBoxIcon::kError},
                    MessageBoxCase{"YesNoQuestion",
                                   MB_YESNO | MB_ICONQUESTION,
                                   IDNO,
                                   {IDYES, IDNO},
                                   MessageBoxIcon::kQuestion},
                    MessageBoxCase{"OkCancelWarning",
                                   MB_OKCANCEL | MB_ICONWARNING,
                                   IDCANCEL,
                                   {IDOK, IDCANCEL},
                                   MessageBoxIcon::kWarning},
                    MessageBoxCase{"AbortRetryIgnoreInformation",
                                   MB_ABORTRETRYIGNORE | MB_ICONINFORMATION,
                                   IDIGNORE,
                                   {IDABORT, IDRETRY, IDIGNORE},
                                   MessageBoxIcon::kInformation}),
    [](const testing::TestParamInfo<MessageBoxCase>& info) { return info.param.name; });

TEST(Harness, ReadsAndDrivesADialog) {
  Process probe = Process::Start(ProbePath(), "dialog");
  ASSERT_TRUE(probe.started()) << probe.error();
  HWND dialog = WaitForDialogWithControl(probe, 401);
  ASSERT_NE(nullptr, dialog) << DescribeWindows(probe.id());
  EXPECT_EQ("Probe dialog", WindowText(dialog));
  EXPECT_EQ("&Extract to:", ControlText(dialog, 601));
  EXPECT_EQ("C:\\target", ControlText(dialog, 201));
  EXPECT_FALSE(IsChecked(dialog, 302));

  ListView list(probe, Control(dialog, 401));
  ASSERT_EQ(2, list.ColumnCount());
  EXPECT_EQ("Filename", list.ColumnTitle(0));
  EXPECT_EQ("Size", list.ColumnTitle(1));
  const std::vector<std::vector<std::string>> expected = {
      {"readme.txt", "12"}, {"docs\\guide.txt", "345"}, {"empty", "0"}};
  EXPECT_EQ(expected, list.Rows());
  EXPECT_EQ(0, list.SelectedCount());
  ASSERT_TRUE(list.SetSelected(1, true));
  EXPECT_TRUE(list.IsSelected(1));
  EXPECT_FALSE(list.IsSelected(0));
  ASSERT_TRUE(list.SetSelected(-1, true));
  EXPECT_EQ(3, list.SelectedCount());

  ClickButton(Control(dialog, 302));
  EXPECT_TRUE(WaitUntil([&] { return IsChecked(dialog, 302); }, kWindowTimeoutMs));

  // Typed text reaches the program: Unzip echoes the edit box in a box owned by the dialog.
  ASSERT_TRUE(SetControlText(dialog, 201, "D:\\elsewhere"));
  PressButton(dialog, IDOK);
  const auto echo = WaitForMessageBox(probe);
  ASSERT_TRUE(echo.has_value()) << DescribeWindows(probe.id());
  EXPECT_EQ("Echo", echo->caption);
  EXPECT_EQ("D:\\elsewhere", echo->text);
  EXPECT_EQ(dialog, GetWindow(echo->window, GW_OWNER));
  ASSERT_TRUE(AnswerMessageBox(*echo, IDOK));
  EXPECT_EQ(1u, probe.WaitForExit().value_or(0xFFFFFFFF));
}

TEST(Harness, ClosesADialogWithItsButton) {
  Process probe = Process::Start(ProbePath(), "dialog");
  HWND dialog = WaitForDialogWithControl(probe, 401);
  ASSERT_NE(nullptr, dialog) << DescribeWindows(probe.id());
  EXPECT_FALSE(IsMessageBox(dialog));
  ClickButton(Control(dialog, IDCANCEL));
  EXPECT_EQ(2u, probe.WaitForExit().value_or(0xFFFFFFFF));
}

// Keys go through the dialog's own keyboard handling: Esc cancels, Enter presses the
// default button; typed characters land in the focused edit box.
TEST(Harness, TypesAndPressesKeys) {
  Process probe = Process::Start(ProbePath(), "dialog");
  HWND dialog = WaitForDialogWithControl(probe, 401);
  ASSERT_NE(nullptr, dialog) << DescribeWindows(probe.id());
  HWND edit = Control(dialog, 201);
  ASSERT_TRUE(SetControlText(dialog, 201, ""));
  TypeText(edit, "C:\\typed");
  PressKey(edit, VK_BACK);
  EXPECT_TRUE(WaitUntil([&] { return ControlText(dialog, 201) == "C:\\type"; }, kWindowTimeoutMs))
      << ControlText(dialog, 201);
  EXPECT_TRUE(IsEnabled(dialog, IDOK));
  EXPECT_TRUE(HasTitle(dialog, "Probe", true));
  EXPECT_FALSE(HasTitle(dialog, "Probe"));

  PressKey(edit, VK_RETURN);
  const auto echo = WaitForMessageBox(probe);
  ASSERT_TRUE(echo.has_value()) << DescribeWindows(probe.id());
  EXPECT_EQ("C:\\type", echo->text);
  HWND focused = FocusedWindow(echo->window);
  ASSERT_NE(nullptr, focused);
  EXPECT_EQ(echo->window, GetParent(focused)) << "the focus is on a button of the box";
  PressKey(focused, VK_ESCAPE);  // an OK-only box takes Esc as OK
  EXPECT_TRUE(WaitForWindowToClose(echo->window));
  EXPECT_EQ(1u, probe.WaitForExit().value_or(0xFFFFFFFF));

  Process second = Process::Start(ProbePath(), "dialog");
  dialog = WaitForDialogWithControl(second, 401);
  ASSERT_NE(nullptr, dialog) << DescribeWindows(second.id());
  PressKey(Control(dialog, 201), VK_ESCAPE);
  EXPECT_EQ(2u, second.WaitForExit().value_or(0xFFFFFFFF));
}

TEST(Harness, EndsEveryProcessItStarted) {
  HANDLE watched = nullptr;
  {
    Process probe = Process::Start(ProbePath(), "dialog");
    ASSERT_NE(nullptr, WaitForDialogWithControl(probe, 401));
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), probe.handle(), GetCurrentProcess(), &watched,
                                0, FALSE, DUPLICATE_SAME_ACCESS));
    EXPECT_FALSE(probe.WaitForExit(100).has_value());  // still running
  }
  EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(watched, 0));
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeProcess(watched, &code));
  EXPECT_EQ(0xDEADu, code);
  CloseHandle(watched);
}

TEST(Harness, ReportsAProgramThatCannotStart) {
  Process missing = Process::Start("Z:\\no\\such\\program.exe");
  EXPECT_FALSE(missing.started());
  EXPECT_FALSE(missing.error().empty());
  EXPECT_FALSE(missing.WaitForExit(0).has_value());
}

}  // namespace
}  // namespace e2e
