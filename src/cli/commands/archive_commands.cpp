// selfx list, test and extract: a combined file or a plain ZIP read with the stub's own core.

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>

#include "app/config_block.h"
#include "app/target_folder.h"
#include "archive/archive_file.h"
#include "archive/directory.h"
#include "archive/entry_extraction.h"
#include "archive/extraction.h"
#include "archive/extraction_run.h"
#include "archive/paths.h"
#include "archive/pe_image.h"
#include "archive/zip_format.h"
#include "archive/zip_signatures.h"
#include "base/byte_order.h"
#include "base/fault.h"
#include "cli/commands/commands.h"
#include "cli/commands/decode_ahead.h"
#include "cli/front/command_description.h"
#include "cli/front/json.h"
#include "cli/front/option_names.h"
#include "cli/pe/stub_image.h"
#include "codec/crc32.h"
#include "codec/inflate.h"
#include "platform/native_file.h"
#include "platform/platform.h"
#include "ui/console/console_ui.h"
#include "ui/console/printable.h"
#include "ui/console/progress.h"
#include "ui/ui.h"

namespace selfx::cli {

namespace {

constexpr int kExitStopped = 3;

const OptionSpec kPasswordFileOption{nullptr, "password-file", "F",
                                     "the password for encrypted files, F's first line\n"
                                     "(else it is asked at the terminal, not echoed)"};
const OptionSpec kFolderOption{"d", "folder", "DIR",
                               "the folder to extract into (default: the current one)"};
const OptionSpec kOverwriteOption{nullptr, "overwrite", "MODE",
                                  "overwrite, skip, or ask (default) when a file exists"};
const OptionSpec kJobsOption{"j", "jobs", "N",
                             "files decoded at once (default: the number of processors);\n"
                             "what is shown, asked and written is the same whatever N is"};
constexpr std::uint32_t kMostJobs = 256;

const CommandDescription kList{
    "list",
    "list [--json] FILE",
    "Lists the files of a self-extracting archive (or of a plain .zip) as its stub shows them:\n"
    "size, modification time, method, encryption and name. Folder entries are not listed.\n",
    {&kJsonOption, &kHelpOption},
    "--json prints {\"files\": [{\"name\", \"size\", \"compressed_size\", \"modified\", "
    "\"method\",\n\"encrypted\", \"crc32\"}, ...], \"errors\": [...]}, \"modified\" as "
    "2024-05-01T13:45:10 (a\nlocal time, as ZIP records it). Exit status: 0 listed, 1 damaged or "
    "unreadable, 2 bad\nusage.\n",
    1};

const CommandDescription kTest{
    "test",
    "test [options] FILE",
    "Decodes every file of the archive and checks its CRC-32, writing nothing. A password from\n"
    "a file that does not fit a file fails that file (\"wrong password\").\n",
    {&kPasswordFileOption, &kJobsOption, &kQuietOption, &kProgressOption, &kJsonOption,
     &kHelpOption},
    "--json prints {\"tested\", \"failed\", \"stopped\", \"files\": [{\"name\", \"ok\"}, "
    "...], \"errors\": [...]}.\nExit status: 0 all files sound, 1 some file failed, 2 bad usage, "
    "3 stopped (no password\ntyped, or Ctrl-C).\n",
    1};

const CommandDescription kExtract{
    "extract",
    "extract [options] FILE",
    "Extracts every file of the archive exactly as its stub would.\n",
    {&kFolderOption, &kOverwriteOption, &kPasswordFileOption, &kJobsOption, &kQuietOption,
     &kProgressOption, &kJsonOption, &kHelpOption},
    "Entries whose names would leave DIR (absolute paths, drives, \"..\") or name a device are\n"
    "refused and reported. Each file is written under a temporary name and takes its own only\n"
    "when complete, so a failed write leaves an existing file as it was; nothing below DIR is\n"
    "written through a symbolic link. Ctrl-C stops before the next file. --json prints\n"
    "{\"extracted\", \"not_extracted\", \"stopped\", \"left\": [names], \"errors\": "
    "[messages]}. Exit\nstatus: 0 all files extracted, 1 some file was not (or the password from "
    "the file did\nnot fit), 2 bad usage, 3 stopped (no password typed, or Ctrl-C).\n",
    1};

bool HasZip64Records(const ArchiveFile& archive, std::uint32_t end_record_at) {
  if (end_record_at < zip::kZip64LocatorSize) return false;
  std::uint8_t locator[4];
  archive.Seek(static_cast<std::int32_t>(end_record_at - zip::kZip64LocatorSize),
               platform::SeekOrigin::FromStart);
  bool found = archive.ReadExact(locator, sizeof locator) &&
               LoadLe32(locator) == zip::kZip64LocatorSignature;
  archive.Seek(0, platform::SeekOrigin::FromStart);
  return found;
}

// The path as the core takes it (ANSI), checked to name a regular file the stub could read.
bool CheckArchivePath(const std::string& native_path, std::string& path) {
  if (!platform::CommandLineTextToAnsi(native_path, path)) {
    ReportError(native_path + ": the name holds characters outside Windows code page 1252");
    return false;
  }
  switch (platform::KindOfPath(path)) {
    case platform::PathKind::kMissing:
      ReportError(native_path + ": " + platform::LastErrorText());
      return false;
    case platform::PathKind::kFolder:
      ReportError(native_path + ": is a folder, not an archive");
      return false;
    case platform::PathKind::kOther:
      // A FIFO or a device would be read for ever, or block.
      ReportError(native_path + ": not a regular file");
      return false;
    case platform::PathKind::kFile:
      break;
  }
  std::error_code size_error;
  std::string size_problem = StubFileSizeProblem(
      std::filesystem::file_size(native_path, size_error));
  if (!size_error && !size_problem.empty()) {
    ReportError(native_path + ": " + size_problem);
    return false;
  }
  return true;
}

// Where the ZIP starts and ends: behind the configuration trailer of a combined file (and
// before its signature), or the whole of a plain ZIP. False for a block without its trailer:
// a damaged file.
bool FindArchiveBounds(ArchiveFile& archive) {
  archive.start = 0;
  std::vector<std::uint8_t> headers(4096);
  headers.resize(archive.Read(headers.data(), static_cast<std::uint32_t>(headers.size())));
  std::string ignored;
  std::optional<std::uint32_t> overlay_start = CheckedOverlayStart(headers, ignored);
  if (overlay_start) {
    // A file without a block behind its image is taken as a plain ZIP; a block without its
    // trailer is a damaged file.
    ArchiveConfigSource source(archive, *overlay_start);
    SfxConfigState block;
    if (ReadConfigFixedPart(source, block)) {
      std::optional<std::uint32_t> archive_offset = ReadConfigTrailer(source, block);
      if (!archive_offset) return false;
      archive.start = *overlay_start + *archive_offset;
    }
    archive.end = pe::EndWithoutSignature(headers.data(), archive.start, archive.end);
  }
  archive.Seek(0, platform::SeekOrigin::FromStart);
  return true;
}

// The end record, and no ZIP64 anywhere: the core would call both corrupt, but the user
// deserves the reason.
bool CheckZipEnd(const std::string& native_path, const ArchiveFile& archive) {
  std::optional<std::uint32_t> end_record_at = SearchEndRecord(archive);
  if (!end_record_at) {
    ReportError(native_path + ": not a ZIP archive (no end of central directory record ends it)");
    return false;
  }
  if (HasZip64Records(archive, *end_record_at)) {
    ReportError(native_path + ": ZIP64, which the stub cannot read");
    return false;
  }
  return true;
}

// A ZIP64 entry records its sizes and offset in an extra field the stub does not read.
bool CheckNoZip64Entries(const std::string& native_path, const Extraction& extraction) {
  for (const EntryRow& row : extraction.entries) {
    const ArchiveEntry& entry = row.entry;
    if (entry.CompressedSize() == zip::kZip64Marker ||
        entry.UncompressedSize() == zip::kZip64Marker ||
        entry.LocalHeaderOffset() == zip::kZip64Marker) {
      ReportError(native_path + ": ZIP64, which the stub cannot read (" +
                  console::ShownPath(row.name) + ")");
      return false;
    }
  }
  return true;
}

}  // namespace

void ReportFault(const Extraction& extraction) {
  std::string message = FaultMessage(extraction);
  // The archive's damage is named with the archive.
  if (extraction.fault == Fault::kCorrupt && !extraction.archive.path.empty()) {
    message = extraction.archive.path + ": " + message;
  }
  ShowError(nullptr, message);
}

bool OpenArchive(const std::string& native_path, Extraction& extraction) {
  std::string path;
  if (!CheckArchivePath(native_path, path)) return false;
  PrepareZipSignatures();
  BuildCrcTable();
  BuildFixedTables();
  ArchiveFile& archive = extraction.archive;
  if (!OpenArchiveFile(archive, path)) {
    extraction.fault = Fault::kReadingZip;
  } else if (!FindArchiveBounds(archive)) {
    extraction.fault = Fault::kCorrupt;
  } else if (!CheckZipEnd(native_path, archive)) {
    return false;
  } else if (LoadDirectory(extraction, true)) {
    // Every row is selected: these commands work on the whole archive.
    return CheckNoZip64Entries(native_path, extraction);
  }
  ReportFault(extraction);
  return false;
}

namespace {

const char* MethodName(std::uint16_t method) {
  return method == zip::kMethodStored     ? "stored"
         : method == zip::kMethodDeflated ? "deflated"
                                          : "other";
}

// ISO 8601 with seconds, without a zone: DOS times are local times.
std::string IsoTimestamp(const ArchiveEntry& entry) {
  char text[32];
  std::uint16_t date = entry.DosDate(), time = entry.DosTime();
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", 1980 + (date >> 9),
                (date >> 5) & 15, date & 31, time >> 11, (time >> 5) & 63, (time & 31) * 2);
  return text;
}

// --json anywhere on the line promises one JSON object, a usage error included.

// The bar by bytes: every byte the decoders hand to a file (or, for test, to the null
// device) passes through the platform's Write, so the count needs nothing of the core.
console::ByteProgress* running_progress = nullptr;
void CountWrittenBytes(std::uint32_t bytes) {
  if (running_progress != nullptr) running_progress->Advance(bytes);
}

class ProgressOfRows {
 public:
  explicit ProgressOfRows(const Extraction& extraction) : progress_(SelectedBytes(extraction)) {
    running_progress = &progress_;
    platform::ObserveWrites(&CountWrittenBytes);
  }
  ~ProgressOfRows() {
    platform::ObserveWrites(nullptr);
    running_progress = nullptr;
  }

 private:
  static std::uint64_t SelectedBytes(const Extraction& extraction) {
    std::uint64_t total = 0;
    for (const EntryRow& row : extraction.entries) {
      if (row.selected) total += row.entry.UncompressedSize();
    }
    return total;
  }
  console::ByteProgress progress_;
};

std::string DosTimestamp(const ArchiveEntry& entry) {
  char text[32];
  std::uint16_t date = entry.DosDate(), time = entry.DosTime();
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d", 1980 + (date >> 9), (date >> 5) & 15,
                date & 31, time >> 11, (time >> 5) & 63);
  return text;
}

bool ReadPasswordFile(const std::string& path) {
  std::string error_text;
  std::optional<std::string> password = ReadFirstLine(path, error_text);
  if (!password) {
    ReportError(error_text);
    return false;
  }
  std::string ansi;
  if (!platform::CommandLineTextToAnsi(*password, ansi)) {
    ReportError(path + ": the password holds characters outside Windows code page 1252");
    return false;
  }
  console::Settings().password = ansi;
  return true;
}

std::optional<unsigned> ParseJobs(const std::string& value) {
  std::optional<std::uint32_t> jobs = ParseNumber(value, kMostJobs);
  if (!jobs || *jobs == 0) {
    ReportError("--jobs: expected 1 to " + std::to_string(kMostJobs) + ", not \"" + value + "\"");
    return std::nullopt;
  }
  return *jobs;
}

// The threads that decode ahead of a run of more than one job, over the rows in their order.
// Encrypted entries are first tried with the password from --password-file, which the first
// prompt turns into the password held.
std::unique_ptr<DecodeAhead> StartDecodingAhead(const Extraction& extraction, unsigned jobs,
                                                bool keep_bytes) {
  if (jobs <= 1 || extraction.entries.size() <= 1) return nullptr;
  std::vector<ArchiveEntry> entries;
  for (const EntryRow& row : extraction.entries) entries.push_back(row.entry);
  std::string password = extraction.password;
  if (password.empty() && console::Settings().password) {
    password = console::Settings().password->substr(0, 80);
  }
  return std::make_unique<DecodeAhead>(extraction.archive, std::move(entries), jobs, keep_bytes,
                                       password);
}

// An entry tested ahead moves the bar as its decoding would have, a piece at a time.
void CountDecodedBytes(std::uint64_t size) {
  for (std::uint64_t left = size; left > 0;) {
    std::uint32_t piece = static_cast<std::uint32_t>(std::min<std::uint64_t>(left, 32768));
    CountWrittenBytes(piece);
    left -= piece;
  }
}

// ExtractEntry's source of entries decoded ahead: the run asks for each row it is about to
// extract, in order.
struct ExtractAhead {
  DecodeAhead* ahead = nullptr;
  DecodedEntry taken;
};

const DecodedPieces* TakeDecodedForExtract(void* context, std::size_t row,
                                           const std::string& password) {
  ExtractAhead& extract = *static_cast<ExtractAhead*>(context);
  if (!extract.ahead->Take(row, password, extract.taken)) return nullptr;
  return &extract.taken.decoded;
}

}  // namespace

int ListCommand(const Arguments& arguments) {
  CommandArguments read;
  if (std::optional<int> status = OpenCommand(arguments, kList, read)) return *status;
  bool as_json = JsonOutputRequested();
  Extraction extraction;
  if (!OpenArchive(read.operands[0], extraction)) return kExitFailure;
  if (as_json) {
    JsonWriter json;
    json.BeginObject().BeginArray("files");
    for (const EntryRow& row : extraction.entries) {
      const ArchiveEntry& entry = row.entry;
      char crc[16];
      std::snprintf(crc, sizeof crc, "%08x", entry.Crc());
      json.BeginObject().Path("name", row.name).Number("size", entry.UncompressedSize());
      json.Number("compressed_size", entry.CompressedSize());
      json.Text("modified", IsoTimestamp(entry)).Text("method", MethodName(entry.Method()));
      json.Bool("encrypted", entry.IsEncrypted()).Text("crc32", crc).EndObject();
    }
    json.EndArray().ReportedErrors().EndObject().Print();
    return kExitSuccess;
  }
  std::printf("%10s  %-16s  %-8s  %s\n", "Size", "Modified", "Method", "Name");
  std::uint64_t total = 0;
  for (const EntryRow& row : extraction.entries) {
    const ArchiveEntry& entry = row.entry;
    total += entry.UncompressedSize();
    std::printf("%10u  %s  %-8s  %s%s\n", entry.UncompressedSize(), DosTimestamp(entry).c_str(),
                MethodName(entry.Method()),
                console::Printable(console::ShownPath(row.name)).c_str(),
                entry.IsEncrypted() ? "  (encrypted)" : "");
  }
  std::printf("%10llu  %zu files\n", static_cast<unsigned long long>(total),
              extraction.entries.size());
  return kExitSuccess;
}

int TestCommand(const Arguments& arguments) {
  CommandArguments read;
  if (std::optional<int> status = OpenCommand(arguments, kTest, read)) return *status;
  bool as_json = JsonOutputRequested();
  bool quiet = read.quiet;
  unsigned jobs = DefaultDecodeJobs();
  for (const CommandLineItem& item : read.options) {
    if (item.option == &kPasswordFileOption && !ReadPasswordFile(item.value)) return kExitFailure;
    if (item.option == &kJobsOption) {
      std::optional<unsigned> parsed = ParseJobs(item.value);
      if (!parsed) return kExitUsage;
      jobs = *parsed;
    }
  }
  const std::string& file = read.operands[0];
  Extraction extraction;
  if (!OpenArchive(file, extraction)) return kExitFailure;
  console::CancelOnInterrupt();
  TestSummary summary;
  {
    ProgressOfRows progress(extraction);
    summary = TestOpenedArchive(extraction, jobs);
  }
  if (extraction.fault != Fault::kNone) {
    ReportFault(extraction);
    CloseArchiveFiles(extraction);
    return kExitFailure;
  }
  if (as_json) {
    JsonWriter json;
    json.BeginObject().Number("tested", summary.tested).Number("failed", summary.failed);
    json.Bool("stopped", summary.stopped).BeginArray("files");
    for (std::size_t i = 0; i < summary.results.size(); ++i) {
      json.BeginObject().Path("name", extraction.entries[i].name);
      json.Bool("ok", summary.results[i]).EndObject();
    }
    json.EndArray().ReportedErrors().EndObject().Print();
  } else if (!summary.stopped && !quiet) {
    std::printf("%d files tested, %d failed\n", summary.tested, summary.failed);
  }
  if (summary.stopped) return kExitStopped;
  return summary.failed == 0 ? kExitSuccess : kExitFailure;
}

TestSummary TestOpenedArchive(Extraction& extraction, unsigned jobs) {
  TestSummary summary;
  std::unique_ptr<DecodeAhead> ahead = StartDecodingAhead(extraction, jobs, false);
  DecodedEntry decoded;
  for (std::size_t index = 0; index < extraction.entries.size(); ++index) {
    const EntryRow& row = extraction.entries[index];
    PumpOneMessage(extraction.cancel_requested);
    if (extraction.cancel_requested) {
      summary.stopped = true;
      return summary;
    }
    console::Settings().wrong_password = false;
    bool sound;
    bool password_abort = false;
    if (ahead && ahead->Take(index, extraction.password, decoded)) {
      // Tested here, it would have shown and asked nothing: it is sound.
      sound = true;
      CountDecodedBytes(decoded.decoded.size);
    } else {
      EntryOutcome outcome = TestEntry(extraction, index);
      if (outcome == EntryOutcome::kFatal) return summary;
      sound = outcome == EntryOutcome::kDone;
      password_abort = outcome == EntryOutcome::kNoPassword;
    }
    // The password from a file did not fit (the prompt said so): this file fails, the
    // others are tested.
    if (password_abort && console::Settings().wrong_password) password_abort = sound = false;
    if (password_abort) {
      ReportError("no password for " + console::ShownPath(row.name) + "; stopped");
      summary.stopped = true;
      return summary;
    }
    ++summary.tested;
    if (!sound) ++summary.failed;
    summary.results.push_back(sound);
  }
  return summary;
}

namespace {

// What selfx extract was asked to do.
struct ExtractRequest {
  std::string file;
  std::string folder;           // ANSI, as the core takes it; empty: the current folder
  std::string folder_argument;  // as typed, for messages
  std::uint8_t mode = kAsk;
  unsigned jobs = DefaultDecodeJobs();
  bool quiet = false;
};

// Reads the options; an exit status when the command ends here.
std::optional<int> ReadExtractOptions(const std::vector<CommandLineItem>& options,
                                      ExtractRequest& request) {
  for (const CommandLineItem& item : options) {
    if (item.option == &kFolderOption) {
      request.folder_argument = item.value;
      if (!platform::CommandLineTextToAnsi(item.value, request.folder)) {
        ReportError(item.value + ": the name holds characters outside Windows code page 1252");
        return kExitUsage;
      }
    } else if (item.option == &kOverwriteOption) {
      std::optional<std::uint8_t> parsed = ParseOverwriteMode(item.value);
      if (!parsed) {
        ReportError("--overwrite: expected overwrite, skip or ask, not \"" + item.value + "\"");
        return kExitUsage;
      }
      request.mode = *parsed;
    } else if (item.option == &kPasswordFileOption) {
      if (!ReadPasswordFile(item.value)) return kExitFailure;
    } else if (item.option == &kJobsOption) {
      std::optional<unsigned> parsed = ParseJobs(item.value);
      if (!parsed) return kExitUsage;
      request.jobs = *parsed;
    }
  }
  return std::nullopt;
}

// The run over every entry, with the threads decoding ahead of it when there are jobs for
// them. Nothing below the target folder is written through a link, and a file that cannot be
// written completely leaves the one it would replace as it was.
bool RunExtraction(Extraction& extraction, const std::string& target_folder, unsigned jobs) {
  platform::ConfineWritesTo(target_folder);
  console::CancelOnInterrupt();
  extraction.cancel_requested = false;
  ProgressOfRows progress(extraction);
  ExtractAhead extract;
  std::unique_ptr<DecodeAhead> ahead = StartDecodingAhead(extraction, jobs, true);
  if (ahead) {
    extract.ahead = ahead.get();
    extraction.decoded_ahead = &TakeDecodedForExtract;
    extraction.decoded_ahead_context = &extract;
  }
  bool all_extracted = ExtractSelected(extraction, target_folder);
  extraction.decoded_ahead = nullptr;
  ahead.reset();
  return all_extracted;
}

// The closing line, or the JSON object: how many were extracted, which were not.
void ReportExtraction(const Extraction& extraction, bool as_json, bool quiet) {
  int left = 0;
  for (const EntryRow& row : extraction.entries) left += row.selected ? 1 : 0;
  int extracted = static_cast<int>(extraction.entries.size()) - left;
  if (as_json) {
    JsonWriter json;
    json.BeginObject().Number("extracted", extracted).Number("not_extracted", left);
    json.Bool("stopped", extraction.cancel_requested).BeginArray("left");
    for (const EntryRow& row : extraction.entries) {
      if (row.selected) json.Path(nullptr, row.name);
    }
    json.EndArray().ReportedErrors().EndObject().Print();
  } else if (!quiet) {
    std::printf("%d files extracted, %d not\n", extracted, left);
  }
}

}  // namespace

int ExtractCommand(const Arguments& arguments) {
  CommandArguments read;
  if (std::optional<int> status = OpenCommand(arguments, kExtract, read)) return *status;
  bool as_json = JsonOutputRequested();
  ExtractRequest request;
  request.file = read.operands[0];
  request.quiet = read.quiet;
  if (std::optional<int> status = ReadExtractOptions(read.options, request)) return *status;
  platform::PathKind folder_kind = platform::KindOfPath(request.folder);
  if (!request.folder.empty() && folder_kind != platform::PathKind::kFolder &&
      folder_kind != platform::PathKind::kMissing) {
    ReportError(request.folder_argument + ": not a folder");
    return kExitFailure;
  }
  Extraction extraction;
  if (!OpenArchive(request.file, extraction)) return kExitFailure;
  extraction.overwrite_mode = request.mode;
  std::string target_folder = request.folder.empty() ? CurrentFolder()
                                                     : WithoutTrailingBackslashes(request.folder);
  bool all_extracted = RunExtraction(extraction, target_folder, request.jobs);
  if (extraction.fault != Fault::kNone) {
    // The run could not go on: the file being written is dropped, and the command ends
    // without its summary.
    ReportFault(extraction);
    CloseArchiveFiles(extraction);
    return kExitFailure;
  }
  ReportExtraction(extraction, as_json, request.quiet);
  if (all_extracted) return kExitSuccess;
  return extraction.cancel_requested ? kExitStopped : kExitFailure;
}

}  // namespace selfx::cli
