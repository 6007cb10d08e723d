// Writes a ZIP archive from files and folders, as the stub reads it: deflate (or stored when
// that does not shrink a file), DOS times in local time, "/" separators, names flagged as
// UTF-8 when they are not plain ASCII, traditional encryption on request, and never a ZIP64
// record.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cli/pack/source_tree.h"

namespace selfx::cli {

struct PackOptions {
  int level = 6;  // 0 stores every file; 1 to 12 deflate, 10 to 12 with libdeflate's best search
  // Threads that read and deflate files; the archive is the same whatever their number.
  unsigned jobs = 1;
  std::optional<std::string> password;  // ANSI bytes; encrypts every file when set
  // Modification times newer than this are recorded as this (SOURCE_DATE_EPOCH), so that
  // the same files give the same archive whenever they were touched.
  std::optional<std::time_t> newest_time;
  // Told the number of bytes read since its last call, for every buffer read from a file
  // (once per file byte, however often a file is read).
  std::function<void(std::uint64_t)> progress;
};

struct PackResult {
  std::uint64_t files = 0;
  std::uint64_t folders = 0;
  std::uint64_t bytes_in = 0;
};

// Writes the ZIP to output, an open seekable file, from its current position to its end;
// the offsets recorded count from the file's start. False with error_text on a read
// error or on anything the stub cannot read (a file of 4 GiB or more, an archive over
// 2 GiB): the limits are checked while reading, so a file that grows without end stops the
// build as soon as it passes one.
bool WriteZip(std::FILE* output, const std::vector<PackSource>& sources, const PackOptions& options,
              PackResult& result, std::string& error_text);

}  // namespace selfx::cli
