#include "test_support.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <zlib.h>

#include "archive/archive_file.h"
#include "archive/zip_signatures.h"
#include "codec_test_support.h"
#include "common/zip_writer.h"
#include "scripted_ui.h"

namespace selfx::test {

TempFile::TempFile(const Bytes& contents, const std::string& name) {
  char pattern[] = "/tmp/selfx-test-XXXXXX";
  folder_ = ::mkdtemp(pattern);
  path_ = folder_ + "/" + name;
  std::ofstream out(path_, std::ios::binary);
  out.write(reinterpret_cast<const char*>(contents.data()),
            static_cast<std::streamsize>(contents.size()));
}

TempFile::~TempFile() {
  std::error_code ignored;
  std::filesystem::remove_all(folder_, ignored);
}

std::unique_ptr<TempFile> OpenAsArchive(const Bytes& contents, Extraction& extraction) {
  PrepareZipSignatures();
  TheScriptedUi.Reset();
  auto file = std::make_unique<TempFile>(contents);
  CloseAndReset(extraction.archive.handle);
  OpenArchiveFile(extraction.archive, file->path());
  return file;
}

namespace {
RunResult RunCommandLine(const std::string& command) {
  RunResult result{-1, ""};
  std::FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, n);
  int wait_status = ::pclose(pipe);
  result.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
  if (result.status == 128 + SIGKILL) result.output += "\n(timed out)";
  return result;
}
}  // namespace

RunResult RunTool(const std::string& arguments, const RunOptions& options) {
  return RunCommandLine(options.environment + " timeout -s KILL 120 " + SELFX_TOOL_PATH + " " +
                        arguments + (options.capture_stderr ? " 2>&1" : " 2>/dev/null"));
}

RunResult RunShell(const std::string& command) {
  std::string quoted = "'";
  for (char c : command) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return RunCommandLine("timeout -s KILL 120 sh -c " + quoted + "' 2>&1");
}

std::string ReadFileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Bytes FakeStub(std::size_t trailing_bytes) {
  Bytes stub(0x400, 0);
  stub[0] = 'M';
  stub[1] = 'Z';
  stub[0x3C] = 0x80;
  Bytes pe = {'P', 'E', 0, 0, 0x4C, 0x01, 1, 0};  // i386, one section
  std::copy(pe.begin(), pe.end(), stub.begin() + 0x80);
  stub[0x80 + 20] = 224;   // standard optional header
  stub[0x80 + 24] = 0x0B;  // PE32
  stub[0x80 + 25] = 0x01;
  Bytes section_size = Le32(0x200), section_pointer = Le32(0x200);
  std::copy(section_size.begin(), section_size.end(), stub.begin() + 0x80 + 248 + 16);
  std::copy(section_pointer.begin(), section_pointer.end(), stub.begin() + 0x80 + 248 + 20);
  stub.resize(stub.size() + trailing_bytes, 0x5A);
  return stub;
}

void Append(Bytes& to, const Bytes& more) { to.insert(to.end(), more.begin(), more.end()); }
void Append(Bytes& to, const std::string& more) { to.insert(to.end(), more.begin(), more.end()); }
Bytes Le16(std::uint16_t value) {
  return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8)};
}
Bytes Le32(std::uint32_t value) {
  return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
          static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
}

namespace {
Bytes RawDeflate(const Bytes& plain) {
  z_stream stream = {};
  deflateInit2(&stream, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
  Bytes out(deflateBound(&stream, plain.size()));
  stream.next_in = const_cast<Bytef*>(plain.data());
  stream.avail_in = static_cast<uInt>(plain.size());
  stream.next_out = out.data();
  stream.avail_out = static_cast<uInt>(out.size());
  ::deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}
}  // namespace

Bytes MakeZip(const ZipSpec& spec) {
  std::vector<test_zip::ZipEntry> entries;
  for (const ZipEntrySpec& spec_entry : spec.entries) {
    Bytes plain(spec_entry.data.begin(), spec_entry.data.end());
    test_zip::ZipEntry entry;
    entry.name = spec_entry.name;
    entry.crc = spec_entry.crc ? *spec_entry.crc : codec_test::Crc32Of(plain);
    Bytes stored = spec_entry.method == 8 ? RawDeflate(plain) : plain;
    entry.flags = spec_entry.flags;
    if (!spec_entry.password.empty()) {
      entry.flags |= 1;
      stored = codec_test::EncryptEntry(stored, spec_entry.password,
                                        static_cast<std::uint8_t>(entry.crc >> 24));
    }
    entry.stored.assign(stored.begin(), stored.end());
    entry.uncompressed_size = static_cast<std::uint32_t>(plain.size());
    entry.method = spec_entry.method;
    entry.version_made = spec_entry.format_version;
    entry.host = spec_entry.host;
    entry.dos_date_time = spec_entry.dos_date_time;
    entry.local_extra = spec_entry.local_extra;
    entries.push_back(std::move(entry));
  }
  return test_zip::WriteZip(entries, spec.offset_base, spec.comment).bytes;
}

}  // namespace selfx::test
