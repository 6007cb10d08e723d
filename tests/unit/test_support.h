// Helpers for the unit tests: temporary files opened as the archive, and ZIP archives whose
// every field a test can bend (written by the tests' one ZIP writer, common/zip_writer.h).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "archive/extraction.h"

namespace selfx::test {

using Bytes = std::vector<std::uint8_t>;

// A file in a fresh temporary folder, removed with the folder when the object goes.
class TempFile {
 public:
  explicit TempFile(const Bytes& contents, const std::string& name = "archive.bin");
  ~TempFile();
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  const std::string& path() const { return path_; }
  const std::string& folder() const { return folder_; }

 private:
  std::string folder_;
  std::string path_;
};

// Writes contents to a temporary file and opens it as the extraction's archive file; also
// resets the scripted user interface and prepares the signatures. The file lives as long as
// the returned object.
std::unique_ptr<TempFile> OpenAsArchive(const Bytes& contents, Extraction& extraction);

struct ZipEntrySpec {
  std::string name;
  std::string data;  // the file's bytes; compressed with zlib when method is 8
  std::uint8_t format_version = 20;
  std::uint8_t host = 0;
  std::uint16_t flags = 0;
  std::uint16_t method = 0;
  std::string password;              // encrypts the entry (and sets flag bit 0) when not empty
  std::optional<std::uint32_t> crc;  // recorded CRC-32; the data's own when not given
  std::string local_extra;           // an extra field in the local header only
  std::uint32_t dos_date_time = 0x21420000;  // 1996-10-02 00:00:00
};

// A stored ZIP archive. Local-header offsets are recorded from offset_base (0 for a plain
// file; a negative base makes them smaller than the true positions).
struct ZipSpec {
  std::vector<ZipEntrySpec> entries;
  std::string comment;
  std::int64_t offset_base = 0;
};
Bytes MakeZip(const ZipSpec& spec);

// Runs the selfx tool with the arguments, as a user's shell would.
struct RunResult {
  int status;          // the exit status, -1 when it did not exit normally
  std::string output;  // stdout and stderr together
};
struct RunOptions {
  std::string environment;     // "NAME=value ..." before the command
  bool capture_stderr = true;  // false: stdout alone, as a program reading --json sees it
};
// Under a time limit, so that a run that hangs fails its test instead of hanging the suite
// (the output then ends in "(timed out)").
RunResult RunTool(const std::string& arguments, const RunOptions& options = {});

// Runs a shell command line (pipes and redirections allowed) under the same time limit, with
// stdout and stderr together.
RunResult RunShell(const std::string& command);

// The file's bytes as a string; empty when it cannot be read.
std::string ReadFileText(const std::string& path);

// The smallest PE32 image the builder accepts: one section whose raw data ends the file,
// followed by trailing_bytes that do not belong to the image.
Bytes FakeStub(std::size_t trailing_bytes = 0);

void Append(Bytes& to, const Bytes& more);
void Append(Bytes& to, const std::string& more);
Bytes Le16(std::uint16_t value);
Bytes Le32(std::uint32_t value);

}  // namespace selfx::test
