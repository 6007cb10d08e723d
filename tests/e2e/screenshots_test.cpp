// Pictures of the program for the documentation, taken by scripts/screenshots: the main
// dialog compact, expanded and extracting, the overwrite prompt, the password prompt and an
// archive with its maker's icon.
// Disabled in the normal runs; the script enables them and names the output folder in
// SELFX_SCREENSHOTS. Each picture is the whole screen as a BMP with a ".rect" file beside
// it giving the part to keep (left top width height), which the script cuts out.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "archive_maker.h"
#include "dialog_support.h"

namespace e2e {
namespace {

constexpr const char* kCaption = "Example Viewer 2.4 Setup";

std::vector<ZipMember> ExampleFiles() {
  return {{"viewer.exe", std::string(183296, 'x')},
          {"viewer.chm", std::string(52114, 'h')},
          {"readme.txt", std::string(2391, 't')},
          {"license.txt", std::string(1088, 'l')},
          {"samples/flower.jpg", std::string(40961, 'j')},
          {"samples/intro.htm", std::string(3380, 'w')}};
}

class DISABLED_Screenshots : public StubTest {
 protected:
  void SetUp() override {
    StubTest::SetUp();
    output_ = PathFromEnvironment("SELFX_SCREENSHOTS");
    ASSERT_FALSE(output_.empty()) << "set SELFX_SCREENSHOTS to the output folder";
    ASSERT_TRUE(MakeFolders(output_));
    ASSERT_TRUE(RemoveTree(Out()));
  }

  // In the prefix of the script's own Wine session, so that the folder box reads well.
  std::string Out() const { return "C:\\Example Viewer"; }

  BlockSettings Settings(std::uint16_t options, std::uint8_t overwrite_mode = 0) const {
    BlockSettings settings;
    settings.options = options;
    settings.overwrite_mode = overwrite_mode;
    settings.caption = kCaption;
    settings.folder = Out();
    settings.command = "viewer.exe /welcome";
    return settings;
  }

  // Saves the screen as NAME.bmp and the bounding box of `windows` as NAME.rect, once
  // every window has painted what it shows now.
  void Save(const std::string& name, const std::vector<HWND>& windows) {
    RECT box = {};
    for (HWND window : windows) {
      ASSERT_TRUE(WaitUntilResponding(window));
      RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
      RECT r = {};
      GetWindowRect(window, &r);
      UnionRect(&box, &box, &r);
    }
    for (HWND window : windows) WaitUntilResponding(window);
    Sleep(200);  // the compositor of the virtual desktop draws behind the messages
    ASSERT_TRUE(SaveScreenshot(output_ + "\\" + name + ".bmp"));
    const std::string rect = std::to_string(box.left) + " " + std::to_string(box.top) + " " +
                             std::to_string(box.right - box.left) + " " +
                             std::to_string(box.bottom - box.top) + "\n";
    ASSERT_TRUE(WriteText(output_ + "\\" + name + ".rect", rect));
  }

  std::string output_;
};

TEST_F(DISABLED_Screenshots, CompactAndExpanded) {
  Process stub = Run(Combine(StubBytes(), Settings(kOptRunCheckbox | kOptListCollapsed),
                             MakeStoredZip(ExampleFiles()).bytes));
  HWND dialog = WaitForMainDialog(stub);
  ASSERT_NE(nullptr, dialog) << DescribeWindows(stub.id());
  Save("dialog-compact", {dialog});
  ClickButton(Control(dialog, kShowFilesId));
  ASSERT_TRUE(WaitUntil([&] { return IsWindowVisible(Control(dialog, kFileListId)) != 0; },
                        kWindowTimeoutMs));
  HWND list = Control(dialog, kFileListId);
  ListView rows(stub, list);
  if (!rows.SetSelected(2, true)) {
    // Where another process's memory cannot be written (Wine under an emulator), the keys
    // select the row: the first Down selects the first row.
    for (int i = 0; i < 3; ++i) PressKey(list, VK_DOWN);
    WaitUntil([&] { return rows.IsSelected(2); }, kWindowTimeoutMs);
  }
  Save("dialog-expanded", {dialog});
  ExpectCloseEndsWithZero(stub, dialog);
}

// A run long enough to be caught half-way.
TEST_F(DISABLED_Screenshots, Extracting) {
  Process stub = Run(Combine(StubBytes(), Settings(kOptListCollapsed | kOptQuietSuccess),
                             MakeStoredZip(ManyMembers(6000, 16384)).bytes));
  HWND dialog = WaitForMainDialog(stub);
  ASSERT_NE(nullptr, dialog) << DescribeWindows(stub.id());
  ClickButton(Control(dialog, kUnzipId));
  HWND progress = Control(dialog, kProgressId);
  ASSERT_TRUE(WaitUntil(
      [&] {
        const auto high = SendMessageA(progress, PBM_GETRANGE, FALSE, 0);
        const auto position = SendMessageA(progress, PBM_GETPOS, 0, 0);
        return IsWindowVisible(progress) && high > 0 && position * 10 >= high * 4;
      },
      60000))
      << "the progress bar did not reach 40%";
  Save("dialog-extracting", {dialog});
  stub.Terminate();
}

TEST_F(DISABLED_Screenshots, OverwritePrompt) {
  ASSERT_TRUE(MakeFolders(Out()));
  ASSERT_TRUE(WriteText(Out() + "\\readme.txt", "an older readme"));
  Process stub = Run(
      Combine(StubBytes(), Settings(kOptListCollapsed, 2), MakeStoredZip(ExampleFiles()).bytes));
  HWND dialog = WaitForMainDialog(stub);
  ASSERT_NE(nullptr, dialog) << DescribeWindows(stub.id());
  ClickButton(Control(dialog, kUnzipId));
  HWND prompt = WaitForDialogWithControl(stub, 301);
  ASSERT_NE(nullptr, prompt) << DescribeWindows(stub.id());
  Save("overwrite-prompt", {dialog, prompt});
  stub.Terminate();
}

// The encrypted archive comes from the script (Info-ZIP zip -P), in
// SELFX_SCREENSHOT_ENCRYPTED.
TEST_F(DISABLED_Screenshots, PasswordPrompt) {
  const auto zip = ReadFileBytes(PathFromEnvironment("SELFX_SCREENSHOT_ENCRYPTED"));
  ASSERT_FALSE(zip.empty()) << "set SELFX_SCREENSHOT_ENCRYPTED to an encrypted ZIP archive";
  Process stub = Run(Combine(StubBytes(), Settings(kOptListCollapsed), zip));
  HWND dialog = WaitForMainDialog(stub);
  ASSERT_NE(nullptr, dialog) << DescribeWindows(stub.id());
  ClickButton(Control(dialog, kUnzipId));
  HWND prompt = WaitForWindow(
      stub, [](HWND window) { return HasTitle(window, "Enter password for", true); });
  ASSERT_NE(nullptr, prompt) << DescribeWindows(stub.id());
  TypeText(Control(prompt, 201), "secret");
  ASSERT_TRUE(WaitUntil([&] { return IsEnabled(prompt, IDOK); }, kWindowTimeoutMs));
  Save("password-prompt", {dialog, prompt});
  stub.Terminate();
}

// An archive with its maker's icon, built by the script with selfx build --icon, in
// SELFX_SCREENSHOT_ICON_ARCHIVE.
TEST_F(DISABLED_Screenshots, MakersIcon) {
  const auto archive = ReadFileBytes(PathFromEnvironment("SELFX_SCREENSHOT_ICON_ARCHIVE"));
  ASSERT_FALSE(archive.empty()) << "set SELFX_SCREENSHOT_ICON_ARCHIVE to an archive with an icon";
  Process stub = Run(archive, "viewer-setup");
  HWND dialog = WaitForMainDialog(stub);
  ASSERT_NE(nullptr, dialog) << DescribeWindows(stub.id());
  Save("dialog-icon", {dialog});
  ExpectCloseEndsWithZero(stub, dialog);
}

}  // namespace
}  // namespace e2e
