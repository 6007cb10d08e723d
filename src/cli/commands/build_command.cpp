// selfx build: stub + configuration block + trailer + ZIP archive.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <thread>

#include "app/config_block.h"
#include "app/target_folder.h"
#include "archive/archive_file.h"
#include "archive/directory.h"
#include "archive/extraction.h"
#include "archive/paths.h"
#include "archive/zip_format.h"
#include "archive/zip_signatures.h"
#include "base/byte_order.h"
#include "base/text.h"
#include "cli/commands/commands.h"
#include "cli/front/command_description.h"
#include "cli/front/command_line.h"
#include "cli/front/json.h"
#include "cli/front/option_names.h"
#include "cli/pack/deflater.h"
#include "cli/pack/ready_zip.h"
#include "cli/pack/source_tree.h"
#include "cli/pack/zip_writer.h"
#include "cli/pe/stub_identity.h"
#include "cli/pe/stub_image.h"
#include "platform/native_file.h"
#include "platform/platform.h"
#include "ui/console/console_ui.h"
#include "ui/console/printable.h"
#include "ui/console/progress.h"

namespace selfx::cli {

namespace {

constexpr const char* kBuildUsage = "build [options] -o OUTPUT.exe INPUT...";
constexpr const char* kBuildAbout =
    R"(Writes a self-extracting archive: the stub, a configuration block and a ZIP archive. The
inputs are files and folders to pack (a folder contributes its contents), or one ready
.zip file, which is used as it is. The written file is tested before it takes its name.
Only regular files and folders are packed (a symbolic link as what it points to, under its
own name); FIFOs, devices and sockets are skipped with a warning.

Times are recorded as DOS times, which hold a local time without a zone: the time zone of
the build (TZ) takes part in them. With SOURCE_DATE_EPOCH set (seconds since 1970), no time
later than that moment is recorded, so that the same files give the same archive.

)";

constexpr std::uint32_t kMostJobs = 256;

// One thread per processor, when the system says how many there are.
unsigned DefaultJobs() { return std::max(1u, std::thread::hardware_concurrency()); }

struct BuildRequest {
  ConfigSettings settings;
  std::string output;
  std::vector<std::string> inputs;
  std::string stub;
  PackOptions pack;
  StubIdentity identity;
  bool force_pack = false;
  bool verify = true;
  bool ask_password = false;
  bool quiet = false;
  bool json = false;
};

constexpr std::uint16_t kPresetBits = OptAutoRun | OptQuietSuccess | OptHideOverwriteChoice |
                                      OptListCollapsed | OptNoShowFiles;

bool ReadPassword(const std::string& native_text, std::string& password) {
  std::string ansi;
  if (!platform::CommandLineTextToAnsi(native_text, ansi)) {
    ReportError("the password holds characters outside Windows code page 1252");
    return false;
  }
  if (ansi.empty() || ansi.size() > 80) {
    ReportError("the password must be 1 to 80 characters long (the stub keeps 80)");
    return false;
  }
  password = ansi;
  return true;
}

bool AskPassword(std::string& password) {
  std::string first, second;
  std::fputs("Password: ", stderr);
  if (!platform::ReadTerminalLine(first, false)) {
    ReportError("--encrypt needs a terminal to ask for the password (or use --password-file)");
    return false;
  }
  std::fputs("Again: ", stderr);
  if (!platform::ReadTerminalLine(second, false) || first != second) {
    ReportError("the two passwords differ");
    return false;
  }
  return ReadPassword(first, password);
}

// A text for the configuration block: 0 when it fits, else the exit status to end with.
int TextOption(const std::string& name, const std::string& value, std::string& target) {
  std::string ansi;
  if (!platform::CommandLineTextToAnsi(value, ansi)) {
    ReportError("--" + name +
                ": the text holds characters that Windows code page 1252 "
                "cannot represent");
    return kExitUsage;
  }
  if (ansi.size() > 255) {
    ReportError("--" + name + ": the text is " + std::to_string(ansi.size()) +
                " bytes long; at most 255 fit the configuration block");
    return kExitUsage;
  }
  target = ansi;
  return 0;
}

std::string DefaultStubPath() {
  if (const char* from_environment = std::getenv("SELFX_STUB")) return from_environment;
  std::string own_path = platform::ModulePath();
  std::string::size_type slash = own_path.find_last_of("/\\");
  std::string folder = slash == std::string::npos ? "." : own_path.substr(0, slash);
  std::string beside = folder + "/selfx-stub.exe";
  if (std::FILE* file = std::fopen(beside.c_str(), "rb")) {
    std::fclose(file);
    return beside;
  }
  return folder + "/../win32/selfx-stub.exe";
}

// What the options set beside the request itself.
struct ParseState {
  BuildRequest& request;
  const char* preset = nullptr;  // "install" or "unattended"
  bool folder_given = false;
  bool mode_given = false;

  int Preset(const char* name) {
    if (preset != nullptr) {
      ReportError("--install and --unattended exclude each other");
      return kExitUsage;
    }
    preset = name;
    request.settings.options |= kPresetBits;
    return 0;
  }
};

// Applies an option: 0 when it is sound, else the exit status to end with. A flag's value is
// empty.
using OptionHandler = int (*)(ParseState& state, const std::string& value);

struct BuildOption {
  OptionSpec spec;
  const char* heading;  // a line the help prints before this option, or nullptr
  OptionHandler apply;  // nullptr for the options the opening of every command settles
};

// In the order of the help.
const BuildOption kBuildOptions[] = {
    {{"o", "output", "FILE", "the combined .exe to write (replaced only when complete)"},
     nullptr,
     [](ParseState& state, const std::string& value) {
       state.request.output = value;
       return 0;
     }},
    {{"l", "level", "N",
      "deflate level 0-12 (default 6; 0 stores every file; 1-9 as zip's\n"
      "levels; 10-12 smaller still, and slower)"},
     nullptr,
     [](ParseState& state, const std::string& value) {
       std::optional<std::uint32_t> level = ParseNumber(value, kHighestLevel);
       if (!level) {
         ReportError("--level: expected 0 to " + std::to_string(kHighestLevel) + ", not \"" +
                     value + "\"");
         return kExitUsage;
       }
       state.request.pack.level = static_cast<int>(*level);
       return 0;
     }},
    {{"j", "jobs", "N",
      "files deflated at once (default: the number of processors);\n"
      "the archive is the same whatever N is"},
     nullptr,
     [](ParseState& state, const std::string& value) {
       std::optional<std::uint32_t> jobs = ParseNumber(value, kMostJobs);
       if (!jobs || *jobs == 0) {
         ReportError("--jobs: expected 1 to " + std::to_string(kMostJobs) + ", not \"" + value +
                     "\"");
         return kExitUsage;
       }
       state.request.pack.jobs = *jobs;
       return 0;
     }},
    {{nullptr, "pack", nullptr, "pack a single .zip input as a file instead of using it as it is"},
     nullptr,
     [](ParseState& state, const std::string&) {
       state.request.force_pack = true;
       return 0;
     }},
    {{nullptr, "password-file", "F", "encrypt every file with the password in F's first line"},
     nullptr,
     [](ParseState& state, const std::string& value) {
       std::string error_text;
       std::optional<std::string> line = ReadFirstLine(value, error_text);
       if (!line) {
         ReportError(error_text);
         return kExitUsage;
       }
       std::string password;
       if (!ReadPassword(*line, password)) return kExitUsage;
       state.request.pack.password = password;
       return 0;
     }},
    {{nullptr, "encrypt", nullptr, "encrypt, asking for the password twice (not echoed)"},
     nullptr,
     [](ParseState& state, const std::string&) {
       state.request.ask_password = true;
       return 0;
     }},
    {{nullptr, "no-verify", nullptr, "do not test the written file"},
     nullptr,
     [](ParseState& state, const std::string&) {
       state.request.verify = false;
       return 0;
     }},
    {{"q", "quiet", nullptr, "no progress bar, no notice and no closing line"}, nullptr, nullptr},
    {{nullptr, "json", nullptr,
      "print one JSON object in place of the closing line: output,\n"
      "size, files, folders, bytes_in, encrypted, warnings, errors"},
     nullptr,
     nullptr},
    {{nullptr, "install", nullptr,
      "unpack into a fresh folder under TEMP ($T) and run --command:\n"
      "auto-run, quiet-success, hide-overwrite-choice, list-collapsed,\n"
      "no-show-files (0x00DC), overwrite mode overwrite"},
     "Presets (each sets option bits and, unless given, a folder; flags and --options add to "
     "it):",
     [](ParseState& state, const std::string&) { return state.Preset("install"); }},
    {{nullptr, "unattended", nullptr,
      "unpack without questions into --folder (default: the current\n"
      "folder): auto-run, quiet-success, hide-overwrite-choice,\n"
      "list-collapsed, no-show-files (0x00DC), overwrite mode overwrite"},
     nullptr,
     [](ParseState& state, const std::string&) { return state.Preset("unattended"); }},
    {{nullptr, "stub", "FILE",
      "the stub to use (default: selfx-stub.exe beside selfx, or\n"
      "the one the win32 build made; also $SELFX_STUB)"},
     "",
     [](ParseState& state, const std::string& value) {
       state.request.stub = value;
       return 0;
     }},
    {{nullptr, "caption", "TEXT",
      "title of the dialog and of its message boxes\n"
      "(default \"Unzip to disk\")"},
     nullptr,
     [](ParseState& state, const std::string& value) {
       return TextOption("caption", value, state.request.settings.caption);
     }},
    {{nullptr, "folder", "TEXT",
      "target folder: a path, %VARIABLES%, $T (new folder under TEMP),\n"
      "$W (Windows folder), $S (system folder), or a registry value\n"
      "such as $HLM\\Software\\Vendor\\App\\InstallDir+\\Data"},
     nullptr,
     [](ParseState& state, const std::string& value) {
       state.folder_given = true;
       return TextOption("folder", value, state.request.settings.folder);
     }},
    {{nullptr, "command", "TEXT",
      "file or program to open after a successful run (\"file params\")"},
     nullptr,
     [](ParseState& state, const std::string& value) {
       return TextOption("command", value, state.request.settings.command);
     }},
    {{nullptr, "message", "TEXT", "question asked at start; answering No/Cancel ends the program"},
     nullptr,
     [](ParseState& state, const std::string& value) {
       return TextOption("message", value, state.request.settings.message);
     }},
    {{nullptr, "message-style", "S",
      "its buttons and icon: ok, okcancel, yesno, yesnocancel,\n"
      "retrycancel, abortretryignore, each optionally with +error,\n"
      "+question, +warning or +information; or a number (0x24)"},
     nullptr,
     [](ParseState& state, const std::string& value) {
       std::optional<std::uint32_t> style = ParseMessageStyle(value);
       if (!style) {
         ReportError("--message-style: unknown style \"" + value + "\"");
         return kExitUsage;
       }
       state.request.settings.message_style = *style;
       return 0;
     }},
    {{nullptr, "overwrite", "MODE",
      "overwrite, skip or ask when a file exists (default overwrite)"},
     nullptr,
     [](ParseState& state, const std::string& value) {
       std::optional<std::uint8_t> mode = ParseOverwriteMode(value);
       if (!mode) {
         ReportError("--overwrite: expected overwrite, skip or ask, not \"" + value + "\"");
         return kExitUsage;
       }
       state.request.settings.overwrite_mode = *mode;
       state.mode_given = true;
       return 0;
     }},
    {{nullptr, "options", "0xNNNN", "raw option word, combined with the flags below"},
     nullptr,
     [](ParseState& state, const std::string& value) {
       std::optional<std::uint32_t> word = ParseNumber(value, 0xFFFF);
       if (!word) {
         ReportError("--options: expected a number from 0 to 0xFFFF, not \"" + value + "\"");
         return kExitUsage;
       }
       state.request.settings.options |= static_cast<std::uint16_t>(*word);
       return 0;
     }},
    {{nullptr, "icon", "FILE.ico",
      "the archive's icon: every image of the .ico file (16 to 256\n"
      "pixels, PNG images too) in place of the stub's"},
     "\nThe program's identity (written into its copy of the stub):",
     [](ParseState& state, const std::string& value) {
       state.request.identity.icon_path = value;
       return 0;
     }},
    {{nullptr, "version-info", "KEY=VALUE",
      "version information shown in the file's properties; KEY is\n"
      "FileDescription, CompanyName, ProductName, FileVersion,\n"
      "ProductVersion, LegalCopyright, OriginalFilename or Comments;\n"
      "FileVersion and ProductVersion start with a number such as 1.2.3\n"
      "(repeat the option for each key)"},
     nullptr,
     [](ParseState& state, const std::string& value) {
       std::string error_text;
       if (AddVersionString(value, state.request.identity, error_text)) return 0;
       ReportError(error_text);
       return kExitUsage;
     }},
    {{nullptr, "admin", nullptr,
      "ask Windows for administrator rights when the archive starts\n"
      "(the manifest's requireAdministrator; without it: asInvoker)"},
     nullptr,
     [](ParseState& state, const std::string&) {
       state.request.identity.require_administrator = true;
       return 0;
     }},
    {{"h", "help", nullptr, nullptr}, nullptr, nullptr},
};

// The option flags, each one bit of the option word, as options of the command line.
const std::vector<OptionSpec>& OptionFlagSpecs() {
  static const std::vector<OptionSpec> specs = [] {
    std::vector<OptionSpec> flags;
    for (const OptionName& option : kOptionNames) {
      flags.push_back({nullptr, option.flag, nullptr, nullptr});
    }
    return flags;
  }();
  return specs;
}

std::vector<const OptionSpec*> AllBuildOptions() {
  std::vector<const OptionSpec*> options;
  for (const BuildOption& option : kBuildOptions) options.push_back(&option.spec);
  for (const OptionSpec& flag : OptionFlagSpecs()) options.push_back(&flag);
  return options;
}

// build's help: its options under their headings, then the option flags with their bits.
std::string BuildHelp() {
  std::string help = std::string("usage: selfx ") + kBuildUsage + "\n\n" + kBuildAbout;
  for (const BuildOption& option : kBuildOptions) {
    if (option.heading != nullptr) help = help + option.heading + "\n";
    if (option.spec.help != nullptr) help += OptionHelpLine(option.spec);
  }
  help += "Option flags:\n";
  for (const OptionName& option : kOptionNames) {
    char line[160];
    std::snprintf(line, sizeof line, "      --%-22s0x%04X  %s\n", option.flag, option.bit,
                  option.meaning);
    help += line;
  }
  return help;
}

const CommandDescription& BuildDescription() {
  static const CommandDescription description{
      "build", kBuildUsage,  kBuildAbout, AllBuildOptions(),
      nullptr, kAnyOperands, &BuildHelp,  "selfx build --help"};
  return description;
}

// Applies one of the command's own options: an option flag adds its bit, any other option
// its handler's effect. 0 when it is sound, else the exit status to end with.
int ApplyOption(ParseState& state, const CommandLineItem& item) {
  for (const BuildOption& option : kBuildOptions) {
    if (&option.spec == item.option) return option.apply(state, item.value);
  }
  for (const OptionName& flag : kOptionNames) {
    if (std::string(flag.flag) == item.option->long_name) {
      state.request.settings.options |= flag.bit;
    }
  }
  return 0;
}

// What the options settle together once all of them are read: a preset's folder and
// overwrite mode unless given, and the one password. 0 when they agree, else the exit status
// to end with.
int SettleOptions(ParseState& state) {
  BuildRequest& request = state.request;
  if (state.preset != nullptr) {
    if (!state.mode_given) request.settings.overwrite_mode = kOverwrite;
    if (std::string(state.preset) == "install") {
      if (!state.folder_given) request.settings.folder = "$T";
      if (request.settings.command.empty()) {
        ReportError("--install runs the --command after unpacking; give one");
        return kExitUsage;
      }
    }
  }
  if (request.ask_password && request.pack.password) {
    ReportError("--encrypt and --password-file exclude each other");
    return kExitUsage;
  }
  if (request.ask_password) {
    std::string password;
    if (!AskPassword(password)) return kExitUsage;
    request.pack.password = password;
  }
  return 0;
}

// Reads the arguments into the request: nothing when they are complete and sound, else the
// exit status to end with (0 after the help).
std::optional<int> ReadBuildArguments(const Arguments& arguments, BuildRequest& request) {
  CommandArguments read;
  if (std::optional<int> status = OpenCommand(arguments, BuildDescription(), read)) return status;
  request.quiet = read.quiet;
  request.json = JsonOutputRequested();
  request.inputs = read.operands;
  ParseState state{request};
  for (const CommandLineItem& item : read.options) {
    if (int status = ApplyOption(state, item)) return status;
  }
  if (request.output.empty() || request.inputs.empty()) {
    ReportError("usage: selfx build [options] -o OUTPUT.exe INPUT... (see --help)");
    return kExitUsage;
  }
  if (int status = SettleOptions(state)) return status;
  if (request.stub.empty()) request.stub = DefaultStubPath();
  return std::nullopt;
}

// A single input that is a ZIP archive is used as it is, unless --pack says otherwise.
bool IsReadyZip(const BuildRequest& request) {
  if (request.force_pack || request.inputs.size() != 1) return false;
  PathFacts facts;
  if (InspectPath(request.inputs[0], true, facts) || facts.kind != PathKind::kRegular) {
    return false;
  }
  std::string extension = request.inputs[0].substr(request.inputs[0].find_last_of('.') + 1);
  return AsciiUpperCase(extension) == "ZIP";
}

// SOURCE_DATE_EPOCH, the reproducible-builds convention: a decimal number of seconds since
// 1970; later modification times are recorded as that time. 0 when it is absent or sound,
// else the exit status to end with.
int ReadSourceDateEpoch(std::optional<std::time_t>& newest_time) {
  const char* text = std::getenv("SOURCE_DATE_EPOCH");
  if (text == nullptr) return 0;
  std::string value = text;
  bool digits = !value.empty() && value.size() <= 18 &&
                value.find_first_not_of("0123456789") == std::string::npos;
  if (!digits) {
    ReportError("SOURCE_DATE_EPOCH must be a decimal number of seconds since 1970, not \"" + value +
                "\"");
    return kExitUsage;
  }
  newest_time = static_cast<std::time_t>(std::stoll(value));
  return 0;
}

// The output may replace a regular file only: a device, a FIFO, a socket or a folder under
// its name must stay what it is, and a symbolic link would be replaced itself while the
// user meant where it points. identity is the existing file's, if there is one.
bool CheckOutput(const std::string& output, std::optional<FileIdentity>& identity) {
  PathFacts facts;
  std::error_code error = InspectPath(output, false, facts);
  if (error == std::errc::no_such_file_or_directory) return true;
  if (error) {
    ReportError(output + ": " + error.message());
    return false;
  }
  if (facts.kind != PathKind::kRegular) {
    ReportError(output + " is " + PathKindName(facts.kind) +
                ", not a regular file; the output replaces only regular files");
    return false;
  }
  identity = facts.identity;
  return true;
}

// Whether path is the existing output file itself (by identity, whatever the name).
bool IsOutputFile(const std::string& path, const std::optional<FileIdentity>& output) {
  PathFacts facts;
  return output && !InspectPath(path, true, facts) && facts.kind == PathKind::kRegular &&
         facts.identity == *output;
}

// Folder entries are stored, since other unzip tools create the folders from them; the stub
// creates only the folders on the paths of its files, which the archive's maker should know.
std::string EmptyFoldersNotice(const std::vector<std::string>& empty_folders) {
  std::size_t more = empty_folders.size() - 1;
  return "notice: " + std::to_string(empty_folders.size()) +
         (empty_folders.size() == 1 ? " folder holds" : " folders hold") + " no files (\"" +
         empty_folders.front() + "\"" + (more ? " and " + std::to_string(more) + " more" : "") +
         "); the stub does not create such folders, other unzip tools do";
}

// Tests the written file with the stub's own core, as selfx test would, on as many threads as
// the build compressed with.
bool VerifyBuiltFile(const std::string& path, const std::optional<std::string>& password,
                     unsigned jobs) {
  Extraction extraction;
  if (!OpenArchive(path, extraction)) return false;
  if (password) console::Settings().password = *password;
  console::Settings().show_progress = false;
  TestSummary summary = TestOpenedArchive(extraction, jobs);
  // Closed before the file is renamed or removed: Windows refuses both on an open file.
  CloseAndReset(extraction.archive.handle);
  if (extraction.fault != Fault::kNone) {
    ReportFault(extraction);
    return false;
  }
  if (summary.stopped || summary.failed != 0) {
    ReportError("the written archive failed its test (" + std::to_string(summary.failed) + " of " +
                std::to_string(summary.tested) + " files); nothing was written");
    return false;
  }
  return true;
}

// The stub the archive starts with: read, checked, without a signature of its own, and with
// the maker's identity written into this copy.
struct PreparedStub {
  std::vector<std::uint8_t> bytes;
  std::string signature_warning;  // when a signature was left out
};

// 0 when the stub is fit to carry an archive, else the exit status to end with.
int PrepareStub(const BuildRequest& request, PreparedStub& prepared) {
  std::string error_text;
  constexpr std::uint64_t kLargestStub = 64u << 20;
  std::optional<std::vector<std::uint8_t>> stub = ReadRegularFile(request.stub, kLargestStub,
                                                                  error_text);
  if (!stub) {
    ReportError("cannot read the stub: " + error_text + " (give one with --stub)");
    return kExitFailure;
  }
  std::optional<std::uint32_t> overlay_start = CheckedOverlayStart(*stub, error_text);
  if (!overlay_start) {
    ReportError(request.stub + ": " + error_text);
    return kExitFailure;
  }
  // A signature made for the stub alone would not cover the archive appended to it.
  bool signature_left_out = LeaveOutSignature(*stub, *overlay_start);
  // The stub finds its configuration exactly where its image ends; anything behind the image
  // (a symbol table, a signature, an archive built before) would stand in its place.
  if (*overlay_start != stub->size()) {
    ReportError(request.stub + ": the file does not end where its image ends (" +
                std::to_string(stub->size()) + " bytes, image " + std::to_string(*overlay_start) +
                "); it carries a symbol table, a certificate or an archive already: "
                "use a plain, stripped stub");
    return kExitFailure;
  }
  if (signature_left_out) {
    prepared.signature_warning = request.stub +
                                 ": its signature was left out; sign the built file again "
                                 "(build first, then sign)";
    ReportError("warning: " + prepared.signature_warning);
  }
  // The maker's icon, version information and execution level go into this copy of the stub.
  if (request.identity.Changes() &&
      !ApplyStubIdentity(*stub, request.stub, request.identity, error_text)) {
    ReportError(error_text);
    return kExitFailure;
  }
  prepared.bytes = std::move(*stub);
  return 0;
}

// What the archive is made from: one ready ZIP, used as it is, or the files and folders of
// the inputs.
struct BuildInputs {
  bool ready_zip = false;
  ReadyZip zip;
  SourceTree tree;
};

// Reads and judges the inputs before the output is created, so that a refused input leaves
// nothing behind. 0 when they can be packed, else the exit status to end with.
int GatherInputs(const BuildRequest& request, const std::optional<FileIdentity>& output_identity,
                 BuildInputs& inputs) {
  std::string error_text;
  inputs.ready_zip = IsReadyZip(request);
  if (inputs.ready_zip) {
    if (request.pack.password) {
      ReportError(
          "a ready .zip is used as it is and cannot be encrypted here; pack the files "
          "instead, or use --pack to store the .zip itself");
      return kExitUsage;
    }
    if (IsOutputFile(request.inputs[0], output_identity)) {
      ReportError(request.inputs[0] + " is the output file too; building would replace it");
      return kExitFailure;
    }
    if (!inputs.zip.Open(request.inputs[0], error_text)) {
      ReportError(error_text);
      return kExitFailure;
    }
    return 0;
  }
  SourceTree& tree = inputs.tree;
  bool collected = CollectSources(request.inputs, output_identity, tree, error_text);
  for (const std::string& warning : tree.warnings) ReportError("warning: " + warning);
  if (!collected) {
    ReportError(error_text);
    return kExitFailure;
  }
  if (!tree.empty_folders.empty() && !request.quiet && !request.json) {
    ReportError(EmptyFoldersNotice(tree.empty_folders));
  }
  return 0;
}

// What was written, for the closing line or the JSON object.
struct BuiltFile {
  long size = 0;
  std::size_t stub_size = 0;
  std::size_t block_size = 0;
  PackResult packed;
};

// Writes stub, configuration block and ZIP archive into the output's temporary file and
// closes it. 0 when all of it was written, else the exit status to end with.
int WriteCombinedFile(BuildRequest& request, const PreparedStub& stub,
                      const std::vector<std::uint8_t>& block, BuildInputs& inputs,
                      PartialFile& output, BuiltFile& built) {
  std::string error_text;
  if (!output.Open(error_text)) {
    ReportError(error_text);
    return kExitFailure;
  }
  if (!output.Write(stub.bytes) || !output.Write(block)) {
    ReportError(request.output + ": cannot write");
    return kExitFailure;
  }
  {
    // By the bytes read from the inputs: what takes the time, whether deflated or copied.
    console::ByteProgress progress(inputs.ready_zip ? inputs.zip.size() : inputs.tree.file_bytes);
    request.pack.progress = [&progress](std::uint64_t bytes) { progress.Advance(bytes); };
    bool written = inputs.ready_zip
                       ? inputs.zip.CopyTo(output.file(), request.pack.progress, error_text)
                       : WriteZip(output.file(), inputs.tree.sources, request.pack, built.packed,
                                  error_text);
    request.pack.progress = nullptr;
    if (!written) {
      ReportError(error_text);
      return kExitFailure;
    }
  }
  built.size = std::ftell(output.file());
  built.stub_size = stub.bytes.size();
  built.block_size = block.size();
  if (!output.Close(error_text)) {
    ReportError(error_text);
    return kExitFailure;
  }
  return 0;
}

void PrintBuiltJson(const BuildRequest& request, const PreparedStub& stub,
                    const BuildInputs& inputs, const BuiltFile& built) {
  JsonWriter json;
  json.BeginObject().ConsoleText("output", request.output).Number("size", built.size);
  json.Number("stub_size", static_cast<std::int64_t>(built.stub_size));
  json.Number("configuration_size", static_cast<std::int64_t>(built.block_size));
  json.Bool("ready_zip", inputs.ready_zip);
  if (inputs.ready_zip) {
    json.Number("archive_size", static_cast<std::int64_t>(inputs.zip.size()));
    json.Number("entries", inputs.zip.entries());
  } else {
    json.Number("files", static_cast<std::int64_t>(built.packed.files));
    json.Number("folders", static_cast<std::int64_t>(built.packed.folders));
    json.Number("bytes_in", static_cast<std::int64_t>(built.packed.bytes_in));
  }
  json.Bool("encrypted", request.pack.password.has_value());
  json.BeginArray("warnings");
  for (const std::string& warning : inputs.tree.warnings) json.ConsoleText(nullptr, warning);
  if (!stub.signature_warning.empty()) json.ConsoleText(nullptr, stub.signature_warning);
  json.EndArray().BeginArray("empty_folders");
  for (const std::string& folder : inputs.tree.empty_folders)
    json.Text(nullptr, platform::Utf8TextToAnsi(folder));
  json.EndArray().ReportedErrors().EndObject().Print();
}

void PrintBuiltLine(const BuildRequest& request, const BuildInputs& inputs,
                    const BuiltFile& built) {
  std::string output = console::Printable(request.output);
  if (inputs.ready_zip) {
    std::printf("%s: %ld bytes (stub %zu, configuration %zu, archive %llu)\n", output.c_str(),
                built.size, built.stub_size, built.block_size,
                static_cast<unsigned long long>(inputs.zip.size()));
  } else {
    std::printf("%s: %ld bytes, %llu files and %llu folders (%llu bytes) packed%s\n",
                output.c_str(), built.size, static_cast<unsigned long long>(built.packed.files),
                static_cast<unsigned long long>(built.packed.folders),
                static_cast<unsigned long long>(built.packed.bytes_in),
                request.pack.password ? ", encrypted" : "");
  }
}

}  // namespace

int BuildCommand(const Arguments& arguments) {
  BuildRequest request;
  request.pack.jobs = DefaultJobs();
  if (std::optional<int> status = ReadBuildArguments(arguments, request)) return *status;
  if (int status = ReadSourceDateEpoch(request.pack.newest_time)) return status;
  PrepareZipSignatures();

  std::optional<FileIdentity> output_identity;
  if (!CheckOutput(request.output, output_identity)) return kExitFailure;
  if (IsOutputFile(request.stub, output_identity)) {
    ReportError(request.output + " is the stub too; building would replace it");
    return kExitFailure;
  }
  PreparedStub stub;
  if (int status = PrepareStub(request, stub)) return status;
  BuildInputs inputs;
  if (int status = GatherInputs(request, output_identity, inputs)) return status;
  std::vector<std::uint8_t> block = EncodeConfigBlock(request.settings);
  if (inputs.ready_zip && stub.bytes.size() + block.size() + inputs.zip.size() > 0x7FFFFFFF) {
    ReportError("the combined file would reach 2 GiB, more than the stub can read");
    return kExitFailure;
  }

  PartialFile output(request.output);
  BuiltFile built;
  if (int status = WriteCombinedFile(request, stub, block, inputs, output, built)) return status;
  if (request.verify &&
      !VerifyBuiltFile(output.partial_path(), request.pack.password, request.pack.jobs)) {
    return kExitFailure;
  }
  std::string error_text;
  if (!output.Commit(error_text)) {
    ReportError(error_text);
    return kExitFailure;
  }
  if (request.json) {
    PrintBuiltJson(request, stub, inputs, built);
  } else if (!request.quiet) {
    PrintBuiltLine(request, inputs, built);
  }
  return kExitSuccess;
}

}  // namespace selfx::cli
