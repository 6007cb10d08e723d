// A DLL planted beside the program, under Wine: the stub must not load it, even when the
// folder browser and the shell (which load DLLs by name late) have run.
//
// The planted DLL is named ole32.dll. Wine's shell32 takes ole32 as a delayed import: it is
// loaded by name on first use, which SHBrowseForFolder brings about (OleInitialize) long
// after start-up, and nothing the stub imports loads it before. Windows takes ole32 from its
// known DLLs and would not fall for it; Wine 8 has no known DLLs, so with
// WINEDLLOVERRIDES="ole32=n,b" it searches for a native ole32 as Windows searches for any
// other DLL: the program's folder first, unless the program restricted the search. The
// control program, which loads the same name without restricting the search, shows that the
// planted copy is found then.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "archive_maker.h"
#include "dialog_support.h"

namespace e2e {
namespace {

constexpr const char* kPlantedName = "ole32.dll";
constexpr const char* kPlantedMarker = "selfx-planted-dll.txt";

// The test programs built next to the probe.
std::string BuiltNextToProbe(const std::string& name) {
  const std::string marker = MarkerProgramPath();
  return marker.substr(0, marker.find_last_of("\\/") + 1) + name;
}

class PlantedDll : public StubTest {
 protected:
  void SetUp() override {
    StubTest::SetUp();
    const std::string dll = BuiltNextToProbe("selfx_e2e_planted_dll.dll");
    ASSERT_TRUE(CopyFileA(dll.c_str(), (folder_ + "\\" + kPlantedName).c_str(), FALSE))
        << "cannot plant " << dll;
    // For the programs started from here on: a native ole32 before Wine's own.
    environment_.Set("WINEDLLOVERRIDES", "ole32=n,b");
  }

  std::string Marker() const { return folder_ + "\\" + kPlantedMarker; }

  ScopedEnvironment environment_;
};

// A browser dialog of the stub: a dialog, not the main one, with a tree of folders.
bool IsFolderBrowser(HWND window, HWND main_dialog) {
  if (window == main_dialog || ClassName(window) != "#32770") return false;
  for (HWND child : ChildWindows(window)) {
    if (ClassName(child) == "SysTreeView32") return true;
  }
  return false;
}

TEST_F(PlantedDll, StubThatBrowsesAndStartsACommandLoadsNone) {
  const std::string out = folder_ + "\\out";
  BlockSettings settings;
  settings.options = kOptRunCheckbox | kOptQuietSuccess;
  settings.folder = out;
  settings.command = "setup.exe";
  Process stub = Run(
      Combine(StubBytes(), settings, MakeStoredZip({{"setup.exe", MarkerProgramBytes()}}).bytes));
  HWND dialog = WaitForMainDialog(stub);
  ASSERT_NE(nullptr, dialog) << DescribeWindows(stub.id());

  PressButton(dialog, kBrowseId);
  HWND browser = WaitForWindow(stub,
                               [dialog](HWND window) { return IsFolderBrowser(window, dialog); });
  ASSERT_NE(nullptr, browser) << "no folder browser: " << DescribeWindows(stub.id());
  PressButton(browser, IDCANCEL);
  ASSERT_TRUE(WaitForWindowToClose(browser));

  ClickButton(Control(dialog, kUnzipId));
  EXPECT_EQ(0u, stub.WaitForExit().value_or(kNoExitCode)) << DescribeWindows(stub.id());
  ASSERT_TRUE(WaitForMarker(out).has_value()) << "the command did not start in " << out;
  // Whatever loaded the DLL did so inside the stub's process, which has ended.
  EXPECT_FALSE(PathExists(Marker()))
      << "the stub loaded the planted " << kPlantedName << ": " << ReadText(Marker());
}

TEST_F(PlantedDll, ControlProgramThatLeavesTheSearchAloneLoadsIt) {
  const std::string control = folder_ + "\\control.exe";
  ASSERT_TRUE(
      CopyFileA(BuiltNextToProbe("selfx_e2e_planted_control.exe").c_str(), control.c_str(), FALSE));
  Process process = Process::Start(control, "", folder_);
  ASSERT_TRUE(process.started()) << process.error();
  EXPECT_EQ(0u, process.WaitForExit().value_or(kNoExitCode));
  EXPECT_TRUE(PathExists(Marker()))
      << "the planted " << kPlantedName << " was not loaded: the test cannot see a planted DLL";
}

}  // namespace
}  // namespace e2e
