// selfx info: what a combined file carries, and whether its parts are sound.

#include <cstdio>
#include <cstdlib>

#include "app/config_block.h"
#include "archive/directory.h"
#include "archive/zip_format.h"
#include "archive/zip_signatures.h"
#include "base/byte_order.h"
#include "cli/commands.h"
#include "cli/json.h"
#include "cli/native_file.h"
#include "cli/option_names.h"
#include "cli/stub_image.h"
#include "platform/platform.h"

namespace selfx::cli {

namespace {

constexpr const char* kInfoHelp = R"(usage: selfx info [--json] FILE.exe

Shows the configuration of a self-extracting archive made by selfx build (option bits,
texts, overwrite mode, offsets) and whether its configuration trailer and its ZIP end
record are sound. --json prints the same as one JSON object. Exit status: 0 sound, 1
damaged or not such a file, 2 bad usage.
)";

// What info finds, filled as far as the file allows.
struct InfoReport {
  std::string path;
  std::size_t size = 0;
  std::uint32_t overlay_start = 0;
  DecodedConfig config;
  std::uint32_t archive_start = 0;
  bool end_record_sound = false;
  std::uint32_t end_position = 0;
  std::uint16_t entries = 0;
  std::uint32_t directory_size = 0;
  std::uint16_t comment_length = 0;
  std::int32_t offset_base = 0;

  bool Sound() const { return config.sound && end_record_sound; }
};

void Inspect(const std::vector<std::uint8_t>& file, InfoReport& report) {
  report.size = file.size();
  if (report.overlay_start > file.size()) return;
  report.config = DecodeConfigBlock(file.data() + report.overlay_start,
                                    file.size() - report.overlay_start);
  if (!report.config.sound) return;
  ConfigSettings& settings = report.config.settings;
  if (settings.caption.empty()) settings.caption = kDefaultCaption;

  report.archive_start = report.overlay_start + report.config.archive_offset;
  std::optional<std::uint32_t> end_record_at = FindEndRecordInMemory(
      file.data(), static_cast<std::uint32_t>(file.size()), report.archive_start);
  if (!end_record_at) return;
  report.end_record_sound = true;
  report.end_position = *end_record_at;
  const std::uint8_t* end_record = file.data() + report.end_position;
  report.entries = LoadLe16(end_record + zip::kEndTotalEntries);
  report.directory_size = LoadLe32(end_record + zip::kEndDirectorySize);
  report.comment_length = LoadLe16(end_record + zip::kEndCommentLength);
  report.offset_base = OffsetBase(end_record, report.end_position);
}

void PrintText(const char* label, const std::string& text) {
  std::printf("%-16s\"%s\" (%zu bytes)\n", label, platform::AnsiToConsole(text).c_str(),
              text.size());
}

void PrintHuman(const InfoReport& report) {
  const DecodedConfig& config = report.config;
  const ConfigSettings& settings = config.settings;
  std::printf("%-16s%s, %zu bytes\n", "file", report.path.c_str(), report.size);
  std::printf("%-16s%u bytes (the configuration block starts here)\n", "stub image",
              report.overlay_start);
  if (!config.found) {
    std::printf("%-16sMISSING: no configuration block behind the image\n", "configuration");
    return;
  }
  std::printf("%-16s%u bytes\n", "block length", config.block_length);
  std::printf("%-16s0x%04X", "options", settings.options);
  for (const OptionName& option : kOptionNames) {
    if ((settings.options & option.bit) != 0) std::printf(" %s", option.flag);
  }
  std::printf("\n%-16s%u (%s)\n", "overwrite mode", settings.overwrite_mode,
              OverwriteModeName(settings.overwrite_mode));
  if (!config.sound) {
    std::printf("%-16sDAMAGED: the texts or the trailer are missing or wrong\n", "trailer");
    return;
  }
  PrintText("caption", settings.caption);
  PrintText("folder", settings.folder);
  PrintText("command", settings.command);
  PrintText("message", settings.message);
  std::printf("%-16s0x%X (%s)\n", "message style", settings.message_style,
              DescribeMessageStyle(settings.message_style).c_str());
  std::printf("%-16ssound\n", "trailer");
  std::printf("%-16s%u\n", "archive start", report.archive_start);
  if (!report.end_record_sound) {
    std::printf("%-16sMISSING: no end of central directory record ends the file\n",
                "zip end record");
    return;
  }
  std::printf("%-16ssound, at %u: %u entries, directory %u bytes, comment %u bytes\n",
              "zip end record", report.end_position, report.entries, report.directory_size,
              report.comment_length);
  auto base = static_cast<std::uint32_t>(report.offset_base);
  std::printf("%-16s%d (%s)\n", "offset base", report.offset_base,
              base == 0                      ? "offsets recorded from the start of the file"
              : base == report.archive_start ? "offsets recorded from the start of the archive"
                                             : "offsets recorded from elsewhere");
}

void PrintJson(const InfoReport& report) {
  const DecodedConfig& config = report.config;
  const ConfigSettings& settings = config.settings;
  JsonWriter json;
  std::string ansi_path;
  platform::CommandLineTextToAnsi(report.path, ansi_path);
  json.BeginObject().Text("file", ansi_path).Number("size", static_cast<std::int64_t>(report.size));
  json.Number("overlay_start", report.overlay_start).Bool("sound", report.Sound());
  json.Bool("configuration_found", config.found);
  if (config.found) {
    json.BeginObject("configuration").Number("block_length", config.block_length);
    json.Number("options", settings.options).BeginArray("option_names");
    for (const OptionName& option : kOptionNames) {
      if ((settings.options & option.bit) != 0) json.Text(nullptr, option.flag);
    }
    json.EndArray().Number("overwrite_mode", settings.overwrite_mode);
    json.Text("overwrite", OverwriteModeName(settings.overwrite_mode));
    if (config.sound) {
      json.Text("caption", settings.caption).Text("folder", settings.folder);
      json.Text("command", settings.command).Text("message", settings.message);
      json.Number("message_style", settings.message_style);
    }
    json.EndObject();
  }
  json.Bool("trailer_sound", config.sound);
  if (config.sound) json.Number("archive_start", report.archive_start);
  json.Bool("end_record_sound", report.end_record_sound);
  if (report.end_record_sound) {
    json.BeginObject("end_record").Number("position", report.end_position);
    json.Number("entries", report.entries).Number("directory_size", report.directory_size);
    json.Number("comment_length", report.comment_length).Number("offset_base", report.offset_base);
    json.EndObject();
  }
  json.EndObject().Print();
}

}  // namespace

int InfoCommand(const Arguments& arguments) {
  bool as_json = false;
  std::string path;
  for (const std::string& argument : arguments) {
    if (argument == "-h" || argument == "--help") {
      std::fputs(kInfoHelp, stdout);
      return kExitSuccess;
    }
    if (argument == "--json") {
      as_json = true;
    } else if (path.empty() && !argument.empty() && argument[0] != '-') {
      path = argument;
    } else {
      ReportError("usage: selfx info [--json] FILE.exe (see --help)");
      return kExitUsage;
    }
  }
  if (path.empty()) {
    ReportError("usage: selfx info [--json] FILE.exe (see --help)");
    return kExitUsage;
  }
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
  InfoReport report;
  report.path = path;
  report.overlay_start = *overlay_start;
  Inspect(*file, report);
  if (as_json) {
    PrintJson(report);
  } else {
    PrintHuman(report);
  }
  return report.Sound() ? kExitSuccess : kExitFailure;
}

}  // namespace selfx::cli
