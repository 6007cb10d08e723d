// A reference extractor for the measurements: the same loop as selfx's (the directory, then
// for each entry its local header, inflate, CRC-32, write), with zlib's or libdeflate's
// decoder, so that a comparison with selfx extract or test is one of decoders rather than of
// programs. Stored and deflated entries only, no encryption; not a tool for users.
//
//   selfx_reference_extract --decoder libdeflate|zlib [--test] ARCHIVE [FOLDER]

#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <libdeflate.h>
#include <zlib.h>

namespace {

class Buffer {
 public:
  std::uint8_t* Reserve(std::size_t size) {
    if (size > capacity_) {
      bytes_.reset(new std::uint8_t[size]);
      capacity_ = size;
    }
    return bytes_.get();
  }

 private:
  std::unique_ptr<std::uint8_t[]> bytes_;
  std::size_t capacity_ = 0;
};

std::uint32_t Le16(const std::uint8_t* p) { return p[0] | (p[1] << 8); }
std::uint32_t Le32(const std::uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

[[noreturn]] void Fail(const std::string& message) {
  std::fprintf(stderr, "selfx_reference_extract: %s\n", message.c_str());
  std::exit(1);
}

bool ReadAt(std::FILE* file, std::uint64_t offset, void* buffer, std::size_t size) {
  return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0 &&
         std::fread(buffer, 1, size, file) == size;
}

struct Entry {
  std::string name;
  std::uint32_t method, crc, compressed, uncompressed, offset;
};

std::vector<Entry> ReadDirectory(std::FILE* file, std::uint64_t& base) {
  fseeko(file, 0, SEEK_END);
  auto size = static_cast<std::uint64_t>(ftello(file));
  std::uint64_t window = size < 65557 ? size : 65557;
  std::vector<std::uint8_t> tail(window);
  if (!ReadAt(file, size - window, tail.data(), window)) Fail("cannot read the end");
  std::size_t at = window < 22 ? 0 : window - 22 + 1;
  while (at-- > 0) {
    if (Le32(&tail[at]) == 0x06054B50 && at + 22 + Le16(&tail[at + 20]) == window) break;
  }
  if (at == static_cast<std::size_t>(-1)) Fail("no end record");
  std::uint64_t end_position = size - window + at;
  std::uint32_t count = Le16(&tail[at + 10]), directory_size = Le32(&tail[at + 12]);
  std::uint32_t directory_offset = Le32(&tail[at + 16]);
  // Offsets may count from the archive's own start (a ZIP appended to a program).
  base = end_position - directory_size - directory_offset;
  std::vector<std::uint8_t> directory(directory_size);
  if (!ReadAt(file, end_position - directory_size, directory.data(), directory_size)) {
    Fail("cannot read the directory");
  }
  std::vector<Entry> entries;
  std::size_t p = 0;
  for (std::uint32_t i = 0; i < count; ++i) {
    if (p + 46 > directory.size() || Le32(&directory[p]) != 0x02014B50) Fail("bad directory");
    const std::uint8_t* h = &directory[p];
    std::uint32_t name_length = Le16(h + 28), extra = Le16(h + 30), comment = Le16(h + 32);
    if (Le16(h + 8) & 1) Fail("encrypted entries are not supported");
    entries.push_back({std::string(reinterpret_cast<const char*>(h + 46), name_length),
                       Le16(h + 10), Le32(h + 16), Le32(h + 20), Le32(h + 24), Le32(h + 42)});
    p += 46 + name_length + extra + comment;
  }
  return entries;
}

// Creates the folders on the way to path below folder, each once.
void MakeParents(const std::string& folder, const std::string& path, std::set<std::string>& made) {
  for (std::size_t slash = path.find('/', folder.size() + 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    std::string parent = path.substr(0, slash);
    if (made.insert(parent).second && ::mkdir(parent.c_str(), 0755) != 0 && errno != EEXIST) {
      Fail(parent + ": " + std::strerror(errno));
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::string decoder, archive, folder;
  bool test_only = false;
  for (int i = 1; i < argc; ++i) {
    std::string argument = argv[i];
    if (argument == "--decoder" && i + 1 < argc) {
      decoder = argv[++i];
    } else if (argument == "--test") {
      test_only = true;
    } else if (archive.empty()) {
      archive = argument;
    } else {
      folder = argument;
    }
  }
  if ((decoder != "libdeflate" && decoder != "zlib") || archive.empty() ||
      (folder.empty() && !test_only)) {
    Fail("usage: selfx_reference_extract --decoder libdeflate|zlib [--test] ARCHIVE [FOLDER]");
  }
  std::FILE* file = std::fopen(archive.c_str(), "rb");
  if (file == nullptr) Fail(archive + ": " + std::strerror(errno));
  std::uint64_t base = 0;
  std::vector<Entry> entries = ReadDirectory(file, base);
  libdeflate_decompressor* inflater = libdeflate_alloc_decompressor();
  std::set<std::string> made;
  // Buffers grown as needed and never cleared: the decoders write every byte they hand back.
  Buffer packed, unpacked;
  int failed = 0;
  for (const Entry& entry : entries) {
    if (!entry.name.empty() && entry.name.back() == '/') continue;
    std::uint8_t local[30];
    if (!ReadAt(file, base + entry.offset, local, sizeof local) || Le32(local) != 0x04034B50) {
      Fail(entry.name + ": bad local header");
    }
    std::uint64_t data = base + entry.offset + 30 + Le16(local + 26) + Le16(local + 28);
    std::uint8_t* in = packed.Reserve(entry.compressed);
    if (!ReadAt(file, data, in, entry.compressed)) Fail(entry.name + ": cannot read");
    std::uint8_t* out = entry.method == 0 ? in : unpacked.Reserve(entry.uncompressed);
    std::size_t size = entry.uncompressed;
    // A stored entry is its own output.
    bool decoded = entry.method != 0 || entry.compressed == entry.uncompressed;
    if (entry.method != 0 && entry.method != 8) Fail(entry.name + ": unsupported method");
    if (entry.method == 8 && decoder == "libdeflate") {
      decoded = libdeflate_deflate_decompress(inflater, in, entry.compressed, out, size, nullptr) ==
                LIBDEFLATE_SUCCESS;
    } else if (entry.method == 8) {
      z_stream stream = {};
      inflateInit2(&stream, -15);
      stream.next_in = in;
      stream.avail_in = entry.compressed;
      stream.next_out = out;
      stream.avail_out = static_cast<uInt>(size);
      decoded = inflate(&stream, Z_FINISH) == Z_STREAM_END;
      inflateEnd(&stream);
    }
    std::uint32_t crc = decoder == "libdeflate"
                            ? libdeflate_crc32(0, out, size)
                            : static_cast<std::uint32_t>(crc32(0, out, static_cast<uInt>(size)));
    if (!decoded || crc != entry.crc) {
      std::fprintf(stderr, "%s: %s\n", entry.name.c_str(), decoded ? "CRC error" : "bad data");
      ++failed;
      continue;
    }
    if (test_only) continue;
    std::string path = folder + "/" + entry.name;
    MakeParents(folder, path, made);
    std::FILE* output = std::fopen(path.c_str(), "wb");
    if (output == nullptr || std::fwrite(out, 1, size, output) != size ||
        std::fclose(output) != 0) {
      Fail(path + ": cannot write");
    }
  }
  libdeflate_free_decompressor(inflater);
  std::fclose(file);
  return failed == 0 ? 0 : 1;
}
