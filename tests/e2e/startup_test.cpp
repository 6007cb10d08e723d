// Start-up under Wine: the configuration block, the start-up question, the caption, and the
// ways the program ends before and at the main dialog.
#include <gtest/gtest.h>

#include "archive_maker.h"

namespace e2e {
namespace {

constexpr DWORD kNoExit = 0xFFFFFFFF;

std::vector<std::uint8_t> SmallArchive() {
  return MakeStoredZip({{"readme.txt", "Read me first"}}).bytes;
}

// Waits for the first window the program shows: its start-up question, an error or the
// main dialog.
HWND WaitForFirstWindow(const Process& process) {
  return WaitForWindow(process, [](HWND window) {
    return IsMessageBox(window) || IsDialogWithControl(window, kFileListId);
  });
}

class Startup : public StubTest {};

TEST_F(Startup, StubWithNothingAppendedReportsACorruptFile) {
  Process stub = Run(StubBytes(), "stub_alone");
  ExpectCorruptFileEnd(stub, true);
}

// The program reads itself through a second handle; a file that another process holds
// without read sharing cannot be read, and the error names the full path.
TEST_F(Startup, OwnFileThatCannotBeOpenedIsReported) {
  Process stub = Run(Combine(StubBytes(), BlockSettings{}, SmallArchive()).bytes, "locked", true);
  HANDLE lock = CreateFileA(ProgramPath("locked").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, lock)
      << "cannot hold the program file without sharing: " << GetLastError();
  stub.Resume();
  const auto box = WaitForMessageBox(stub);
  CloseHandle(lock);
  ASSERT_TRUE(box.has_value()) << DescribeWindows(stub.id());
  EXPECT_EQ("Error", box->caption);
  char full_path[MAX_PATH] = {};
  GetFullPathNameA(ProgramPath("locked").c_str(), sizeof(full_path), full_path, nullptr);
  EXPECT_EQ(std::string("Error reading zip ") + full_path, box->text);
  EXPECT_STREQ(IconName(MessageBoxIcon::kError), IconName(box->icon));
  ASSERT_TRUE(AnswerMessageBox(*box, IDOK));
  // Nothing else: the handle that was never opened is not reported as a failed close.
  EXPECT_EQ(1u, stub.WaitForExit().value_or(kNoExit)) << DescribeWindows(stub.id());
}

struct QuestionCase {
  const char* name;
  std::uint32_t style;
  std::vector<int> buttons;
  int answer;
  bool goes_on;  // to the main dialog; otherwise the program ends with 0
};
std::ostream& operator<<(std::ostream& out, const QuestionCase& c) { return out << c.name; }

class StartupQuestion : public StubTest, public testing::WithParamInterface<QuestionCase> {};

TEST_P(StartupQuestion, EndsOnANegativeAnswerAndGoesOnOtherwise) {
  const QuestionCase& c = GetParam();
  BlockSettings settings;
  settings.caption = "Probe Setup 1.0";
  settings.message = "Install the probe files?\r\nThey need 12 bytes.";
  settings.message_style = c.style;
  Process stub = Run(Combine(StubBytes(), settings, SmallArchive()));

  HWND first = WaitForFirstWindow(stub);
  ASSERT_NE(nullptr, first) << "no window; exit code " << stub.WaitForExit(0).value_or(kNoExit);
  ASSERT_TRUE(IsMessageBox(first)) << "the question must come before the dialog:\n"
                                   << DescribeWindows(stub.id());
  const MessageBoxInfo question = ReadMessageBox(first);
  EXPECT_EQ(settings.caption, question.caption);
  EXPECT_EQ(settings.message, question.text);
  EXPECT_EQ(c.buttons, question.ButtonIds());
  EXPECT_EQ(nullptr, GetWindow(first, GW_OWNER)) << "the question has no owner";
  ASSERT_TRUE(AnswerMessageBox(question, c.answer));

  if (c.goes_on) {
    HWND dialog = WaitForMainDialog(stub);
    ASSERT_NE(nullptr, dialog) << DescribeWindows(stub.id()) << "exit code "
                               << stub.WaitForExit(0).value_or(kNoExit);
    ExpectCloseEndsWithZero(stub, dialog);
  } else {
    EXPECT_EQ(0u, stub.WaitForExit().value_or(kNoExit)) << DescribeWindows(stub.id());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Answers, StartupQuestion,
    testing::Values(
        QuestionCase{"YesNoAnsweredNo", MB_YESNO | MB_ICONQUESTION, {IDYES, IDNO}, IDNO, false},
        QuestionCase{"YesNoAnsweredYes", MB_YESNO | MB_ICONQUESTION, {IDYES, IDNO}, IDYES, true},
        QuestionCase{"OkAnsweredOk", MB_OK, {IDOK}, IDOK, true},
        QuestionCase{"OkCancelAnsweredCancel", MB_OKCANCEL, {IDOK, IDCANCEL}, IDCANCEL, false},
        QuestionCase{"OkCancelAnsweredOk", MB_OKCANCEL, {IDOK, IDCANCEL}, IDOK, true},
        QuestionCase{"AbortRetryIgnoreAnsweredAbort",
                     MB_ABORTRETRYIGNORE,
                     {IDABORT, IDRETRY, IDIGNORE},
                     IDABORT,
                     false},
        QuestionCase{"AbortRetryIgnoreAnsweredIgnore",
                     MB_ABORTRETRYIGNORE,
                     {IDABORT, IDRETRY, IDIGNORE},
                     IDIGNORE,
                     true},
        QuestionCase{
            "YesNoCancelAnsweredCancel", MB_YESNOCANCEL, {IDYES, IDNO, IDCANCEL}, IDCANCEL, false},
        QuestionCase{
            "RetryCancelAnsweredRetry", MB_RETRYCANCEL, {IDRETRY, IDCANCEL}, IDRETRY, true}),
    [](const testing::TestParamInfo<QuestionCase>& info) { return info.param.name; });

TEST_F(Startup, QuestionIconComesFromTheStyle) {
  BlockSettings settings;
  settings.message = "Go on?";
  settings.message_style = MB_YESNO | MB_ICONQUESTION;
  Process stub = Run(Combine(StubBytes(), settings, SmallArchive()));
  const auto question = WaitForMessageBox(stub);
  ASSERT_TRUE(question.has_value()) << DescribeWindows(stub.id());
  EXPECT_STREQ(IconName(MessageBoxIcon::kQuestion), IconName(question->icon));
  ASSERT_TRUE(AnswerMessageBox(*question, IDNO));
  EXPECT_EQ(0u, stub.WaitForExit().value_or(kNoExit));
}

// The trailer is checked only after the question: a user who declines never hears of it,
// a user who goes on is told the file is corrupt.
TEST_F(Startup, DamagedTrailerIsReportedOnlyAfterTheQuestion) {
  BlockSettings settings;
  settings.message = "Unpack the files?";
  settings.message_style = MB_YESNO | MB_ICONQUESTION;
  CombinedFile file = Combine(StubBytes(), settings, SmallArchive());
  file.bytes[file.trailer_start + 2] = 0x0B;  // "XQ" 0B 01

  for (const int answer : {IDNO, IDYES}) {
    SCOPED_TRACE(answer == IDYES ? "answered Yes" : "answered No");
    Process stub = Run(file, answer == IDYES ? "yes" : "no");
    const auto question = WaitForMessageBox(stub);
    ASSERT_TRUE(question.has_value()) << DescribeWindows(stub.id());
    ASSERT_EQ("Unpack the files?", question->text) << "the question must come first";
    ASSERT_TRUE(AnswerMessageBox(*question, answer));
    if (answer == IDYES) {
      ExpectCorruptFileEnd(stub, true);
    } else {
      EXPECT_EQ(0u, stub.WaitForExit().value_or(kNoExit)) << DescribeWindows(stub.id());
    }
  }
}

TEST_F(Startup, NoMessageMeansNoQuestionWhateverTheStyle) {
  BlockSettings settings;
  settings.message_style = MB_YESNO | MB_ICONQUESTION;
  Process stub = Run(Combine(StubBytes(), settings, SmallArchive()));
  HWND first = WaitForFirstWindow(stub);
  ASSERT_NE(nullptr, first) << "exit code " << stub.WaitForExit(0).value_or(kNoExit);
  ASSERT_TRUE(IsDialogWithControl(first, kFileListId)) << DescribeWindows(stub.id());
  ExpectCloseEndsWithZero(stub, first);
}

// The caption titles the question and the main dialog; without one both read
// "Unzip to disk".
TEST_F(Startup, CaptionTitlesTheQuestionAndTheDialog) {
  for (const std::string caption : {"", "Probe Setup 1.0 & friends"}) {
    const std::string expected = caption.empty() ? "Unzip to disk" : caption;
    SCOPED_TRACE("caption \"" + caption + "\"");
    BlockSettings settings;
    settings.caption = caption;
    settings.message = "Ready?";
    settings.message_style = MB_OK;
    Process stub = Run(Combine(StubBytes(), settings, SmallArchive()),
                       caption.empty() ? "default" : "configured");
    const auto question = WaitForMessageBox(stub);
    ASSERT_TRUE(question.has_value()) << DescribeWindows(stub.id());
    EXPECT_EQ(expected, question->caption);
    ASSERT_TRUE(AnswerMessageBox(*question, IDOK));
    HWND dialog = WaitForMainDialog(stub);
    ASSERT_NE(nullptr, dialog) << DescribeWindows(stub.id());
    EXPECT_EQ(expected, WindowText(dialog));
    ExpectCloseEndsWithZero(stub, dialog);
  }
}

// Bytes the stub does not read: the reserved byte and padding between message and trailer.
TEST_F(Startup, ReservedByteAndPaddingChangeNothing) {
  BlockSettings settings;
  settings.caption = "Padded";
  settings.padding = std::string("\x01\x02PK junk", 9);
  CombinedFile file = Combine(StubBytes(), settings, SmallArchive());
  file.bytes[file.block_start + 12] = 0xA5;
  Process stub = Run(file);
  HWND dialog = WaitForMainDialog(stub);
  ASSERT_NE(nullptr, dialog) << DescribeWindows(stub.id());
  EXPECT_EQ("Padded", WindowText(dialog));
  ListView list(stub, Control(dialog, kFileListId));
  EXPECT_EQ(1, list.RowCount());
  ExpectCloseEndsWithZero(stub, dialog);
}

// Close, the Esc key's command and the caption's close box all end the dialog; the
// program then ends with 0.
TEST_F(Startup, ClosingTheDialogEndsWithZero) {
  const auto archive = Combine(StubBytes(), BlockSettings{}, SmallArchive());
  struct Way {
    const char* name;
    void (*close)(HWND dialog);
  };
  const Way ways[] = {
      {"button", [](HWND dialog) { ClickButton(Control(dialog, kCloseId)); }},
      {"command", [](HWND dialog) { PressButton(dialog, IDCANCEL); }},
      {"close_box", [](HWND dialog) { PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); }},
  };
  for (const Way& way : ways) {
    SCOPED_TRACE(way.name);
    Process stub = Run(archive, way.name);
    HWND dialog = WaitForMainDialog(stub);
    ASSERT_NE(nullptr, dialog) << DescribeWindows(stub.id());
    EXPECT_EQ("Unzip to disk", WindowText(dialog));
    way.close(dialog);
    EXPECT_EQ(0u, stub.WaitForExit().value_or(kNoExit)) << DescribeWindows(stub.id());
  }
}

}  // namespace
}  // namespace e2e
