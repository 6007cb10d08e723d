// Hostile inputs for the reading commands (list, test, extract, info), run through the real
// selfx tool: each case ends in a clear message and exit status, with nothing lost, nothing
// left behind and nothing written outside the target folder.

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "test_support.h"

namespace selfx {
namespace {

namespace fs = std::filesystem;
using test::Bytes;
using test::MakeZip;
using test::ZipEntrySpec;
using test::ZipSpec;

void WriteBytes(const fs::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

void WriteText(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

// The files a folder holds, recursively, as relative paths: what "nothing left behind" is
// checked against.
std::vector<std::string> FilesBelow(const fs::path& folder) {
  std::vector<std::string> names;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(folder, error);
       it != fs::recursive_directory_iterator(); ++it) {
    names.push_back(fs::relative(it->path(), folder).string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// One run of the tool with stdout and stderr kept apart (JSON must stand alone on stdout).
struct SplitRun {
  int status = -1;
  std::string out;
  std::string err;
};

// A fresh folder for each case: the archive, the target folder and "elsewhere", the place
// that must stay untouched.
class Sandbox {
 public:
  Sandbox() {
    char pattern[] = "/tmp/selfx-safety-XXXXXX";
    root_ = ::mkdtemp(pattern);
    fs::create_directories(Path("out"));
    fs::create_directories(Path("elsewhere"));
    WriteText(Path("elsewhere/victim.txt"), "victim\n");
  }
  ~Sandbox() {
    if (!mounted_.empty()) ::umount2(mounted_.c_str(), MNT_DETACH);
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  std::string Path(const std::string& relative) const { return root_ + "/" + relative; }

  // Mounts a tmpfs of the given size on the target folder; false (with the reason) where
  // the system refuses.
  bool MountSmallDisk(const std::string& size, std::string& reason) {
    std::string options = "size=" + size;
    if (::mount("tmpfs", Path("out").c_str(), "tmpfs", 0, options.c_str()) != 0) {
      reason = std::string("cannot mount a tmpfs here: ") + std::strerror(errno);
      return false;
    }
    mounted_ = Path("out");
    return true;
  }

  // Runs selfx with the arguments, "{}" standing for the sandbox's folder.
  SplitRun Run(std::string arguments) const {
    for (std::string::size_type at; (at = arguments.find("{}")) != std::string::npos;) {
      arguments.replace(at, 2, root_);
    }
    std::string err_path = Path("stderr.txt");
    // setsid: no controlling terminal, so that no prompt can wait for a person.
    std::string command = "setsid -w " + std::string(SELFX_TOOL_PATH) + " " + arguments + " 2>" +
                          err_path + " </dev/null";
    SplitRun run;
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return run;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, n);
    int wait_status = ::pclose(pipe);
    run.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
    run.err = test::ReadFileText(err_path);
    fs::remove(err_path);
    return run;
  }

 private:
  std::string root_;
  std::string mounted_;
};

// Evaluates a Python expression over the JSON document d parsed from text with Python's own
// json module: the real parse that --json output must survive. "PARSE ERROR" when it fails.
std::string PythonJson(const Sandbox& sandbox, const std::string& text,
                       const std::string& expression) {
  std::string json_path = sandbox.Path("out.json");
  std::string script_path = sandbox.Path("check.py");
  WriteText(json_path, text);
  WriteText(script_path,
            "import json, sys\n"
            "try:\n  d = json.load(open(sys.argv[1]))\n"
            "except Exception:\n  print('PARSE ERROR')\n  sys.exit()\n"
            "print(" +
                expression + ")\n");
  std::string command = "python3 " + script_path + " " + json_path;
  std::string result;
  std::FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return "PARSE ERROR";
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.append(buffer, n);
  ::pclose(pipe);
  fs::remove(json_path);
  fs::remove(script_path);
  while (!result.empty() && result.back() == '\n') result.pop_back();
  return result;
}

// Runs a Python snippet that writes test data; false when there is no Python to run it.
bool RunPython(const std::string& script, std::string& reason) {
  std::string command = "python3 - <<'EOF'\n" + script + "\nEOF";
  if (std::system(command.c_str()) != 0) {
    reason = "python3 could not make the fixture";
    return false;
  }
  return true;
}

Bytes OneFileZip(const std::string& name, const std::string& data) {
  return MakeZip(ZipSpec{{ZipEntrySpec{name, data}}});
}

// The temporary files extract writes into; none may stay.
bool HoldsTemporaryFiles(const fs::path& folder) {
  for (const std::string& name : FilesBelow(folder)) {
    if (name.find(".selfx-") != std::string::npos) return true;
  }
  return false;
}

struct HostileCase {
  const char* what;
  // Sets the sandbox up; returns false with a reason when the system refuses a step.
  std::function<bool(Sandbox&, std::string& skip_reason)> prepare;
  std::string arguments;  // "{}" is the sandbox
  int status;
  std::vector<std::string> messages;  // each must appear on stderr
  std::function<void(const Sandbox&, const SplitRun&)> check;
};

void RunCases(const std::vector<HostileCase>& cases) {
  for (const HostileCase& c : cases) {
    SCOPED_TRACE(c.what);
    Sandbox sandbox;
    std::string skip_reason;
    if (!c.prepare(sandbox, skip_reason)) {
      // The whole case is skipped, never passed: say why.
      GTEST_SKIP() << c.what << ": " << skip_reason;
    }
    SplitRun run = sandbox.Run(c.arguments);
    EXPECT_EQ(run.status, c.status) << run.err;
    for (const std::string& message : c.messages) {
      EXPECT_NE(run.err.find(message), std::string::npos) << "missing \"" << message << "\" in:\n"
                                                          << run.err;
    }
    EXPECT_EQ(test::ReadFileText(sandbox.Path("elsewhere/victim.txt")), "victim\n");
    EXPECT_EQ(FilesBelow(sandbox.Path("elsewhere")), std::vector<std::string>{"victim.txt"});
    EXPECT_FALSE(HoldsTemporaryFiles(sandbox.Path("out")));
    if (c.check) c.check(sandbox, run);
  }
}

// A disk that fills up in the middle of a file: its own table, since it needs a mount.
TEST(ExtractSafety, FullDiskLeavesTheExistingFileAsItWas) {
  const std::string big(1 << 20, 'x');
  RunCases({
      {"a full disk leaves the existing file as it was",
       [&](Sandbox& s, std::string& reason) {
         if (!s.MountSmallDisk("256k", reason)) return false;
         WriteText(s.Path("out/big.bin"), "the original\n");
         WriteBytes(s.Path("a.zip"), OneFileZip("big.bin", big));
         return true;
       },
       "extract --overwrite overwrite -d {}/out {}/a.zip",
       1,
       {"Cannot write to", "big.bin", "No space left on device"},
       [](const Sandbox& s, const SplitRun&) {
         EXPECT_EQ(test::ReadFileText(s.Path("out/big.bin")), "the original\n");
         EXPECT_EQ(FilesBelow(s.Path("out")), std::vector<std::string>{"big.bin"});
       }},
  });
}

// The same without a mount: the file size limit refuses a write in the middle of the file.
TEST(ExtractSafety, AFailedWriteLeavesTheExistingFileAsItWas) {
  Sandbox sandbox;
  WriteText(sandbox.Path("out/big.bin"), "the original\n");
  WriteBytes(sandbox.Path("a.zip"), OneFileZip("big.bin", std::string(1 << 20, 'x')));
  struct rlimit saved;
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  struct rlimit limited = saved;
  limited.rlim_cur = 256 * 1024;
  // With SIGXFSZ ignored the write over the limit fails (EFBIG); the tool inherits both.
  auto previous = ::signal(SIGXFSZ, SIG_IGN);
  bool set = ::setrlimit(RLIMIT_FSIZE, &limited) == 0;
  SplitRun run = set ? sandbox.Run("extract --overwrite overwrite -d {}/out {}/a.zip") : SplitRun();
  ::setrlimit(RLIMIT_FSIZE, &saved);
  ::signal(SIGXFSZ, previous);
  ASSERT_TRUE(set) << std::strerror(errno);
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_NE(run.err.find("Cannot write to"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("File too large"), std::string::npos) << run.err;
  EXPECT_EQ(test::ReadFileText(sandbox.Path("out/big.bin")), "the original\n");
  EXPECT_EQ(FilesBelow(sandbox.Path("out")), std::vector<std::string>{"big.bin"});
}

// Waits until a temporary file of extract appears in the folder watched: true when one did
// within the time limit. Driven by inotify, not by polling with sleeps.
bool AwaitTemporaryFile(int watch, int timeout_ms) {
  alignas(inotify_event) char buffer[4096];
  struct pollfd ready = {watch, POLLIN, 0};
  while (::poll(&ready, 1, timeout_ms) == 1) {
    ssize_t n = ::read(watch, buffer, sizeof buffer);
    for (ssize_t at = 0; at < n;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      if (event->len != 0 && std::strncmp(event->name, ".selfx-", 7) == 0) return true;
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
  return false;
}

// An extraction ended by a signal in the middle of a file ends by that signal, leaves no
// temporary file, and leaves the file it would have replaced as it was. The entry, 300 MB of
// zeros, keeps the tool writing until the signal comes.
TEST(ExtractSafety, SignalsLeaveNothingBehind) {
  Sandbox sandbox;
  std::string reason;
  ASSERT_TRUE(
      RunPython("import zipfile\n"
                "with zipfile.ZipFile('" +
                    sandbox.Path("a.zip") +
                    "', 'w', zipfile.ZIP_DEFLATED, compresslevel=1) as z:\n"
                    "  with z.open('big.bin', 'w') as f:\n"
                    "    for _ in range(300): f.write(bytes(1 << 20))\n",
                reason))
      << reason;
  const std::string out = sandbox.Path("out"), zip = sandbox.Path("a.zip");
  for (const int signal_number : {SIGTERM, SIGHUP}) {
    SCOPED_TRACE(strsignal(signal_number));
    WriteText(sandbox.Path("out/big.bin"), "the original\n");
    const int watch = ::inotify_init1(IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(::inotify_add_watch(watch, out.c_str(), IN_CREATE), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      // The signals' default actions, whatever the test runner set.
      for (const int reset : {SIGINT, SIGTERM, SIGHUP}) ::signal(reset, SIG_DFL);
      const int null = ::open("/dev/null", O_RDWR);
      ::dup2(null, 0);
      ::dup2(null, 1);
      ::dup2(null, 2);
      ::execl(SELFX_TOOL_PATH, "selfx", "extract", "--overwrite", "overwrite", "-d", out.c_str(),
              zip.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    const bool appeared = AwaitTemporaryFile(watch, 30000);
    ::close(watch);
    ::kill(child, appeared ? signal_number : SIGKILL);
    int wait_status = 0;
    ASSERT_EQ(::waitpid(child, &wait_status, 0), child);
    ASSERT_TRUE(appeared) << "no temporary file appeared";
    EXPECT_TRUE(WIFSIGNALED(wait_status) && WTERMSIG(wait_status) == signal_number)
        << "wait status " << wait_status;
    EXPECT_EQ(test::ReadFileText(sandbox.Path("out/big.bin")), "the original\n");
    EXPECT_EQ(FilesBelow(out), std::vector<std::string>{"big.bin"});
  }
}

TEST(ExtractSafety, NothingIsWrittenOutsideTheTarget) {
  RunCases({
      {"a link at the output path is replaced, its target untouched",
       [](Sandbox& s, std::string&) {
         fs::create_symlink(s.Path("elsewhere/victim.txt"), s.Path("out/a.txt"));
         WriteBytes(s.Path("a.zip"), OneFileZip("a.txt", "from the archive\n"));
         return true;
       },
       "extract --overwrite overwrite -d {}/out {}/a.zip",
       0,
       {},
       [](const Sandbox& s, const SplitRun&) {
         EXPECT_FALSE(fs::is_symlink(s.Path("out/a.txt")));
         EXPECT_EQ(test::ReadFileText(s.Path("out/a.txt")), "from the archive\n");
       }},
      {"a link on a folder of the path refuses the entry, the others go on",
       [](Sandbox& s, std::string&) {
         fs::create_directory_symlink(s.Path("elsewhere"), s.Path("out/sub"));
         WriteBytes(s.Path("a.zip"), MakeZip(ZipSpec{{ZipEntrySpec{"sub/a.txt", "in sub\n"},
                                                      ZipEntrySpec{"b.txt", "b\n"}}}));
         return true;
       },
       "extract --overwrite overwrite -d {}/out {}/a.zip",
       1,
       {"Cannot write to", "a.txt: a folder of the path is a symbolic link"},
       [](const Sandbox& s, const SplitRun&) {
         EXPECT_EQ(test::ReadFileText(s.Path("out/b.txt")), "b\n");
       }},
      {"a link on a folder above a folder to create stops the run",
       [](Sandbox& s, std::string&) {
         fs::create_directory_symlink(s.Path("elsewhere"), s.Path("out/sub"));
         WriteBytes(s.Path("a.zip"), OneFileZip("sub/deeper/a.txt", "deep\n"));
         return true;
       },
       "extract -d {}/out {}/a.zip",
       1,
       {"Error in folder", "deeper: a folder of the path is a symbolic link"},
       nullptr},
      {"the target folder itself may be a link: the user chose it",
       [](Sandbox& s, std::string&) {
         fs::create_directory_symlink(s.Path("out"), s.Path("linked"));
         WriteBytes(s.Path("a.zip"), OneFileZip("d/a.txt", "through the link\n"));
         return true;
       },
       "extract -d {}/linked {}/a.zip",
       0,
       {},
       [](const Sandbox& s, const SplitRun&) {
         EXPECT_EQ(test::ReadFileText(s.Path("out/d/a.txt")), "through the link\n");
       }},
  });
}

// A file that fails its CRC check takes its name only where no file had it: the user can
// look at the failing bytes, and an existing file is never replaced by them.
TEST(ExtractSafety, AFileThatFailsItsCrcNeverReplacesOne) {
  auto existing_file_stays = [](const Sandbox& s, const SplitRun&) {
    EXPECT_EQ(test::ReadFileText(s.Path("out/a.txt")), "the original\n");
    EXPECT_EQ(FilesBelow(s.Path("out")), std::vector<std::string>{"a.txt"});
  };
  RunCases({
      {"a new file is still written, as the stub leaves it",
       [](Sandbox& s, std::string&) {
         ZipEntrySpec entry{"bad.txt", "data\n"};
         entry.crc = 0x12345678;
         WriteBytes(s.Path("a.zip"), MakeZip(ZipSpec{{entry}}));
         return true;
       },
       "extract -d {}/out {}/a.zip",
       1,
       {"CRC-32 error in", "bad.txt"},
       [](const Sandbox& s, const SplitRun&) {
         EXPECT_EQ(test::ReadFileText(s.Path("out/bad.txt")), "data\n");
       }},
      {"a stored entry with a flipped byte, over an existing file",
       [](Sandbox& s, std::string&) {
         WriteText(s.Path("out/a.txt"), "the original\n");
         const std::string data = "from the archive\n";
         Bytes zip = OneFileZip("a.txt", data);
         auto at = std::search(zip.begin(), zip.end(), data.begin(), data.end());
         EXPECT_NE(at, zip.end());
         if (at == zip.end()) return false;
         at[5] ^= 0x01;
         WriteBytes(s.Path("a.zip"), zip);
         return true;
       },
       "extract --overwrite overwrite -d {}/out {}/a.zip",
       1,
       {"CRC-32 error in", "a.txt"},
       existing_file_stays},
      {"a deflated entry with a wrong CRC, over an existing file",
       [](Sandbox& s, std::string&) {
         WriteText(s.Path("out/a.txt"), "the original\n");
         ZipEntrySpec entry{"a.txt", "text that deflate shrinks, text that deflate shrinks\n"};
         entry.method = 8;
         entry.crc = 0x12345678;
         WriteBytes(s.Path("a.zip"), MakeZip(ZipSpec{{entry}}));
         return true;
       },
       "extract --overwrite overwrite -d {}/out {}/a.zip",
       1,
       {"CRC-32 error in", "a.txt"},
       existing_file_stays},
  });
}

bool NoRawControls(const SplitRun& run) {
  for (const std::string* text : {&run.out, &run.err}) {
    if (text->find_first_of("\x1b\x07\r") != std::string::npos) return false;
  }
  return true;
}

const std::string kHostileName = "evil\x1b]0;owned\x07\r.txt";

bool PrepareHostileNames(Sandbox& s, std::string&) {
  ZipEntrySpec bad{kHostileName, "data\n"};
  bad.crc = 0x12345678;  // so that extract and test also print it in an error
  WriteBytes(s.Path("a.zip"), MakeZip(ZipSpec{{bad, ZipEntrySpec{"ok.txt", "ok\n"}}}));
  return true;
}

bool PrepareEncrypted(Sandbox& s, std::string&) {
  ZipEntrySpec entry{"secret.txt", "the secret\n"};
  entry.password = "right";
  WriteBytes(s.Path("a.zip"), MakeZip(ZipSpec{{entry}}));
  WriteText(s.Path("password.txt"), "wrong\n");
  return true;
}

// A ZIP64 archive as Python's zipfile writes one: with the limits lowered, its small entry
// gets the ZIP64 extra field and the archive the ZIP64 end record and locator.
bool PrepareZip64(Sandbox& s, std::string& reason) {
  return RunPython(
      "import zipfile\nzipfile.ZIP64_LIMIT = 0\nzipfile.ZIP_FILECOUNT_LIMIT = 0\n"
      "with zipfile.ZipFile('" +
          s.Path("a.zip") +
          "', 'w') as z:\n"
          "  with z.open('a.txt', 'w', force_zip64=True) as f: f.write(b'hello')\n",
      reason);
}

bool PrepareFolder(Sandbox& s, std::string&) {
  fs::create_directories(s.Path("a.zip"));
  return true;
}

void NothingExtracted(const Sandbox& s, const SplitRun&) {
  EXPECT_TRUE(FilesBelow(s.Path("out")).empty());
}

TEST(ReadingCommands, EveryFailureNamesTheFileAndTheCause) {
  auto one_file = [](Sandbox& s, std::string&) {
    WriteBytes(s.Path("a.zip"), OneFileZip("a.txt", "a\n"));
    return true;
  };
  RunCases({
      {"list of a folder", PrepareFolder, "list {}/a.zip", 1, {"a.zip: is a folder"}, nullptr},
      {"test of a file of 2 GiB or more, which the stub cannot seek in",
       [](Sandbox& s, std::string&) {
         WriteBytes(s.Path("a.zip"), OneFileZip("a.txt", "a\n"));
         fs::resize_file(s.Path("a.zip"), 0x80000000ull);
         return true;
       },
       "test {}/a.zip",
       1,
       {"a.zip: 2147483648 bytes; the stub reads files below 2 GiB only"},
       nullptr},
      {"test of a folder", PrepareFolder, "test {}/a.zip", 1, {"a.zip: is a folder"}, nullptr},
      {"extract of a folder",
       PrepareFolder,
       "extract -d {}/out {}/a.zip",
       1,
       {"a.zip: is a folder"},
       NothingExtracted},
      {"list of a ZIP64 archive",
       PrepareZip64,
       "list {}/a.zip",
       1,
       {"a.zip: ZIP64, which the stub cannot read"},
       nullptr},
      {"test of a ZIP64 archive",
       PrepareZip64,
       "test {}/a.zip",
       1,
       {"a.zip: ZIP64, which the stub cannot read"},
       nullptr},
      {"extract of a ZIP64 archive",
       PrepareZip64,
       "extract -d {}/out {}/a.zip",
       1,
       {"a.zip: ZIP64, which the stub cannot read"},
       NothingExtracted},
      {"extract -d naming a file",
       one_file,
       "extract -d {}/elsewhere/victim.txt {}/a.zip",
       1,
       {"victim.txt: not a folder"},
       nullptr},
      {"a missing archive",
       [](Sandbox&, std::string&) { return true; },
       "list {}/a.zip",
       1,
       {"a.zip: No such file or directory"},
       nullptr},
      {"a file that is not an archive",
       [](Sandbox& s, std::string&) {
         WriteText(s.Path("a.zip"), "just text\n");
         return true;
       },
       "test {}/a.zip",
       1,
       {"a.zip: not a ZIP archive"},
       nullptr},
      {"a device is refused at once, never read",
       [](Sandbox& s, std::string& reason) {
         if (::mknod(s.Path("zero").c_str(), S_IFCHR | 0600, makedev(1, 5)) != 0) {
           reason = std::string("mknod refused: ") + std::strerror(errno);
           return false;
         }
         return true;
       },
       "list {}/zero",
       1,
       {"zero: not a regular file"},
       nullptr},
      {"a FIFO is refused, never opened (an open would block)",
       [](Sandbox& s, std::string& reason) {
         if (::mkfifo(s.Path("fifo").c_str(), 0600) != 0) {
           reason = std::string("mkfifo refused: ") + std::strerror(errno);
           return false;
         }
         return true;
       },
       "extract -d {}/out {}/fifo",
       1,
       {"fifo: not a regular file"},
       NothingExtracted},
  });
}

TEST(ReadingCommands, AWrongPasswordFromAFileFailsWithoutAPrompt) {
  auto no_prompt = [](const Sandbox& s, const SplitRun& run) {
    EXPECT_EQ(run.err.find("Enter password"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("no password"), std::string::npos) << run.err;
    EXPECT_TRUE(FilesBelow(s.Path("out")).empty());
  };
  RunCases({
      {"test",
       PrepareEncrypted,
       "test --password-file {}/password.txt {}/a.zip",
       1,
       {"wrong password for secret.txt"},
       no_prompt},
      {"extract",
       PrepareEncrypted,
       "extract --password-file {}/password.txt -d {}/out {}/a.zip",
       1,
       {"wrong password for secret.txt"},
       no_prompt},
  });
}

TEST(ReadingCommands, ControlCharactersInNamesArePrintedEscaped) {
  auto escaped = [](const Sandbox&, const SplitRun& run) {
    EXPECT_TRUE(NoRawControls(run)) << run.out << run.err;
    EXPECT_NE((run.out + run.err).find("evil\\x1B]0;owned\\x07\\x0D.txt"), std::string::npos)
        << run.out << run.err;
  };
  RunCases({
      {"list", PrepareHostileNames, "list {}/a.zip", 0, {}, escaped},
      {"test, in its CRC error",
       PrepareHostileNames,
       "test {}/a.zip",
       1,
       {"CRC-32 error in"},
       escaped},
      {"extract, in its CRC error",
       PrepareHostileNames,
       "extract -d {}/out {}/a.zip",
       1,
       {"CRC-32 error in"},
       escaped},
  });
}

TEST(ReadingCommands, WithoutATerminalAskSaysOnceThatExistingFilesAreSkipped) {
  RunCases({
      {"three existing files, overwrite mode ask",
       [](Sandbox& s, std::string&) {
         WriteBytes(s.Path("a.zip"),
                    MakeZip(ZipSpec{{ZipEntrySpec{"a.txt", "new\n"}, ZipEntrySpec{"b.txt", "new\n"},
                                     ZipEntrySpec{"c.txt", "new\n"}}}));
         for (const char* name : {"a.txt", "b.txt", "c.txt"}) {
           WriteText(s.Path(std::string("out/") + name), "old\n");
         }
         return true;
       },
       "extract --overwrite ask -d {}/out {}/a.zip",
       1,
       {"existing files are skipped"},
       [](const Sandbox& s, const SplitRun& run) {
         std::string::size_type first = run.err.find("no terminal");
         ASSERT_NE(first, std::string::npos);
         EXPECT_EQ(run.err.find("no terminal", first + 1), std::string::npos) << run.err;
         for (const char* name : {"a.txt", "b.txt", "c.txt"}) {
           EXPECT_EQ(test::ReadFileText(s.Path(std::string("out/") + name)), "old\n");
         }
       }},
  });
}

// --json prints exactly one object that Python's json parses, whatever happens.
TEST(ReadingCommands, JsonIsOneObjectInEveryCase) {
  struct JsonCase {
    const char* what;
    std::function<bool(Sandbox&, std::string&)> prepare;
    std::string arguments;
    int status;
    std::string expression;  // evaluated over the parsed object d
    std::string expected;
  };
  auto one_file = [](Sandbox& s, std::string&) {
    ZipEntrySpec entry{"a.txt", "a\n"};
    entry.dos_date_time = 0x58A16D65;  // 2024-05-01 13:43:10
    WriteBytes(s.Path("a.zip"), MakeZip(ZipSpec{{entry}}));
    return true;
  };
  // The first local header's signature is broken: the core stops with a fatal error in the
  // middle of the run.
  auto broken_local_header = [](Sandbox& s, std::string&) {
    Bytes zip = OneFileZip("a.txt", "a\n");
    zip[0] = 'X';
    WriteBytes(s.Path("a.zip"), zip);
    return true;
  };
  const std::vector<JsonCase> cases = {
      {"list", one_file, "list --json {}/a.zip", 0, "d['files'][0]['modified'], d['errors']",
       "2024-05-01T13:43:10 []"},
      {"list without a file", one_file, "list --json", 2, "d['exit_status'], len(d['errors'])",
       "2 1"},
      {"test with an unknown option", one_file, "test --json --bogus {}/a.zip", 2,
       "d['exit_status']", "2"},
      {"extract of a missing file", one_file, "extract --json -d {}/out {}/missing.zip", 1,
       "d['error']", "{}/missing.zip: No such file or directory"},
      {"test stopped by the core's fatal error", broken_local_header, "test --json {}/a.zip", 1,
       "d['exit_status'], d['error']", "1 Error reading zip {}/a.zip"},
      {"extract stopped by the core's fatal error", broken_local_header,
       "extract --json -d {}/out {}/a.zip", 1, "d['exit_status'], d['error']",
       "1 Error reading zip {}/a.zip"},
      {"info of a folder", PrepareFolder, "info --json {}/a.zip", 1, "d['exit_status']", "1"},
      {"info of a plain ZIP", one_file, "info --json {}/a.zip", 0,
       "d['plain_zip'], d['kind'], d['end_record']['entries'], d['errors']",
       "True plain ZIP archive, no stub 1 []"},
      {"extract with a failed entry", PrepareHostileNames, "extract --json -d {}/out {}/a.zip", 1,
       "d['extracted'], d['not_extracted'], len(d['errors'])", "1 1 1"},
  };
  for (const JsonCase& c : cases) {
    SCOPED_TRACE(c.what);
    Sandbox sandbox;
    std::string reason;
    ASSERT_TRUE(c.prepare(sandbox, reason)) << reason;
    SplitRun run = sandbox.Run(c.arguments);
    EXPECT_EQ(run.status, c.status) << run.err;
    std::string expected = c.expected;
    std::string::size_type at = expected.find("{}");
    if (at != std::string::npos)
      expected.replace(at, 2, sandbox.Path("").substr(0, sandbox.Path("").size() - 1));
    EXPECT_EQ(PythonJson(sandbox, run.out, c.expression), expected) << run.out;
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 1) << run.out;
  }
}

// A combined file of the given size whose middle is a hole: the stub's image and the
// configuration block at the start, the ZIP at the very end (its offsets then count from
// elsewhere, which the stub absorbs). Only the ends are on disk.
bool PrepareSparseCombinedFile(Sandbox& s, std::uint64_t size, std::string& reason) {
  WriteBytes(s.Path("stub.exe"), test::FakeStub());
  WriteBytes(s.Path("in.zip"), OneFileZip("a.txt", "a\n"));
  SplitRun built = s.Run("build --stub {}/stub.exe -o {}/small.exe {}/in.zip");
  if (built.status != 0) {
    reason = "the builder failed: " + built.err;
    return false;
  }
  std::string small = test::ReadFileText(s.Path("small.exe"));
  std::string::size_type zip_at = small.find("PK\x03\x04");
  if (zip_at == std::string::npos) {
    reason = "no ZIP in the built file";
    return false;
  }
  std::ofstream big(s.Path("big.exe"), std::ios::binary);
  big.write(small.data(), static_cast<std::streamsize>(zip_at));
  big.seekp(static_cast<std::streamoff>(size - (small.size() - zip_at)));
  big.write(small.data() + zip_at, static_cast<std::streamsize>(small.size() - zip_at));
  return big.good();
}

// The largest resident size of the children of one run of command, in kB. getrusage counts
// every child a process has waited for, other tests' too when the tests share a process, so
// the run is made from a fork of its own, which sends its children's peak back through a pipe.
long PeakKilobytesOfRun(Sandbox& sandbox, const std::string& command) {
  int ends[2];
  if (::pipe(ends) != 0) return -1;
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(ends[0]);
    sandbox.Run(command);
    struct rusage usage;
    ::getrusage(RUSAGE_CHILDREN, &usage);
    const long peak = usage.ru_maxrss;
    const bool sent = ::write(ends[1], &peak, sizeof peak) == sizeof peak;
    ::_exit(sent ? 0 : 1);
  }
  ::close(ends[1]);
  long peak = -1;
  if (pid < 0 || ::read(ends[0], &peak, sizeof peak) != sizeof peak) peak = -1;
  ::close(ends[0]);
  if (pid > 0) ::waitpid(pid, nullptr, 0);
  return peak;
}

TEST(InfoCommand, ReadsPiecesOfLargeFilesAndRefusesWhatNeverEnds) {
  // The largest file the stub can seek in is one byte short of 2 GiB.
  for (std::uint64_t size : {300ull * 1000 * 1000, 0x7FFFFFFFull}) {
    SCOPED_TRACE(size);
    Sandbox sandbox;
    std::string reason;
    ASSERT_TRUE(PrepareSparseCombinedFile(sandbox, size, reason)) << reason;
    SplitRun run = sandbox.Run("info {}/big.exe");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find(std::to_string(size) + " bytes"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("zip end record  sound"), std::string::npos) << run.out;
    // Read whole, the file alone would be hundreds of megabytes; every child of this run
    // (the tool, the shell, Python) stays far below.
    const long peak = PeakKilobytesOfRun(sandbox, "info {}/big.exe");
    EXPECT_GT(peak, 0);
    EXPECT_LT(peak, 64 * 1024);
  }
  Sandbox sandbox;
  ASSERT_EQ(::mknod(sandbox.Path("zero").c_str(), S_IFCHR | 0600, makedev(1, 5)), 0)
      << std::strerror(errno);
  SplitRun zero = sandbox.Run("info {}/zero");
  EXPECT_EQ(zero.status, 1);
  EXPECT_NE(zero.err.find("zero: not a regular file"), std::string::npos) << zero.err;
  ASSERT_EQ(::mkfifo(sandbox.Path("fifo").c_str(), 0600), 0) << std::strerror(errno);
  SplitRun fifo = sandbox.Run("info {}/fifo");
  EXPECT_EQ(fifo.status, 1);
  EXPECT_NE(fifo.err.find("fifo: not a regular file"), std::string::npos) << fifo.err;
}

TEST(InfoCommand, ShowsAPlainZipAsSuch) {
  Sandbox sandbox;
  WriteBytes(sandbox.Path("a.zip"), OneFileZip("a.txt", "a\n"));
  SplitRun run = sandbox.Run("info {}/a.zip");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("plain ZIP archive, no stub"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("zip end record  sound, at"), std::string::npos) << run.out;
  WriteText(sandbox.Path("text.txt"), "neither\n");
  SplitRun text = sandbox.Run("info {}/text.txt");
  EXPECT_EQ(text.status, 1);
  EXPECT_NE(text.err.find("nor a ZIP archive"), std::string::npos) << text.err;
}

// The stub accepts a trailer once its 4-byte signature is there; info judges it the same way,
// and then finds no archive behind it.
TEST(InfoCommand, JudgesACutTrailerAsTheStubDoes) {
  Sandbox sandbox;
  WriteBytes(sandbox.Path("stub.exe"), test::FakeStub());
  WriteBytes(sandbox.Path("in.zip"), OneFileZip("a.txt", "a\n"));
  ASSERT_EQ(sandbox.Run("build --stub {}/stub.exe -o {}/built.exe {}/in.zip").status, 0);
  std::string built = test::ReadFileText(sandbox.Path("built.exe"));
  std::string::size_type trailer_at = built.find("XQ\x0A\x01");
  ASSERT_NE(trailer_at, std::string::npos);
  for (std::size_t kept = 0; kept < 8; ++kept) {
    SCOPED_TRACE(kept);
    WriteText(sandbox.Path("cut.exe"), built.substr(0, trailer_at + kept));
    SplitRun run = sandbox.Run("info {}/cut.exe");
    EXPECT_EQ(run.status, 1);
    bool signature_whole = kept >= 4;
    EXPECT_NE(run.out.find(signature_whole ? "trailer         sound" : "trailer         DAMAGED"),
              std::string::npos)
        << run.out;
    if (signature_whole) {
      EXPECT_NE(run.out.find("zip end record  MISSING"), std::string::npos) << run.out;
    }
  }
}

// The bar is for a person at a terminal: with stderr redirected, or with --quiet, nothing
// of it appears, and --quiet also drops the closing line.
TEST(ReadingCommands, QuietAndRedirectedRunsShowNoProgress) {
  Sandbox sandbox;
  WriteBytes(sandbox.Path("a.zip"), OneFileZip("a.txt", std::string(1 << 20, 'a')));
  SplitRun plain = sandbox.Run("test {}/a.zip");
  EXPECT_EQ(plain.status, 0);
  EXPECT_EQ(plain.out, "1 files tested, 0 failed\n");
  EXPECT_EQ(plain.err, "");
  for (const char* arguments : {"test --quiet {}/a.zip", "extract --quiet -d {}/out {}/a.zip"}) {
    SCOPED_TRACE(arguments);
    SplitRun quiet = sandbox.Run(arguments);
    EXPECT_EQ(quiet.status, 0) << quiet.err;
    EXPECT_EQ(quiet.out + quiet.err, "");
  }
  EXPECT_EQ(test::ReadFileText(sandbox.Path("out/a.txt")), std::string(1 << 20, 'a'));
}

}  // namespace
}  // namespace selfx
