// selfx build against hostile inputs, run as a user runs it: each case ends with a clear
// message and exit status, its inputs as they were, no temporary file left and nothing
// else in the folder touched.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>

#include "test_support.h"

namespace selfx {
namespace {

namespace fs = std::filesystem;
using test::Bytes;

void WriteFile(const std::string& path, const std::string& contents) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << contents;
}

void WriteZip(const std::string& path, const test::ZipSpec& spec) {
  Bytes zip = test::MakeZip(spec);
  WriteFile(path, std::string(zip.begin(), zip.end()));
}

// Everything a folder holds, seen without following links: the contents of small files, the
// size of large ones, link targets, and the kind of anything else.
std::map<std::string, std::string> Snapshot(const std::string& folder) {
  std::map<std::string, std::string> seen;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(folder, error);
       !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    const std::string path = it->path().string();
    const std::string key = path.substr(folder.size() + 1);
    const fs::file_status status = fs::symlink_status(path, error);
    if (fs::is_symlink(status)) {
      seen[key] = "link to " + fs::read_symlink(path, error).string();
    } else if (fs::is_regular_file(status)) {
      const std::uintmax_t size = fs::file_size(path, error);
      seen[key] = size < (1u << 20) ? "file " + test::ReadFileText(path)
                                    : "file of " + std::to_string(size);
    } else if (fs::is_directory(status)) {
      seen[key] = "folder";
    } else {
      seen[key] = "special " + std::to_string(static_cast<int>(status.type()));
    }
  }
  return seen;
}

std::string Replaced(std::string text, const std::string& folder) {
  for (std::string::size_type at = 0; (at = text.find('@', at)) != std::string::npos;) {
    text.replace(at, 1, folder);
    at += folder.size();
  }
  return text;
}

// Each prepare makes the case's files in the folder and returns why the case cannot run
// here, or "" when it can.
using Prepare = std::function<std::string(const std::string& folder)>;

std::string MakeNode(const std::string& path, mode_t mode, dev_t device) {
  if (::mknod(path.c_str(), mode, device) != 0) {
    return "cannot make " + path + " here: " + std::strerror(errno);
  }
  return "";
}

std::string MakeLink(const std::string& target, const std::string& path) {
  std::error_code error;
  fs::create_symlink(target, path, error);
  return error ? "cannot make a symbolic link here: " + error.message() : "";
}

// A ready ZIP holding one file under the name.
Prepare ReadyZipWith(const std::string& name) {
  return [name](const std::string& folder) {
    WriteZip(folder + "/app.zip", {{{name, "contents"}}, ""});
    return std::string();
  };
}

// A folder "tree" with one file, and whatever more the case adds.
Prepare TreeWith(const std::function<std::string(const std::string& tree)>& more) {
  return [more](const std::string& folder) {
    WriteFile(folder + "/tree/a.txt", "A");
    return more(folder + "/tree");
  };
}

struct HostileBuild {
  const char* id;
  // Makes the files of the case.
  Prepare prepare;
  // What follows "selfx build --stub @/stub.exe"; "@" stands for the case's folder.
  std::string arguments;
  int status;
  std::string message;  // in the output; "@" stands for the folder
  // What a sound run adds to the folder; everything else must stay as it was.
  std::vector<std::string> created;
};

void PrintTo(const HostileBuild& c, std::ostream* out) { *out << c.id; }

const std::string kLongName(521, 'n');
const std::string kLongFolder(200, 'f');

const HostileBuild kHostileBuilds[] = {
    {"InputAsOutput",
     [](const std::string& folder) {
       WriteFile(folder + "/inp.txt", "input");
       return std::string();
     },
     "-o @/inp.txt @/inp.txt", 1, "@/inp.txt is the output file too"},
    {"ReadyZipAsOutput", ReadyZipWith("a.txt"), "-o @/app.zip @/app.zip", 1,
     "@/app.zip is the output file too"},
    {"OutputAmongInputs",
     [](const std::string& folder) {
       WriteFile(folder + "/same.exe", "an older build");
       WriteFile(folder + "/other", "other");
       return std::string();
     },
     "-o @/same.exe @/same.exe @/other", 1, "@/same.exe is the output file too"},
    {"OutputIsTheStub", ReadyZipWith("a.txt"), "-o @/stub.exe @/app.zip", 1, "is the stub too"},
    {"OutputIsADeviceNode",
     [](const std::string& folder) {
       WriteFile(folder + "/inp.txt", "input");
       return MakeNode(folder + "/null", S_IFCHR | 0666, makedev(1, 3));
     },
     "-o @/null @/inp.txt", 1, "@/null is a character device, not a regular file"},
    {"OutputIsAFifo",
     [](const std::string& folder) {
       WriteFile(folder + "/inp.txt", "input");
       return MakeNode(folder + "/pipe", S_IFIFO | 0666, 0);
     },
     "-o @/pipe @/inp.txt", 1, "@/pipe is a FIFO, not a regular file"},
    {"OutputIsASymlink",
     [](const std::string& folder) {
       WriteFile(folder + "/inp.txt", "input");
       WriteFile(folder + "/target.exe", "where the link points");
       return MakeLink("target.exe", folder + "/lnk.exe");
     },
     "-o @/lnk.exe @/inp.txt", 1, "@/lnk.exe is a symbolic link, not a regular file"},
    {"OutputIsAFolder",
     [](const std::string& folder) {
       WriteFile(folder + "/inp.txt", "input");
       WriteFile(folder + "/out.exe/keep.txt", "kept");
       return std::string();
     },
     "-o @/out.exe @/inp.txt", 1, "@/out.exe is a folder, not a regular file"},
    {"UsersPartialFileBesideTheOutput",
     [](const std::string& folder) {
       WriteFile(folder + "/inp.txt", "input");
       WriteFile(folder + "/x.exe.partial", "the user's own file");
       return std::string();
     },
     "-o @/x.exe @/inp.txt",
     0,
     "@/x.exe: ",
     {"x.exe"}},
    {"ReadyZipClimbsOut", ReadyZipWith("../evil"), "-o @/out.exe @/app.zip", 1,
     "the entry \"../evil\" is refused by the stub: its name leads out of the target folder"},
    {"ReadyZipNamesADrive", ReadyZipWith("C:\\x"), "-o @/out.exe @/app.zip", 1,
     "the entry \"C:\\x\" is refused by the stub: its name holds a drive"},
    {"ReadyZipNamesAShare", ReadyZipWith("\\\\srv\\share\\x"), "-o @/out.exe @/app.zip", 1,
     "the entry \"\\\\srv\\share\\x\" is refused by the stub: its name is an absolute path"},
    {"ReadyZipNamesADevice", ReadyZipWith("con"), "-o @/out.exe @/app.zip", 1,
     "the entry \"con\" is refused by the stub: its name is a device name"},
    // A "." part names the folder it stands in: the stub leaves it out, so the name is sound.
    {"ReadyZipWithADotPart",
     ReadyZipWith("./a/./x.txt"),
     "-o @/out.exe @/app.zip",
     0,
     "@/out.exe: ",
     {"out.exe"}},
    {"ReadyZipNameOverTheLimit", ReadyZipWith(kLongName), "-o @/out.exe @/app.zip", 1,
     "has a name of 521 bytes; the stub reads at most 520"},
    {"ReadyZipNameWithEscape", ReadyZipWith("red\x1b[31m.txt"), "-o @/out.exe @/app.zip", 1,
     "holds a control character in its name"},
    {"SymlinksPointingAtEachOther", TreeWith([](const std::string& tree) {
       return MakeLink("l2", tree + "/l1") + MakeLink("l1", tree + "/l2");
     }),
     "-o @/out.exe @/tree", 1, "@/tree/l1: cannot follow the symbolic link: Too many levels"},
    {"FolderLinkLoop", TreeWith([](const std::string& tree) {
       fs::create_directory(tree + "/sub");
       return MakeLink("..", tree + "/sub/up");
     }),
     "-o @/out.exe @/tree", 1, "@/tree/sub/up: the symbolic link leads back to a folder above it"},
    {"FifoInTheTree",
     TreeWith([](const std::string& tree) { return MakeNode(tree + "/pipe", S_IFIFO | 0666, 0); }),
     "-o @/out.exe @/tree",
     0,
     "warning: skipping @/tree/pipe: a FIFO",
     {"out.exe"}},
    {"CharacterDeviceInTheTree",
     TreeWith([](const std::string& tree) {
       return MakeNode(tree + "/zero", S_IFCHR | 0666, makedev(1, 5));
     }),
     "-o @/out.exe @/tree",
     0,
     "warning: skipping @/tree/zero: a character device",
     {"out.exe"}},
    {"DanglingLinkInTheTree",
     TreeWith([](const std::string& tree) { return MakeLink("nowhere", tree + "/dangling"); }),
     "-o @/out.exe @/tree",
     0,
     "warning: skipping @/tree/dangling: a symbolic link to nothing",
     {"out.exe"}},
    {"FifoAsTheStub",
     [](const std::string& folder) {
       WriteFile(folder + "/inp.txt", "input");
       return MakeNode(folder + "/stub-pipe", S_IFIFO | 0666, 0);
     },
     "--stub @/stub-pipe -o @/out.exe @/inp.txt", 1,
     "cannot read the stub: @/stub-pipe: is a FIFO"},
    {"NameOverTheLimitFromAFolder", TreeWith([](const std::string& tree) {
       WriteFile(tree + "/" + kLongFolder + "/" + kLongFolder + "/" + kLongFolder + "/x", "x");
       return std::string();
     }),
     "-o @/out.exe @/tree", 1, "has a name of 603 bytes; the stub reads at most 520"},
    {"NameOverTheLimitWithoutVerify", TreeWith([](const std::string& tree) {
       WriteFile(tree + "/" + kLongFolder + "/" + kLongFolder + "/" + kLongFolder + "/x", "x");
       return std::string();
     }),
     "--no-verify -o @/out.exe @/tree", 1, "has a name of 603 bytes; the stub reads at most 520"},
    {"FailedBuiltInTest",
     [](const std::string& folder) {
       WriteZip(folder + "/app.zip", {{{"a.txt", "contents", 20, 0, 0, 0, "", 0x12345678}}, ""});
       return std::string();
     },
     "-o @/out.exe @/app.zip", 1, "the written archive failed its test"},
    {"EmptyFolders",
     TreeWith([](const std::string& tree) {
       fs::create_directories(tree + "/empty/nested");
       return std::string();
     }),
     "-o @/out.exe @/tree",
     0,
     "notice: 2 folders hold no files (\"empty/\" and 1 more); the stub does not create such "
     "folders",
     {"out.exe"}},
};

class HostileBuildTest : public ::testing::TestWithParam<HostileBuild> {
 protected:
  void SetUp() override { stub_ = std::make_unique<test::TempFile>(test::FakeStub(), "stub.exe"); }
  std::string Folder() const { return stub_->folder(); }

  std::unique_ptr<test::TempFile> stub_;
};

TEST_P(HostileBuildTest, EndsSoundly) {
  const HostileBuild& c = GetParam();
  const std::string skip = c.prepare(Folder());
  if (!skip.empty()) GTEST_SKIP() << skip;
  std::map<std::string, std::string> before = Snapshot(Folder());

  const test::RunResult run = test::RunTool("build --stub " + Folder() + "/stub.exe " +
                                            Replaced(c.arguments, Folder()));
  EXPECT_EQ(run.status, c.status) << run.output;
  EXPECT_NE(run.output.find(Replaced(c.message, Folder())), std::string::npos) << run.output;

  std::map<std::string, std::string> after = Snapshot(Folder());
  for (const std::string& name : c.created) {
    EXPECT_EQ(after[name].compare(0, 7, "file MZ"), 0) << name;
    after.erase(name);
  }
  EXPECT_EQ(after, before) << run.output;
}

INSTANTIATE_TEST_SUITE_P(Rows, HostileBuildTest, ::testing::ValuesIn(kHostileBuilds),
                         [](const ::testing::TestParamInfo<HostileBuild>& info) {
                           return std::string(info.param.id);
                         });

class BuildSafety : public ::testing::Test {
 protected:
  void SetUp() override { stub_ = std::make_unique<test::TempFile>(test::FakeStub(), "stub.exe"); }
  std::string Path(const std::string& name) const { return stub_->folder() + "/" + name; }
  std::string Build(const std::string& arguments) const {
    return "build --stub " + Path("stub.exe") + " " + arguments;
  }

  std::unique_ptr<test::TempFile> stub_;
};

// A file link is packed under its own name with its target's contents, a folder link is
// walked under its own name, and neither target's own name appears.
TEST_F(BuildSafety, SymlinksArePackedAsWhatTheyPointTo) {
  WriteFile(Path("elsewhere/target.txt"), "target");
  WriteFile(Path("elsewhere/folder/b.txt"), "B");
  WriteFile(Path("tree/a.txt"), "A");
  ASSERT_EQ(MakeLink("../elsewhere/target.txt", Path("tree/link.txt")), "");
  ASSERT_EQ(MakeLink("../elsewhere/folder", Path("tree/folder link")), "");

  const test::RunResult built = test::RunTool(Build("-o " + Path("out.exe") + " " + Path("tree")));
  ASSERT_EQ(built.status, 0) << built.output;
  EXPECT_NE(built.output.find("3 files and 1 folders"), std::string::npos) << built.output;
  const test::RunResult extracted = test::RunTool("extract --no-progress -d " + Path("out") + " " +
                                                  Path("out.exe"));
  ASSERT_EQ(extracted.status, 0) << extracted.output;
  EXPECT_EQ(Snapshot(Path("out")), (std::map<std::string, std::string>{
                                       {"a.txt", "file A"},
                                       {"folder link", "folder"},
                                       {"folder link/b.txt", "file B"},
                                       {"link.txt", "file target"},
                                   }));
}

// Building into the input folder twice packs the same files twice, never the first output.
TEST_F(BuildSafety, OutputInsideTheInputFolderIsLeftOut) {
  WriteFile(Path("tree/a.txt"), "A");
  WriteFile(Path("tree/sub/b.txt"), "B");
  const std::string build = Build("-o " + Path("tree/app.exe") + " " + Path("tree"));
  const test::RunResult first = test::RunTool(build);
  ASSERT_EQ(first.status, 0) << first.output;
  const std::string first_bytes = test::ReadFileText(Path("tree/app.exe"));
  const test::RunResult second = test::RunTool(build);
  ASSERT_EQ(second.status, 0) << second.output;
  EXPECT_NE(second.output.find("2 files and 1 folders"), std::string::npos) << second.output;
  EXPECT_EQ(test::ReadFileText(Path("tree/app.exe")), first_bytes);
}

// An input path longer than PATH_MAX: made and removed a folder at a time, relative to the
// one above, since the system takes no such path whole.
TEST_F(BuildSafety, InputPathLongerThanPathMax) {
  const std::string part(200, 'd');
  std::string path = Path("deep");
  int folder = ::open(stub_->folder().c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(folder, 0);
  std::vector<int> chain = {folder};
  const char* first = "deep";
  for (int level = 0; level < 25; ++level) {
    const char* name = level == 0 ? first : part.c_str();
    ASSERT_EQ(::mkdirat(chain.back(), name, 0755), 0) << std::strerror(errno);
    chain.push_back(::openat(chain.back(), name, O_RDONLY | O_DIRECTORY));
    ASSERT_GE(chain.back(), 0);
    if (level != 0) path += "/" + part;
  }
  path += "/file.txt";
  ASSERT_GT(path.size(), static_cast<std::size_t>(PATH_MAX));
  {
    int file = ::openat(chain.back(), "file.txt", O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(file, 0);
    ::close(file);
  }

  const test::RunResult run = test::RunTool(Build("-o " + Path("out.exe") + " " + path));
  EXPECT_EQ(run.status, 1) << run.output.substr(0, 300);
  EXPECT_NE(run.output.find("File name too long"), std::string::npos) << run.output.substr(0, 300);
  EXPECT_FALSE(fs::exists(Path("out.exe")));

  ::unlinkat(chain.back(), "file.txt", 0);
  for (std::size_t i = chain.size() - 1; i > 0; --i) {
    ::close(chain[i]);
    EXPECT_EQ(::unlinkat(chain[i - 1], i == 1 ? first : part.c_str(), AT_REMOVEDIR), 0);
  }
  ::close(folder);
  EXPECT_EQ(Snapshot(stub_->folder()).size(), 1u);  // the stub alone
}

// Waits until a file whose name ends in ".partial" is created in the folder: true when one
// appeared within the time limit. Driven by inotify, not by polling with sleeps.
bool AwaitPartialFile(int watch, int timeout_ms) {
  alignas(inotify_event) char buffer[4096];
  struct pollfd ready = {watch, POLLIN, 0};
  while (::poll(&ready, 1, timeout_ms) == 1) {
    ssize_t n = ::read(watch, buffer, sizeof buffer);
    for (ssize_t at = 0; at < n;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      const std::string name = event->len != 0 ? event->name : "";
      if (name.size() > 8 && name.compare(name.size() - 8, 8, ".partial") == 0) return true;
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
  return false;
}

// A build interrupted by a signal leaves no temporary file and no output, and ends by the
// signal. Its input, a large sparse file, keeps the build busy until the signal comes.
TEST_F(BuildSafety, SignalsLeaveNothingBehind) {
  { std::ofstream large(Path("large.bin")); }
  fs::resize_file(Path("large.bin"), 1500u << 20);
  const std::map<std::string, std::string> before = Snapshot(stub_->folder());
  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(strsignal(signal_number));
    const int watch = ::inotify_init1(IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(::inotify_add_watch(watch, stub_->folder().c_str(), IN_CREATE), 0);
    const std::string stub = Path("stub.exe"), output = Path("out.exe"), input = Path("large.bin");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      // The signals' default actions, whatever the test runner set.
      for (const int reset : {SIGINT, SIGTERM, SIGHUP}) ::signal(reset, SIG_DFL);
      const int null = ::open("/dev/null", O_WRONLY);
      ::dup2(null, 1);
      ::dup2(null, 2);
      ::execl(SELFX_TOOL_PATH, "selfx", "build", "--stub", stub.c_str(), "-o", output.c_str(),
              input.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    const bool appeared = AwaitPartialFile(watch, 30000);
    ::close(watch);
    ::kill(child, appeared ? signal_number : SIGKILL);
    int wait_status = 0;
    ASSERT_EQ(::waitpid(child, &wait_status, 0), child);
    ASSERT_TRUE(appeared) << "no temporary file appeared";
    EXPECT_TRUE(WIFSIGNALED(wait_status) && WTERMSIG(wait_status) == signal_number)
        << "wait status " << wait_status;
    EXPECT_EQ(Snapshot(stub_->folder()), before);
  }
}

// The DOS date and time recorded in the local header of a built file's entry number index.
std::uint32_t EntryTime(const std::string& built, int index) {
  std::string::size_type header = std::string::npos;
  for (int i = 0; i <= index; ++i) {
    header = built.find(std::string("PK\x03\x04", 4), header + 1);
    if (header == std::string::npos) return 0;
  }
  auto byte = [&](std::size_t at) { return static_cast<std::uint8_t>(built[header + at]); };
  return static_cast<std::uint32_t>(byte(10) | byte(11) << 8 | byte(12) << 16 | byte(13) << 24);
}

void SetModified(const std::string& path, std::time_t when) {
  const struct timespec times[2] = {{when, 0}, {when, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

std::uint32_t LocalDosTime(std::time_t when) {
  std::tm local = {};
  localtime_r(&when, &local);
  return static_cast<std::uint32_t>((local.tm_year - 80) << 25 | (local.tm_mon + 1) << 21 |
                                    local.tm_mday << 16 | local.tm_hour << 11 | local.tm_min << 5 |
                                    local.tm_sec / 2);
}

// With SOURCE_DATE_EPOCH the same files give the same bytes however recently they were
// touched: later times are recorded as the epoch, earlier ones as they are.
TEST_F(BuildSafety, SourceDateEpochMakesBuildsReproducible) {
  const std::time_t epoch = 1500000000;  // 2017-07-14
  WriteFile(Path("tree/a new file.txt"), "new");
  WriteFile(Path("tree/old.txt"), "old");
  const std::time_t old_time = 1100000000;  // 2004, before the epoch
  SetModified(Path("tree/old.txt"), old_time);
  const std::string environment = "SOURCE_DATE_EPOCH=" + std::to_string(epoch);
  std::string built[2];
  for (int run = 0; run < 2; ++run) {
    SetModified(Path("tree/a new file.txt"), std::time(nullptr) - 3600 * run);
    const test::RunResult result = test::RunTool(
        Build("-o " + Path("out.exe") + " " + Path("tree")), {environment});
    ASSERT_EQ(result.status, 0) << result.output;
    built[run] = test::ReadFileText(Path("out.exe"));
  }
  EXPECT_EQ(built[0], built[1]);
  EXPECT_EQ(EntryTime(built[0], 0), LocalDosTime(epoch));
  EXPECT_EQ(EntryTime(built[0], 1), LocalDosTime(old_time));
  const test::RunResult unclamped = test::RunTool(
      Build("-o " + Path("out.exe") + " " + Path("tree")));
  ASSERT_EQ(unclamped.status, 0) << unclamped.output;
  EXPECT_NE(EntryTime(test::ReadFileText(Path("out.exe")), 0), LocalDosTime(epoch));
  fs::remove(Path("out.exe"));

  for (const char* malformed : {"12x", "''", "-5", "1.5", "0x10", "99999999999999999999"}) {
    SCOPED_TRACE(malformed);
    const test::RunResult result = test::RunTool(
        Build("-o " + Path("out.exe") + " " + Path("tree")),
        {std::string("SOURCE_DATE_EPOCH=") + malformed});
    EXPECT_EQ(result.status, 2) << result.output;
    EXPECT_NE(result.output.find("SOURCE_DATE_EPOCH must be a decimal number of seconds"),
              std::string::npos)
        << result.output;
    EXPECT_FALSE(fs::exists(Path("out.exe")));
  }
}

// build --json prints exactly one object that Python's json reads, on success, with
// warnings, and when the build fails or its usage is wrong; --quiet prints nothing.
TEST_F(BuildSafety, JsonOutputIsOneObjectInEveryCase) {
  WriteFile(Path("tree/a.txt"), "A");
  fs::create_directories(Path("tree/empty"));
  ASSERT_EQ(MakeLink("nowhere", Path("tree/dangling")), "");
  WriteZip(Path("app.zip"), {{{"x.txt", "x"}, {"y.txt", "yy"}}, ""});
  struct Case {
    std::string arguments;
    int status;
    const char* check;  // a Python expression over the object d that must hold
  };
  const Case cases[] = {
      {"-o " + Path("out.exe") + " " + Path("tree"), 0,
       "d['files'] == 1 and d['folders'] == 1 and d['bytes_in'] == 1 and not d['encrypted'] and "
       "d['output'].endswith('/out.exe') and d['size'] > 1024 and d['empty_folders'] == "
       "['empty/'] and d['warnings'][0].endswith('dangling: a symbolic link to nothing')"},
      {"-o " + Path("out.exe") + " " + Path("app.zip"), 0,
       "d['ready_zip'] and d['entries'] == 2 and d['errors'] == [] and d['warnings'] == []"},
      {"-o " + Path("app.zip") + " " + Path("app.zip"), 1,
       "d['exit_status'] == 1 and 'is the output file too' in d['error']"},
      {"-o " + Path("out.exe") + " --level 13 " + Path("tree"), 2,
       "d['exit_status'] == 2 and '--level' in d['errors'][0]"},
      {"-o " + Path("out.exe") + " --bogus " + Path("tree"), 2, "d['exit_status'] == 2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments);
    const test::RunResult run = test::RunTool(
        "build --json --stub " + Path("stub.exe") + " " + c.arguments, {"", false});
    EXPECT_EQ(run.status, c.status) << run.output;
    EXPECT_EQ(std::count(run.output.begin(), run.output.end(), '\n'), 1) << run.output;
    test::TempFile json(Bytes(run.output.begin(), run.output.end()), "out.json");
    const std::string python =
        "python3 -c \"import json, sys; d = json.load(open(sys.argv[1])); "
        "sys.exit(0 if (" +
        std::string(c.check) + ") else 1)\" " + json.path();
    EXPECT_EQ(std::system(python.c_str()), 0) << run.output;
  }

  const test::RunResult quiet = test::RunTool(
      "build --quiet --stub " + Path("stub.exe") + " -o " + Path("out.exe") + " " + Path("tree"),
      {"", false});
  EXPECT_EQ(quiet.status, 0);
  EXPECT_EQ(quiet.output, "");
}

}  // namespace
}  // namespace selfx
