// Archives made by the builder, under Wine: a tree of a few thousand files built
// by the host's `selfx build` comes out of the stub byte for byte with its times; an
// archive encrypted with --password-file opens with its password and not with another;
// and the Windows build selfx.exe builds, tests and extracts an archive here.
#include <gtest/gtest.h>

#include <algorithm>

#include "extraction_support.h"

namespace e2e {
namespace {

// Runs a console program to its end, its standard output and error in `output`. The exit
// code, or nothing when it could not start or ran longer than `timeout_ms`.
std::optional<DWORD> RunConsoleProgram(const std::string& program, const std::string& arguments,
                                       const std::string& directory, std::string& output,
                                       DWORD timeout_ms = 120000) {
  SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
  const std::string log = directory + "\\console-output.txt";
  HANDLE out = CreateFileA(log.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           &inheritable, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  HANDLE in = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                          OPEN_EXISTING, 0, nullptr);
  std::string command_line = "\"" + program + "\" " + arguments;
  std::vector<char> writable(command_line.begin(), command_line.end());
  writable.push_back('\0');
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in;
  startup.hStdOutput = out;
  startup.hStdError = out;
  PROCESS_INFORMATION info = {};
  const bool started = out != INVALID_HANDLE_VALUE &&
                       CreateProcessA(program.c_str(), writable.data(), nullptr, nullptr, TRUE,
                                      CREATE_NO_WINDOW, nullptr, directory.c_str(), &startup,
                                      &info);
  if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
  if (in != INVALID_HANDLE_VALUE) CloseHandle(in);
  if (!started) {
    output = "cannot start " + program + " (error " + std::to_string(GetLastError()) + ")";
    return std::nullopt;
  }
  CloseHandle(info.hThread);
  std::optional<DWORD> code;
  if (WaitForSingleObject(info.hProcess, timeout_ms) == WAIT_OBJECT_0) {
    DWORD exit_code = 0;
    if (GetExitCodeProcess(info.hProcess, &exit_code)) code = exit_code;
  } else {
    TerminateProcess(info.hProcess, 0xDEAD);
    WaitForSingleObject(info.hProcess, 5000);
  }
  CloseHandle(info.hProcess);
  // Shared for writing too: Wine may not have closed the program's handles yet.
  HANDLE written = CreateFileA(log.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  output.clear();
  if (written != INVALID_HANDLE_VALUE) {
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(written, buffer, sizeof(buffer), &read, nullptr) && read > 0) {
      output.append(buffer, read);
    }
    CloseHandle(written);
  }
  return code;
}

class BuilderUnderWine : public ExtractionTest {
 protected:
  // The file times of `source` and `target` are the same instant wherever the time zone
  // has no daylight saving time (the tests run in one without): selfx build took them as
  // local time on the host, the stub sets them back from local time here.
  void ExpectSameTimesAsSource(const std::string& source, const std::string& target) {
    TIME_ZONE_INFORMATION zone;
    if (GetTimeZoneInformation(&zone) != TIME_ZONE_ID_UNKNOWN) {
      GTEST_SKIP() << "the time zone has daylight saving time: a DOS time, a local time, "
                      "need not come back as the same instant";
    }
    int differences = 0;
    for (const std::string& name : TreeListing(source)) {
      const FILETIME want = LastWriteTime(source + "\\" + name);
      const FILETIME got = LastWriteTime(target + "\\" + name);
      if (CompareFileTime(&want, &got) != 0 && ++differences <= 5) {
        ADD_FAILURE() << name << ": the time differs from the source file's";
      }
    }
    EXPECT_EQ(0, differences);
  }
};

TEST_F(BuilderUnderWine, StubExtractsATreeOfThousandsOfFiles) {
  const std::string source = FixturesFolder() + "\\selfx_tree";
  const auto archive = ReadFileBytes(FixturesFolder() + "\\selfx_tree.exe");
  ASSERT_FALSE(archive.empty()) << "missing fixture selfx_tree in " << FixturesFolder();
  const auto entries = FileEntries(ReadZipDirectory(archive));
  ASSERT_GE(entries.size(), 3000u);
  ASSERT_EQ(1252u, GetACP()) << "the names below are in code page 1252";
  // The source tree as Wine shows it: its UTF-8 names in the ANSI code page.
  const auto source_files = TreeListing(source);
  ASSERT_EQ(entries.size(), source_files.size());
  ASSERT_TRUE(std::binary_search(source_files.begin(), source_files.end(),
                                 "Gr\xFC\xDF"
                                 "e 2\\sub 0\\Gr\xFC\xDF"
                                 "e-0.txt"));

  Process stub = Run(archive, "selfx_tree");
  HWND dialog = Open(stub);
  ASSERT_NE(nullptr, dialog);
  const std::string target = NewFolder("target");
  StartUnzip(dialog, target);
  ExpectRunSucceeded(stub, 600000);
  ExpectExtracted(archive, source, target);
  ExpectSameTimesAsSource(source, target);
  // Folders without files are not made: the stub creates folders only as parents.
  EXPECT_FALSE(PathExists(target + "\\empty folder"));
}

class EncryptedBuild : public BuilderUnderWine {
 protected:
  void SetUp() override {
    BuilderUnderWine::SetUp();
    archive_ = ReadFileBytes(FixturesFolder() + "\\selfx_secret.exe");
    ASSERT_FALSE(archive_.empty()) << "missing fixture selfx_secret in " << FixturesFolder();
    for (const ZipEntryInfo& entry : FileEntries(ReadZipDirectory(archive_))) {
      ASSERT_TRUE(entry.flags & 1) << entry.name << " is not encrypted";
    }
    process_.emplace(Run(archive_, "selfx_secret"));
    dialog_ = Open(*process_);
    ASSERT_NE(nullptr, dialog_);
    target_ = NewFolder("target");
    StartUnzip(dialog_, target_);
  }

  HWND NextPrompt() {
    HWND prompt = NextWindow(*process_);
    EXPECT_TRUE(prompt != nullptr && IsPasswordPrompt(prompt))
        << "expected the password prompt; the program shows:\n"
        << DescribeWindows(process_->id());
    return prompt != nullptr && IsPasswordPrompt(prompt) ? prompt : nullptr;
  }

  std::vector<std::uint8_t> archive_;
  std::optional<Process> process_;
  HWND dialog_ = nullptr;
  std::string target_;
};

TEST_F(EncryptedBuild, OpensWithItsPassword) {
  HWND prompt = NextPrompt();
  ASSERT_NE(nullptr, prompt);
  EnterPassword(prompt, kFixturePassword);
  ExpectRunSucceeded(*process_);
  ExpectExtracted(archive_, FixturesFolder() + "\\selfx_secret_tree", target_);
}

TEST_F(EncryptedBuild, DoesNotOpenWithAWrongOne) {
  for (int attempt = 1; attempt <= 3; ++attempt) {
    SCOPED_TRACE("attempt " + std::to_string(attempt));
    HWND prompt = NextPrompt();
    ASSERT_NE(nullptr, prompt);
    // Near misses: a letter's case, a missing letter, the line end of the password file.
    EnterPassword(prompt, attempt == 1   ? "Open sesame"
                          : attempt == 2 ? "open sesam"
                                         : "open sesame ");
  }
  ExpectRunFailed(*process_);
  EXPECT_EQ(std::vector<std::string>{}, TreeListing(target_));
  ExpectCloseEndsWithZero(*process_, dialog_);
}

// The Windows build of the selfx tool, run here under Wine.
class WindowsBuilder : public BuilderUnderWine {
 protected:
  void SetUp() override {
    BuilderUnderWine::SetUp();
    tool_ = PathFromEnvironment("SELFX_TOOL");
    ASSERT_FALSE(tool_.empty()) << "SELFX_TOOL is not set (the Windows build's selfx.exe)";
    ASSERT_TRUE(PathExists(tool_)) << tool_;
  }

  // Runs selfx.exe in the test's folder and expects `expected_code`.
  void Selfx(const std::string& arguments, DWORD expected_code = 0) {
    std::string output;
    const auto code = RunConsoleProgram(tool_, arguments, folder_, output);
    EXPECT_EQ(expected_code, code.value_or(0xFFFFFFFF)) << "selfx.exe " << arguments << "\n"
                                                        << output;
  }

  // A small folder made here, with Windows names: blanks, letters of code page 1252, an
  // empty file, nested folders, times on even seconds.
  std::string MakeSourceFolder() {
    const std::string source = NewFolder("source");
    const std::vector<std::pair<std::string, std::string>> files = {
        {"readme.txt", "Read me.\r\n"},
        {"with blank.txt", std::string(5000, 'b')},
        {"Gr\xFC\xDF"
         "e.txt",
         "Gr\xFC\xDF"
         "e aus M\xFCnchen"},
        {"empty.txt", ""},
        {"nested\\deeper\\data.bin",
         std::string("\x00\x01\x02\xFF", 4) + std::string(70000, '\x7F')},
        {"nested\\caf\xE9.txt", "au lait"},
    };
    int index = 0;
    for (const auto& [name, data] : files) {
      PlaceFile(source + "\\" + name, data);
      // 4 March of 2000, 2001..., 10:00:14, 10:01:14...
      const DosStamp stamp = {
          static_cast<std::uint16_t>(((2000 + index - 1980) << 9) | (3 << 5) | 4),
          static_cast<std::uint16_t>((10 << 11) | (index << 5) | 7)};
      EXPECT_TRUE(SetLastWriteDosStamp(source + "\\" + name, stamp)) << name;
      ++index;
    }
    return source;
  }

  std::string tool_;
};

TEST_F(WindowsBuilder, BuildsTestsAndExtractsAnArchive) {
  const std::string source = MakeSourceFolder();
  const std::string stub = BuilderStubPath();
  const std::string archive_path = folder_ + "\\built.exe";
  Selfx("build --stub \"" + stub + "\" -o \"" + archive_path + "\" \"" + source + "\"");
  const auto archive = ReadFileBytes(archive_path);
  ASSERT_FALSE(archive.empty()) << "selfx.exe wrote no archive";
  ASSERT_EQ(6u, FileEntries(ReadZipDirectory(archive)).size());

  Selfx("test \"" + archive_path + "\"");
  const std::string extracted = NewFolder("extracted");
  Selfx("extract --no-progress -d \"" + extracted + "\" \"" + archive_path + "\"");
  ExpectExtracted(archive, source, extracted);
  ExpectSameTimesAsSource(source, extracted);

  // The stub reads what the Windows build wrote just as well.
  Process process = Run(WithStubUnderTest(archive), "built_run");
  HWND dialog = Open(process);
  ASSERT_NE(nullptr, dialog);
  const std::string target = NewFolder("target");
  StartUnzip(dialog, target);
  ExpectRunSucceeded(process);
  ExpectExtracted(archive, source, target);
  ExpectSameTimesAsSource(source, target);
}

TEST_F(WindowsBuilder, TestReportsADamagedArchive) {
  const std::string source = MakeSourceFolder();
  const std::string stub = BuilderStubPath();
  const std::string archive_path = folder_ + "\\built.exe";
  Selfx("build --level 0 --stub \"" + stub + "\" -o \"" + archive_path + "\" \"" + source + "\"");
  auto archive = ReadFileBytes(archive_path);
  ASSERT_FALSE(archive.empty());
  // One byte of readme.txt's stored data, which lies right behind its local header.
  const std::string needle = "Read me.";
  const auto at = std::search(archive.begin(), archive.end(), needle.begin(), needle.end());
  ASSERT_NE(archive.end(), at) << "readme.txt is not stored as it is";
  *at ^= 0x20;
  ASSERT_TRUE(WriteFileBytes(archive_path, archive));
  Selfx("test \"" + archive_path + "\"", 1);
}

}  // namespace
}  // namespace e2e
