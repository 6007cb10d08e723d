// selfx build: stub + configuration block + trailer + ZIP archive.

#include <cstdio>
#include <cstdlib>

#include "app/byte_order.h"
#include "app/config_block.h"
#include "archive/directory.h"
#include "archive/paths.h"
#include "archive/zip_format.h"
#include "archive/zip_signatures.h"
#include "cli/commands.h"
#include "cli/native_file.h"
#include "cli/option_names.h"
#include "cli/stub_image.h"
#include "platform/platform.h"

namespace selfx::cli {

namespace {

constexpr const char* kBuildHelp = R"(usage: selfx build [options] -o OUTPUT.exe ARCHIVE.zip

Writes a self-extracting archive: the stub, a configuration block and ARCHIVE.zip.

  -o, --output FILE        the combined .exe to write (replaced only when complete)
      --stub FILE          the stub to use (default: selfx-stub.exe beside selfx, or
                           the one the win32 build made; also $SELFX_STUB)
      --caption TEXT       title of the dialog and of its message boxes
                           (default "Unzip to disk")
      --folder TEXT        target folder: a path, %VARIABLES%, $T (new folder under TEMP),
                           $W (Windows folder), $S (system folder), or a registry value
                           such as $HLM\Software\Vendor\App\InstallDir+\Data
      --command TEXT       file or program to open after a successful run ("file params")
      --message TEXT       question asked at start; answering No/Cancel ends the program
      --message-style S    its buttons and icon: ok, okcancel, yesno, yesnocancel,
                           retrycancel, abortretryignore, each optionally with +error,
                           +question, +warning or +information; or a number (0x24)
      --overwrite MODE     overwrite, skip or ask when a file exists (default overwrite)
      --options 0xNNNN     raw option word, combined with the flags below
Option flags:
)";

struct BuildRequest {
  ConfigSettings settings;
  std::string output;
  std::string input;
  std::string stub;
};

bool TextOption(const std::string& name, const std::string& value, std::string& target) {
  std::string ansi;
  if (!platform::CommandLineTextToAnsi(value, ansi)) {
    ReportError("--" + name + ": the text holds characters that Windows code page 1252 "
                "cannot represent");
    return false;
  }
  if (ansi.size() > 255) {
    ReportError("--" + name + ": the text is " + std::to_string(ansi.size()) +
                " bytes long; at most 255 fit the configuration block");
    return false;
  }
  target = ansi;
  return true;
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

// 0 when the arguments are complete and sound, else the exit status to end with.
int ParseBuildArguments(const Arguments& arguments, BuildRequest& request) {
  std::uint16_t options = 0;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (argument == "-h" || argument == "--help") {
      std::fputs(kBuildHelp, stdout);
      for (const OptionName& option : kOptionNames) {
        std::printf("      --%-22s0x%04X  %s\n", option.flag, option.bit, option.meaning);
      }
      std::exit(kExitSuccess);
    }
    bool matched_flag = false;
    for (const OptionName& option : kOptionNames) {
      if (argument == std::string("--") + option.flag) {
        options |= option.bit;
        matched_flag = true;
      }
    }
    if (matched_flag) continue;
    if (argument.size() > 1 && argument[0] == '-') {
      std::string name = argument.substr(argument[1] == '-' ? 2 : 1);
      if (i + 1 >= arguments.size()) {
        ReportError(argument + " needs a value (see selfx build --help)");
        return kExitUsage;
      }
      const std::string& value = arguments[++i];
      if (name == "o" || name == "output") {
        request.output = value;
      } else if (name == "stub") {
        request.stub = value;
      } else if (name == "caption" || name == "folder" || name == "command" || name == "message") {
        std::string& target = name == "caption"  ? request.settings.caption
                              : name == "folder" ? request.settings.folder
                              : name == "command" ? request.settings.command
                                                  : request.settings.message;
        if (!TextOption(name, value, target)) return kExitUsage;
      } else if (name == "message-style") {
        std::optional<std::uint32_t> style = ParseMessageStyle(value);
        if (!style) {
          ReportError("--message-style: unknown style \"" + value + "\"");
          return kExitUsage;
        }
        request.settings.message_style = *style;
      } else if (name == "overwrite") {
        std::optional<std::uint8_t> mode = ParseOverwriteMode(value);
        if (!mode) {
          ReportError("--overwrite: expected overwrite, skip or ask, not \"" + value + "\"");
          return kExitUsage;
        }
        request.settings.overwrite_mode = *mode;
      } else if (name == "options") {
        std::optional<std::uint32_t> word = ParseNumber(value, 0xFFFF);
        if (!word) {
          ReportError("--options: expected a number from 0 to 0xFFFF, not \"" + value + "\"");
          return kExitUsage;
        }
        options |= static_cast<std::uint16_t>(*word);
      } else {
        ReportError("unknown option " + argument + " (see selfx build --help)");
        return kExitUsage;
      }
      continue;
    }
    if (!request.input.empty()) {
      ReportError("more than one archive given: " + request.input + " and " + argument);
      return kExitUsage;
    }
    request.input = argument;
  }
  request.settings.options = options;
  if (request.output.empty() || request.input.empty()) {
    ReportError("usage: selfx build [options] -o OUTPUT.exe ARCHIVE.zip (see --help)");
    return kExitUsage;
  }
  if (request.stub.empty()) request.stub = DefaultStubPath();
  return 0;
}

// The ZIP must be one the stub can read: an end record whose comment ends the file, and no
// ZIP64 records, which the stub does not know and which would make it look in the wrong
// place.
bool CheckArchive(const std::vector<std::uint8_t>& zip_bytes, const std::string& path) {
  if (zip_bytes.size() > 0x7FFFFFFF) {
    ReportError(path + ": archives of 2 GiB or more cannot be read by the stub");
    return false;
  }
  auto size = static_cast<std::uint32_t>(zip_bytes.size());
  std::uint32_t window_size = size < zip::kEndSearchWindow ? size : zip::kEndSearchWindow;
  std::uint32_t window_start = size - window_size;
  std::optional<std::uint32_t> end_offset =
      ScanForEndRecord(zip_bytes.data() + window_start, window_size, window_start, size);
  if (!end_offset) {
    ReportError(path + ": not a ZIP archive (no end of central directory record at its end)");
    return false;
  }
  std::uint32_t end_position = window_start + *end_offset;
  const std::uint8_t* end_record = zip_bytes.data() + end_position;
  bool zip64_locator = end_position >= 20 &&
                       LoadLe32(zip_bytes.data() + end_position - 20) == 0x07064B50;
  bool zip64_markers = LoadLe16(end_record + zip::kEndTotalEntries) == 0xFFFF ||
                       LoadLe32(end_record + zip::kEndDirectorySize) == 0xFFFFFFFF ||
                       LoadLe32(end_record + zip::kEndDirectoryOffset) == 0xFFFFFFFF;
  if (zip64_locator || zip64_markers) {
    ReportError(path + ": the archive carries ZIP64 records, which the stub cannot read "
                "(rebuild it without ZIP64, e.g. zip -fz-)");
    return false;
  }
  std::uint32_t directory_size = LoadLe32(end_record + zip::kEndDirectorySize);
  if (directory_size > end_position) {
    ReportError(path + ": the archive is damaged (its directory is larger than the file)");
    return false;
  }
  return true;
}

}  // namespace

int BuildCommand(const Arguments& arguments) {
  BuildRequest request;
  if (int status = ParseBuildArguments(arguments, request)) return status;
  PrepareZipSignatures();

  std::string error_text;
  std::optional<std::vector<std::uint8_t>> stub = ReadWholeFile(request.stub, error_text);
  if (!stub) {
    ReportError("cannot read the stub: " + error_text + " (give one with --stub)");
    return kExitFailure;
  }
  std::optional<std::uint32_t> overlay_start = CheckedOverlayStart(*stub, error_text);
  if (!overlay_start) {
    ReportError(request.stub + ": " + error_text);
    return kExitFailure;
  }
  // The stub finds its configuration exactly where its image ends; anything behind the image
  // (a symbol table, a signature, an archive built before) would stand in its place.
  if (*overlay_start != stub->size()) {
    ReportError(request.stub + ": the file does not end where its image ends (" +
                std::to_string(stub->size()) + " bytes, image " +
                std::to_string(*overlay_start) +
                "); it carries a symbol table, a certificate or an archive already: "
                "use a plain, stripped stub");
    return kExitFailure;
  }

  std::optional<std::vector<std::uint8_t>> zip_bytes = ReadWholeFile(request.input, error_text);
  if (!zip_bytes) {
    ReportError(error_text);
    return kExitFailure;
  }
  if (!CheckArchive(*zip_bytes, request.input)) return kExitFailure;

  std::vector<std::uint8_t> block = EncodeConfigBlock(request.settings);
  if (stub->size() + block.size() + zip_bytes->size() > 0x7FFFFFFF) {
    ReportError("the combined file would reach 2 GiB, more than the stub can read");
    return kExitFailure;
  }
  if (!WriteFileAtomically(request.output, {&*stub, &block, &*zip_bytes}, error_text)) {
    ReportError(error_text);
    return kExitFailure;
  }
  std::printf("%s: %zu bytes (stub %zu, configuration %zu, archive %zu)\n",
              request.output.c_str(), stub->size() + block.size() + zip_bytes->size(),
              stub->size(), block.size(), zip_bytes->size());
  return kExitSuccess;
}

}  // namespace selfx::cli
