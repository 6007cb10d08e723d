// A DLL planted beside a program, under Wine: loaded by name after the stub's restriction of
// the DLL search, it must come from the system folder, not from the program's.
//
// The planted DLL is named uxtheme.dll, the themes DLL: Windows does not take it from its known
// DLLs, and it is loaded by name for a program's windows, after start-up. Told to prefer a
// native uxtheme, Wine searches for one as Windows searches for any DLL: the program's folder
// first, unless the program restricted the search. The preference is set per program in
// Wine's registry (AppDefaults\NAME.exe\DllOverrides); WINEDLLOVERRIDES would not do, as Wine
// reads it from the environment it was started with, and a value set here does not reach the
// programs started from here.
//
// The control program loads the name once as it is, which finds the planted copy (so the test
// can see one), and once after the stub's own restriction (RestrictDllSearch), which must not.
// The stub's whole run is no test of this under Wine 8: Wine resolves the delayed imports of
// its own DLLs (uxtheme by its window driver, ole32 by its shell) through the search path the
// process started with, whatever the program restricted, so a run that shows a window loads a
// planted copy of those whatever the stub does. On Windows a delayed import is loaded like any
// other DLL loaded by name.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "archive_maker.h"
#include "dialog_support.h"

namespace e2e {
namespace {

constexpr const char* kPlantedName = "uxtheme.dll";
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
    ASSERT_TRUE(CopyFileA(BuiltNextToProbe("selfx_e2e_planted_control.exe").c_str(),
                          Control().c_str(), FALSE));
    // Wine is to prefer a native uxtheme in the control program.
    override_ = std::make_unique<ScopedRegistryKey>(HKEY_CURRENT_USER, "Software\\Wine",
                                                    "AppDefaults\\control.exe\\DllOverrides");
    ASSERT_TRUE(override_->created()) << "the control program's overrides exist already";
    ASSERT_TRUE(override_->Set("uxtheme", "native,builtin"));
  }

  std::string Control() const { return folder_ + "\\control.exe"; }
  std::string Marker() const { return folder_ + "\\" + kPlantedMarker; }

  // Runs the control program with `arguments`; its exit code.
  DWORD RunControl(const std::string& arguments) {
    Process process = Process::Start(Control(), arguments, folder_);
    EXPECT_TRUE(process.started()) << process.error();
    return process.WaitForExit().value_or(kNoExitCode);
  }

  std::unique_ptr<ScopedRegistryKey> override_;
};

TEST_F(PlantedDll, ProgramThatLeavesTheSearchAloneLoadsIt) {
  EXPECT_EQ(0u, RunControl(kPlantedName));
  EXPECT_TRUE(PathExists(Marker()))
      << "the planted " << kPlantedName << " was not loaded: the test cannot see a planted DLL";
}

TEST_F(PlantedDll, TheStubsRestrictionLoadsTheSystemsCopy) {
  // The load succeeds (exit code 0) from the system folder, without the planted copy.
  EXPECT_EQ(0u, RunControl(std::string("--restrict ") + kPlantedName));
  EXPECT_FALSE(PathExists(Marker()))
      << "the planted " << kPlantedName << " was loaded: " << ReadText(Marker());
}

}  // namespace
}  // namespace e2e
