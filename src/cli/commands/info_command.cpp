// selfx info: what a combined file carries, and whether its parts are sound.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "app/config_block.h"
#include "archive/archive_file.h"
#include "archive/directory.h"
#include "archive/pe_image.h"
#include "archive/zip_format.h"
#include "archive/zip_signatures.h"
#include "base/byte_order.h"
#include "base/fault.h"
#include "cli/commands/commands.h"
#include "cli/front/command_description.h"
#include "cli/front/json.h"
#include "cli/front/option_names.h"
#include "cli/pe/stub_image.h"
#include "platform/native_file.h"
#include "platform/platform.h"
#include "ui/console/printable.h"
#include "ui/ui.h"

namespace selfx::cli {

namespace {

const CommandDescription kInfo{
    "info",
    "info [--json] FILE",
    "Shows the configuration of a self-extracting archive made by selfx build (option bits,\n"
    "texts, overwrite mode, offsets) and whether its configuration trailer and its ZIP end\n"
    "record are sound, read as its stub reads them. A plain .zip is shown as such, with its end\n"
    "record. A signed file's Authenticode signature is shown with its place and size; the\n"
    "archive ends where the signature begins. Only the headers, the configuration block and\n"
    "the archive's last 64 KiB are read.\n",
    {&kJsonOption, &kHelpOption},
    "--json prints the same as one JSON object (\"plain_zip\" tells the two kinds apart). Exit\n"
    "status: 0 sound, 1 damaged or not such a file, 2 bad usage.\n",
    1};

// The head of the file read for the image's headers: a PE header lies within the first
// kilobyte of every real program.
constexpr std::uint32_t kHeadSize = 64 * 1024;

// What info finds, filled as far as the file allows.
struct InfoReport {
  std::string path;
  std::uint64_t size = 0;
  bool plain_zip = false;  // no PE image: a ZIP archive from its first byte
  std::uint32_t overlay_start = 0;
  DecodedConfig config;
  std::uint32_t archive_start = 0;
  pe::DataDirectory certificate_table;  // as the headers record it
  std::uint32_t archive_end = 0;        // the table's start in a signed file, else the size
  bool end_record_sound = false;
  std::uint32_t end_position = 0;
  std::uint16_t entries = 0;
  std::uint32_t directory_size = 0;
  std::uint16_t comment_length = 0;
  std::int32_t offset_base = 0;

  ArchiveFile archive;

  bool Sound() const { return (plain_zip || config.sound) && end_record_sound; }
  bool Signed() const { return !plain_zip && archive_end < size; }
};

// The end record behind archive_start, found as the stub finds it (its last 64 KiB).
void InspectEndRecord(InfoReport& report) {
  ArchiveFile& archive = report.archive;
  archive.start = report.archive_start;
  std::optional<std::uint32_t> end_record_at = SearchEndRecord(archive);
  if (!end_record_at) return;
  std::uint8_t end_record[zip::kEndRecordSize];
  archive.Seek(static_cast<std::int32_t>(*end_record_at), platform::SeekOrigin::FromStart);
  if (!archive.ReadExact(end_record, zip::kEndRecordSize)) return;
  report.end_record_sound = true;
  report.end_position = *end_record_at;
  report.entries = LoadLe16(end_record + zip::kEndTotalEntries);
  report.directory_size = LoadLe32(end_record + zip::kEndDirectorySize);
  report.comment_length = LoadLe16(end_record + zip::kEndCommentLength);
  report.offset_base = OffsetBase(end_record, report.end_position);
}

// The configuration block read in the stub's own three steps from the opened file: the stub
// accepts a trailer whose signature is there, whether or not the rest of it is. Then the
// signature, which the stub leaves out of the archive before it searches for the end record.
void Inspect(InfoReport& report, const std::vector<std::uint8_t>& headers) {
  ArchiveConfigSource source(report.archive, report.overlay_start);
  report.config = DecodeConfig(source);
  if (report.config.sound) {
    report.archive_start = report.overlay_start + report.config.archive_offset;
  }
  report.certificate_table = pe::ReadDataDirectory(headers.data(), pe::kCertificateTable);
  report.archive_end = pe::EndWithoutSignature(
      headers.data(), std::max(report.archive_start, report.overlay_start), report.archive.end);
  report.archive.end = report.archive_end;
  if (!report.config.sound) return;
  ConfigSettings& settings = report.config.settings;
  if (settings.caption.empty()) settings.caption = kDefaultCaption;
  InspectEndRecord(report);
}

void PrintText(const char* label, const std::string& text) {
  std::printf("%-16s\"%s\" (%zu bytes)\n", label, platform::AnsiToConsole(text).c_str(),
              text.size());
}

void PrintEndRecord(const InfoReport& report) {
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

void PrintSignature(const InfoReport& report) {
  const pe::DataDirectory& table = report.certificate_table;
  if (report.Signed()) {
    std::printf("%-16sat %u, %u bytes (Authenticode; the archive ends before it)\n", "signature",
                table.address, table.size);
  } else if (table.address != 0 || table.size != 0) {
    // Any other table is bytes of the file, as the stub reads it.
    std::printf("%-16snone (a certificate table at %u, %u bytes, not appended at the end)\n",
                "signature", table.address, table.size);
  } else {
    std::printf("%-16snone\n", "signature");
  }
}

void PrintHuman(const InfoReport& report) {
  const DecodedConfig& config = report.config;
  const ConfigSettings& settings = config.settings;
  std::printf("%-16s%s, %llu bytes\n", "file", console::Printable(report.path).c_str(),
              static_cast<unsigned long long>(report.size));
  if (report.plain_zip) {
    std::printf("%-16splain ZIP archive, no stub\n", "kind");
    PrintEndRecord(report);
    return;
  }
  std::printf("%-16s%u bytes (the configuration block starts here)\n", "stub image",
              report.overlay_start);
  PrintSignature(report);
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
  PrintEndRecord(report);
}

void PrintJson(const InfoReport& report) {
  const DecodedConfig& config = report.config;
  const ConfigSettings& settings = config.settings;
  JsonWriter json;
  json.BeginObject().ConsoleText("file", report.path);
  json.Number("size", static_cast<std::int64_t>(report.size));
  json.Bool("plain_zip", report.plain_zip);
  json.Text("kind", report.plain_zip ? "plain ZIP archive, no stub" : "self-extracting archive");
  json.Bool("sound", report.Sound());
  if (!report.plain_zip) {
    json.Number("overlay_start", report.overlay_start);
    json.Bool("signed", report.Signed());
    const pe::DataDirectory& table = report.certificate_table;
    if (table.address != 0 || table.size != 0) {
      json.BeginObject("certificate_table").Number("position", table.address);
      json.Number("size", table.size).EndObject();
    }
    json.Bool("configuration_found", config.found);
  }
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
  if (!report.plain_zip) json.Bool("trailer_sound", config.sound);
  if (config.sound || report.plain_zip) json.Number("archive_start", report.archive_start);
  json.Bool("end_record_sound", report.end_record_sound);
  if (report.end_record_sound) {
    json.BeginObject("end_record").Number("position", report.end_position);
    json.Number("entries", report.entries).Number("directory_size", report.directory_size);
    json.Number("comment_length", report.comment_length).Number("offset_base", report.offset_base);
    json.EndObject();
  }
  json.ReportedErrors().EndObject().Print();
}

// Opens the file for the core's reads after checking that reading it ends: a folder, a FIFO
// or a device is refused with its reason. Gives the file's size, or nothing.
std::optional<std::uint64_t> OpenForInfo(const std::string& path, ArchiveFile& archive) {
  std::string ansi_path;
  if (!platform::CommandLineTextToAnsi(path, ansi_path)) {
    ReportError(path + ": the name holds characters outside Windows code page 1252");
    return std::nullopt;
  }
  switch (platform::KindOfPath(ansi_path)) {
    case platform::PathKind::kMissing:
      ReportError(path + ": " + platform::LastErrorText());
      return std::nullopt;
    case platform::PathKind::kFolder:
      ReportError(path + ": is a folder");
      return std::nullopt;
    case platform::PathKind::kOther:
      ReportError(path + ": not a regular file");
      return std::nullopt;
    case platform::PathKind::kFile:
      break;
  }
  std::error_code error;
  std::uint64_t size = std::filesystem::file_size(path, error);
  if (error) {
    ReportError(path + ": " + error.message());
    return std::nullopt;
  }
  std::string size_problem = StubFileSizeProblem(size);
  if (!size_problem.empty()) {
    ReportError(path + ": " + size_problem);
    return std::nullopt;
  }
  if (!OpenArchiveFile(archive, ansi_path)) {
    ShowError(nullptr, FaultMessage(Fault::kReadingZip, ansi_path));
    return std::nullopt;
  }
  return size;
}

}  // namespace

int InfoCommand(const Arguments& arguments) {
  CommandArguments read;
  if (std::optional<int> status = OpenCommand(arguments, kInfo, read)) return *status;
  bool as_json = JsonOutputRequested();
  const std::string& path = read.operands[0];
  PrepareZipSignatures();

  InfoReport report;
  std::optional<std::uint64_t> size = OpenForInfo(path, report.archive);
  if (!size) return kExitFailure;
  report.path = path;
  report.size = *size;
  std::vector<std::uint8_t> head(std::min<std::uint64_t>(*size, kHeadSize));
  report.archive.Seek(0, platform::SeekOrigin::FromStart);
  head.resize(report.archive.Read(head.data(), static_cast<std::uint32_t>(head.size())));
  std::string error_text;
  std::optional<std::uint32_t> overlay_start = CheckedOverlayStart(head, error_text);
  if (overlay_start) {
    report.overlay_start = *overlay_start;
    Inspect(report, head);
  } else {
    // No stub: a plain ZIP archive, as selfx list reads one, or nothing selfx knows.
    report.plain_zip = true;
    InspectEndRecord(report);
    if (!report.end_record_sound) {
      ReportError(path + ": neither a self-extracting archive (" + error_text +
                  ") nor a ZIP archive (no end of central directory record ends it)");
      return kExitFailure;
    }
  }
  if (as_json) {
    PrintJson(report);
  } else {
    PrintHuman(report);
  }
  return report.Sound() ? kExitSuccess : kExitFailure;
}

}  // namespace selfx::cli
