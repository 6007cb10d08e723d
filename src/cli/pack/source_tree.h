// What selfx build packs from the files and folders it is given: regular files and folders
// only, each under the name it has below its input, in a stable order, with every name one
// the stub can create. Collected whole before anything is written.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/native_file.h"

namespace selfx::cli {

struct PackSource {
  std::string disk_path;  // where the file or folder is, as the system's narrow calls take it
  std::string name;       // the entry name, "/" separated (a folder's ends in "/"), in UTF-8
  bool folder = false;
  bool through_link = false;  // reached through a symbolic link, whose target is packed
  PathFacts facts;            // of the file or folder itself (a link's target)
};

struct SourceTree {
  std::vector<PackSource> sources;
  std::uint64_t file_bytes = 0;            // the sizes of the files, as inspected
  std::vector<std::string> warnings;       // what was skipped, and why
  std::vector<std::string> empty_folders;  // entry names of folders that hold no file below
};

// Collects what the inputs hold: a folder contributes its contents (the folder itself is
// not a level of the names), a file its own name. A symbolic link stands for its target
// under its own name; a link to nothing and anything that is neither a file nor a folder
// (FIFO, device, socket) is skipped with a warning, never opened. The output file, when it
// already lies inside an input folder, is left out (output is its identity, if it exists).
// False with error_text on a file-system error, a loop of links, an input that is the
// output, a name the stub could not create, two names that Windows takes for one, or more
// entries than the stub can read.
bool CollectSources(const std::vector<std::string>& inputs,
                    const std::optional<FileIdentity>& output, SourceTree& tree,
                    std::string& error_text);

}  // namespace selfx::cli
