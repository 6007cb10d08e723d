// The folder text of the configuration as the main dialog's folder box shows it: system and
// Windows folders, fresh temporary folders, registry values and plain texts, under Wine
// with environment variables and registry values that the tests set themselves.
#include <windows.h>

#include <gtest/gtest.h>

#include "archive_maker.h"
#include "dialog_support.h"

namespace e2e {
namespace {

constexpr const char* kTestKey = "SelfxE2E\\Setup";

std::string SystemFolder() {
  char buffer[MAX_PATH + 1] = {};
  GetSystemDirectoryA(buffer, MAX_PATH);
  return buffer;
}

std::string WindowsFolder() {
  char buffer[MAX_PATH + 1] = {};
  GetWindowsDirectoryA(buffer, MAX_PATH);
  return buffer;
}

class TargetFolder : public StubTest {
 protected:
  // The folder box of an archive configured with `folder`, read once the dialog is up.
  std::string FolderBox(const std::string& folder, const std::string& name = "archive") {
    BlockSettings settings;
    settings.folder = folder;
    Process stub = Run(Combine(StubBytes(), settings, MakeStoredZip({{"a.txt", "A"}}).bytes), name);
    HWND dialog = WaitForMainDialog(stub);
    EXPECT_NE(nullptr, dialog) << DescribeWindows(stub.id());
    if (dialog == nullptr) return "(no dialog)";
    const std::string text = ControlText(dialog, kFolderEditId);
    ExpectCloseEndsWithZero(stub, dialog);
    return text;
  }
};

TEST_F(TargetFolder, SystemAndWindowsFolders) {
  EXPECT_EQ(SystemFolder(), FolderBox("$S", "system"));
  EXPECT_EQ(SystemFolder(), FolderBox("$Sany", "system_any")) << "text after $S is dropped";
  EXPECT_EQ(WindowsFolder(), FolderBox("$W", "windows"));
  // Lower case is not a folder macro but a registry macro without "\".
  EXPECT_EQ("", FolderBox("$s", "lower_s"));
}

// $T names the first "_zipNNNN" under TEMP that does not exist, as a file or a folder; it
// is not created before the run.
TEST_F(TargetFolder, TempFolderTakesTheFirstFreeNumber) {
  const std::string temp = folder_ + "\\temp";
  ASSERT_TRUE(RemoveTree(temp));
  ASSERT_TRUE(MakeFolders(temp));
  ScopedEnvironment environment;
  environment.Set("TEMP", temp + "\\");  // one trailing backslash, not two
  EXPECT_EQ(temp + "\\_zip0000", FolderBox("$T", "free"));
  EXPECT_FALSE(PathExists(temp + "\\_zip0000")) << "the folder is made only by a run";
  ASSERT_TRUE(WriteText(temp + "\\_zip0000", "a file"));
  EXPECT_EQ(temp + "\\_zip0001", FolderBox("$T", "file_taken"));
  ASSERT_TRUE(MakeFolders(temp + "\\_zip0001"));
  EXPECT_EQ(temp + "\\_zip0002", FolderBox("$Tignored", "folder_taken"));
}

// Without TEMP, "%temp%" stays as it is and the name is made absolute against the current
// folder.
TEST_F(TargetFolder, TempFolderWithoutTempVariable) {
  ScopedEnvironment environment;
  environment.Set("TEMP", std::nullopt);
  EXPECT_EQ(folder_ + "\\%temp%\\_zip0000", FolderBox("$T"));
}

TEST_F(TargetFolder, EnvironmentIsExpandedAndThePathMadeAbsolute) {
  ScopedEnvironment environment;
  environment.Set("SELFX_E2E_APP", "Example App");
  EXPECT_EQ("C:\\Programs\\Example App\\bin",
            FolderBox("C:\\Programs\\%SELFX_E2E_APP%\\x\\..\\bin", "expanded"));
  // One character is ignored: the current folder. Two are a relative name.
  EXPECT_EQ(folder_, FolderBox(".", "dot"));
  EXPECT_EQ(folder_, FolderBox("C", "one_letter"));
  EXPECT_EQ(folder_ + "\\ab", FolderBox("ab", "two_letters"));
}

struct RegistryCase {
  const char* name;
  std::string folder;
  std::string expected;  // "@" stands for the test's own folder
};
std::ostream& operator<<(std::ostream& out, const RegistryCase& c) { return out << c.name; }

class RegistryFolder : public TargetFolder, public testing::WithParamInterface<RegistryCase> {};

// The values read here are set by the test in the prefix's registry: HKLM and HKCU under
// Software\SelfxE2E\Setup, HKU under .DEFAULT\Software\SelfxE2E\Setup.
TEST_P(RegistryFolder, ReadsTheValueWithItsSuffix) {
  const RegistryCase& c = GetParam();
  ScopedRegistryKey machine(HKEY_LOCAL_MACHINE, "Software", kTestKey);
  ScopedRegistryKey user(HKEY_CURRENT_USER, "Software", kTestKey);
  ScopedRegistryKey users(HKEY_USERS, ".DEFAULT\\Software", kTestKey);
  ASSERT_TRUE(machine.created() && user.created() && users.created());
  ASSERT_TRUE(machine.Set("Path", "C:\\Apps\\Machine"));
  ASSERT_TRUE(machine.Set("", "C:\\Apps\\Default"));
  ASSERT_TRUE(machine.Set("Relative", "rel\\dir"));
  ASSERT_TRUE(user.Set("Path", "C:\\Apps\\User"));
  ASSERT_TRUE(users.Set("Path", "C:\\Apps\\Users"));
  std::string expected = c.expected;
  if (!expected.empty() && expected[0] == '@') expected = folder_ + expected.substr(1);
  EXPECT_EQ(expected, FolderBox(c.folder));
}

INSTANTIATE_TEST_SUITE_P(
    Macros, RegistryFolder,
    testing::Values(
        RegistryCase{"Value", "$HLM\\Software\\SelfxE2E\\Setup\\Path", "C:\\Apps\\Machine"},
        RegistryCase{"ValueWithSuffix", "$HLM\\Software\\SelfxE2E\\Setup\\Path+\\Data",
                     "C:\\Apps\\Machine\\Data"},
        RegistryCase{"SuffixWithPlus", "$LOCAL\\Software\\SelfxE2E\\Setup\\Path+\\a+b",
                     "C:\\Apps\\Machine\\a+b"},
        RegistryCase{"RelativeValueMadeAbsolute", "$HLM\\Software\\SelfxE2E\\Setup\\Relative",
                     "@\\rel\\dir"},
        RegistryCase{"DefaultValue", "$HLM\\Software\\SelfxE2E\\Setup\\", "C:\\Apps\\Default"},
        RegistryCase{"RootInLowerCase", "$hlm\\Software\\SelfxE2E\\Setup\\Path",
                     "C:\\Apps\\Machine"},
        RegistryCase{"CurrentUser", "$CURUSER\\Software\\SelfxE2E\\Setup\\Path", "C:\\Apps\\User"},
        // "$H" first occurs in "$HCU".
        RegistryCase{"ShortRootIsCurrentUser", "$H\\Software\\SelfxE2E\\Setup\\Path",
                     "C:\\Apps\\User"},
        RegistryCase{"Users", "$HU\\.DEFAULT\\Software\\SelfxE2E\\Setup\\Path", "C:\\Apps\\Users"},
        RegistryCase{"UnknownRoot", "$HKLM\\Software", ""},
        RegistryCase{"MissingValue", "$HLM\\Software\\SelfxE2E\\Setup\\Nothing", ""},
        RegistryCase{"MissingKey", "$HLM\\Software\\SelfxE2E\\Nowhere\\Path", ""},
        RegistryCase{"NoBackslash", "$HLM", ""}),
    [](const testing::TestParamInfo<RegistryCase>& info) { return info.param.name; });

}  // namespace
}  // namespace e2e
