// Writes a ZIP archive from files and folders, as the stub reads it: deflate (or stored when
// that does not shrink a file), DOS times in local time, "/" separators, names flagged as
// UTF-8 when they are not plain ASCII, traditional encryption on request, and never a ZIP64
// record.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace selfx::cli {

struct PackOptions {
  int level = 6;                        // zlib level 0..9
  std::optional<std::string> password;  // ANSI bytes; encrypts every file when set
};

struct PackSource {
  std::string disk_path;  // where the file or folder is, as the system names it
  std::string name;       // the entry name, "/" separated, in UTF-8
  bool folder = false;
};

// Collects what the inputs hold, in a stable order: a folder contributes its contents (the
// folder itself is not a level of the names), a file its own name. Refuses (false, with
// error_text) names the stub could not create on Windows and names that appear twice.
bool CollectSources(const std::vector<std::string>& inputs, std::vector<PackSource>& sources,
                    std::string& error_text);

struct PackResult {
  std::uint64_t files = 0;
  std::uint64_t folders = 0;
  std::uint64_t bytes_in = 0;
};

// Writes the ZIP to output, an open seekable file, from its current position to its end;
// the offsets recorded count from the file's start. False with error_text on a read
// error or on anything the stub cannot read (a file of 4 GiB or more, an archive over
// 2 GiB, more than 65,535 entries).
bool WriteZip(std::FILE* output, const std::vector<PackSource>& sources, const PackOptions& options,
              PackResult& result, std::string& error_text);

}  // namespace selfx::cli
