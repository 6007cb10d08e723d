// The configuration block: its layout, LoadConfig's checks and the start-up question.

#include <gtest/gtest.h>

#include "app/config_block.h"
#include "app/session.h"
#include "app/target_folder.h"
#include "archive/archive_file.h"
#include "scripted_ui.h"
#include "test_support.h"

namespace selfx {
namespace {

using test::Append;
using test::Bytes;

// Stands in for the stub's image: the block begins right behind these bytes.
constexpr std::uint32_t kImageSize = 64;

// The file opened as a session's archive, its block loaded as the stub's start-up loads it.
struct Loaded {
  Session session;
  std::unique_ptr<test::TempFile> file;
  StartupOutcome outcome = StartupOutcome::kProceed;
  const SfxConfigState& config() const { return session.config; }
  std::uint32_t archive_start() const { return session.extraction.archive.start; }
};

std::unique_ptr<Loaded> Load(const Bytes& file_bytes, std::vector<int> answers = {}) {
  auto loaded = std::make_unique<Loaded>();
  loaded->file = test::OpenAsArchive(file_bytes, loaded->session.extraction);
  TheScriptedUi.answers = std::move(answers);
  loaded->outcome = LoadConfigAt(loaded->session, kImageSize);
  return loaded;
}

Bytes FixedPart(std::uint16_t block_length, std::uint16_t options, std::uint8_t mode,
                std::uint8_t caption, std::uint8_t folder, std::uint8_t command,
                std::uint8_t message, std::uint32_t style) {
  Bytes bytes = {0x58, 0x51, 0x00, 0x01};
  Append(bytes, test::Le16(block_length));
  Append(bytes, test::Le16(options));
  bytes.insert(bytes.end(), {mode, caption, folder, command, 0x00, message});
  Append(bytes, test::Le32(style));
  return bytes;
}

// image + block (+ spare bytes) + trailer + a small archive
Bytes CombinedFile(const Bytes& block, const Bytes& trailer) {
  Bytes file(kImageSize, 0xCC);
  Append(file, block);
  Append(file, trailer);
  Append(file, std::string("ZIP"));
  return file;
}

Bytes Trailer(std::uint16_t block_length) {
  Bytes trailer = {0x58, 0x51, 0x0A, 0x01};
  Append(trailer, test::Le32(block_length));
  return trailer;
}

TEST(ConfigBlock, WorkedExampleLoads) {
  Bytes fixed = FixedPart(184, 0x02C5, 2, 19, 2, 10, 133, 0x24);
  ASSERT_EQ(fixed, (Bytes{0x58, 0x51, 0x00, 0x01, 0xB8, 0x00, 0xC5, 0x02, 0x02, 0x13, 0x02, 0x0A,
                          0x00, 0x85, 0x24, 0x00, 0x00, 0x00}));
  Bytes block = fixed;
  Append(block, std::string(19, 'C'));
  Append(block, std::string("$S"));
  Append(block, std::string("setup.exe "));
  Append(block, std::string(133, 'M'));
  Append(block, Bytes{0xEE, 0xEE});  // two bytes the builder left behind the message
  ASSERT_EQ(block.size(), 184u);

  auto loaded = Load(CombinedFile(block, Trailer(184)), {kIdYes});
  EXPECT_EQ(loaded->outcome, StartupOutcome::kProceed);
  EXPECT_EQ(loaded->config().Options(), 0x02C5);
  EXPECT_EQ(loaded->config().OverwriteMode(), kAsk);
  EXPECT_EQ(loaded->session.extraction.overwrite_mode, kAsk);
  EXPECT_EQ(loaded->config().Caption, std::string(19, 'C'));
  EXPECT_EQ(loaded->config().Command, "setup.exe ");
  EXPECT_EQ(loaded->config().Message, std::string(133, 'M'));
  EXPECT_EQ(loaded->archive_start(), kImageSize + 192);
  ASSERT_EQ(TheScriptedUi.messages.size(), 1u);
  EXPECT_EQ(TheScriptedUi.messages[0].flags, 0x24u | kMbTaskModal);
  EXPECT_EQ(TheScriptedUi.messages[0].owner, nullptr);
}

TEST(ConfigBlock, EncoderWritesWhatTheLoaderReads) {
  ConfigSettings settings;
  settings.options = OptAutoRun | OptCancelAllowed;
  settings.overwrite_mode = kDontOverwrite;
  settings.caption = "Setup";
  settings.folder = "C:\\Target";
  settings.command = "run.exe /s";
  settings.message_style = 0x21;
  Bytes block = EncodeConfigBlock(settings);
  ASSERT_EQ(block.size(), 18u + 5 + 9 + 10 + 8);

  DecodedConfig decoded = DecodeConfigBlock(block.data(), block.size());
  ASSERT_TRUE(decoded.found);
  ASSERT_TRUE(decoded.sound);
  EXPECT_EQ(decoded.block_length, 42);
  EXPECT_EQ(decoded.archive_offset, 50u);
  EXPECT_EQ(decoded.settings.options, settings.options);
  EXPECT_EQ(decoded.settings.overwrite_mode, kDontOverwrite);
  EXPECT_EQ(decoded.settings.caption, "Setup");
  EXPECT_EQ(decoded.settings.folder, "C:\\Target");
  EXPECT_EQ(decoded.settings.command, "run.exe /s");
  EXPECT_EQ(decoded.settings.message_style, 0x21u);

  auto loaded = Load(CombinedFile(block, {}));
  EXPECT_EQ(loaded->config().Caption, "Setup");
  EXPECT_EQ(loaded->session.extraction.overwrite_mode, kDontOverwrite);
  EXPECT_EQ(loaded->archive_start(), kImageSize + 50);
  EXPECT_TRUE(TheScriptedUi.messages.empty());
}

TEST(ConfigBlock, DefaultsWithoutTexts) {
  // No caption keeps the default everywhere, the question included; a message style without
  // a message asks nothing; a one-character folder text is the current folder.
  Bytes block = FixedPart(19, 0, 0, 0, 1, 0, 0, 0x24);
  block.push_back('C');
  auto loaded = Load(CombinedFile(block, Trailer(19)));
  EXPECT_EQ(loaded->config().Caption, "Unzip to disk");
  EXPECT_TRUE(TheScriptedUi.messages.empty());
  EXPECT_EQ(loaded->session.target_folder, CurrentFolder());
}

struct QuestionCase {
  std::uint32_t style;
  int answer;
  bool continues;
};

class StartupQuestion : public ::testing::TestWithParam<QuestionCase> {};

TEST_P(StartupQuestion, DecliningEndsBeforeTheTrailerIsRead) {
  const QuestionCase& c = GetParam();
  Bytes block = FixedPart(22, 0, 0, 0, 0, 0, 4, c.style);
  Append(block, std::string("Go??"));
  // The trailer is damaged: only a run that goes on can find out.
  Bytes file_bytes = CombinedFile(block, Bytes{0x58, 0x51, 0x0B, 0x01, 0, 0, 0, 0});
  auto loaded = Load(file_bytes, {c.answer});
  ASSERT_EQ(TheScriptedUi.messages.size(), 1u);
  EXPECT_EQ(TheScriptedUi.messages[0].text, "Go??");
  EXPECT_EQ(loaded->outcome, c.continues ? StartupOutcome::kCorrupt : StartupOutcome::kDeclined);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, StartupQuestion,
    ::testing::Values(QuestionCase{0x24, kIdNo, false}, QuestionCase{0x24, kIdYes, true},
                      QuestionCase{0x00, kIdOk, true}, QuestionCase{0x01, kIdOk, true},
                      QuestionCase{0x01, kIdCancel, false}, QuestionCase{0x02, kIdAbort, false},
                      QuestionCase{0x02, kIdRetry, true}, QuestionCase{0x02, kIdIgnore, true},
                      QuestionCase{0x03, kIdClose, false},
                      QuestionCase{0x24, 0 /* the box could not be shown */, true}));

// What each step of the parser makes of a damaged block. The stub, the tool's commands on
// the archive file and the tool's reader of bytes in memory all go through the same steps;
// the table holds them to the same answers.
struct Damage {
  const char* what;
  Bytes file;  // the image, then what stands behind it
  bool fixed_part;
  bool texts;
  bool trailer;
};

std::vector<Damage> DamageTable() {
  Bytes good_fixed = FixedPart(22, 0, 0, 4, 0, 0, 0, 0);
  Bytes wrong_signature = good_fixed;
  wrong_signature[3] = 0x02;  // "XQ" 00 02
  Bytes short_string = good_fixed;
  Append(short_string, std::string("Ca"));  // four bytes announced, two present
  Bytes good_block = good_fixed;
  Append(good_block, std::string("Capt"));
  Bytes far_trailer = FixedPart(0xFFF0, 0, 0, 0, 0, 0, 0, 0);
  Bytes wrong_trailer = Trailer(22);
  wrong_trailer[2] = 0x0B;
  Bytes half_trailer = CombinedFile(good_block, Trailer(22));
  half_trailer.resize(kImageSize + 22 + 4);  // the signature, not the length behind it
  return {
      {"nothing behind the image", Bytes(kImageSize, 0xCC), false, false, false},
      {"file ends in the fixed part",
       CombinedFile(Bytes(good_fixed.begin(), good_fixed.begin() + 10), {}), false, false, false},
      {"wrong block signature", CombinedFile(wrong_signature, {}), false, false, false},
      {"file ends in a string",
       [&] {
         Bytes f(kImageSize, 0xCC);
         Append(f, short_string);
         return f;
       }(),
       true, false, false},
      {"block length points past the end", CombinedFile(far_trailer, Trailer(0xFFF0)), true, true,
       false},
      {"wrong trailer signature", CombinedFile(good_block, wrong_trailer), true, true, false},
      {"file ends behind the trailer's signature", half_trailer, true, true, true},
  };
}

TEST(ConfigBlock, DamagedBlockStepByStep) {
  for (const Damage& damage : DamageTable()) {
    SCOPED_TRACE(damage.what);
    Extraction extraction;
    auto file = test::OpenAsArchive(damage.file, extraction);
    ArchiveConfigSource from_file(extraction.archive, kImageSize);
    MemoryConfigSource from_memory(damage.file.data() + kImageSize,
                                   damage.file.size() - kImageSize);
    for (ConfigSource* source :
         {static_cast<ConfigSource*>(&from_file), static_cast<ConfigSource*>(&from_memory)}) {
      SfxConfigState block;
      std::string caption, folder, command, message;
      ASSERT_EQ(ReadConfigFixedPart(*source, block), damage.fixed_part);
      if (!damage.fixed_part) continue;
      EXPECT_EQ(ReadConfigTexts(*source, block, {caption, folder, command, message}), damage.texts);
      EXPECT_EQ(ReadConfigTrailer(*source, block).has_value(), damage.trailer);
    }
    // The tool's whole-block reader wants every part, the trailer's length included.
    DecodedConfig decoded = DecodeConfigBlock(damage.file.data() + kImageSize,
                                              damage.file.size() - kImageSize);
    EXPECT_EQ(decoded.found, damage.fixed_part);
    EXPECT_FALSE(decoded.sound);
  }
}

TEST(ConfigBlock, DamageIsCorrupt) {
  for (const Damage& damage : DamageTable()) {
    if (damage.fixed_part && damage.texts && damage.trailer) continue;
    SCOPED_TRACE(damage.what);
    EXPECT_EQ(Load(damage.file)->outcome, StartupOutcome::kCorrupt);
  }
}

TEST(ConfigBlock, ReservedByteAndSpareBytesAreIgnored) {
  Bytes block = FixedPart(30, 0, 1, 2, 0, 0, 0, 0);
  block[12] = 0x7F;
  Append(block, std::string("Hi"));
  Append(block, Bytes(10, 0xAB));
  auto loaded = Load(CombinedFile(block, Trailer(30)));
  EXPECT_EQ(loaded->config().Caption, "Hi");
  EXPECT_EQ(loaded->archive_start(), kImageSize + 38);
}

TEST(ConfigBlock, OverlayStartIsTheFurthestSectionEnd) {
  Bytes image(0x200, 0);
  image[0x3C] = 0x80;   // PE header at 0x80
  image[0x80 + 6] = 3;  // three sections
  auto section = [&](int index, std::uint32_t size, std::uint32_t pointer) {
    std::size_t at = 0x80 + 248 + 40 * static_cast<std::size_t>(index);
    Bytes size_bytes = test::Le32(size), pointer_bytes = test::Le32(pointer);
    std::copy(size_bytes.begin(), size_bytes.end(), image.begin() + at + 16);
    std::copy(pointer_bytes.begin(), pointer_bytes.end(), image.begin() + at + 20);
  };
  section(0, 0x1000, 0x400);
  section(1, 0x200, 0x3000);  // the last in the file, not the last in the table
  section(2, 0x800, 0x1400);
  EXPECT_EQ(FindOverlayStart(image.data()), 0x3200u);
  image[0x80 + 6] = 0;
  EXPECT_EQ(FindOverlayStart(image.data()), 0u);
}

}  // namespace
}  // namespace selfx
