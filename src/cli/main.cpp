// selfx: makes and inspects self-extracting ZIP archives for Windows.

#include <cstdio>
#include <string>

#include "cli/commands.h"

namespace selfx::cli {

void ReportError(const std::string& message) {
  std::fprintf(stderr, "selfx: %s\n", message.c_str());
}

namespace {

constexpr const char* kUsage = R"(usage: selfx COMMAND [options] ...

Commands:
  build   write a self-extracting archive: stub + configuration + ZIP archive
  info    show the configuration of a self-extracting archive and check its parts
  list    list the files of an archive as its stub shows them
  test    decode every file and check its CRC-32, writing nothing
  extract extract the files exactly as the stub would

"selfx COMMAND --help" describes each command.
)";

}  // namespace
}  // namespace selfx::cli

int main(int argc, char** argv) {
  using namespace selfx::cli;
  if (argc < 2 || std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h") {
    std::fputs(kUsage, argc < 2 ? stderr : stdout);
    return argc < 2 ? kExitUsage : kExitSuccess;
  }
  std::string command = argv[1];
  Arguments arguments(argv + 2, argv + argc);
  if (command == "build") return BuildCommand(arguments);
  if (command == "info") return InfoCommand(arguments);
  if (command == "list") return ListCommand(arguments);
  if (command == "test") return TestCommand(arguments);
  if (command == "extract") return ExtractCommand(arguments);
  ReportError("unknown command \"" + command + "\"");
  std::fputs(kUsage, stderr);
  return kExitUsage;
}
