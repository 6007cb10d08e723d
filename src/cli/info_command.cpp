// selfx info: what a combined file carries, and whether its parts are sound.

#include <cstdio>
#include <cstdlib>

#include "app/byte_order.h"
#include "app/config_block.h"
#include "archive/directory.h"
#include "archive/zip_format.h"
#include "archive/zip_signatures.h"
#include "cli/commands.h"
#include "cli/native_file.h"
#include "cli/option_names.h"
#include "cli/stub_image.h"
#include "platform/platform.h"

namespace selfx::cli {

namespace {

constexpr const char* kInfoHelp = R"(usage: selfx info FILE.exe

Shows the configuration of a self-extracting archive made by selfx build (option bits,
texts, overwrite mode, offsets) and whether its configuration trailer and its ZIP end
record are sound. Exit status: 0 sound, 1 damaged or not such a file, 2 bad usage.
)";

void PrintText(const char* label, const std::string& text) {
  std::printf("%-16s\"%s\" (%zu bytes)\n", label, platform::AnsiToConsole(text).c_str(),
              text.size());
}

}  // namespace

int InfoCommand(const Arguments& arguments) {
  if (arguments.size() == 1 && (arguments[0] == "-h" || arguments[0] == "--help")) {
    std::fputs(kInfoHelp, stdout);
    return kExitSuccess;
  }
  if (arguments.size() != 1 || arguments[0].empty() || arguments[0][0] == '-') {
    ReportError("usage: selfx info FILE.exe (see --help)");
    return kExitUsage;
  }
  const std::string& path = arguments[0];
  PrepareZipSignatures();

  std::string error_text;
  std::optional<std::vector<std::uint8_t>> file = ReadWholeFile(path, error_text);
  if (!file) {
    ReportError(error_text);
    return kExitFailure;
  }
  std::optional<std::uint32_t> overlay_start = CheckedOverlayStart(*file, error_text);
  if (!overlay_start) {
    ReportError(path + ": " + error_text);
    return kExitFailure;
  }
  std::printf("%-16s%s, %zu bytes\n", "file", path.c_str(), file->size());
  std::printf("%-16s%u bytes (the configuration block starts here)\n", "stub image",
              *overlay_start);
  if (*overlay_start > file->size() ||
      file->size() - *overlay_start < kConfigFixedSize ||
      LoadLe32(file->data() + *overlay_start) != kConfigBlockSignature) {
    std::printf("%-16sMISSING: no configuration block behind the image\n", "configuration");
    return kExitFailure;
  }

  const std::uint8_t* block = file->data() + *overlay_start;
  std::size_t available = file->size() - *overlay_start;
  std::optional<DecodedConfig> decoded = DecodeConfigBlock(block, available);
  std::uint16_t block_length = LoadLe16(block + kConfigBlockLength);
  std::uint16_t options = LoadLe16(block + kConfigOptions);

  std::printf("%-16s%u bytes\n", "block length", block_length);
  std::printf("%-16s0x%04X", "options", options);
  for (const OptionName& option : kOptionNames) {
    if ((options & option.bit) != 0) std::printf(" %s", option.flag);
  }
  std::printf("\n%-16s%u (%s)\n", "overwrite mode", block[kConfigOverwriteMode],
              OverwriteModeName(block[kConfigOverwriteMode]));
  if (!decoded) {
    std::printf("%-16sDAMAGED: the texts or the trailer are missing or wrong\n", "trailer");
    return kExitFailure;
  }
  const ConfigSettings& settings = decoded->settings;
  PrintText("caption", settings.caption.empty() ? std::string(kDefaultCaption) : settings.caption);
  PrintText("folder", settings.folder);
  PrintText("command", settings.command);
  PrintText("message", settings.message);
  std::printf("%-16s0x%X (%s)\n", "message style", settings.message_style,
              DescribeMessageStyle(settings.message_style).c_str());
  std::printf("%-16ssound\n", "trailer");

  std::uint32_t archive_start = *overlay_start + decoded->archive_offset;
  auto file_size = static_cast<std::uint32_t>(file->size());
  std::printf("%-16s%u\n", "archive start", archive_start);
  std::uint32_t window_size = file_size - archive_start;
  if (window_size > zip::kEndSearchWindow) window_size = zip::kEndSearchWindow;
  std::uint32_t window_start = file_size - window_size;
  std::optional<std::uint32_t> end_offset =
      window_size > zip::kEndRecordSize
          ? ScanForEndRecord(file->data() + window_start, window_size, window_start, file_size)
          : std::nullopt;
  if (!end_offset) {
    std::printf("%-16sMISSING: no end of central directory record ends the file\n",
                "zip end record");
    return kExitFailure;
  }
  std::uint32_t end_position = window_start + *end_offset;
  const std::uint8_t* end_record = file->data() + end_position;
  std::uint32_t directory_size = LoadLe32(end_record + zip::kEndDirectorySize);
  std::uint32_t recorded_offset = LoadLe32(end_record + zip::kEndDirectoryOffset);
  auto base = static_cast<std::int32_t>(end_position - (recorded_offset + directory_size));
  std::printf("%-16ssound, at %u: %u entries, directory %u bytes, comment %u bytes\n",
              "zip end record", end_position, LoadLe16(end_record + zip::kEndTotalEntries),
              directory_size, LoadLe16(end_record + zip::kEndCommentLength));
  std::printf("%-16s%d (%s)\n", "offset base", base,
              base == 0 ? "offsets recorded from the start of the file"
              : static_cast<std::uint32_t>(base) == archive_start
                  ? "offsets recorded from the start of the archive"
                  : "offsets recorded from elsewhere");
  return kExitSuccess;
}

}  // namespace selfx::cli
