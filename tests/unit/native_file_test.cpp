// How selfx build puts its output in place: written beside the final name and moved over
// whatever stood there only when complete, so that a failed move keeps the old output.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "test_support.h"

namespace selfx {
namespace {

namespace fs = std::filesystem;
using test::Bytes;

// Runs the tool with `arguments`; its exit status, and its output in `output`.
int RunTool(const std::string& arguments, std::string& output) {
  const std::string command = std::string(SELFX_TOOL_PATH) + " " + arguments + " 2>&1";
  std::FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return -1;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
  const int wait_status = ::pclose(pipe);
  return WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
}

// The smallest PE32 image the builder accepts: one section whose raw data ends the file.
Bytes FakeStub() {
  Bytes stub(0x400, 0);
  stub[0] = 'M';
  stub[1] = 'Z';
  stub[0x3C] = 0x80;
  const Bytes pe = {'P', 'E', 0, 0, 0x4C, 0x01, 1, 0};  // i386, one section
  std::copy(pe.begin(), pe.end(), stub.begin() + 0x80);
  stub[0x80 + 20] = 224;   // standard optional header
  stub[0x80 + 24] = 0x0B;  // PE32
  stub[0x80 + 25] = 0x01;
  const Bytes section_size = test::Le32(0x200), section_pointer = test::Le32(0x200);
  std::copy(section_size.begin(), section_size.end(), stub.begin() + 0x80 + 248 + 16);
  std::copy(section_pointer.begin(), section_pointer.end(), stub.begin() + 0x80 + 248 + 20);
  return stub;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class OutputReplacement : public ::testing::Test {
 protected:
  void SetUp() override {
    stub_ = std::make_unique<test::TempFile>(FakeStub(), "stub.exe");
    const Bytes zip = test::MakeZip({{{"readme.txt", "hello"}}, ""});
    std::ofstream(Path("in.zip"), std::ios::binary) << std::string(zip.begin(), zip.end());
  }
  std::string Path(const std::string& name) const { return stub_->folder() + "/" + name; }
  int Build(std::string& output) const {
    return RunTool(
        "build --stub " + Path("stub.exe") + " -o " + Path("out.exe") + " " + Path("in.zip"),
        output);
  }

  std::unique_ptr<test::TempFile> stub_;
};

TEST_F(OutputReplacement, OldFileIsReplacedWhole) {
  std::ofstream(Path("out.exe")) << "an older build";
  std::string output;
  ASSERT_EQ(Build(output), 0) << output;
  const std::string built = ReadAll(Path("out.exe"));
  EXPECT_EQ(built.compare(0, 2, "MZ"), 0);
  EXPECT_GT(built.size(), 0x400u);
  EXPECT_FALSE(fs::exists(Path("out.exe.partial")));
}

// A folder under the output's name cannot be replaced by a file: the build fails, the
// folder stays as it was (an empty one too, which a delete-then-rename would have taken),
// and the partial file goes.
TEST_F(OutputReplacement, FailedMoveKeepsWhatStoodThere) {
  for (const bool with_file : {false, true}) {
    SCOPED_TRACE(with_file ? "folder with a file" : "empty folder");
    fs::create_directory(Path("out.exe"));
    if (with_file) std::ofstream(Path("out.exe/keep.txt")) << "kept";
    std::string output;
    EXPECT_EQ(Build(output), 1) << output;
    EXPECT_NE(output.find(Path("out.exe")), std::string::npos) << output;
    EXPECT_TRUE(fs::is_directory(Path("out.exe")));
    if (with_file) {
      EXPECT_EQ(ReadAll(Path("out.exe/keep.txt")), "kept");
    }
    EXPECT_FALSE(fs::exists(Path("out.exe.partial")));
    fs::remove_all(Path("out.exe"));
  }
}

}  // namespace
}  // namespace selfx
