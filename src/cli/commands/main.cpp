// selfx: makes and inspects self-extracting ZIP archives for Windows.

#include <cstdio>
#include <string>

#include "cli/commands/commands.h"
#include "cli/front/command_line.h"
#include "cli/front/json.h"
#include "platform/platform.h"
#include "ui/console/report.h"

namespace selfx::cli {

namespace {

int RunCommand(const std::string& command, const Arguments& arguments) {
  // "selfx help build" is "selfx build --help".
  if (command == "help" && !arguments.empty()) return RunCommand(arguments[0], {"--help"});
  if (command == "build") return BuildCommand(arguments);
  if (command == "info") return InfoCommand(arguments);
  if (command == "list") return ListCommand(arguments);
  if (command == "test") return TestCommand(arguments);
  if (command == "extract") return ExtractCommand(arguments);
  ReportError("unknown command \"" + command + "\"");
  return -1;
}

constexpr const char* kUsage = R"(usage: selfx COMMAND [options] ...

Commands:
  build    write a self-extracting archive: stub + configuration + ZIP archive
  info     show the configuration of a self-extracting archive and check its parts
  list     list the files of an archive as its stub shows them
  test     decode every file and check its CRC-32, writing nothing
  extract  extract the files exactly as the stub would
  help     describe a command: selfx help COMMAND

Options:
  -h, --help               show this help
      --version            show the version

"selfx help COMMAND" (or "selfx COMMAND --help") describes each command and its options.
Exit status: 0 success, 1 the work failed, 2 bad usage, 3 stopped (test and extract).
)";

}  // namespace
}  // namespace selfx::cli

int main(int argc, char** argv) {
  using namespace selfx::cli;
  if (argc < 2) {
    std::fputs(kUsage, stderr);
    return kExitUsage;
  }
  std::string first = argv[1];
  if (first == "--help" || first == "-h" || (first == "help" && argc == 2)) {
    std::fputs(kUsage, stdout);
    return kExitSuccess;
  }
  if (first == "--version") {
    std::printf("selfx %s\n", kVersion);
    return kExitSuccess;
  }
  int status = RunCommand(argv[1], Arguments(argv + 2, argv + argc));
  if (status < 0) {
    std::fputs(kUsage, stderr);
    status = kExitUsage;
  }
  FinishJsonOutput(status);
  return status;
}
