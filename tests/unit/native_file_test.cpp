// How written files are put in place: selfx build's output, written beside the final name
// and moved over whatever stood there only when complete, so that a failed move keeps the old
// output; and the platform layer's endings of an extracted file.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/platform.h"
#include "test_support.h"

namespace selfx {
namespace {

namespace fs = std::filesystem;
using test::Bytes;

// Whether a temporary file of a build (".selfx-XXXXXXXXXXXXXXXX.partial") is left in the folder.
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

// Each ending of a file written below the confined folder, on a new name and over an existing
// file: until the ending nothing of it stands under its name, and afterwards no temporary
// file is left.
TEST(OutputEndings, EachEndingLeavesWhatItSays) {
  using platform::OutputEnding;
  struct Case {
    OutputEnding ending;
    bool existing;
    const char* left;  // under the name afterwards; nullptr: nothing
  };
  const Case cases[] = {
      {OutputEnding::kCommit, false, "new"},    {OutputEnding::kCommit, true, "new"},
      {OutputEnding::kKeepIfNew, false, "new"}, {OutputEnding::kKeepIfNew, true, "old"},
      {OutputEnding::kDiscard, false, nullptr}, {OutputEnding::kDiscard, true, "old"},
  };
  char pattern[] = "/tmp/selfx-endings-XXXXXX";
  const std::string root = ::mkdtemp(pattern);
  platform::ConfineWritesTo(root);
  const std::string final_path = root + "/out.txt";
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(static_cast<int>(c.ending)) + (c.existing ? " existing" : " new"));
    if (c.existing) std::ofstream(final_path) << "old";
    const platform::FileHandle file = platform::CreateForWriting(root + "\\out.txt");
    ASSERT_NE(file, platform::kNoFile) << platform::LastErrorText();
    EXPECT_EQ(fs::exists(final_path), c.existing);
    ASSERT_EQ(platform::Write(file, "new", 3), 3u);
    EXPECT_EQ(fs::exists(final_path) ? test::ReadFileText(final_path) : "",
              c.existing ? "old" : "");
    EXPECT_TRUE(platform::CloseOutput(file, c.ending)) << platform::LastErrorText();
    if (c.left == nullptr) {
      EXPECT_FALSE(fs::exists(final_path));
    } else {
      EXPECT_EQ(test::ReadFileText(final_path), c.left);
    }
    // Nothing else in the folder: the temporary file went either way.
    EXPECT_EQ(std::distance(fs::directory_iterator(root), fs::directory_iterator()),
              c.left == nullptr ? 0 : 1);
    fs::remove(final_path);
  }
  fs::remove_all(root);
}

}  // namespace
}  // namespace selfx
