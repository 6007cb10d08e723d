// selfx test and extract with several jobs: entries are decoded ahead on other threads, and
// everything a user sees (stdout, stderr, --json, the exit status, the files written) must be
// exactly what one job gives, damaged and encrypted archives included.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <random>

#include "test_support.h"

namespace selfx {
namespace {

using test::Bytes;
using test::MakeZip;
using test::RunResult;
using test::RunTool;
using test::ZipEntrySpec;
using test::ZipSpec;

// Text that deflate shrinks, different for every seed.
std::string Text(int seed, std::size_t size) {
  std::string text;
  std::mt19937 random(static_cast<unsigned>(seed));
  while (text.size() < size) {
    text += "line " + std::to_string(random() % 1000) + " of file " + std::to_string(seed) + "\n";
  }
  text.resize(size);
  return text;
}

// Bytes deflate cannot shrink.
std::string Noise(int seed, std::size_t size) {
  std::string noise(size, '\0');
  std::mt19937 random(static_cast<unsigned>(seed));
  for (char& c : noise) c = static_cast<char>(random());
  return noise;
}

// Where entry index's local header starts in an archive MakeZip wrote.
std::size_t LocalHeaderAt(const Bytes& zip, std::size_t index) {
  std::size_t at = 0;
  for (std::size_t i = 0; i < index; ++i) {
    auto le16 = [&](std::size_t offset) { return zip[at + offset] | (zip[at + offset + 1] << 8); };
    std::uint32_t compressed = static_cast<std::uint32_t>(le16(18) | (le16(20) << 16));
    at += 30 + le16(26) + le16(28) + compressed;
  }
  return at;
}

// The data of entry index starts behind its local header, name and extra field.
std::size_t DataAt(const Bytes& zip, std::size_t index) {
  std::size_t at = LocalHeaderAt(zip, index);
  return at + 30 + (zip[at + 26] | (zip[at + 27] << 8)) + (zip[at + 28] | (zip[at + 29] << 8));
}

std::vector<ZipEntrySpec> Files(int count, std::uint16_t method, std::size_t size,
                                const std::string& password = "") {
  std::vector<ZipEntrySpec> files;
  for (int i = 0; i < count; ++i) {
    ZipEntrySpec entry{"dir" + std::to_string(i % 3) + "/file" + std::to_string(i) + ".txt",
                       Text(i, size + static_cast<std::size_t>(i) * 7)};
    entry.method = method;
    entry.password = password;
    files.push_back(entry);
  }
  return files;
}

struct JobsCase {
  const char* what;
  Bytes zip;
  std::string options;  // beyond --jobs
};

std::vector<JobsCase> Cases() {
  std::vector<JobsCase> cases;
  cases.push_back({"stored", MakeZip(ZipSpec{Files(12, 0, 3000)}), ""});
  cases.push_back({"deflated", MakeZip(ZipSpec{Files(12, 8, 40000)}), ""});
  {
    // The password from the file fits all but one entry, which fails alone.
    std::vector<ZipEntrySpec> files = Files(10, 8, 5000, "secret");
    files[2].method = 0;
    files[6].password = "other";
    cases.push_back({"encrypted", MakeZip(ZipSpec{files}), "--password-file PASSWORD"});
  }
  {
    std::vector<ZipEntrySpec> files = Files(9, 8, 20000);
    files[4].crc = 0x12345678;
    cases.push_back({"a CRC error in the middle", MakeZip(ZipSpec{files}), ""});
  }
  {
    Bytes zip = MakeZip(ZipSpec{Files(9, 8, 20000)});
    // The first byte holds the first block's type: 3 is reserved, the stream is corrupt.
    zip[DataAt(zip, 4)] |= 6;
    zip[DataAt(zip, 6) + 40] ^= 0x55;
    cases.push_back({"corrupt streams in the middle", zip, ""});
  }
  {
    std::vector<ZipEntrySpec> files = Files(8, 8, 3000);
    files[3].method = 12;
    cases.push_back({"an unknown method in the middle", MakeZip(ZipSpec{files}), ""});
  }
  {
    // A damaged local header ends the program there, whatever the threads have decoded.
    Bytes zip = MakeZip(ZipSpec{Files(9, 8, 20000)});
    zip[LocalHeaderAt(zip, 5)] = 'X';
    cases.push_back({"a damaged local header in the middle", zip, ""});
  }
  cases.push_back({"many small files", MakeZip(ZipSpec{Files(400, 8, 300)}), ""});
  {
    // Larger than what a thread keeps in memory, between files that are kept.
    std::vector<ZipEntrySpec> files = Files(6, 8, 100000);
    ZipEntrySpec large{"large.bin", Noise(1, 17 << 20)};
    large.method = 8;
    files.insert(files.begin() + 2, large);
    ZipEntrySpec middle{"middle.bin", Text(99, 3 << 20)};
    middle.method = 8;
    files.insert(files.begin() + 4, middle);
    cases.push_back({"a large file", MakeZip(ZipSpec{files}), ""});
  }
  return cases;
}

// Every file below folder, by its relative name, with its contents.
std::map<std::string, std::string> Tree(const std::string& folder) {
  std::map<std::string, std::string> tree;
  if (!std::filesystem::exists(folder)) return tree;
  for (const auto& item : std::filesystem::recursive_directory_iterator(folder)) {
    std::string name = std::filesystem::relative(item.path(), folder).string();
    tree[name] = item.is_regular_file() ? test::ReadFileText(item.path().string()) : "(folder)";
  }
  return tree;
}

struct Observed {
  RunResult test;
  RunResult test_json;
  RunResult extract;
  RunResult extract_json;
  RunResult extract_again;  // over the files of the first extraction, skipping them
  std::map<std::string, std::string> tree;
};

Observed RunCommands(const std::string& folder, const JobsCase& c, int jobs) {
  std::string options = c.options;
  std::string::size_type password_at = options.find("PASSWORD");
  if (password_at != std::string::npos) {
    options.replace(password_at, 8, folder + "/password.txt");
  }
  std::string archive = folder + "/archive.zip";
  std::string common = "--jobs " + std::to_string(jobs) + " " + options + " ";
  std::string out = folder + "/out";
  std::filesystem::remove_all(out);
  Observed seen;
  seen.test = RunTool("test " + common + archive);
  seen.test_json = RunTool("test --json " + common + archive, {"", false});
  seen.extract = RunTool("extract " + common + "-d " + out + " " + archive);
  seen.tree = Tree(out);
  seen.extract_again = RunTool("extract --overwrite skip " + common + "-d " + out + " " + archive);
  std::filesystem::remove_all(out);
  seen.extract_json = RunTool("extract --json " + common + "-d " + out + " " + archive,
                              {"", false});
  std::filesystem::remove_all(out);
  return seen;
}

TEST(DecodeJobs, EveryResultIsTheSameWithOneJobAndWithFour) {
  for (const JobsCase& c : Cases()) {
    SCOPED_TRACE(c.what);
    test::TempFile archive(c.zip, "archive.zip");
    std::ofstream(archive.folder() + "/password.txt") << "secret\n";
    Observed one = RunCommands(archive.folder(), c, 1);
    Observed four = RunCommands(archive.folder(), c, 4);
    for (auto [what, a, b] :
         {std::tuple{"test", &one.test, &four.test},
          std::tuple{"test --json", &one.test_json, &four.test_json},
          std::tuple{"extract", &one.extract, &four.extract},
          std::tuple{"extract --json", &one.extract_json, &four.extract_json},
          std::tuple{"extract again", &one.extract_again, &four.extract_again}}) {
      SCOPED_TRACE(what);
      EXPECT_EQ(a->status, b->status);
      EXPECT_EQ(a->output, b->output);
    }
    EXPECT_EQ(one.tree, four.tree);
    // The cases are meant to show what they say: a sound archive extracts whole, a damaged
    // one fails.
    bool damaged = std::string(c.what).find("middle") != std::string::npos ||
                   std::string(c.what) == "encrypted";
    EXPECT_EQ(one.extract.status, damaged ? 1 : 0) << one.extract.output;
    EXPECT_FALSE(one.tree.empty());
  }
}

TEST(DecodeJobs, RefusesAJobCountOutsideItsRange) {
  test::TempFile archive(MakeZip(ZipSpec{Files(2, 8, 100)}), "archive.zip");
  for (const char* jobs : {"0", "257", "two"}) {
    SCOPED_TRACE(jobs);
    RunResult run = RunTool("test --jobs " + std::string(jobs) + " " + archive.path());
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.output.find("--jobs: expected 1 to 256"), std::string::npos) << run.output;
  }
  EXPECT_EQ(RunTool("test -j 3 " + archive.path()).status, 0);
}

// The memory kept for the most jobs is reserved as it is used, not all at the start: a 32-bit
// process cannot hold 256 jobs' worth at once.
TEST(DecodeJobs, TheMostJobsExtractWhatOneDoes) {
  test::TempFile archive(MakeZip(ZipSpec{Files(40, 8, 40000)}), "archive.zip");
  std::string folder = archive.folder();
  RunResult one = RunTool("extract --quiet --jobs 1 -d " + folder + "/one " + archive.path());
  RunResult most = RunTool("extract --quiet --jobs 256 -d " + folder + "/most " + archive.path());
  EXPECT_EQ(one.status, 0) << one.output;
  EXPECT_EQ(most.status, 0) << most.output;
  EXPECT_EQ(Tree(folder + "/most"), Tree(folder + "/one"));
  EXPECT_GE(Tree(folder + "/one").size(), 40u);  // the files, and the folders they are in
}

}  // namespace
}  // namespace selfx
