// Arbitrary bytes as a deflated entry, through the product path: the bytes are the entry's
// data in an archive file, read through CompressedInput and written through WriteOutput. Both
// inner loops run on every input and must write the same bytes, end with the same CRC and
// leave the same input unread; the output must stay bounded (a damaged stream always ends).
// The first byte chooses whether the entry is encrypted.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "archive/archive_file.h"
#include "archive/extraction_state.h"
#include "codec/crc32.h"
#include "codec/inflate.h"
#include "codec/zip_crypto.h"

namespace {

std::string Directory() {
  static std::string directory = [] {
    std::string base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string pattern = base + "/selfx_fuzz_XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr) abort();
    return std::string(buffer.data());
  }();
  return directory;
}

void WriteWhole(const std::string& path, const std::uint8_t* data, std::size_t size) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd < 0 || write(fd, data, size) != static_cast<ssize_t>(size)) abort();
  close(fd);
}

std::vector<std::uint8_t> ReadWhole(const std::string& path) {
  std::vector<std::uint8_t> bytes;
  int fd = open(path.c_str(), O_RDONLY);
  std::uint8_t chunk[65536];
  for (ssize_t n; (n = read(fd, chunk, sizeof(chunk))) > 0;) bytes.insert(bytes.end(), chunk, chunk + n);
  close(fd);
  return bytes;
}

struct Run {
  std::vector<std::uint8_t> output;
  std::uint32_t crc;
  std::int32_t remaining;
};

Run Decode(const std::string& archive, std::size_t size, bool encrypted, bool fast) {
  selfx::UseFastInflate = fast;
  selfx::OpenArchiveFile(archive);
  selfx::CurrentEntry = selfx::ArchiveEntry();
  selfx::CompressedRemaining = static_cast<std::int32_t>(size);
  if (encrypted) {
    selfx::CurrentEntry.bytes[8] = 0x01;
    std::uint8_t work[24] = {};
    selfx::ReadArchive(work + 12, 12);
    selfx::CheckEncryptionHeader(work, 12, 0x0008, 0, 0, "fuzz");  // the result does not matter
    selfx::CompressedRemaining -= 12;
  }
  std::string output = Directory() + "/output";
  selfx::OutputFile.path = output;
  selfx::OutputFile.handle = selfx::platform::CreateForWriting(output);
  selfx::RunningCrc = 0xFFFFFFFF;
  selfx::DecodeDeflatedEntry();
  selfx::platform::Close(selfx::OutputFile.handle);
  selfx::platform::Close(selfx::ArchiveFile.handle);
  return Run{ReadWhole(output), selfx::RunningCrc, selfx::CompressedRemaining};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static bool initialised = [] {
    selfx::BuildCrcTable();
    selfx::BuildFixedTables();
    return true;
  }();
  (void)initialised;
  if (size < 1) return 0;
  bool encrypted = (data[0] & 1) != 0;
  std::string archive = Directory() + "/archive";
  WriteWhole(archive, data + 1, size - 1);

  Run readable = Decode(archive, size - 1, encrypted, false);
  Run fast = Decode(archive, size - 1, encrypted, true);
  if (readable.output != fast.output || readable.crc != fast.crc || readable.remaining != fast.remaining) abort();
  std::uint32_t crc = 0xFFFFFFFF;
  selfx::UpdateCrcBytewise(readable.output.data(), static_cast<std::int32_t>(readable.output.size()), crc);
  if (crc != readable.crc) abort();
  // Every code consumes at least one real bit and yields at most 258 bytes; stored blocks
  // yield at most their own bytes.
  if (readable.output.size() > 258 * 8 * size + 65536) abort();
  return 0;
}
