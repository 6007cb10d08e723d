// How every selfx command reads its arguments.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "cli/front/command_line.h"
#include "test_support.h"

namespace selfx::cli {
namespace {

const OptionSpec kOutput{"o", "output", "FILE", "where to write"};
const OptionSpec kLevel{"l", "level", "N", "how hard"};
const OptionSpec kQuiet{"q", "quiet", nullptr, "say less"};
const OptionSpec kHelp{"h", "help", nullptr, nullptr};
const OptionSpec kJson{nullptr, "json", nullptr, "one JSON object"};
const std::vector<const OptionSpec*> kOptions = {&kOutput, &kLevel, &kQuiet, &kHelp, &kJson};

// The items as "name=value" (an operand as "=value"), to compare in one line; "error" when
// the line could not be read, with the first fault in error and what was read in spite of it
// in items_read.
std::string Read(const Arguments& arguments, std::string* error = nullptr,
                 std::string* items_read = nullptr) {
  std::vector<CommandLineItem> items;
  std::string error_text;
  bool readable = ReadCommandLine(arguments, kOptions, items, error_text);
  std::string read;
  for (const CommandLineItem& item : items) {
    if (!read.empty()) read += " ";
    read += (item.option != nullptr ? item.option->long_name : "") + std::string("=") + item.value;
  }
  if (readable) return read;
  if (error != nullptr) *error = error_text;
  if (items_read != nullptr) *items_read = read;
  return "error";
}

TEST(CommandLine, ReadsEveryConventionalForm) {
  const std::pair<Arguments, const char*> cases[] = {
      {{"-o", "out.exe", "in"}, "output=out.exe =in"},
      {{"-oout.exe", "in"}, "output=out.exe =in"},
      {{"--output", "out.exe"}, "output=out.exe"},
      {{"--output=out.exe"}, "output=out.exe"},
      {{"--output=a=b"}, "output=a=b"},
      {{"--output="}, "output="},
      {{"-l9", "--level=0"}, "level=9 level=0"},
      {{"-ql9"}, "quiet= level=9"},
      {{"-qh", "x"}, "quiet= help= =x"},
      {{"-q", "--", "-o", "--json"}, "quiet= =-o =--json"},
      {{"-", "--json"}, "=- json="},
      // A value is what follows its option, even one that looks like an option.
      {{"-o", "--json"}, "output=--json"},
      {{"-o", "--help", "a.txt"}, "output=--help =a.txt"},
      {{"--output", "-q", "-l", "-h"}, "output=-q level=-h"},
      {{"--output=--json", "-o-h"}, "output=--json output=-h"},
  };
  for (const auto& [arguments, read] : cases) {
    EXPECT_EQ(Read(arguments), read) << ::testing::PrintToString(arguments);
  }
}

// The first fault is the one reported; the reading goes on past it, so that a later --help
// still counts, but not into the rest of a group whose unknown letter may have taken it.
TEST(CommandLine, RefusesWhatItCannotRead) {
  struct Case {
    Arguments arguments;
    const char* message;
    const char* read_beside;
  };
  const Case cases[] = {
      {{"--bogus"}, "unknown option --bogus", ""},
      {{"-z"}, "unknown option -z", ""},
      {{"-qz"}, "unknown option -z", "quiet="},
      {{"--quiet=yes"}, "--quiet takes no value", ""},
      {{"in", "-o"}, "-o needs a value", "=in"},
      {{"--level"}, "--level needs a value", ""},
      {{"--bogus", "--help"}, "unknown option --bogus", "help="},
      {{"--bogus=-h", "x"}, "unknown option --bogus", "=x"},
      {{"-zh", "-q"}, "unknown option -z", "quiet="},
      {{"--json=1", "--frob", "-l"}, "--json takes no value", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.arguments));
    std::string error, read;
    EXPECT_EQ(Read(c.arguments, &error, &read), "error");
    EXPECT_EQ(error, c.message);
    EXPECT_EQ(read, c.read_beside);
  }
}

TEST(CommandLine, HelpLinesKeepOneColumn) {
  EXPECT_EQ(OptionHelpLine(kOutput), "  -o, --output FILE        where to write\n");
  EXPECT_EQ(OptionHelpLine(kJson), "      --json               one JSON object\n");
  const OptionSpec long_name{nullptr, "a-very-long-option-name", "VALUE", "first\nsecond"};
  EXPECT_EQ(OptionHelpLine(long_name), std::string("      --a-very-long-option-name VALUE\n") +
                                           std::string(27, ' ') + "first\n" + std::string(27, ' ') +
                                           "second\n");
  EXPECT_EQ(OptionHelp(kOptions).find("--help"), std::string::npos);  // no help text: not shown
}

// The reader wired into a command: attached values, "=" values and a file named like an option.
TEST(CommandLine, BuildTakesTheConventionalForms) {
  test::TempFile stub(test::FakeStub(), "stub.exe");
  std::string folder = stub.folder();
  std::ofstream(folder + "/-dash.txt") << "a file whose name starts with a dash";
  test::RunResult built = test::RunTool("build --stub=" + stub.path() + " -o" + folder +
                                        "/out.exe -l0 --caption='A B' " + "--quiet-success -- " +
                                        folder + "/-dash.txt");
  ASSERT_EQ(built.status, 0) << built.output;
  test::RunResult info = test::RunTool("info " + folder + "/out.exe");
  EXPECT_NE(info.output.find("\"A B\""), std::string::npos) << info.output;
  EXPECT_NE(info.output.find("quiet-success"), std::string::npos) << info.output;
  test::RunResult listed = test::RunTool("list " + folder + "/out.exe");
  EXPECT_NE(listed.output.find("stored    -dash.txt"), std::string::npos) << listed.output;
}

// --help and --json count only where they stand as options, read in the same pass as the
// rest: as an option's value they are that value. Where --help does stand, the help wins
// over anything else on the line, and nothing is written.
TEST(CommandLine, HelpAndJsonCountOnlyAsOptions) {
  test::TempFile stub(test::FakeStub(), "stub.exe");
  const std::string folder = stub.folder();
  std::ofstream(folder + "/a.txt") << "packed";
  const std::string tool = "cd '" + folder + "' && SELFX_STUB=stub.exe " + SELFX_TOOL_PATH;

  test::RunResult caption = test::RunShell(tool + " build --caption --json -o o.exe a.txt");
  ASSERT_EQ(caption.status, 0) << caption.output;
  EXPECT_EQ(caption.output.rfind("o.exe: ", 0), 0u) << caption.output;
  EXPECT_EQ(caption.output.find('{'), std::string::npos) << caption.output;
  test::RunResult info = test::RunShell(tool + " info --json o.exe");
  EXPECT_NE(info.output.find("\"caption\":\"--json\""), std::string::npos) << info.output;

  test::RunResult named_help = test::RunShell(tool + " build -o --help a.txt");
  EXPECT_EQ(named_help.status, 0) << named_help.output;
  EXPECT_EQ(named_help.output.rfind("--help: ", 0), 0u) << named_help.output;
  EXPECT_TRUE(std::filesystem::is_regular_file(folder + "/--help"));

  struct Case {
    const char* arguments;  // stdout alone
    int status;
    const char* output;  // what stdout starts with
  };
  const Case cases[] = {
      {"test -qh o.exe", 0, "usage: selfx test [options] FILE\n"},
      {"info --bogus --help", 0, "usage: selfx info [--json] FILE\n"},
      {"info --json --help o.exe", 0, "usage: selfx info [--json] FILE\n"},
      {"build -l99 -o new.exe --json -qh a.txt", 0, "usage: selfx build [options]"},
      {"list --bogus --json o.exe", 2,
       "{\"error\":\"unknown option --bogus (see selfx help list)\",\"errors\":[\"unknown "
       "option --bogus (see selfx help list)\"],\"exit_status\":2}\n"},
      {"test --password-file --json o.exe", 1, ""},
      {"extract --json -d", 2, "{\"error\":\"-d needs a value (see selfx help extract)\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments);
    test::RunResult run = test::RunShell(tool + " " + c.arguments + " 2>/dev/null");
    EXPECT_EQ(run.status, c.status) << run.output;
    EXPECT_EQ(run.output.rfind(c.output, 0), 0u) << run.output;
    if (*c.output == '\0') {
      EXPECT_EQ(run.output, "");
    }
    // Help comes alone, without a JSON object after it.
    if (c.status == 0) {
      EXPECT_EQ(run.output.find("exit_status"), std::string::npos) << run.output;
    }
  }
  EXPECT_FALSE(std::filesystem::exists(folder + "/new.exe"));
}

}  // namespace
}  // namespace selfx::cli
