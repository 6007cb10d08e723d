// Combined programs for the tests: the stub's bytes, a configuration block with its
// trailer, and a ZIP archive, written into the test's work folder and started from there.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/zip_writer.h"
#include "harness.h"

namespace e2e {

// The tests' ZIP writer (tests/common), under the names the suites use.
using test_zip::AppendLe16;
using test_zip::AppendLe32;
using test_zip::Crc32;
using test_zip::kCentralNameLength;
using test_zip::kEndCommentLength;
using test_zip::kEndRecordSize;
using test_zip::kEndTotalEntries;
using test_zip::MakeStoredZip;
using test_zip::PutLe16;
using test_zip::PutLe32;
using test_zip::ZipImage;
using test_zip::ZipMember;

// The configuration block as a builder writes it. Strings are written with their lengths;
// `padding` is left between the message and the trailer.
struct BlockSettings {
  std::uint16_t options = 0;
  std::uint8_t overwrite_mode = 0;
  std::string caption;
  std::string folder;
  std::string command;
  std::string message;
  std::uint32_t message_style = 0;
  std::string padding;
};

// Field offsets of the block and the trailer, for tests that damage them.
constexpr std::size_t kBlockSignature = 0;
constexpr std::size_t kBlockLength = 4;
constexpr std::size_t kBlockFixedSize = 18;
constexpr std::size_t kTrailerSize = 8;

// The block followed by its 8-byte trailer.
std::vector<std::uint8_t> EncodeBlock(const BlockSettings& settings);

struct CombinedFile {
  std::vector<std::uint8_t> bytes;
  std::size_t block_start = 0;  // where the stub's image ends
  std::size_t trailer_start = 0;
  std::size_t archive_start = 0;  // the first byte behind the trailer
};

// stub + block + trailer + `archive`.
CombinedFile Combine(const std::vector<std::uint8_t>& stub, const BlockSettings& settings,
                     const std::vector<std::uint8_t>& archive);

// The block's size with its trailer, so that a test can place an archive with absolute
// offsets before the file is put together.
std::size_t EncodedBlockSize(const BlockSettings& settings);

// The built stub (environment SELFX_STUB), read once.
const std::vector<std::uint8_t>& StubBytes();

// The stub the builder packs with (environment SELFX_BUILDER_STUB): the stub itself, or in
// the 64-bit test build a 32-bit one, as the builder packs with no other.
std::string BuilderStubPath();
// `built`, a file the builder wrote with the builder's stub, with the stub under test in
// front of what the builder appended to its image. The stub finds the ZIP offsets from where
// its end record lies, so the archive behind needs no change.
std::vector<std::uint8_t> WithStubUnderTest(const std::vector<std::uint8_t>& built);

// Runs combined programs: each test writes its files into its own folder under
// SELFX_E2E_WORK (or the temporary folder), named after the test.
class StubTest : public testing::Test {
 protected:
  void SetUp() override;

  // Writes `bytes` as `<name>.exe` into the test's folder and starts it there.
  Process Run(const std::vector<std::uint8_t>& bytes, const std::string& name = "archive",
              bool suspended = false);
  std::string ProgramPath(const std::string& name) const { return folder_ + "\\" + name + ".exe"; }
  Process Run(const CombinedFile& file, const std::string& name = "archive") {
    return Run(file.bytes, name);
  }

  std::string folder_;  // the test's own folder, emptied at the start
};

// The message every damaged file ends with, in an error box that ends the program with 1.
constexpr const char* kCorruptMessage = "Cannot unzip: file is corrupt.";
// `before_dialog`: the fault lies in the configuration block, which is read before the
// main dialog exists.
void ExpectCorruptFileEnd(Process& process, bool before_dialog);

// The main dialog: the dialog with the file list, control 401. Gives nothing when a message
// box appears first or the program ends.
constexpr int kFileListId = 401;
constexpr int kCloseId = 2;
HWND WaitForMainDialog(const Process& process, DWORD timeout_ms = kWindowTimeoutMs);

// Closes the main dialog with its Close button and expects exit code 0.
void ExpectCloseEndsWithZero(Process& process, HWND dialog);

}  // namespace e2e
