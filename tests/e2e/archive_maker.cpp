#include "archive_maker.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace e2e {

namespace {

std::string FolderName(std::string name) {
  std::replace_if(
      name.begin(), name.end(),
      [](char c) { return !(std::isalnum(static_cast<unsigned char>(c)) || c == '_'); }, '_');
  return name;
}

std::string WorkFolder() {
  std::string work = PathFromEnvironment("SELFX_E2E_WORK");
  if (work.empty()) {
    char temporary[MAX_PATH + 1] = {};
    GetTempPathA(sizeof(temporary), temporary);
    work = std::string(temporary) + "selfx-e2e";
  }
  return work;
}

// Saves the screen when a check of a test first fails, while the program's windows are
// still up: the picture goes beside the test's files as failure.bmp.
class ScreenshotOnFailure : public testing::EmptyTestEventListener {
  void OnTestStart(const testing::TestInfo&) override { saved_ = false; }
  void OnTestPartResult(const testing::TestPartResult& result) override {
    if (saved_ || !result.failed()) return;
    saved_ = true;
    const auto* test = testing::UnitTest::GetInstance()->current_test_info();
    if (test == nullptr) return;
    const std::string folder = WorkFolder() + "\\" +
                               FolderName(std::string(test->test_suite_name()) + "." +
                                          test->name());
    if (MakeFolders(folder) && SaveScreenshot(folder + "\\failure.bmp")) {
      std::printf("screen saved to %s\\failure.bmp\n", folder.c_str());
    }
  }
  bool saved_ = false;
};

const bool kScreenshotListenerAdded = [] {
  testing::UnitTest::GetInstance()->listeners().Append(new ScreenshotOnFailure);
  return true;
}();

}  // namespace

std::vector<std::uint8_t> EncodeBlock(const BlockSettings& settings) {
  std::vector<std::uint8_t> block = {'X', 'Q', 0x00, 0x01};
  const std::size_t length = kBlockFixedSize + settings.caption.size() + settings.folder.size() +
                             settings.command.size() + settings.message.size() +
                             settings.padding.size();
  AppendLe16(block, static_cast<std::uint16_t>(length));
  AppendLe16(block, settings.options);
  block.push_back(settings.overwrite_mode);
  block.push_back(static_cast<std::uint8_t>(settings.caption.size()));
  block.push_back(static_cast<std::uint8_t>(settings.folder.size()));
  block.push_back(static_cast<std::uint8_t>(settings.command.size()));
  block.push_back(0);  // reserved
  block.push_back(static_cast<std::uint8_t>(settings.message.size()));
  AppendLe32(block, settings.message_style);
  for (const std::string* text : {&settings.caption, &settings.folder, &settings.command,
                                  &settings.message, &settings.padding}) {
    block.insert(block.end(), text->begin(), text->end());
  }
  const std::uint8_t trailer_signature[] = {'X', 'Q', 0x0A, 0x01};
  block.insert(block.end(), std::begin(trailer_signature), std::end(trailer_signature));
  AppendLe32(block, static_cast<std::uint32_t>(length));
  return block;
}

std::size_t EncodedBlockSize(const BlockSettings& settings) { return EncodeBlock(settings).size(); }

CombinedFile Combine(const std::vector<std::uint8_t>& stub, const BlockSettings& settings,
                     const std::vector<std::uint8_t>& archive) {
  CombinedFile file;
  file.bytes = stub;
  file.block_start = file.bytes.size();
  const auto block = EncodeBlock(settings);
  file.bytes.insert(file.bytes.end(), block.begin(), block.end());
  file.archive_start = file.bytes.size();
  file.trailer_start = file.archive_start - kTrailerSize;
  file.bytes.insert(file.bytes.end(), archive.begin(), archive.end());
  return file;
}

const std::vector<std::uint8_t>& StubBytes() {
  static const std::vector<std::uint8_t> bytes = ReadFileBytes(PathFromEnvironment("SELFX_STUB"));
  return bytes;
}

std::string BuilderStubPath() {
  const std::string path = PathFromEnvironment("SELFX_BUILDER_STUB");
  return path.empty() ? PathFromEnvironment("SELFX_STUB") : path;
}

namespace {

// Where the raw data of the PE image's last section ends; 0 when `file` is no PE image.
std::size_t ImageEnd(const std::vector<std::uint8_t>& file) {
  auto load = [&file](std::size_t at, std::size_t size) -> std::uint32_t {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < size && at + i < file.size(); ++i) {
      value |= static_cast<std::uint32_t>(file[at + i]) << (8 * i);
    }
    return value;
  };
  if (file.size() < 0x40) return 0;
  const std::size_t pe = load(0x3C, 4);
  const std::size_t sections = load(pe + 6, 2);
  const std::size_t table = pe + 24 + load(pe + 20, 2);
  std::size_t end = 0;
  for (std::size_t i = 0; i < sections; ++i) {
    end = std::max<std::size_t>(end, load(table + 40 * i + 16, 4) + load(table + 40 * i + 20, 4));
  }
  return std::min(end, file.size());
}

}  // namespace

std::vector<std::uint8_t> WithStubUnderTest(const std::vector<std::uint8_t>& built) {
  if (BuilderStubPath() == PathFromEnvironment("SELFX_STUB")) return built;
  std::vector<std::uint8_t> file = StubBytes();
  file.insert(file.end(), built.begin() + static_cast<std::ptrdiff_t>(ImageEnd(built)),
              built.end());
  return file;
}

void StubTest::SetUp() {
  ASSERT_FALSE(StubBytes().empty())
      << "the stub could not be read: set SELFX_STUB to selfx-stub.exe (now \""
      << PathFromEnvironment("SELFX_STUB") << "\")";
  const auto* test = testing::UnitTest::GetInstance()->current_test_info();
  folder_ = WorkFolder() + "\\" +
            FolderName(std::string(test->test_suite_name()) + "." + test->name());
  // What an earlier run of the test left goes first.
  ASSERT_TRUE(RemoveTree(folder_)) << "cannot empty " << folder_;
  ASSERT_TRUE(MakeFolders(folder_)) << "cannot create " << folder_;
}

Process StubTest::Run(const std::vector<std::uint8_t>& bytes, const std::string& name,
                      bool suspended) {
  const std::string path = ProgramPath(name);
  EXPECT_TRUE(WriteFileBytes(path, bytes)) << "cannot write " << path;
  Process process = Process::Start(path, "", folder_, suspended);
  EXPECT_TRUE(process.started()) << process.error();
  return process;
}

void ExpectCorruptFileEnd(Process& process, bool before_dialog) {
  // A fault in the block must come before any dialog, so a dialog ends the wait at once.
  // A fault in the directory is found while the dialog initialises, and the dialog may
  // already be on the screen then.
  HWND first = WaitForWindow(process, [before_dialog](HWND window) {
    return IsMessageBox(window) || (before_dialog && IsDialogWithControl(window, kFileListId));
  });
  std::optional<MessageBoxInfo> box;
  if (first != nullptr && IsMessageBox(first)) {
    WaitUntilResponding(first);
    box = ReadMessageBox(first);
  }
  ASSERT_TRUE(box.has_value()) << "no message box; the program shows:\n"
                               << DescribeWindows(process.id()) << "running: " << process.running();
  EXPECT_EQ("Error", box->caption);
  EXPECT_EQ(kCorruptMessage, box->text);
  EXPECT_EQ(std::vector<int>{IDOK}, box->ButtonIds());
  EXPECT_EQ(IconName(MessageBoxIcon::kError), IconName(box->icon));
  EXPECT_EQ(nullptr, GetWindow(box->window, GW_OWNER)) << "a fatal error has no owner";
  if (before_dialog) {
    EXPECT_EQ(nullptr, WaitForMainDialog(process, 0));
  }
  ASSERT_TRUE(AnswerMessageBox(*box, IDOK));
  EXPECT_EQ(1u, process.WaitForExit().value_or(0xFFFFFFFF));
}

HWND WaitForMainDialog(const Process& process, DWORD timeout_ms) {
  // A message box instead ends the wait at once: the caller fails and shows it.
  HWND window = WaitForWindow(
      process,
      [](HWND candidate) {
        return IsDialogWithControl(candidate, kFileListId) || IsMessageBox(candidate);
      },
      timeout_ms);
  if (window == nullptr || IsMessageBox(window)) return nullptr;
  if (timeout_ms > 0) WaitUntilResponding(window);
  return window;
}

void ExpectCloseEndsWithZero(Process& process, HWND dialog) {
  ClickButton(Control(dialog, kCloseId));
  EXPECT_EQ(0u, process.WaitForExit().value_or(0xFFFFFFFF)) << "the program shows:\n"
                                                            << DescribeWindows(process.id());
}

}  // namespace e2e
