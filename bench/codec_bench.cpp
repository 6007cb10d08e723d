// Throughput of the codec against zlib and libdeflate on the same streams, in one run.
//
// Corpus: files of this machine read in a fixed (sorted) order from three kinds of places:
// text (/usr/share, /usr/include), programs and libraries (/usr/bin, /usr/lib) and data that
// is already compressed (*.gz, *.xz, *.png, *.jar, ...), up to a size budget per kind, each
// file one entry (cut at 8 MiB). Every entry is compressed with zlib (raw deflate) at each level
// asked for. Nothing is committed; the archive is written to a temporary directory (in
// /dev/shm when it exists).
//
// Fairness: selfx runs its product path: the entries are read from that archive file through
// ReadArchive (32 KiB reads, the decoder's source) and written by the stub's sink
// (WriteOutputPiece: WriteOutput to /dev/null in 32 KiB pieces, then RunningCrc), with RunningCrc
// checked against the recorded CRC. zlib and libdeflate decode the same streams
// from memory into memory and compute their own crc32 over the output, which spares them the
// read and write calls selfx makes (two system calls per 32 KiB).
#include <dirent.h>
#include <libdeflate.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "archive/archive_file.h"
#include "archive/extraction.h"
#include "archive/stored_copy.h"
#include "codec/crc32.h"
#include "codec/inflate.h"
#include "codec/zip_crypto.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
// The processor time this thread spends, in seconds, user and system alike (selfx's reads and
// writes count). On a shared machine wall time also counts the waits for a free core, which
// hit whichever contender happens to run then; processor time does not.
double ThreadSeconds() {
  timespec now;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

struct Options {
  std::size_t megabytes = 240;
  std::vector<int> levels = {1, 6, 9};
  int repeats = 1;
  // Only libdeflate and selfx's memory row at each level (and stored blocks): a quick
  // side-by-side of the two decoders, and a run to profile them without the rest.
  bool memory_only = false;
};

struct Entry {
  Bytes data;
  std::uint32_t crc;
};

// ---- corpus ----

bool IsCompressedName(const std::string& name) {
  static const char* suffixes[] = {".gz",  ".xz",  ".bz2", ".zst", ".png",
                                   ".jpg", ".jar", ".zip", ".deb", ".woff2"};
  for (const char* suffix : suffixes) {
    std::size_t n = std::strlen(suffix);
    if (name.size() > n && name.compare(name.size() - n, n, suffix) == 0) return true;
  }
  return false;
}

void ListFiles(const std::string& directory, std::vector<std::string>* files, int depth = 0) {
  if (depth > 6) return;
  DIR* dir = opendir(directory.c_str());
  if (dir == nullptr) return;
  std::vector<std::string> names;
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    std::string path = directory + "/" + name;
    struct stat info;
    if (lstat(path.c_str(), &info) != 0) continue;
    if (S_ISDIR(info.st_mode)) {
      ListFiles(path, files, depth + 1);
    } else if (S_ISREG(info.st_mode) && info.st_size > 0) {
      files->push_back(path);
    }
  }
}

Bytes ReadFile(const std::string& path, std::size_t limit) {
  // Sized to the file, not to the limit: the corpus holds thousands of these, and the 32-bit
  // build has no address space to spare.
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return {};
  std::ifstream file(path, std::ios::binary);
  Bytes bytes(std::min<std::size_t>(limit, static_cast<std::size_t>(info.st_size)));
  file.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  bytes.resize(static_cast<std::size_t>(file.gcount()));
  return bytes;
}

// Takes files of one kind from the roots, in sorted order, until the budget is reached.
void AddKind(const std::vector<std::string>& roots,
             const std::function<bool(const std::string&, const Bytes&)>& wanted,
             std::size_t budget, std::vector<Entry>* entries, std::size_t* taken) {
  *taken = 0;
  for (const std::string& root : roots) {
    std::vector<std::string> files;
    ListFiles(root, &files);
    for (const std::string& path : files) {
      if (*taken >= budget) return;
      Bytes bytes = ReadFile(path, std::min<std::size_t>(8 << 20, budget - *taken));
      if (bytes.empty() || !wanted(path, bytes)) continue;
      *taken += bytes.size();
      entries->push_back(Entry{std::move(bytes), 0});
    }
  }
}

bool LooksLikeText(const Bytes& bytes) {
  std::size_t check = std::min<std::size_t>(bytes.size(), 4096);
  for (std::size_t i = 0; i < check; ++i)
    if (bytes[i] == 0) return false;
  return true;
}

// ---- compression with zlib ----

Bytes ZlibDeflate(const Bytes& data, int level) {
  z_stream z{};
  deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  Bytes out(deflateBound(&z, static_cast<uLong>(data.size())) + 64);
  z.next_in = const_cast<Bytef*>(data.data());
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  ::deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

Bytes Encrypt(const Bytes& plain, const std::string& password) {
  selfx::ZipKeys keys;
  selfx::InitKeys(keys, password);
  Bytes out;
  out.reserve(plain.size() + 12);
  auto encrypt = [&out, &keys](std::uint8_t byte) {
    out.push_back(static_cast<std::uint8_t>(byte ^ selfx::KeystreamByte(keys)));
    selfx::UpdateKeys(keys, byte);
  };
  for (int i = 0; i < 11; ++i) encrypt(static_cast<std::uint8_t>(i));
  encrypt(0);  // check byte against a CRC whose high byte we pass as 0
  for (std::uint8_t byte : plain) encrypt(byte);
  return out;
}

// ---- the archive file that selfx reads ----

struct Stream {
  std::uint32_t offset;
  std::uint32_t size;
};

struct Archive {
  std::string path;
  std::vector<Stream> streams;
};

Archive WriteArchive(const std::string& path, const std::vector<Bytes>& streams) {
  Archive archive{path, {}};
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  std::uint32_t offset = 0;
  for (const Bytes& stream : streams) {
    file.write(reinterpret_cast<const char*>(stream.data()),
               static_cast<std::streamsize>(stream.size()));
    archive.streams.push_back({offset, static_cast<std::uint32_t>(stream.size())});
    offset += static_cast<std::uint32_t>(stream.size());
  }
  return archive;
}

// The decoder of every selfx row, reused from entry to entry as a decoding thread's is.
selfx::Inflater* inflater = nullptr;

// Runs every entry of the archive the way ExtractEntry does, through an extraction context;
// false on any CRC mismatch.
bool RunSelfx(const Archive& archive, const std::vector<Entry>& entries, bool stored,
              bool encrypted) {
  selfx::Extraction extraction;
  selfx::OpenArchiveFile(extraction.archive, archive.path);
  extraction.output.path = "/dev/null";
  extraction.output.handle = selfx::platform::CreateForWriting("/dev/null");
  bool sound = true;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const Stream& stream = archive.streams[i];
    extraction.archive.Seek(static_cast<std::int32_t>(stream.offset),
                            selfx::platform::SeekOrigin::FromStart);
    extraction.current = selfx::ArchiveEntry();
    extraction.compressed_remaining = static_cast<std::int32_t>(stream.size);
    if (encrypted) {
      extraction.current.bytes[8] = 0x01;
      std::uint8_t work[24];
      if (!extraction.archive.ReadExact(work + 12, 12) ||
          !selfx::CheckEncryptionHeader(extraction.keys, work, 12, 1, 0, 0, "benchmark")) {
        sound = false;
      }
      extraction.compressed_remaining -= 12;
    }
    extraction.running_crc = 0xFFFFFFFF;
    if (stored) {
      if (!selfx::CopyStoredEntry(extraction)) sound = false;
    } else {
      // The shared decoder, whose loop the row's settings chose.
      selfx::DecodeDeflatedEntry(
          *inflater, selfx::ArchiveSource(extraction.archive), extraction.compressed_remaining,
          encrypted ? &extraction.keys : nullptr, selfx::OutputToFile(extraction));
    }
    if ((extraction.running_crc ^ 0xFFFFFFFF) != entries[i].crc) sound = false;
  }
  selfx::platform::CloseOutput(extraction.output.handle, selfx::platform::OutputEnding::kCommit);
  extraction.output.handle = selfx::platform::kNoFile;
  selfx::CloseAndReset(extraction.archive.handle);
  return sound;
}

// The decoder alone, as libdeflate is measured: the stream from memory, the output only
// through the CRC. The same decoder as RunSelfx, through its explicit input and output.
struct Memory {
  const std::uint8_t* next;
  std::uint32_t left;
};
std::uint32_t ReadMemory(void* context, void* buffer, std::uint32_t count) {
  Memory& memory = *static_cast<Memory*>(context);
  if (count > memory.left) count = memory.left;
  std::memcpy(buffer, memory.next, count);
  memory.next += count;
  memory.left -= count;
  return count;
}
bool CrcOnly(void* context, const std::uint8_t* bytes, std::uint32_t count) {
  selfx::UpdateCrc(bytes, static_cast<std::int32_t>(count), *static_cast<std::uint32_t*>(context));
  return true;
}

// Whether the decoder runs the BMI2 build of its fast loop, and the switch to its generic one.
bool Bmi2InUse() {
#ifdef SELFX_INFLATE_BMI2
  return selfx::ProcessorHasBmi2;
#else
  return false;
#endif
}
void SetBmi2([[maybe_unused]] bool on) {
#ifdef SELFX_INFLATE_BMI2
  inflater->generic_loop = !on;
#endif
}

bool RunSelfxFromMemory(const std::vector<Bytes>& streams, const std::vector<Entry>& entries) {
  bool sound = true;
  for (std::size_t i = 0; i < streams.size(); ++i) {
    Memory memory{streams[i].data(), static_cast<std::uint32_t>(streams[i].size())};
    std::uint32_t crc = 0xFFFFFFFF;
    selfx::DecodeDeflatedEntry(*inflater, {ReadMemory, &memory},
                               static_cast<std::int32_t>(memory.left), nullptr, {CrcOnly, &crc});
    if ((crc ^ 0xFFFFFFFF) != entries[i].crc) sound = false;
  }
  return sound;
}

// zlib: inflate into a 32 KiB buffer, crc32 over each filled buffer, like a streaming
// extractor.
bool RunZlib(const std::vector<Bytes>& streams, const std::vector<Entry>& entries) {
  static Bytes out(32768);
  bool sound = true;
  for (std::size_t i = 0; i < streams.size(); ++i) {
    z_stream z{};
    inflateInit2(&z, -15);
    z.next_in = const_cast<Bytef*>(streams[i].data());
    z.avail_in = static_cast<uInt>(streams[i].size());
    uLong crc = crc32(0, nullptr, 0);
    int status = Z_OK;
    while (status == Z_OK) {
      z.next_out = out.data();
      z.avail_out = static_cast<uInt>(out.size());
      status = inflate(&z, Z_NO_FLUSH);
      crc = crc32(crc, out.data(), static_cast<uInt>(out.size() - z.avail_out));
    }
    inflateEnd(&z);
    if (status != Z_STREAM_END || crc != entries[i].crc) sound = false;
  }
  return sound;
}

// libdeflate: whole buffer to whole buffer, then its crc32.
bool RunLibdeflate(const std::vector<Bytes>& streams, const std::vector<Entry>& entries) {
  static libdeflate_decompressor* decompressor = libdeflate_alloc_decompressor();
  static Bytes out;
  bool sound = true;
  for (std::size_t i = 0; i < streams.size(); ++i) {
    if (out.size() < entries[i].data.size()) out.resize(entries[i].data.size());
    std::size_t produced = 0;
    if (libdeflate_deflate_decompress(decompressor, streams[i].data(), streams[i].size(),
                                      out.data(), entries[i].data.size(),
                                      &produced) != LIBDEFLATE_SUCCESS) {
      sound = false;
      continue;
    }
    if (libdeflate_crc32(0, out.data(), produced) != entries[i].crc) sound = false;
  }
  return sound;
}

// Runs the contenders in turn, round after round, so that a change in the machine's load hits
// them alike, and gives each one's median time.
std::vector<double> MedianSeconds(const std::vector<std::function<bool()>>& runs, int repeats,
                                  bool* sound) {
  std::vector<std::vector<double>> times(runs.size());
  for (int r = 0; r < repeats; ++r) {
    for (std::size_t i = 0; i < runs.size(); ++i) {
      double start = ThreadSeconds();
      if (!runs[i]()) *sound = false;
      times[i].push_back(ThreadSeconds() - start);
    }
  }
  std::vector<double> medians;
  for (std::vector<double>& t : times) {
    std::sort(t.begin(), t.end());
    medians.push_back(t.size() % 2 ? t[t.size() / 2] : (t[t.size() / 2 - 1] + t[t.size() / 2]) / 2);
  }
  return medians;
}

void PrintRow(const char* what, double megabytes, double seconds, double zlib_seconds,
              double libdeflate_seconds) {
  double rate = megabytes / seconds;
  std::printf("  %-34s %8.1f MB/s", what, rate);
  if (zlib_seconds > 0) std::printf("   %5.2fx zlib", zlib_seconds / seconds);
  if (libdeflate_seconds > 0) std::printf("   %5.2fx libdeflate", libdeflate_seconds / seconds);
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--megabytes" && i + 1 < argc) {
      options.megabytes = std::strtoul(argv[++i], nullptr, 10);
    } else if (arg == "--levels" && i + 1 < argc) {
      options.levels.clear();
      for (const char* p = argv[++i]; *p; ++p)
        if (*p >= '0' && *p <= '9') options.levels.push_back(*p - '0');
    } else if (arg == "--repeats" && i + 1 < argc) {
      options.repeats = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--memory-only") {
      options.memory_only = true;
    } else {
      std::fprintf(stderr,
                   "usage: %s [--megabytes N] [--levels 169] [--repeats N] [--memory-only]\n",
                   argv[0]);
      return 2;
    }
  }
  selfx::BuildCrcTable();
  selfx::BuildFixedTables();
  std::unique_ptr<selfx::Inflater> decoder = std::make_unique<selfx::Inflater>();
  inflater = decoder.get();

  // Corpus: 45 % text, 40 % programs and libraries, 15 % already compressed.
  std::size_t budget = options.megabytes << 20;
  std::vector<Entry> entries;
  std::size_t text = 0, binary = 0, compressed = 0;
  AddKind(
      {"/usr/share/doc", "/usr/include", "/usr/share"},
      [](const std::string& path, const Bytes& b) {
        return !IsCompressedName(path) && LooksLikeText(b);
      },
      budget * 45 / 100, &entries, &text);
  AddKind(
      {"/usr/bin", "/usr/lib", "/usr/libexec"},
      [](const std::string& path, const Bytes& b) {
        return !IsCompressedName(path) && !LooksLikeText(b);
      },
      budget * 40 / 100, &entries, &binary);
  AddKind(
      {"/usr/share", "/usr/lib", "/var/cache"},
      [](const std::string& path, const Bytes&) { return IsCompressedName(path); },
      budget * 15 / 100, &entries, &compressed);
  double total_mb = 0;
  for (Entry& entry : entries) {
    entry.crc = static_cast<std::uint32_t>(
        crc32(0, entry.data.data(), static_cast<uInt>(entry.data.size())));
    total_mb += static_cast<double>(entry.data.size()) / 1e6;
  }
  std::printf("corpus: %zu entries, %.1f MB (text %.1f, programs %.1f, compressed %.1f)\n",
              entries.size(), total_mb, text / 1e6, binary / 1e6, compressed / 1e6);
  std::printf(
      "selfx: product path, archive file in %s read through ReadArchive, output to /dev/null "
      "through\n"
      "WriteOutput in 32 KiB pieces, RunningCrc checked; \"memory\": the same decoder fed from "
      "memory,\nits pieces only through the CRC. zlib: inflate to a 32 KiB buffer + "
      "crc32.\n"
      "libdeflate: whole-buffer decompress + libdeflate_crc32. Median of %d interleaved run(s),\n"
      "timed in this thread's processor time (user + system).\n",
      access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp", options.repeats);

  std::string directory = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  char pattern[64];
  std::snprintf(pattern, sizeof(pattern), "%s/selfx_bench_XXXXXX", directory.c_str());
  if (mkdtemp(pattern) == nullptr) return 1;
  std::string temp = pattern;
  std::string archive_path = temp + "/archive.bin";
  bool sound = true;

  auto run_level = [&](int level, bool encrypted) {
    std::vector<Bytes> streams;
    double compressed_mb = 0;
    for (const Entry& entry : entries) {
      streams.push_back(ZlibDeflate(entry.data, level));
      compressed_mb += static_cast<double>(streams.back().size()) / 1e6;
    }
    std::vector<Bytes> archive_streams = streams;
    if (encrypted)
      for (Bytes& stream : archive_streams) stream = Encrypt(stream, "benchmark");
    Archive archive = WriteArchive(archive_path, archive_streams);
    std::printf("\n%s level %d (%s, ratio %.3f):\n",
                level == 0 ? "stored-block deflate" : "deflated", level,
                encrypted ? "encrypted" : "plain", compressed_mb / total_mb);
    const bool all = !options.memory_only;
    std::vector<double> t = MedianSeconds(
        {[&] { return !all || RunZlib(streams, entries); },
         [&] { return RunLibdeflate(streams, entries); },
         [&] {
           inflater->readable_loop = false;
           return !all || RunSelfx(archive, entries, false, encrypted);
         },
         [&] {
           if (!all) return true;
           inflater->readable_loop = true;
           bool ok = RunSelfx(archive, entries, false, encrypted);
           inflater->readable_loop = false;
           return ok;
         },
         [&] { return encrypted || RunSelfxFromMemory(streams, entries); },
         [&] {
           // The fast loop's generic build, where the BMI2 one is the one in use.
           if (!all || encrypted || !Bmi2InUse()) return true;
           SetBmi2(false);
           bool ok = RunSelfxFromMemory(streams, entries);
           SetBmi2(true);
           return ok;
         },
         [&] {
           // The CRC folded in 128-bit registers, where the 512-bit folding is the one in use:
           // what the decoder gains apart from the CRC.
           if (encrypted || !selfx::WideCarrylessCrcAvailable()) return true;
           selfx::UseWideCarrylessCrc = false;
           bool ok = RunSelfxFromMemory(streams, entries);
           selfx::UseWideCarrylessCrc = true;
           return ok;
         }},
        options.repeats, &sound);
    double zlib_s = t[0], libdeflate_s = t[1], fast_s = t[2], readable_s = t[3], memory_s = t[4];
    double generic_s = t[5], narrow_crc_s = t[6];
    if (!all) zlib_s = 0;
    if (all) PrintRow("zlib inflate + crc32", total_mb, zlib_s, 0, 0);
    PrintRow("libdeflate + crc32", total_mb, libdeflate_s, 0, 0);
    if (all) {
      PrintRow(encrypted ? "selfx decrypt+inflate+CRC (fast)" : "selfx inflate + CRC (fast)",
               total_mb, fast_s, zlib_s, libdeflate_s);
      PrintRow(
          encrypted ? "selfx decrypt+inflate+CRC (readable)" : "selfx inflate + CRC (readable)",
          total_mb, readable_s, zlib_s, libdeflate_s);
    }
    if (!encrypted)
      PrintRow("selfx inflate + CRC, memory (fast)", total_mb, memory_s, zlib_s, libdeflate_s);
    if (all && !encrypted && Bmi2InUse())
      PrintRow("  the same, generic loop, not BMI2", total_mb, generic_s, zlib_s, libdeflate_s);
    if (!encrypted && selfx::WideCarrylessCrcAvailable())
      PrintRow("  the same, 128-bit carry-less CRC", total_mb, narrow_crc_s, zlib_s, libdeflate_s);
  };

  for (int level : options.levels) run_level(level, false);
  if (!options.levels.empty() && !options.memory_only)
    run_level(options.levels[options.levels.size() / 2], true);
  run_level(0, false);
  if (options.memory_only) {
    unlink(archive_path.c_str());
    rmdir(temp.c_str());
    if (!sound) std::printf("\nFAILED: some decoder produced a wrong CRC\n");
    return sound ? 0 : 1;
  }

  // Stored entries: CopyStoredEntry, plain and encrypted, against the peers decoding the level-0
  // streams (stored blocks), all in the same rounds.
  {
    std::vector<Bytes> level0, plain, encrypted;
    for (const Entry& entry : entries) {
      level0.push_back(ZlibDeflate(entry.data, 0));
      plain.push_back(entry.data);
      encrypted.push_back(Encrypt(entry.data, "benchmark"));
    }
    Archive plain_archive = WriteArchive(archive_path, plain);
    Archive encrypted_archive = WriteArchive(archive_path + ".encrypted", encrypted);
    std::vector<double> t = MedianSeconds(
        {[&] { return RunZlib(level0, entries); }, [&] { return RunLibdeflate(level0, entries); },
         [&] { return RunSelfx(plain_archive, entries, true, false); },
         [&] { return RunSelfx(encrypted_archive, entries, true, true); }},
        options.repeats, &sound);
    std::printf("\nstored entries (selfx CopyStoredEntry; peers decode the level-0 streams):\n");
    PrintRow("zlib inflate + crc32 (level 0)", total_mb, t[0], 0, 0);
    PrintRow("libdeflate + crc32 (level 0)", total_mb, t[1], 0, 0);
    PrintRow("selfx stored copy + CRC", total_mb, t[2], t[0], t[1]);
    PrintRow("selfx encrypted stored + CRC", total_mb, t[3], t[0], t[1]);
    unlink((archive_path + ".encrypted").c_str());
  }

  // CRC-32 alone, in memory.
  {
    std::printf("\nCRC-32 over the corpus in memory:\n");
    std::uint32_t check = 0;
    auto ours = [&](bool carryless, bool wide) {
      return [&, carryless, wide] {
        bool saved = selfx::UseCarrylessCrc, saved_wide = selfx::UseWideCarrylessCrc;
        selfx::UseCarrylessCrc = carryless && selfx::CarrylessCrcAvailable();
        selfx::UseWideCarrylessCrc = wide && selfx::WideCarrylessCrcAvailable();
        for (const Entry& e : entries) {
          std::uint32_t crc = 0xFFFFFFFF;
          selfx::UpdateCrc(e.data.data(), static_cast<std::int32_t>(e.data.size()), crc);
          check ^= crc;
        }
        selfx::UseCarrylessCrc = saved;
        selfx::UseWideCarrylessCrc = saved_wide;
        return true;
      };
    };
    std::vector<double> t = MedianSeconds(
        {[&] {
           for (const Entry& e : entries)
             check ^= static_cast<std::uint32_t>(
                 crc32(0, e.data.data(), static_cast<uInt>(e.data.size())));
           return true;
         },
         [&] {
           for (const Entry& e : entries)
             check ^= libdeflate_crc32(0, e.data.data(), e.data.size());
           return true;
         },
         ours(true, true), ours(true, false), ours(false, false),
         [&] {
           for (const Entry& e : entries) {
             std::uint32_t crc = 0xFFFFFFFF;
             selfx::UpdateCrcBytewise(e.data.data(), static_cast<std::int32_t>(e.data.size()), crc);
             check ^= crc;
           }
           return true;
         }},
        options.repeats, &sound);
    double zlib_s = t[0], libdeflate_s = t[1], ours_s = t[2], narrow_s = t[3], tables_s = t[4];
    double bytewise_s = t[5];
    PrintRow("zlib crc32", total_mb, zlib_s, 0, 0);
    PrintRow("libdeflate crc32", total_mb, libdeflate_s, 0, 0);
    PrintRow(selfx::WideCarrylessCrcAvailable() ? "selfx UpdateCrc (carry-less, 512-bit)"
             : selfx::CarrylessCrcAvailable()   ? "selfx UpdateCrc (carry-less)"
                                                : "selfx UpdateCrc (no PCLMULQDQ)",
             total_mb, ours_s, zlib_s, libdeflate_s);
    if (selfx::WideCarrylessCrcAvailable())
      PrintRow("selfx UpdateCrc, 128-bit carry-less", total_mb, narrow_s, zlib_s, libdeflate_s);
    PrintRow("selfx UpdateCrc, slicing-by-16", total_mb, tables_s, zlib_s, libdeflate_s);
    PrintRow("selfx byte-at-a-time table CRC", total_mb, bytewise_s, zlib_s, libdeflate_s);
    if (check == 0x12345678) std::printf(" ");
  }

  unlink(archive_path.c_str());
  rmdir(temp.c_str());
  if (!sound) {
    std::printf("\nFAILED: some decoder produced a wrong CRC\n");
    return 1;
  }
  return 0;
}
