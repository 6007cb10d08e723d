#include "cli/commands/decode_ahead.h"

#include <algorithm>
#include <cstring>

#include <memory>

#include "archive/archive_file.h"
#include "archive/directory.h"
#include "archive/entry_extraction.h"
#include "archive/extraction_state.h"
#include "archive/stored_copy.h"
#include "archive/zip_format.h"
#include "archive/zip_signatures.h"
#include "base/byte_order.h"
#include "codec/crc32.h"
#include "codec/deflate_format.h"
#include "codec/inflate.h"
#include "codec/zip_crypto.h"
#include "platform/platform.h"

namespace selfx::cli {

namespace {

// The run going on, for StopDecodingAhead; set and cleared on the run's own thread.
DecodeAhead* running = nullptr;

// Where one thread's decoder hands its bytes (the context of its source and sink): counted and
// folded into the thread's RunningCrc, and kept up to the entry's declared size when asked. An
// entry that runs past it is left to the run (which writes whatever decodes), so that memory
// stays bounded by what the directory says.
struct AheadOutput {
  DecodeAhead* owner = nullptr;
  DecodedPieces* decoded = nullptr;
  bool keep = false;  // false: only checked
  std::uint64_t limit = 0;
  std::uint64_t count = 0;
  bool too_long = false;
  const std::atomic<bool>* stopping = nullptr;
};
// Refuses the piece once the entry is too long to keep: the decoder stops there.
bool TakePiece(void* context, const std::uint8_t* bytes, std::uint32_t count) {
  AheadOutput& out = *static_cast<AheadOutput*>(context);
  UpdateCrc(bytes, static_cast<std::int32_t>(count), RunningCrc);
  out.count += count;
  if (!out.keep || out.too_long) return !out.too_long;
  if (out.count > out.limit) {
    out.too_long = true;
    return false;
  }
  std::uint8_t* block = out.owner->Block();
  if (block == nullptr) {
    out.too_long = true;  // cannot happen within the budget; the run decodes it then
    return false;
  }
  std::memcpy(block, bytes, count);
  out.decoded->pieces.push_back(block);
  return true;
}

// The thread's own archive handle; ends the input early once the result no longer matters, so
// that the decoder finishes what it has buffered and returns.
std::uint32_t ReadAhead(void* context, void* buffer, std::uint32_t count) {
  const AheadOutput& out = *static_cast<const AheadOutput*>(context);
  if (out.too_long || out.stopping->load(std::memory_order_relaxed)) return 0;
  return ReadArchive(buffer, count);
}

// What preparing the entry on the run's thread does, without a word: false wherever that would
// show a message, end the program or ask for a password. Leaves the archive at the first data
// byte with CompressedRemaining and the keys set.
bool PrepareSilently(const ArchiveEntry& entry, const std::string& password) {
  CurrentEntry = entry;
  if (entry.Signature() != CentralHeaderSignature) return false;
  if (entry.Method() != zip::kMethodStored && entry.Method() != zip::kMethodDeflated) {
    return false;
  }
  if (SeekEntryData(entry) != EntryData::kFound) return false;
  if (!entry.IsEncrypted()) return true;
  std::uint8_t work[2 * kEncryptionHeaderSize];
  if (ReadArchive(work + kEncryptionHeaderSize, kEncryptionHeaderSize) != kEncryptionHeaderSize) {
    return false;
  }
  return CheckEncryptionHeader(EntryKeys, work, kEncryptionHeaderSize, entry.Flags(), entry.Crc(),
                               entry.DosTime(), password);
}

}  // namespace

unsigned DefaultDecodeJobs() { return std::max(1u, std::thread::hardware_concurrency()); }

DecodeAhead::DecodeAhead(const std::string& archive_path, std::vector<ArchiveEntry> entries,
                         unsigned threads, bool keep_bytes, const std::string& password)
    : archive_path_(archive_path),
      entries_(std::move(entries)),
      keep_bytes_(keep_bytes),
      budget_(std::max<std::uint64_t>(kKeptBytesPerThread * threads, kMostKeptEntryBytes)),
      results_(entries_.size()),
      finished_(entries_.size(), false),
      password_(password),
      // Every entry kept holds no more pieces than its cost reserves, so the budget's worth
      // is enough.
      pieces_(deflate::kWindowSize, keep_bytes_ ? budget_ : 0) {
  running = this;
  for (unsigned thread = 0; thread < threads; ++thread) {
    threads_.emplace_back([this] { WorkerLoop(); });
  }
}

DecodeAhead::~DecodeAhead() {
  Stop();
  if (running == this) running = nullptr;
}

void DecodeAhead::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  stopping_ = true;
  can_start_.notify_all();
  done_.notify_all();
  for (std::thread& thread : threads_) {
    if (thread.joinable()) thread.join();
  }
  for (platform::FileHandle& handle : handles_) CloseAndReset(handle);
  handles_.clear();
}

// The memory an entry's pieces take.
std::uint64_t DecodeAhead::Cost(std::size_t item) const {
  if (!keep_bytes_) return 0;
  std::uint64_t size = entries_[item].UncompressedSize();
  if (size > kMostKeptEntryBytes) return 0;
  return (size + deflate::kWindowSize - 1) / deflate::kWindowSize * deflate::kWindowSize;
}

std::uint8_t* DecodeAhead::Block() { return pieces_.Take(); }

void DecodeAhead::GiveBack(DecodedPieces& decoded) {
  pieces_.GiveBack(decoded.pieces);
  decoded = DecodedPieces();
}

DecodedEntry DecodeAhead::Decode(const ArchiveEntry& entry, const std::string& password) {
  DecodedEntry result;
  if (ArchiveFile.handle == platform::kNoFile) return result;
  if (keep_bytes_ && entry.UncompressedSize() > kMostKeptEntryBytes) return result;
  if (!PrepareSilently(entry, password)) return result;
  AheadOutput out;
  out.owner = this;
  out.decoded = &result.decoded;
  out.keep = keep_bytes_;
  out.limit = entry.UncompressedSize();
  out.stopping = &stopping_;
  RunningCrc = 0xFFFFFFFF;
  bool read_whole = true;
  const InputSource source = {ReadAhead, &out};
  const OutputSink sink = {TakePiece, &out};
  if (entry.Method() == zip::kMethodStored) {
    read_whole = CopyStoredBytes(source, sink);  // a short read only fails the entry
  } else {
    DecodeDeflatedEntry(ThreadInflater(), source, CompressedRemaining,
                        entry.IsEncrypted() ? &EntryKeys : nullptr, sink);
  }
  result.sound = read_whole && !out.too_long && !stopping_ &&
                 entry.Crc() == (RunningCrc ^ 0xFFFFFFFFu);
  result.decoded.size = out.count;
  result.decoded.crc_register = RunningCrc;
  if (entry.IsEncrypted()) result.password = password;
  if (!result.sound) GiveBack(result.decoded);
  return result;
}

void DecodeAhead::WorkerLoop() {
  ArchiveFile.path = archive_path_;
  ArchiveFile.handle = platform::OpenForReading(archive_path_);
  for (;;) {
    std::size_t item;
    std::string password;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      can_start_.wait(lock, [this] {
        return stop_ || next_ == entries_.size() || reserved_ + Cost(next_) <= budget_;
      });
      if (stop_ || next_ == entries_.size()) break;
      item = next_++;
      reserved_ += Cost(item);
      password = password_;
    }
    DecodedEntry result = Decode(entries_[item], password);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      finished_[item] = true;
      if (item < floor_) {
        GiveBack(result.decoded);
        reserved_ -= Cost(item);  // the run went past it meanwhile
      } else {
        results_[item] = std::move(result);
      }
    }
    done_.notify_all();
    can_start_.notify_all();
  }
  // Closed by the run's thread once this one is joined: closing is where the platform layer
  // looks at the output file the run is writing.
  std::lock_guard<std::mutex> lock(mutex_);
  handles_.push_back(ArchiveFile.handle);
  ArchiveFile.handle = platform::kNoFile;
}

bool DecodeAhead::Take(std::size_t index, const std::string& password, DecodedEntry& result) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!password.empty()) password_ = password;
  // Entries not finished yet are returned by their thread when it finishes.
  GiveBack(result.decoded);
  for (std::size_t item = floor_; item < index && item < entries_.size(); ++item) {
    if (!finished_[item]) continue;
    reserved_ -= Cost(item);
    if (results_[item]) GiveBack(results_[item]->decoded);
    results_[item].reset();
  }
  floor_ = std::max(floor_, index);
  can_start_.notify_all();
  if (index >= entries_.size()) return false;
  done_.wait(lock, [this, index] { return stop_ || finished_[index]; });
  if (!finished_[index] || !results_[index] || !results_[index]->sound) return false;
  DecodedEntry& found = *results_[index];
  if (entries_[index].IsEncrypted() && (password.empty() || found.password != password)) {
    return false;
  }
  result = std::move(found);
  results_[index].reset();
  return true;
}

void StopDecodingAhead() {
  if (running != nullptr) running->Stop();
}

}  // namespace selfx::cli
