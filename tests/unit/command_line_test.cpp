// How every selfx command reads its arguments.

#include <gtest/gtest.h>

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

// The items as "name=value" (an operand as "=value"), to compare in one line.
std::string Read(const Arguments& arguments, std::string* error = nullptr) {
  std::vector<CommandLineItem> items;
  std::string error_text;
  if (!ReadCommandLine(arguments, kOptions, items, error_text)) {
    if (error != nullptr) *error = error_text;
    return "error";
  }
  std::string read;
  for (const CommandLineItem& item : items) {
    if (!read.empty()) read += " ";
    read += (item.option != nullptr ? item.option->long_name : "") + std::string("=") + item.value;
  }
  return read;
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
      {{"-o", "--json"}, "output=--json"},  // a value may look like an option
  };
  for (const auto& [arguments, read] : cases) {
    EXPECT_EQ(Read(arguments), read) << ::testing::PrintToString(arguments);
  }
}

TEST(CommandLine, RefusesWhatItCannotRead) {
  const std::pair<Arguments, const char*> cases[] = {
      {{"--bogus"}, "unknown option --bogus"}, {{"-z"}, "unknown option -z"},
      {{"-qz"}, "unknown option -z"},          {{"--quiet=yes"}, "--quiet takes no value"},
      {{"in", "-o"}, "-o needs a value"},      {{"--level"}, "--level needs a value"},
  };
  for (const auto& [arguments, message] : cases) {
    std::string error;
    EXPECT_EQ(Read(arguments, &error), "error") << ::testing::PrintToString(arguments);
    EXPECT_EQ(error, message);
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

}  // namespace
}  // namespace selfx::cli
