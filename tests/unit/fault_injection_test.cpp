// Fault injection: small combined files made by selfx build (stored, deflated and encrypted
// entries) with every single bit of their configuration block, trailer and archive flipped in
// turn, and cut at every length, each run through the whole path in-process: configuration,
// directory, and every entry decoded and checked. Under the sanitizer preset this is also a
// hunt for memory faults. Each run must either give back the right bytes for an entry or end
// with one of the program's own messages; a crash, a hang or a sanitizer report is a fault.
//
// SELFX_FAULT_STRIDE=N tries every Nth bit only (1, the default, tries them all).

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>

#include "app/config_block.h"
#include "app/session.h"
#include "archive/archive_file.h"
#include "archive/directory.h"
#include "archive/entry_extraction.h"
#include "archive/extraction.h"
#include "archive/zip_signatures.h"
#include "codec_test_support.h"
#include "scripted_ui.h"
#include "test_support.h"

namespace selfx {
namespace {

namespace fs = std::filesystem;

// The program's own messages: anything else shown is a fault of the test's subject.
bool IsOwnMessage(const std::string& text) {
  static const std::regex kOwn(
      "Cannot unzip: file is corrupt\\.|Error reading zip .*|CRC-32 error in .*|"
      "Unknown compression type|Cannot close .*");
  return std::regex_match(text, kOwn);
}

struct Sample {
  const char* what;
  const char* options;  // for selfx build
};

const Sample kSamples[] = {
    {"deflated and stored", ""},
    {"stored only", "-l0"},
    {"encrypted", "--password-file {}/password.txt"},
};

// The files packed into every sample, by name, with their bytes.
const std::vector<std::pair<std::string, std::string>> kFiles = {
    {"a.txt", "A small text that deflate shrinks: text text text text text text text.\n"},
    {"b.bin", std::string("\x01\x7F\xFE\x80\x00\x13\x37\xC0\xDE\xAD\xBE\xEF\x42\x99\x10\x55", 16)},
    {"sub/c.txt", "the third file, in a folder of its own; the third file again.\n"},
};

class FaultInjection : public ::testing::TestWithParam<Sample> {
 protected:
  void SetUp() override {
    codec_test::EnsureCodecTables();
    PrepareZipSignatures();
  }

  // Runs one damaged file; false when it ended in a way that is not the program's own.
  struct Outcome {
    bool ended = false;     // a fatal message ended the run
    int right_entries = 0;  // entries whose bytes came back right
  };
  Outcome Run(const test::Bytes& file, std::uint32_t overlay_start, const std::string& output) {
    int descriptor = ::memfd_create("damaged", 0);
    EXPECT_GE(descriptor, 0);
    EXPECT_EQ(::write(descriptor, file.data(), file.size()), static_cast<ssize_t>(file.size()));
    TheScriptedUi.Reset();
    Outcome outcome;
    Session session;
    Extraction& extraction = session.extraction;
    extraction.password = "password";
    extraction.output_path = output;
    if (!OpenArchiveFile(extraction.archive, "/proc/self/fd/" + std::to_string(descriptor))) {
      ADD_FAILURE() << "cannot open the damaged file";
    }
    StartupOutcome startup = LoadConfigAt(session, overlay_start);
    if (startup == StartupOutcome::kCorrupt) {
      extraction.fault = Fault::kCorrupt;
    } else if (startup == StartupOutcome::kProceed && LoadDirectory(extraction, true)) {
      for (std::size_t i = 0; i < extraction.entries.size() && i < 8; ++i) {
        EntryOutcome entry = ExtractEntry(extraction, i);
        if (entry == EntryOutcome::kFatal) break;
        if (entry == EntryOutcome::kDone) {
          // A file that passed its CRC check holds one of the files packed, or nothing (a
          // folder entry whose name lost its "/" is an empty file).
          std::string extracted = test::ReadFileText(output);
          bool packed = extracted.empty();
          for (const auto& file : kFiles) packed = packed || extracted == file.second;
          EXPECT_TRUE(packed) << extraction.entries[i].name << ": " << extracted;
          ++outcome.right_entries;
        }
      }
    }
    if (extraction.fault != Fault::kNone) {
      outcome.ended = true;
      EXPECT_TRUE(IsOwnMessage(FaultMessage(extraction))) << FaultMessage(extraction);
    }
    CloseArchiveFiles(extraction);
    ::close(descriptor);
    // Error boxes only: a flipped bit may well give the file a start-up question, whose text
    // and caption come from the file itself.
    for (const ShownMessage& message : TheScriptedUi.messages) {
      if (message.caption == "Error") {
        EXPECT_TRUE(IsOwnMessage(message.text)) << message.text;
      }
    }
    return outcome;
  }
};

TEST_P(FaultInjection, EveryFlipAndCutEndsSoundly) {
  const Sample& sample = GetParam();
  test::TempFile stub(test::FakeStub(), "stub.exe");
  const std::string folder = stub.folder();
  for (const auto& [name, bytes] : kFiles) {
    fs::create_directories(fs::path(folder + "/in/" + name).parent_path());
    std::ofstream(folder + "/in/" + name, std::ios::binary) << bytes;
  }
  std::ofstream(folder + "/password.txt") << "password\n";
  std::string options = sample.options;
  if (options.find("{}") != std::string::npos) options.replace(options.find("{}"), 2, folder);
  test::RunResult built = test::RunTool("build --quiet --stub " + stub.path() + " -o " + folder +
                                        "/out.exe " + options + " " + folder + "/in");
  ASSERT_EQ(built.status, 0) << built.output;
  std::ifstream in(folder + "/out.exe", std::ios::binary);
  const test::Bytes original((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
  const auto overlay_start = static_cast<std::uint32_t>(test::FakeStub().size());
  const std::string output = folder + "/extracted";

  // The undamaged file gives every entry back: the check itself works.
  Outcome sound = Run(original, overlay_start, output);
  ASSERT_FALSE(sound.ended);
  ASSERT_EQ(sound.right_entries, static_cast<int>(kFiles.size()));

  const char* stride_text = std::getenv("SELFX_FAULT_STRIDE");
  const std::size_t stride = stride_text != nullptr ? std::max(1, std::atoi(stride_text)) : 1;
  auto start = std::chrono::steady_clock::now();
  std::size_t flips = 0, cuts = 0, ended = 0;
  test::Bytes damaged = original;
  for (std::size_t bit = overlay_start * 8u; bit < original.size() * 8; bit += stride) {
    damaged[bit / 8] ^= static_cast<std::uint8_t>(1u << (bit % 8));
    SCOPED_TRACE("bit " + std::to_string(bit % 8) + " of byte " + std::to_string(bit / 8));
    ended += Run(damaged, overlay_start, output).ended ? 1 : 0;
    damaged[bit / 8] = original[bit / 8];
    ++flips;
    if (HasFailure()) return;  // one report is enough; the rest would repeat it
  }
  for (std::size_t length = overlay_start; length < original.size(); ++length) {
    SCOPED_TRACE("cut at " + std::to_string(length));
    ended += Run(test::Bytes(original.begin(),
                             original.begin() + static_cast<std::ptrdiff_t>(length)),
                 overlay_start, output)
                     .ended
                 ? 1
                 : 0;
    ++cuts;
    if (HasFailure()) return;
  }
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf(
      "%s: %zu bytes behind the stub, %zu flips and %zu cuts in %.1f s; %zu ended with a "
      "fatal message\n",
      sample.what, original.size() - overlay_start, flips, cuts, seconds, ended);
}

INSTANTIATE_TEST_SUITE_P(Samples, FaultInjection, ::testing::ValuesIn(kSamples),
                         [](const ::testing::TestParamInfo<Sample>& info) {
                           std::string name = info.param.what;
                           for (char& c : name)
                             c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                           return name;
                         });

}  // namespace
}  // namespace selfx
