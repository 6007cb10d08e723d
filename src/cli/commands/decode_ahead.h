// Entries decoded ahead of the sequential run, on other threads. The run itself (prompts,
// messages, overwrite questions, the password, progress, Ctrl-C, the exit status) stays on the
// calling thread exactly as with one job; the threads here only decode, silently, each with its
// own archive handle and decoder state. Whatever goes wrong for them (a damaged header, an
// unknown method, an encrypted entry without the right password, a CRC-32 that does not match,
// more bytes than the directory declares) just leaves the entry to the run, which then decodes
// it itself and says what it always says.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "archive/archive_entry.h"
#include "archive/archive_file.h"
#include "archive/extraction.h"
#include "cli/pack/piece_pool.h"
#include "platform/platform.h"

namespace selfx::cli {

// What a thread found for one entry.
struct DecodedEntry {
  bool sound = false;     // decoded to its end and its CRC-32 matched
  std::string password;   // what an encrypted entry was decoded with
  DecodedPieces decoded;  // its size, and its bytes when they are kept
};

// The largest entry whose bytes are kept in memory: a larger one is decoded by the run itself,
// as with one job, while the threads go on with the entries behind it. The run's thread writes
// every file already, and with two jobs it shares two processors with two threads: each large
// entry it decodes itself makes it the one the others wait for.
constexpr std::uint32_t kMostKeptEntryBytes = 16u << 20;
// The decoded bytes all threads may hold at once, per thread (but at least the largest entry
// kept): entries taken in order reserve their size before they are decoded and return it once
// the run has moved past them. Room for a few entries keeps every thread busy while the run
// waits for one of them.
constexpr std::uint64_t kKeptBytesPerThread = 16u << 20;

class DecodeAhead {
 public:
  // Starts threads over entries (the rows in the run's order) of the archive (each thread
  // opens it again by its path, and reads it with its base). keep_bytes: hold each decoded
  // entry's bytes (extract), or only check it (test). password: the first password to try on
  // encrypted entries.
  DecodeAhead(const ArchiveFile& archive, std::vector<ArchiveEntry> entries, unsigned threads,
              bool keep_bytes, const std::string& password);
  // Stops and joins the threads.
  ~DecodeAhead();
  DecodeAhead(const DecodeAhead&) = delete;
  DecodeAhead& operator=(const DecodeAhead&) = delete;

  // Waits for entry index and moves its result into result when it is sound and, for an
  // encrypted entry, was decoded with password (what the run holds now, which it would try
  // first without asking). False when the run must decode the entry itself. Entries before
  // index that were not taken are dropped; a non-empty password is what later entries are
  // tried with.
  bool Take(std::size_t index, const std::string& password, DecodedEntry& result);

  // Stops the threads after the entry each is decoding, and joins them.
  void Stop();

  // A piece's worth of memory for a thread's decoder (nullptr when none is free), and the
  // pieces back once used.
  std::uint8_t* Block();
  void GiveBack(DecodedPieces& decoded);

 private:
  std::uint64_t Cost(std::size_t item) const;
  void WorkerLoop();
  struct Decoder;
  DecodedEntry Decode(Decoder& decoder, const ArchiveEntry& entry, const std::string& password);

  const std::string archive_path_;
  const std::int32_t archive_base_;
  const std::vector<ArchiveEntry> entries_;
  const bool keep_bytes_;
  const std::uint64_t budget_;
  std::vector<std::thread> threads_;
  std::vector<platform::FileHandle> handles_;  // the threads' archive handles, once they end
  std::atomic<bool> stopping_{false};

  std::mutex mutex_;
  std::condition_variable can_start_;
  std::condition_variable done_;
  std::vector<std::optional<DecodedEntry>> results_;
  std::vector<bool> finished_;
  std::string password_;
  std::size_t next_ = 0;   // the next entry a thread takes up
  std::size_t floor_ = 0;  // the run wants nothing before this entry any more
  std::uint64_t reserved_ = 0;
  bool stop_ = false;
  // The memory of every piece kept: a piece the run is done with goes to the next entries.
  PiecePool pieces_;
};

// The number of threads when --jobs is not given: one per processor.
unsigned DefaultDecodeJobs();

}  // namespace selfx::cli
