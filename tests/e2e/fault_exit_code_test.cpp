// The exit codes of run-time failures: a processor fault or an exception nobody handles is
// passed to the system's filter and then ends the program with its code, memory exhaustion
// ends it with 203 and a release the heap refuses with 204. Driven through a program built from the
// stub's run-time that faults on purpose.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "harness.h"

namespace {

using e2e::PathFromEnvironment;
using e2e::Process;

struct FaultCase {
  const char* mode;
  DWORD exit_code;
};

// The system's filter hands a fault back to the program only when no debugger takes it. A
// Wine prefix starts winedbg by default, which ends the process with the fault's own code;
// for these tests the configured debugger is one that cannot start, as on a machine without
// one, and the setting is put back afterwards.
class FaultExitCodes : public ::testing::TestWithParam<FaultCase> {
 protected:
  static constexpr const char* kAeDebugKey =
      "Software\\Microsoft\\Windows NT\\CurrentVersion\\AeDebug";

  static void SetUpTestSuite() {
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kAeDebugKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    char value[512];
    DWORD size = sizeof value;
    DWORD type = 0;
    had_debugger_ = RegQueryValueExA(key, "Debugger", nullptr, &type,
                                     reinterpret_cast<BYTE*>(value), &size) == ERROR_SUCCESS;
    if (had_debugger_) saved_debugger_.assign(value, size);
    const char absent[] = "selfx-e2e-no-such-debugger.exe %ld %ld";
    RegSetValueExA(key, "Debugger", 0, REG_SZ, reinterpret_cast<const BYTE*>(absent),
                   sizeof absent);
    RegCloseKey(key);
  }

  static void TearDownTestSuite() {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kAeDebugKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) {
      return;
    }
    if (had_debugger_) {
      RegSetValueExA(key, "Debugger", 0, REG_SZ,
                     reinterpret_cast<const BYTE*>(saved_debugger_.data()),
                     static_cast<DWORD>(saved_debugger_.size()));
    } else {
      RegDeleteValueA(key, "Debugger");
    }
    RegCloseKey(key);
  }

  static inline bool had_debugger_ = false;
  static inline std::string saved_debugger_;
};

TEST_P(FaultExitCodes, EndWithTheirOwnCodeWithoutAMessage) {
  const FaultCase& c = GetParam();
#if defined(_WIN64)
  if (std::string(c.mode) == "overflow") {
    GTEST_SKIP() << "64-bit code has no INTO, the instruction that raises the overflow fault";
  }
#endif
  Process process = Process::Start(PathFromEnvironment("SELFX_FAULTS"), c.mode);
  ASSERT_TRUE(process.started()) << process.error();
  // A message box would keep the program waiting: ending in time also shows that none came.
  std::optional<DWORD> exit_code = process.WaitForExit(30000);
  ASSERT_TRUE(exit_code.has_value()) << "still running";
  EXPECT_EQ(*exit_code, c.exit_code);
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultExitCodes,
                         ::testing::Values(FaultCase{"divide", 200}, FaultCase{"stack", 202},
                                           FaultCase{"overflow", 215}, FaultCase{"access", 216},
                                           FaultCase{"exception", 217}, FaultCase{"other", 255},
                                           FaultCase{"memory", 203}, FaultCase{"release", 204}),
                         [](const ::testing::TestParamInfo<FaultCase>& info) {
                           return std::string(info.param.mode);
                         });

}  // namespace
