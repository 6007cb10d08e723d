// How the program ends, as the process that started it sees it: 0 whenever the main dialog
// ends, however it ends, and 1 after a fatal error, also one found in the middle of a run.
// (The endings before the dialog, a declined question and a damaged or unreadable file,
// are in startup_test.cpp and damaged_archive_test.cpp.) The codes 200 to 255 for memory
// exhaustion, a refused release and processor faults have no cause that a sound program
// gives from outside, and are not provoked here.
#include <windows.h>

#include <gtest/gtest.h>

#include "archive_maker.h"
#include "dialog_support.h"

namespace e2e {
namespace {

struct EndingCase {
  const char* name;
  std::uint16_t options;
  std::string command;
  bool damage_local_header;
  // The texts of what the program shows after Unzip, answered in order; the program then
  // ends.
  std::vector<std::string> boxes;
  DWORD exit_code;
};
std::ostream& operator<<(std::ostream& out, const EndingCase& c) { return out << c.name; }

class ExitCodes : public StubTest, public testing::WithParamInterface<EndingCase> {};

TEST_P(ExitCodes, AfterUnzip) {
  const EndingCase& c = GetParam();
  BlockSettings settings;
  settings.options = c.options;
  settings.command = c.command;
  settings.folder = folder_ + "\\out";
  ASSERT_TRUE(RemoveTree(settings.folder));
  ZipImage zip = MakeStoredZip({{"a.txt", "A"}});
  if (c.damage_local_header) zip.bytes[zip.local_headers[0] + 3] = 0x09;  // "PK\3\4" -> "PK\3\t"
  Process stub = Run(Combine(StubBytes(), settings, zip.bytes));
  HWND dialog = WaitForMainDialog(stub);
  ASSERT_NE(nullptr, dialog) << DescribeWindows(stub.id());
  ClickButton(Control(dialog, kUnzipId));
  for (std::string text : c.boxes) {
    if (text.back() == '@') text = text.substr(0, text.size() - 1) + ProgramPath("archive");
    const auto box = WaitForMessageBox(stub);
    ASSERT_TRUE(box.has_value()) << "expected \"" << text << "\"\n" << DescribeWindows(stub.id());
    EXPECT_EQ(text, box->text);
    ASSERT_TRUE(AnswerMessageBox(*box, IDOK));
  }
  EXPECT_EQ(c.exit_code, stub.WaitForExit().value_or(kNoExitCode)) << DescribeWindows(stub.id());
}

INSTANTIATE_TEST_SUITE_P(
    Endings, ExitCodes,
    testing::Values(EndingCase{"Success", 0, "", false, {kSuccessText}, 0},
                    EndingCase{"QuietSuccess", kOptQuietSuccess, "", false, {}, 0},
                    EndingCase{"SuccessWithFailedCommand",
                               kOptQuietSuccess,
                               "selfx-e2e-missing.exe",
                               false,
                               {"Cannot run selfx-e2e-missing.exe "},
                               0},
                    // "@": the program's own path.
                    EndingCase{"DamagedLocalHeader", 0, "", true, {"Error reading zip @"}, 1}),
    [](const testing::TestParamInfo<EndingCase>& info) { return info.param.name; });

}  // namespace
}  // namespace e2e
