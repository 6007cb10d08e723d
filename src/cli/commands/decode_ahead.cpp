#include "cli/commands/decode_ahead.h"

#include <algorithm>
#include <cstring>

#include <memory>

#include "archive/archive_file.h"
#include "archive/entry_extraction.h"
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

// Where one thread's decoder hands its bytes: counted and folded into the CRC register, and
// kept up to the entry's declared size when asked. An entry that runs past it is left to the
// run (which writes whatever decodes), so that memory stays bounded by what the directory
// says.
struct AheadOutput {
  DecodeAhead* owner = nullptr;
  DecodedPieces* decoded = nullptr;
  bool keep = false;  // false: only checked
  std::uint64_t limit = 0;
  std::uint64_t count = 0;
  std::uint32_t crc_register = 0xFFFFFFFF;
  bool too_long = false;
  const std::atomic<bool>* stopping = nullptr;
  const ArchiveFile* archive = nullptr;
};

bool TakePiece(void* context, const std::uint8_t* bytes, std::uint32_t count) {
  AheadOutput& out = *static_cast<AheadOutput*>(context);
  UpdateCrc(bytes, static_cast<std::int32_t>(count), out.crc_register);
  out.count += count;
  if (!out.keep || out.too_long) return true;
  if (out.count > out.limit) {
    out.too_long = true;
    return true;
  }
  std::uint8_t* block = out.owner->Block();
  if (block == nullptr) {
    out.too_long = true;  // cannot happen within the budget; the run decodes it then
    return true;
  }
  std::memcpy(block, bytes, count);
  out.decoded->pieces.push_back(block);
  return true;
}

// The thread's own archive handle; ends the input early once the result no longer matters, so
// that the decoder finishes what it has buffered and returns.
std::uint32_t ReadAhead(void* context, void* buffer, std::uint32_t count) {
  const AheadOutput& out = *static_cast<AheadOutput*>(context);
  if (out.too_long || out.stopping->load(std::memory_order_relaxed)) return 0;
  return out.archive->Read(buffer, count);
}

// What preparing the entry on the run's thread does, without a word: false wherever that would
// show a message, end the program or ask for a password. Leaves the archive at the first data
// byte with remaining and the keys set.
bool PrepareSilently(const ArchiveFile& archive, const ArchiveEntry& entry,
                     const std::string& password, std::int32_t& remaining, ZipKeys& keys) {
  if (entry.Signature() != CentralHeaderSignature) return false;
  if (entry.Method() != zip::kMethodStored && entry.Method() != zip::kMethodDeflated) {
    return false;
  }
  if (SeekEntryData(archive, entry, remaining) != EntryData::kFound) return false;
  if (!entry.IsEncrypted()) return true;
  std::uint8_t work[2 * kEncryptionHeaderSize];
  if (!archive.ReadExact(work + kEncryptionHeaderSize, kEncryptionHeaderSize)) return false;
  return CheckEncryptionHeader(keys, work, kEncryptionHeaderSize, entry.Flags(), entry.Crc(),
                               entry.DosTime(), password);
}

}  // namespace

unsigned DefaultDecodeJobs() { return std::max(1u, std::thread::hardware_concurrency()); }

// One thread's own reading and decoding state.
struct DecodeAhead::Decoder {
  ArchiveFile archive;
  std::unique_ptr<Inflater> inflater;
  ZipKeys keys = {};
};

DecodeAhead::DecodeAhead(const ArchiveFile& archive, std::vector<ArchiveEntry> entries,
                         unsigned threads, bool keep_bytes, const std::string& password)
    : archive_path_(archive.path),
      archive_base_(archive.base),
      entries_(std::move(entries)),
      keep_bytes_(keep_bytes),
      budget_(std::max<std::uint64_t>(kKeptBytesPerThread * threads, kMostKeptEntryBytes)),
      results_(entries_.size()),
      finished_(entries_.size(), false),
      password_(password),
      // Every entry kept holds no more pieces than its cost reserves, so the budget's worth
      // is enough.
      pieces_(deflate::kWindowSize, keep_bytes_ ? budget_ : 0) {
  for (unsigned thread = 0; thread < threads; ++thread) {
    threads_.emplace_back([this] { WorkerLoop(); });
  }
}

DecodeAhead::~DecodeAhead() { Stop(); }

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

DecodedEntry DecodeAhead::Decode(Decoder& decoder, const ArchiveEntry& entry,
                                 const std::string& password) {
  DecodedEntry result;
  const ArchiveFile& archive = decoder.archive;
  if (archive.handle == platform::kNoFile) return result;
  if (keep_bytes_ && entry.UncompressedSize() > kMostKeptEntryBytes) return result;
  std::int32_t remaining = 0;
  if (!PrepareSilently(archive, entry, password, remaining, decoder.keys)) return result;
  AheadOutput out;
  out.owner = this;
  out.decoded = &result.decoded;
  out.keep = keep_bytes_;
  out.limit = entry.UncompressedSize();
  out.stopping = &stopping_;
  out.archive = &archive;
  InputSource source{&ReadAhead, &out};
  OutputSink sink{&TakePiece, &out};
  ZipKeys* keys = entry.IsEncrypted() ? &decoder.keys : nullptr;
  bool read_whole = true;
  if (entry.Method() == zip::kMethodStored) {
    // A short read only fails the entry.
    read_whole = CopyStoredBytes(source, remaining, keys, sink) == StoredCopy::kCopied;
  } else {
    if (!decoder.inflater) decoder.inflater = std::make_unique<Inflater>();
    DecodeDeflatedEntry(*decoder.inflater, source, remaining, keys, sink);
  }
  result.sound = read_whole && !out.too_long && !stopping_ &&
                 entry.Crc() == (out.crc_register ^ 0xFFFFFFFFu);
  result.decoded.size = out.count;
  result.decoded.crc_register = out.crc_register;
  if (entry.IsEncrypted()) result.password = password;
  if (!result.sound) GiveBack(result.decoded);
  return result;
}

void DecodeAhead::WorkerLoop() {
  Decoder decoder;
  decoder.archive.path = archive_path_;
  decoder.archive.base = archive_base_;
  decoder.archive.handle = platform::OpenForReading(archive_path_);
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
    DecodedEntry result = Decode(decoder, entries_[item], password);
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
  handles_.push_back(decoder.archive.handle);
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

}  // namespace selfx::cli
