// The small routines every message and path is built with.

#include <gtest/gtest.h>

#include "app/command.h"
#include "app/config_block.h"
#include "app/target_folder.h"
#include "archive/paths.h"
#include "base/text.h"
#include "base/utf8.h"
#include "platform/posix_paths.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace selfx {
namespace {

TEST(Text, FormatWith) {
  EXPECT_EQ(FormatWith("Cannot write to %s", "C:\\a.txt"), "Cannot write to C:\\a.txt");
  EXPECT_EQ(FormatWith("no placeholder", "x"), "no placeholder");
  EXPECT_EQ(FormatWith("%s and %s", "one"), "one and %s");
}

TEST(Text, DecimalText) {
  EXPECT_EQ(DecimalText(0), "0");
  EXPECT_EQ(DecimalText(1234), "1234");
  EXPECT_EQ(DecimalText(4294967295u), "4294967295");
  EXPECT_EQ(DecimalText(7, 4), "0007");
  EXPECT_EQ(DecimalText(12345, 4), "12345");
}

TEST(Text, Utf8SequenceLength) {
  const std::pair<const char*, std::size_t> cases[] = {
      {"a", 1},
      {"\xC3\xA9", 2},          // U+00E9
      {"\xE2\x82\xAC", 3},      // U+20AC
      {"\xF0\x9F\x98\x80", 4},  // U+1F600
      {"\xC0\xAF", 0},          // an overlong "/"
      {"\xE0\x80\xAF", 0},      // another
      {"\xED\xA0\x80", 0},      // a surrogate
      {"\xF4\x90\x80\x80", 0},  // past U+10FFFF
      {"\xE2\x82", 0},          // cut short
      {"\x80", 0},              // a lone continuation byte
      {"\xC3(", 0},             // a lead byte without its continuation
  };
  for (const auto& [text, length] : cases) {
    EXPECT_EQ(Utf8SequenceLength(text, 0), length) << text;
  }
}

TEST(Text, Utf8ToUtf16) {
  const std::pair<const char*, std::u16string> cases[] = {
      {"a\xC3\xA9\xE2\x82\xAC", u"a\u00E9\u20AC"},
      {"\xEF\xBF\xBD", u"\uFFFD"},  // U+FFFD itself
      {"\xEF\xBF\xBF", u"\uFFFF"},  // the last unit of the plane
      {"\xF0\x9F\x98\x80", u"\uFFFD"},
      {"\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},  // overlong: each byte on its own
      {"\xE2\x82", u"\uFFFD"},                  // cut: one for the whole start
      {"\xF4\x8F\xBF\xBF", u"\uFFFD"},          // U+10FFFF, well-formed but beyond the plane
  };
  for (const auto& [text, units] : cases) {
    std::string bytes = text;
    std::u16string decoded(bytes.size(), u'\0');
    decoded.resize(Utf8ToUtf16(bytes.data(), bytes.size(), &decoded[0]));
    EXPECT_EQ(decoded, units) << text;
  }
}

TEST(Text, EscapeControlCharacters) {
  struct Case {
    const char* text;
    bool utf8_terminal;
    const char* escaped;
  };
  const Case cases[] = {
      {"plain name.txt", true, "plain name.txt"},
      {"a\x1B]0;title\x07"
       "b\rc",
       true, "a\\x1B]0;title\\x07b\\x0Dc"},
      {"del\x7F", false, "del\\x7F"},
      {"Gr\xC3\xBC\xC3\x9F"
       "e",
       true,
       "Gr\xC3\xBC\xC3\x9F"
       "e"},  // UTF-8 stays
      {"csi\xC2\x9B"
       "2J",
       true, "csi\\xC2\\x9B2J"},                // U+009B is a control
      {"lone\x9B", true, "lone\\x9B"},          // not UTF-8
      {"ansi\x9B\xE9", false, "ansi\x9B\xE9"},  // printable in code pages
  };
  for (const Case& test : cases) {
    EXPECT_EQ(EscapeControlCharacters(test.text, test.utf8_terminal), test.escaped) << test.text;
  }
}

TEST(Paths, ParentAndName) {
  const std::pair<const char*, const char*> parents[] = {
      {"C:\\a\\b.txt", "C:\\a"}, {"C:\\b.txt", "C:\\"}, {"C:\\", "C:\\"},
      {"C:b.txt", "C:"},         {"b.txt", ""},         {"a/b", "a"},
  };
  for (const auto& [path, parent] : parents) EXPECT_EQ(ParentFolder(path), parent) << path;
  const std::pair<const char*, const char*> names[] = {
      {"C:\\a\\b.txt", "b.txt"},
      {"b.txt", "b.txt"},
      {"C:\\a\\", ""},
      {"x/y:z", "z"},
  };
  for (const auto& [path, name] : names) EXPECT_EQ(FileNamePart(path), name) << path;
}

TEST(Paths, TrailingBackslashes) {
  EXPECT_EQ(WithTrailingBackslash(""), "");
  EXPECT_EQ(WithTrailingBackslash("C:\\x"), "C:\\x\\");
  EXPECT_EQ(WithTrailingBackslash("C:\\x\\"), "C:\\x\\");
  EXPECT_EQ(WithoutTrailingBackslashes("C:\\x\\\\\\"), "C:\\x");
  EXPECT_EQ(WithoutTrailingBackslashes("\\\\"), "");
}

TEST(Command, PartsAndTexts) {
  struct Case {
    const char* command;
    const char* file;
    const char* parameters;
    const char* label;
    const char* failure;
  };
  const Case cases[] = {
      {"readme.htm", "readme.htm", "", "After unzip, run readme.htm ", "Cannot run readme.htm "},
      {"C:\\Tools\\view.exe D:\\Docs\\guide.txt", "C:\\Tools\\view.exe", "D:\\Docs\\guide.txt",
       "After unzip, run view.exe guide.txt", "Cannot run view.exe guide.txt"},
      {"setup.exe /s /v", "setup.exe", "/s /v", "After unzip, run setup.exe v",
       "Cannot run setup.exe v"},
      {"C:\\Program Files\\x.exe", "C:\\Program", "Files\\x.exe", "After unzip, run Program x.exe",
       "Cannot run Program x.exe"},
      {" lead.exe", "", "lead.exe", "After unzip, run  lead.exe", "Cannot run  lead.exe"},
      // The placeholders are filled in turn: a "%s" in the file's name takes the parameters.
      {"a%sb.exe x", "a%sb.exe", "x", "After unzip, run axb.exe %s", "Cannot run axb.exe %s"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    EXPECT_EQ(CommandFile(c.command), c.file);
    EXPECT_EQ(CommandParameters(c.command), c.parameters);
    EXPECT_EQ(RunCheckboxText(c.command), c.label);
    EXPECT_EQ(RunFailureText(c.command), c.failure);
  }
}

TEST(TargetFolder, RegistryMacros) {
  struct Case {
    const char* text;
    RegistryRoot root;
    const char* key;
    const char* value;
    const char* suffix;
  };
  const Case cases[] = {
      {"$HLM\\Software\\Example\\Setup\\Path", RegistryRoot::LocalMachine,
       "Software\\Example\\Setup", "Path", ""},
      {"$HLM\\Software\\Example\\Setup\\Path+\\Data", RegistryRoot::LocalMachine,
       "Software\\Example\\Setup", "Path", "\\Data"},
      {"$HLM\\Software\\Example\\Setup\\", RegistryRoot::LocalMachine, "Software\\Example\\Setup\\",
       "", ""},
      {"$hlm\\Key\\V+a+b", RegistryRoot::LocalMachine, "Key", "V", "a+b"},
      {"$CURUSER\\Key", RegistryRoot::CurrentUser, "Key", "", ""},
      {"$H\\Key\\V", RegistryRoot::CurrentUser, "Key", "V", ""},
      {"$USERS\\K\\V", RegistryRoot::Users, "K", "V", ""},
      {"$HU\\Software\\Example\\Path", RegistryRoot::Users, "Software\\Example", "Path", ""},
      {"$LOCAL\\K\\V", RegistryRoot::LocalMachine, "K", "V", ""},
      {"$HKLM\\Software", RegistryRoot::None, "Software", "", ""},
      // A shortened macro selects the first macro it is the start of.
      {"$CUR\\K\\V", RegistryRoot::CurrentUser, "K", "V", ""},
      {"$USER\\K\\V", RegistryRoot::Users, "K", "V", ""},
      {"$s", RegistryRoot::None, "", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    RegistryMacro macro = ParseRegistryMacro(c.text);
    EXPECT_EQ(macro.root, c.root);
    EXPECT_EQ(macro.key_path, c.key);
    EXPECT_EQ(macro.value_name, c.value);
    EXPECT_EQ(macro.suffix, c.suffix);
  }
}

TEST(TargetFolder, AsciiUpperCaseLeavesOtherBytes) {
  EXPECT_EQ(AsciiUpperCase("$hlm\xE9z"), "$HLM\xE9Z");
}

}  // namespace
}  // namespace selfx

namespace selfx {
namespace {

// The folder text resolved on this host: environment expansion, macros and full paths.
class ResolveFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/selfx-folder-XXXXXX";
    temp_ = ::mkdtemp(pattern);
    saved_temp_ = std::getenv("TEMP") ? std::getenv("TEMP") : "";
    ::setenv("TEMP", temp_.c_str(), 1);
  }
  void TearDown() override {
    if (saved_temp_.empty()) {
      ::unsetenv("TEMP");
    } else {
      ::setenv("TEMP", saved_temp_.c_str(), 1);
    }
    std::filesystem::remove_all(temp_);
  }
  std::string Resolve(const std::string& text) {
    return ResolveTargetFolder(static_cast<std::uint8_t>(text.size()), text);
  }
  std::string temp_;
  std::string saved_temp_;
};

TEST_F(ResolveFolder, TempFolderMacroTakesTheFirstFreeName) {
  std::string base = platform::FromPosixPath(temp_) + "\\_zip";
  EXPECT_EQ(Resolve("$T"), base + "0000");
  std::filesystem::create_directory(temp_ + "/_zip0000");
  std::ofstream(temp_ + "/_zip0001") << "a file takes the name as well";
  EXPECT_EQ(Resolve("$Tanything"), base + "0002");
}

TEST_F(ResolveFolder, ShortTextsAndPlainPaths) {
  std::string current = CurrentFolder();
  EXPECT_EQ(Resolve(""), current);
  EXPECT_EQ(Resolve("."), current);
  EXPECT_EQ(Resolve("Q"), current);
  EXPECT_EQ(Resolve("ab"), current + "\\ab");
  EXPECT_EQ(Resolve("%TEMP%\\x\\..\\y"), platform::FromPosixPath(temp_) + "\\y");
  // Lower-case $s is a registry macro without a key: nothing resolves.
  EXPECT_EQ(Resolve("$s"), "");
  EXPECT_EQ(Resolve("$HKLM\\Software"), "");
  // An undefined variable stays as written, under the current folder.
  ::unsetenv("SELFX_UNDEFINED_VARIABLE");
  EXPECT_EQ(Resolve("%SELFX_UNDEFINED_VARIABLE%\\z"), current + "\\%SELFX_UNDEFINED_VARIABLE%\\z");
}

TEST_F(ResolveFolder, ResultsThatDoNotFitAreEmpty) {
  ::setenv("SELFX_LONG_VALUE", std::string(600, 'v').c_str(), 1);
  EXPECT_EQ(ExpandEnvironment("%SELFX_LONG_VALUE%"), "");
  EXPECT_EQ(Resolve("%SELFX_LONG_VALUE%"), "");
  EXPECT_EQ(FullPathOf("\\" + std::string(530, 'p')), "");
  EXPECT_EQ(ExpandEnvironment(std::string(518, 'e')), std::string(518, 'e'));
}

}  // namespace
}  // namespace selfx
