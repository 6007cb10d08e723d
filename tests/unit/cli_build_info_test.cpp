// selfx build and selfx info, run as a user runs them.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "test_support.h"

namespace selfx {
namespace {

using test::Append;
using test::Bytes;

using test::FakeStub;
using test::RunResult;
using test::RunTool;

// Whether a temporary file of a build (".selfx-XXXXXXXXXXXXXXXX.partial") is left in the folder.
bool PartialFileLeft(const std::string& folder) {
  for (const std::filesystem::directory_entry& item : std::filesystem::directory_iterator(folder)) {
    const std::string name = item.path().filename().string();
    if (name.size() > 8 && name.compare(name.size() - 8, 8, ".partial") == 0) return true;
  }
  return false;
}

class CliBuildInfo : public ::testing::Test {
 protected:
  void SetUp() override {
    stub_ = std::make_unique<test::TempFile>(FakeStub(), "stub.exe");
    folder_ = stub_->folder();
    Write("in.zip", test::MakeZip({{{"docs/readme.txt", "hello"}}, ""}));
  }
  std::string Path(const std::string& name) const { return folder_ + "/" + name; }
  void Write(const std::string& name, const Bytes& bytes) const {
    std::ofstream(Path(name), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
  }
  std::string Build(const std::string& options, const std::string& zip = "in.zip") const {
    return "build --stub " + Path("stub.exe") + " -o " + Path("out.exe") + " " + options + " " +
           Path(zip);
  }

  std::unique_ptr<test::TempFile> stub_;
  std::string folder_;
};

TEST_F(CliBuildInfo, BuiltFileShowsItsConfiguration) {
  RunResult built = RunTool(
      Build("--caption 'Demo setup' --folder '$T' --command 'setup.exe /s' --message 'Install?' "
            "--message-style yesno+question --overwrite ask --run-checkbox --cancel-allowed"));
  ASSERT_EQ(built.status, 0) << built.output;
  std::uintmax_t size = std::filesystem::file_size(Path("out.exe"));
  EXPECT_EQ(size, 0x400u + 18 + 10 + 2 + 12 + 8 + 8 + (30 + 15 + 5) + (46 + 15) + 22);

  RunResult info = RunTool("info " + Path("out.exe"));
  EXPECT_EQ(info.status, 0) << info.output;
  for (const char* expected :
       {"0x0201 run-checkbox cancel-allowed", "overwrite mode  2 (ask)",
        "caption         \"Demo setup\"", "folder          \"$T\"",
        "command         \"setup.exe /s\"", "message style   0x24 (yesno+question)",
        "trailer         sound", "zip end record  sound", "1 entries",
        "offset base     1082 (offsets recorded from the start of the archive)"}) {
    EXPECT_NE(info.output.find(expected), std::string::npos) << expected << "\n" << info.output;
  }

  RunResult json = RunTool("info --json " + Path("out.exe"));
  EXPECT_EQ(json.status, 0);
  for (const char* expected :
       {"\"sound\":true", "\"options\":513",
        "\"option_names\":[\"run-checkbox\",\"cancel-allowed\"]", "\"caption\":\"Demo setup\"",
        "\"message_style\":36", "\"entries\":1"}) {
    EXPECT_NE(json.output.find(expected), std::string::npos) << expected << "\n" << json.output;
  }
  RunResult listed = RunTool("list --json " + Path("out.exe"));
  EXPECT_NE(listed.output.find("\"name\":\"docs/readme.txt\",\"size\":5"), std::string::npos)
      << listed.output;
}

TEST_F(CliBuildInfo, HelpShowsTheOptionsInColumns) {
  RunResult help = RunTool("build --caption x --help");
  EXPECT_EQ(help.status, 0);
  for (const char* expected :
       {"\n\n  -o, --output FILE        the combined .exe to write",
        "\n      --pack               pack a single .zip input",
        "\nPresets (each sets option bits and, unless given, a folder; flags and --options add to "
        "it):\n      --install            unpack into",
        "\n      --caption TEXT       title of the dialog and of its message boxes\n"
        "                           (default \"Unzip to disk\")\n",
        "list-collapsed, no-show-files (0x00DC), overwrite mode overwrite\n\n      --stub FILE",
        "\nOption flags:\n      --run-checkbox          0x0001  offer the command"}) {
    EXPECT_NE(help.output.find(expected), std::string::npos) << expected << "\n" << help.output;
  }
  EXPECT_EQ(help.output.find("--help"), std::string::npos) << help.output;
}

TEST_F(CliBuildInfo, BadInputIsRefusedAndNothingIsWritten) {
  Write("long-stub.exe", FakeStub(512));
  Write("not-a-program.exe", Bytes(2048, 'x'));
  Write("not-a-zip.zip", Bytes(100, 'z'));
  Bytes zip64 = test::MakeZip({{{"a", "b"}}, ""});
  Bytes locator = test::Le32(0x07064B50);
  locator.resize(20, 0);
  zip64.insert(zip64.end() - 22, locator.begin(), locator.end());
  Write("zip64.zip", zip64);

  struct Case {
    std::string arguments;
    int status;
    const char* message;
  };
  const Case cases[] = {
      {Build("--caption " + std::string(256, 'c')), 2, "at most 255"},
      {Build("--message-style maybe"), 2, "unknown style"},
      {Build("--overwrite sometimes"), 2, "expected overwrite, skip or ask"},
      {Build("--options 0x10000"), 2, "from 0 to 0xFFFF"},
      {Build("--frobnicate"), 2, "unknown option"},
      {Build("", "missing.zip"), 1, "missing.zip"},
      {Build("", "not-a-zip.zip"), 1, "not a ZIP archive"},
      {Build("", "zip64.zip"), 1, "ZIP64"},
      {"build --stub " + Path("long-stub.exe") + " -o " + Path("out.exe") + " " + Path("in.zip"), 1,
       "does not end where its image ends"},
      {"build --stub " + Path("not-a-program.exe") + " -o " + Path("out.exe") + " " +
           Path("in.zip"),
       1, "not a 32-bit Windows program"},
      {"build -o " + Path("out.exe"), 2, "usage"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments);
    RunResult result = RunTool(c.arguments);
    EXPECT_EQ(result.status, c.status) << result.output;
    EXPECT_NE(result.output.find(c.message), std::string::npos) << result.output;
    EXPECT_FALSE(std::filesystem::exists(Path("out.exe")));
    EXPECT_FALSE(PartialFileLeft(folder_));
  }
}

TEST_F(CliBuildInfo, PackingRefusesWhatWindowsCannotHold) {
  namespace fs = std::filesystem;
  struct Case {
    const char* what;
    std::vector<std::string> files;  // relative to a fresh input folder
    const char* message;
  };
  const Case cases[] = {
      {"a question mark", {"what?.txt"}, "character Windows does not allow"},
      {"a colon", {"a:b"}, "character Windows does not allow"},
      {"a trailing dot", {"name."}, "ends in a dot or a blank"},
      {"a device name", {"sub/aux.txt"}, "device name"},
      {"a device name with a superscript digit", {"COM\xC2\xB9.txt"}, "device name"},
      {"a console device", {"conin$"}, "device name"},
      {"a folder of blanks only", {"  /x.txt"}, "ends in a dot or a blank"},
      {"names that differ in case only", {"Read.me", "READ.ME"}, "appears twice"},
      {"a name outside code page 1252", {"\xE6\x97\xA5.txt"}, "code page 1252"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::path input = fs::path(folder_) / "input";
    fs::remove_all(input);
    for (const std::string& file : c.files) {
      fs::create_directories((input / file).parent_path());
      std::ofstream(input / file) << "x";
    }
    RunResult result = RunTool("build --stub " + Path("stub.exe") + " -o " + Path("out.exe") + " " +
                               input.string());
    EXPECT_EQ(result.status, 1) << result.output;
    EXPECT_NE(result.output.find(c.message), std::string::npos) << result.output;
    EXPECT_FALSE(fs::exists(Path("out.exe")));
    EXPECT_FALSE(PartialFileLeft(folder_));
  }
  // A file of 4 GiB needs ZIP64 records; a sparse one costs nothing to make.
  fs::remove_all(fs::path(folder_) / "input");
  fs::create_directories(fs::path(folder_) / "input");
  { std::ofstream huge(fs::path(folder_) / "input" / "huge.bin"); }
  fs::resize_file(fs::path(folder_) / "input" / "huge.bin", 0x100000000ull);
  RunResult huge = RunTool("build --stub " + Path("stub.exe") + " -o " + Path("out.exe") + " " +
                           (fs::path(folder_) / "input").string());
  EXPECT_EQ(huge.status, 1) << huge.output;
  EXPECT_NE(huge.output.find("files of 4 GiB or more need ZIP64"), std::string::npos)
      << huge.output;
  EXPECT_FALSE(fs::exists(Path("out.exe")));

  RunResult no_folder = RunTool("build --stub " + Path("stub.exe") + " -o " +
                                Path("missing-folder/out.exe") + " " + Path("in.zip"));
  EXPECT_EQ(no_folder.status, 1);
  EXPECT_NE(no_folder.output.find("missing-folder/out.exe: cannot create"), std::string::npos)
      << no_folder.output;
}

TEST_F(CliBuildInfo, InfoReportsDamage) {
  ASSERT_EQ(RunTool(Build("")).status, 0);
  Bytes built;
  {
    std::ifstream in(Path("out.exe"), std::ios::binary);
    built.assign(std::istreambuf_iterator<char>(in), {});
  }
  Bytes bad_trailer = built;
  bad_trailer[0x400 + 18 + 2] = 'Y';
  Bytes extra_byte = built;
  extra_byte.push_back(0);
  Bytes no_block(built.begin(), built.begin() + 0x400);
  const std::pair<const Bytes*, const char*> cases[] = {
      {&bad_trailer, "trailer         DAMAGED"},
      {&extra_byte, "zip end record  MISSING"},
      {&no_block, "MISSING: no configuration block"},
  };
  for (const auto& [bytes, message] : cases) {
    Write("damaged.exe", *bytes);
    RunResult info = RunTool("info " + Path("damaged.exe"));
    EXPECT_EQ(info.status, 1) << info.output;
    EXPECT_NE(info.output.find(message), std::string::npos) << info.output;
  }
}

}  // namespace
}  // namespace selfx
