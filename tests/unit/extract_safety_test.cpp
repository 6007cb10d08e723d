// Hostile inputs for the reading commands (list, test, extract, info), run through the real
// selfx tool: each case ends in a clear message and exit status, with nothing lost, nothing
// left behind and nothing written outside the target folder.

#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
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

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const fs::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
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
    std::string command = std::string(SELFX_TOOL_PATH) + " " + arguments + " 2>" + err_path +
                          " </dev/null";
    SplitRun run;
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return run;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, n);
    int wait_status = ::pclose(pipe);
    run.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
    run.err = ReadText(err_path);
    fs::remove(err_path);
    return run;
  }

 private:
  std::string root_;
  std::string mounted_;
};

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
      EXPECT_NE(run.err.find(message), std::string::npos) << "missing \"" << message
                                                           << "\" in:\n"
                                                           << run.err;
    }
    EXPECT_EQ(ReadText(sandbox.Path("elsewhere/victim.txt")), "victim\n");
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
       "extract --overwrite overwrite -d {}/out {}/a.zip", 1,
       {"Cannot write to", "big.bin", "No space left on device"},
       [](const Sandbox& s, const SplitRun&) {
         EXPECT_EQ(ReadText(s.Path("out/big.bin")), "the original\n");
         EXPECT_EQ(FilesBelow(s.Path("out")), std::vector<std::string>{"big.bin"});
       }},
  });
}

TEST(ExtractSafety, NothingIsWrittenOutsideTheTarget) {
  RunCases({
      {"a link at the output path is replaced, its target untouched",
       [](Sandbox& s, std::string&) {
         fs::create_symlink(s.Path("elsewhere/victim.txt"), s.Path("out/a.txt"));
         WriteBytes(s.Path("a.zip"), OneFileZip("a.txt", "from the archive\n"));
         return true;
       },
       "extract --overwrite overwrite -d {}/out {}/a.zip", 0, {},
       [](const Sandbox& s, const SplitRun&) {
         EXPECT_FALSE(fs::is_symlink(s.Path("out/a.txt")));
         EXPECT_EQ(ReadText(s.Path("out/a.txt")), "from the archive\n");
       }},
      {"a link on a folder of the path refuses the entry, the others go on",
       [](Sandbox& s, std::string&) {
         fs::create_directory_symlink(s.Path("elsewhere"), s.Path("out/sub"));
         WriteBytes(s.Path("a.zip"), MakeZip(ZipSpec{{ZipEntrySpec{"sub/a.txt", "in sub\n"},
                                                      ZipEntrySpec{"b.txt", "b\n"}}}));
         return true;
       },
       "extract --overwrite overwrite -d {}/out {}/a.zip", 1,
       {"Cannot write to", "a.txt: a folder of the path is a symbolic link"},
       [](const Sandbox& s, const SplitRun&) {
         EXPECT_EQ(ReadText(s.Path("out/b.txt")), "b\n");
       }},
      {"a link on a folder above a folder to create stops the run",
       [](Sandbox& s, std::string&) {
         fs::create_directory_symlink(s.Path("elsewhere"), s.Path("out/sub"));
         WriteBytes(s.Path("a.zip"), OneFileZip("sub/deeper/a.txt", "deep\n"));
         return true;
       },
       "extract -d {}/out {}/a.zip", 1,
       {"Error in folder", "deeper: a folder of the path is a symbolic link"}, nullptr},
      {"the target folder itself may be a link: the user chose it",
       [](Sandbox& s, std::string&) {
         fs::create_directory_symlink(s.Path("out"), s.Path("linked"));
         WriteBytes(s.Path("a.zip"), OneFileZip("d/a.txt", "through the link\n"));
         return true;
       },
       "extract -d {}/linked {}/a.zip", 0, {},
       [](const Sandbox& s, const SplitRun&) {
         EXPECT_EQ(ReadText(s.Path("out/d/a.txt")), "through the link\n");
       }},
      {"a file that fails its CRC check is still written, as the stub leaves it",
       [](Sandbox& s, std::string&) {
         ZipEntrySpec entry{"bad.txt", "data\n"};
         entry.crc = 0x12345678;
         WriteBytes(s.Path("a.zip"), MakeZip(ZipSpec{{entry}}));
         return true;
       },
       "extract -d {}/out {}/a.zip", 1, {"CRC-32 error in", "bad.txt"},
       [](const Sandbox& s, const SplitRun&) {
         EXPECT_EQ(ReadText(s.Path("out/bad.txt")), "data\n");
       }},
  });
}

}  // namespace
}  // namespace selfx
