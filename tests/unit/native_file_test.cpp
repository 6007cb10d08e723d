// How selfx build puts its output in place: written beside the final name and moved over
// whatever stood there only when complete, so that a failed move keeps the old output.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "test_support.h"

namespace selfx {
namespace {

namespace fs = std::filesystem;
using test::Bytes;

// Whether a temporary file of a build ("NAME.XXXXXX.partial") is left in the folder.
bool PartialFileLeft(const std::string& folder) {
  for (const std::filesystem::directory_entry& item : std::filesystem::directory_iterator(folder)) {
    const std::string name = item.path().filename().string();
    if (name.size() > 8 && name.compare(name.size() - 8, 8, ".partial") == 0) return true;
  }
  return false;
}

class OutputReplacement : public ::testing::Test {
 protected:
  void SetUp() override {
    stub_ = std::make_unique<test::TempFile>(test::FakeStub(), "stub.exe");
    const Bytes zip = test::MakeZip({{{"readme.txt", "hello"}}, ""});
    std::ofstream(Path("in.zip"), std::ios::binary) << std::string(zip.begin(), zip.end());
  }
  std::string Path(const std::string& name) const { return stub_->folder() + "/" + name; }
  test::RunResult Build() const {
    return test::RunTool("build --stub " + Path("stub.exe") + " -o " + Path("out.exe") + " " +
                         Path("in.zip"));
  }

  std::unique_ptr<test::TempFile> stub_;
};

TEST_F(OutputReplacement, OldFileIsReplacedWhole) {
  std::ofstream(Path("out.exe")) << "an older build";
  const test::RunResult built_run = Build();
  ASSERT_EQ(built_run.status, 0) << built_run.output;
  const std::string built = test::ReadFileText(Path("out.exe"));
  EXPECT_EQ(built.compare(0, 2, "MZ"), 0);
  EXPECT_GT(built.size(), 0x400u);
  EXPECT_FALSE(PartialFileLeft(stub_->folder()));
}

// A folder under the output's name cannot be replaced by a file: the build fails, the
// folder stays as it was (an empty one too, which a delete-then-rename would have taken),
// and the partial file goes.
TEST_F(OutputReplacement, FailedMoveKeepsWhatStoodThere) {
  for (const bool with_file : {false, true}) {
    SCOPED_TRACE(with_file ? "folder with a file" : "empty folder");
    fs::create_directory(Path("out.exe"));
    if (with_file) std::ofstream(Path("out.exe/keep.txt")) << "kept";
    const test::RunResult run = Build();
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_NE(run.output.find(Path("out.exe")), std::string::npos) << run.output;
    EXPECT_TRUE(fs::is_directory(Path("out.exe")));
    if (with_file) {
      EXPECT_EQ(test::ReadFileText(Path("out.exe/keep.txt")), "kept");
    }
    EXPECT_FALSE(PartialFileLeft(stub_->folder()));
    fs::remove_all(Path("out.exe"));
  }
}

// The built file is a program for everyone the umask lets run it, whatever mode the
// temporary file was made with.
TEST_F(OutputReplacement, ModeIsAProgramsUnderTheUmask) {
  for (const mode_t mask : {022, 027, 077}) {
    SCOPED_TRACE(mask);
    const mode_t previous = ::umask(mask);
    const test::RunResult run = Build();
    ::umask(previous);
    ASSERT_EQ(run.status, 0) << run.output;
    struct stat info;
    ASSERT_EQ(::stat(Path("out.exe").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0755 & ~mask);
  }
}

}  // namespace
}  // namespace selfx
