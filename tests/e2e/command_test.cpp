// The command an archive starts after a successful run, under Wine: how it is split into a
// program and parameters, how the run checkbox names it, that it starts in the target
// folder, and the error when the shell cannot start it. The programs started are copies
// of the marker program, which records its parameters in its working folder.
#include <windows.h>

#include <gtest/gtest.h>

#include "archive_maker.h"
#include "dialog_support.h"

namespace e2e {
namespace {

class Command : public StubTest {
 protected:
  void SetUp() override {
    StubTest::SetUp();
    ASSERT_TRUE(RemoveTree(Out())) << "cannot empty " << Out();
    ASSERT_FALSE(MarkerProgramBytes().empty()) << "no marker program at " << MarkerProgramPath();
  }

  std::string Out() const { return folder_ + "\\out"; }

  // Starts an archive with the run checkbox and `command`, checks the checkbox's label,
  // presses Unzip (no success message is configured) and returns the process.
  Process UnzipWithCommand(const std::string& command, const std::vector<ZipMember>& members,
                           const std::string& label, HWND* dialog_out = nullptr) {
    BlockSettings settings;
    settings.options = kOptRunCheckbox | kOptQuietSuccess;
    settings.folder = Out();
    settings.command = command;
    Process stub = Run(Combine(StubBytes(), settings, MakeStoredZip(members).bytes));
    HWND dialog = WaitForMainDialog(stub);
    EXPECT_NE(nullptr, dialog) << DescribeWindows(stub.id());
    if (dialog_out != nullptr) *dialog_out = dialog;
    if (dialog == nullptr) return stub;
    EXPECT_EQ(label, ControlText(dialog, kRunCheckboxId));
    EXPECT_TRUE(IsChecked(dialog, kRunCheckboxId));
    ClickButton(Control(dialog, kUnzipId));
    return stub;
  }
};

// The default value of HKCR\.htm, put back when the test ends.
class HtmAssociation {
 public:
  HtmAssociation() {
    DWORD disposition = 0;
    opened_ = RegCreateKeyExA(HKEY_CLASSES_ROOT, ".htm", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &key_, &disposition) == ERROR_SUCCESS;
    created_ = opened_ && disposition == REG_CREATED_NEW_KEY;
    if (!opened_) return;
    char value[256] = {};
    DWORD size = sizeof(value) - 1;
    had_value_ = RegQueryValueExA(key_, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(value),
                                  &size) == ERROR_SUCCESS;
    old_ = value;
  }
  ~HtmAssociation() {
    if (!opened_) return;
    if (had_value_) {
      RegSetValueExA(key_, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(old_.c_str()),
                     static_cast<DWORD>(old_.size() + 1));
    } else {
      RegDeleteValueA(key_, nullptr);
    }
    RegCloseKey(key_);
    if (created_) RegDeleteKeyA(HKEY_CLASSES_ROOT, ".htm");
  }
  HtmAssociation(const HtmAssociation&) = delete;
  HtmAssociation& operator=(const HtmAssociation&) = delete;

  bool Set(const std::string& file_type) const {
    return opened_ && RegSetValueExA(key_, nullptr, 0, REG_SZ,
                                     reinterpret_cast<const BYTE*>(file_type.c_str()),
                                     static_cast<DWORD>(file_type.size() + 1)) == ERROR_SUCCESS;
  }

 private:
  HKEY key_ = nullptr;
  bool opened_ = false;
  bool created_ = false;
  bool had_value_ = false;
  std::string old_;
};

// A document is opened through its association, in the target folder. The test gives .htm
// a file type of its own (Wine's shell reads the classes of the machine, not the user's)
// whose "open" starts the marker program; the old association comes back afterwards.
TEST_F(Command, DocumentIsOpenedInTheTargetFolder) {
  ScopedRegistryKey verb(HKEY_LOCAL_MACHINE, "Software\\Classes",
                         "SelfxE2E.htm\\shell\\open\\command");
  ASSERT_TRUE(verb.created());
  ASSERT_TRUE(verb.Set("", "\"" + MarkerProgramPath() + "\" \"%1\""));
  HtmAssociation association;
  ASSERT_TRUE(association.Set("SelfxE2E.htm"));

  Process stub = UnzipWithCommand("readme.htm", {{"readme.htm", "<p>read me</p>"}},
                                  "After unzip, run readme.htm ");
  EXPECT_EQ(0u, stub.WaitForExit().value_or(kNoExitCode)) << DescribeWindows(stub.id());
  const auto marker = WaitForMarker(Out());
  ASSERT_TRUE(marker.has_value()) << "readme.htm was not opened with " << Out()
                                  << " as the working folder";
  // The shell hands the document on as it was named (Wine) or with its full path; the
  // marker file's place shows that the working folder was the target folder either way.
  EXPECT_TRUE(marker->parameters == "\"readme.htm\"" ||
              marker->parameters == "\"" + Out() + "\\readme.htm\"")
      << marker->parameters;
}

// The program part is everything before the first blank; the label shows the last path
// element of each part.
TEST_F(Command, ProgramWithFullPathGetsTheRestAsParameters) {
  const std::string tools = "C:\\SelfxE2ETools";
  ASSERT_TRUE(RemoveTree(tools));
  ASSERT_TRUE(MakeFolders(tools));
  ASSERT_TRUE(CopyFileA(MarkerProgramPath().c_str(), (tools + "\\view.exe").c_str(), FALSE));
  {
    Process stub = UnzipWithCommand(tools + "\\view.exe D:\\Docs\\guide.txt", {{"a.txt", "A"}},
                                    "After unzip, run view.exe guide.txt");
    EXPECT_EQ(0u, stub.WaitForExit().value_or(kNoExitCode)) << DescribeWindows(stub.id());
    const auto marker = WaitForMarker(Out());
    ASSERT_TRUE(marker.has_value()) << "view.exe did not start in " << Out();
    EXPECT_EQ("D:\\Docs\\guide.txt", marker->parameters);
    EXPECT_EQ(tools + "\\view.exe", marker->program);
  }
  EXPECT_TRUE(RemoveTree(tools));
}

// A program from the archive itself, started from the target folder by its bare name; the
// label takes the parameters' name part after their last "/".
TEST_F(Command, ProgramFromTheArchiveWithSwitches) {
  Process stub = UnzipWithCommand("setup.exe /s /v", {{"setup.exe", MarkerProgramBytes()}},
                                  "After unzip, run setup.exe v");
  EXPECT_EQ(0u, stub.WaitForExit().value_or(kNoExitCode)) << DescribeWindows(stub.id());
  const auto marker = WaitForMarker(Out());
  ASSERT_TRUE(marker.has_value()) << "setup.exe did not start in " << Out();
  EXPECT_EQ("/s /v", marker->parameters);
  EXPECT_EQ(Out() + "\\setup.exe", marker->program);
}

// No quoting: a path with a blank is split at the blank. "OUT\my tools\x.exe" starts
// "OUT\my" (which the shell finds as my.exe) with the parameters "tools\x.exe".
TEST_F(Command, PathWithABlankIsSplitAtTheBlank) {
  Process stub = UnzipWithCommand(
      Out() + "\\my tools\\x.exe -q",
      {{"my.exe", MarkerProgramBytes()}, {"my tools/x.exe", MarkerProgramBytes()}},
      "After unzip, run my x.exe -q");
  EXPECT_EQ(0u, stub.WaitForExit().value_or(kNoExitCode)) << DescribeWindows(stub.id());
  const auto marker = WaitForMarker(Out());
  ASSERT_TRUE(marker.has_value()) << "nothing started in " << Out();
  EXPECT_EQ("tools\\x.exe -q", marker->parameters);
  EXPECT_EQ(Out() + "\\my.exe", marker->program);
}

// A command the shell cannot start is reported with its name parts; the run still counts
// as a success and the program ends with 0.
TEST_F(Command, FailedLaunchIsReportedAndTheProgramEndsWithZero) {
  HWND dialog = nullptr;
  Process stub = UnzipWithCommand("selfx-e2e-missing.exe C:\\Data\\in.txt", {{"a.txt", "A"}},
                                  "After unzip, run selfx-e2e-missing.exe in.txt", &dialog);
  const auto box = WaitForMessageBox(stub);
  ASSERT_TRUE(box.has_value()) << DescribeWindows(stub.id());
  EXPECT_EQ("Cannot run selfx-e2e-missing.exe in.txt", box->text);
  EXPECT_EQ("Error", box->caption);
  EXPECT_STREQ(IconName(MessageBoxIcon::kError), IconName(box->icon));
  EXPECT_EQ(dialog, GetWindow(box->window, GW_OWNER));
  EXPECT_EQ("A", ReadText(Out() + "\\a.txt"));
  ASSERT_TRUE(AnswerMessageBox(*box, IDOK));
  EXPECT_EQ(0u, stub.WaitForExit().value_or(kNoExitCode)) << DescribeWindows(stub.id());
}

}  // namespace
}  // namespace e2e
