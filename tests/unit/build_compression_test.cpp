// selfx build's compression, run as a user runs it: the same archive whatever --jobs is, each
// level reaching the compressor, files that do not shrink stored, files too large to be read
// whole streamed, and every file read back by Python's zipfile as a second reader.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"

namespace selfx {
namespace {

namespace fs = std::filesystem;

// Words of a skewed vocabulary: text that deflates well, but better with a longer search.
std::string Text(std::size_t size, unsigned seed) {
  std::vector<std::string> words;
  for (int word = 0; word < 1000; ++word) {
    words.push_back("w" + std::to_string(word * 7919 % 1000) + (word % 11 == 0 ? ".\n" : " "));
  }
  std::mt19937 random(seed);
  std::geometric_distribution<int> pick(0.02);
  std::string text;
  while (text.size() < size) text += words[pick(random) % words.size()];
  text.resize(size);
  return text;
}

std::string Noise(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string noise(size, '\0');
  for (char& c : noise) c = static_cast<char>(random());
  return noise;
}

std::string Capture(const std::string& command) {
  std::string output;
  std::FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return output;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) != 0) output.append(buffer, n);
  pclose(pipe);
  return output;
}

class BuildCompression : public ::testing::Test {
 protected:
  void SetUp() override {
    stub_ = std::make_unique<test::TempFile>(test::FakeStub(), "stub.exe");
    folder_ = stub_->folder();
  }

  std::string Path(const std::string& name) const { return folder_ + "/" + name; }

  void Write(const std::string& name, const std::string& contents) {
    fs::create_directories(fs::path(Path(name)).parent_path());
    std::ofstream(Path(name), std::ios::binary) << contents;
  }

  // Builds tree into out.exe (tested by the build itself) and returns the archive's bytes.
  std::string Build(const std::string& options) {
    test::RunResult result = test::RunTool("build --stub " + Path("stub.exe") + " -o " +
                                               Path("out.exe") + " " + options + " " + Path("tree"),
                                           {"SOURCE_DATE_EPOCH=1600000000 TZ=UTC"});
    EXPECT_EQ(result.status, 0) << options << "\n" << result.output;
    return test::ReadFileText(Path("out.exe"));
  }

  // Each file of out.exe as Python's zipfile reads it: its method (0 stored, 8 deflated)
  // and whether its bytes are those of the file in tree. Encrypted files are decrypted by
  // Info-ZIP's unzip: zipfile's decryption, in Python, takes minutes over a few megabytes.
  std::map<std::string, std::string> ReadBack(const std::string& password = "") {
    std::ofstream(Path("read_back.py")) << R"(import os, subprocess, sys, zipfile
archive, root, password = sys.argv[1], sys.argv[2], sys.argv[3]
for info in zipfile.ZipFile(archive).infolist():
    if info.is_dir():
        continue
    if password:
        data = subprocess.run(["unzip", "-p", "-P", password, archive, info.filename],
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout
    else:
        data = zipfile.ZipFile(archive).read(info)
    same = data == open(os.path.join(root, info.filename), "rb").read()
    print(info.filename, info.compress_type, "same" if same else "differs")
)";
    std::istringstream lines(Capture("python3 " + Path("read_back.py") + " " + Path("out.exe") +
                                     " " + Path("tree") + " '" + password + "'"));
    std::map<std::string, std::string> seen;
    std::string name, method, same;
    while (lines >> name >> method >> same) seen[name] = method + " " + same;
    return seen;
  }

  std::unique_ptr<test::TempFile> stub_;
  std::string folder_;
};

TEST_F(BuildCompression, SameArchiveWhateverTheJobs) {
  // Many files of unlike sizes, so that threads finish out of order.
  for (int i = 0; i < 60; ++i) {
    std::size_t size = static_cast<std::size_t>(i * i * 97 % 200000);
    Write("tree/f" + std::to_string(i) + (i % 3 == 0 ? ".bin" : ".txt"),
          i % 3 == 0 ? Noise(size, i) : Text(size, i));
  }
  Write("tree/empty", "");
  fs::create_directories(Path("tree/folder/inner"));
  for (const char* level : {"0", "1", "6", "12"}) {
    SCOPED_TRACE(std::string("level ") + level);
    std::string one = Build("--level " + std::string(level) + " --jobs 1");
    ASSERT_FALSE(one.empty());
    EXPECT_EQ(Build("--level " + std::string(level) + " --jobs 2"), one);
    EXPECT_EQ(Build("--level " + std::string(level) + " -j 7"), one);
  }
  std::map<std::string, std::string> seen = ReadBack();
  EXPECT_EQ(seen.size(), 61u);
  for (const auto& [name, what] : seen) EXPECT_EQ(what.substr(2), "same") << name;
}

TEST_F(BuildCompression, EachFileStoredOrDeflatedAsItShrinks) {
  Write("tree/text.txt", Text(300000, 1));
  Write("tree/noise.bin", Noise(100000, 2));
  Write("tree/one", "x");
  Write("tree/empty", "");
  // Over the size read whole: streamed, once as text and once as noise.
  Write("tree/big.txt", Text(17 << 20, 3));
  Write("tree/big.bin", Noise(17 << 20, 4));
  Build("--jobs 2");
  std::map<std::string, std::string> expected = {
      {"text.txt", "8 same"}, {"noise.bin", "0 same"}, {"one", "0 same"},
      {"empty", "0 same"},    {"big.txt", "8 same"},   {"big.bin", "0 same"},
  };
  EXPECT_EQ(ReadBack(), expected);

  // Encrypted: the CRC goes before the data, from the one read or the streaming's first pass.
  Write("password", "secret\n");
  Build("--jobs 2 --password-file " + Path("password"));
  EXPECT_EQ(ReadBack("secret"), expected);
}

TEST_F(BuildCompression, HigherLevelsGiveSmallerArchives) {
  Write("tree/text.txt", Text(1 << 20, 5));
  std::size_t stored = Build("--level 0").size();
  std::size_t fast = Build("--level 1").size();
  std::size_t usual = Build("--level 6").size();
  std::size_t best = Build("--level 12").size();
  EXPECT_LT(fast, stored / 2);
  EXPECT_LT(usual, fast);
  EXPECT_LT(best, usual);
}

TEST_F(BuildCompression, LevelAndJobsOutOfRangeAreRefused) {
  Write("tree/a.txt", "a");
  const struct {
    const char* options;
    const char* message;
  } cases[] = {
      {"--level 13", "--level: expected 0 to 12, not \"13\""},
      {"--level -1", "--level: expected 0 to 12"},
      {"--jobs 0", "--jobs: expected 1 to 256, not \"0\""},
      {"-j 257", "--jobs: expected 1 to 256"},
      {"--jobs two", "--jobs: expected 1 to 256"},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(row.options);
    test::RunResult result = test::RunTool("build --stub " + Path("stub.exe") + " -o " +
                                           Path("out.exe") + " " + row.options + " " +
                                           Path("tree"));
    EXPECT_EQ(result.status, 2);
    EXPECT_NE(result.output.find(row.message), std::string::npos) << result.output;
    EXPECT_FALSE(fs::exists(Path("out.exe")));
  }
}

}  // namespace
}  // namespace selfx
