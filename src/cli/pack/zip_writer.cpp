#include "cli/pack/zip_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>

#include <zlib.h>

#include "archive/zip_format.h"
#include "archive/zip_signatures.h"
#include "base/byte_order.h"
#include "base/text.h"
#include "cli/pack/deflater.h"
#include "cli/pack/ordered_work.h"
#include "cli/pack/piece_pool.h"
#include "codec/crc32.h"
#include "codec/zip_crypto.h"
#include "platform/native_file.h"
#include "platform/platform.h"

namespace selfx::cli {

namespace {

constexpr std::uint32_t kChunk = 1 << 16;
constexpr std::uint64_t kLargestArchive = 0x7FFFFFFF;  // the stub seeks with signed 32 bits
constexpr std::uint64_t kLargestFile = 0xFFFFFFFE;     // 0xFFFFFFFF would mean ZIP64
constexpr std::uint8_t kHostUnix = 3;
constexpr std::uint8_t kMadeByVersion = 30;
constexpr std::uint16_t kNeededStored = 10;
constexpr std::uint16_t kNeededDeflated = 20;

// Files up to this size are read whole and deflated by libdeflate, which works on whole
// buffers, on as many threads as asked. Larger ones (rare in what people pack) are streamed
// through zlib's deflate on the writing thread instead, so that memory stays bounded whatever
// the file sizes: a handful of buffers of at most this size per thread, never a whole file.
constexpr std::uint64_t kLargestInMemory = 16u << 20;
// What the files read ahead may hold together, per thread: a file in memory costs its size
// (deflated, or a copy when stored) until it is written. Each thread holds two more buffers
// of at most kLargestInMemory, to read into and to deflate into.
constexpr std::uint64_t kMemoryPerThread = 24u << 20;
static_assert(kMemoryPerThread > kLargestInMemory, "every file read whole fits the memory");
// The files read ahead travel to the writer in pieces of this size.
constexpr std::size_t kPiece = 32u << 10;

bool IsPlainAscii(const std::string& text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

std::uint32_t DosDateTime(std::time_t when) {
  std::tm local = {};
#ifdef _WIN32
  if (localtime_s(&local, &when) != 0) return 0x00210000;
#else
  if (localtime_r(&when, &local) == nullptr) return 0x00210000;
#endif
  if (local.tm_year < 80) return 0x00210000;  // 1980-01-01 00:00, the earliest DOS date
  if (local.tm_year > 207) local.tm_year = 207;
  std::uint32_t date = static_cast<std::uint32_t>(((local.tm_year - 80) << 9) |
                                                  ((local.tm_mon + 1) << 5) | local.tm_mday);
  std::uint32_t time = static_cast<std::uint32_t>((local.tm_hour << 11) | (local.tm_min << 5) |
                                                  (local.tm_sec / 2));
  return (date << 16) | time;
}

struct CentralRecord {
  std::string name;
  std::uint16_t flags;
  std::uint16_t method;
  std::uint32_t dos_date_time;
  std::uint32_t crc;
  std::uint32_t compressed;
  std::uint32_t uncompressed;
  std::uint32_t external_attributes;
  std::uint32_t offset;
};

// A file read and deflated ahead of the writing, or what stopped that.
struct PreparedFile {
  enum class Kind {
    kFolder,
    kReady,   // pieces hold what the entry stores (deflated or not), before encryption
    kStream,  // too large for memory: the writer streams it itself
    kFailed,  // error_text says why
  };
  Kind kind = Kind::kFolder;
  std::vector<std::uint8_t*> pieces;  // kPiece bytes each, the last one partly
  std::size_t stored_size = 0;        // the bytes in them
  bool deflated = false;
  std::uint32_t crc = 0;
  std::uint64_t size = 0;
  std::uint64_t counted = 0;  // bytes already told to the progress
  std::string error_text;
};

// The output file from where the archive starts. Positions are the file's own, so the
// offsets recorded in the archive count from the start of the combined file (as "zip -A"
// leaves them), which every ZIP tool reads without complaint.
class Output {
 public:
  explicit Output(std::FILE* file)
      : file_(file), position_(static_cast<std::uint64_t>(std::ftell(file))) {}
  bool Write(const void* data, std::size_t size) {
    if (size != 0 && std::fwrite(data, 1, size, file_) != size) return false;
    position_ += size;
    return true;
  }
  bool Seek(std::uint64_t position) {
    if (std::fseek(file_, static_cast<long>(position), SEEK_SET) != 0) return false;
    position_ = position;
    return true;
  }
  std::uint64_t position() const { return position_; }

 private:
  std::FILE* file_;
  std::uint64_t position_ = 0;
};

std::uint16_t VersionNeeded(const CentralRecord& record) {
  return record.method == zip::kMethodDeflated ? kNeededDeflated : kNeededStored;
}

std::vector<std::uint8_t> LocalHeader(const CentralRecord& record) {
  std::vector<std::uint8_t> header(zip::kLocalHeaderSize);
  std::uint8_t* fields = header.data();
  StoreLe32(fields + zip::kLocalSignature, LocalHeaderSignature);
  StoreLe16(fields + zip::kLocalVersionNeeded, VersionNeeded(record));
  StoreLe16(fields + zip::kLocalFlags, record.flags);
  StoreLe16(fields + zip::kLocalMethod, record.method);
  StoreLe16(fields + zip::kLocalTime, static_cast<std::uint16_t>(record.dos_date_time));
  StoreLe16(fields + zip::kLocalDate, static_cast<std::uint16_t>(record.dos_date_time >> 16));
  StoreLe32(fields + zip::kLocalCrc, record.crc);
  StoreLe32(fields + zip::kLocalCompressedSize, record.compressed);
  StoreLe32(fields + zip::kLocalUncompressedSize, record.uncompressed);
  StoreLe16(fields + zip::kLocalNameLength, static_cast<std::uint16_t>(record.name.size()));
  StoreLe16(fields + zip::kLocalExtraLength, 0);
  header.insert(header.end(), record.name.begin(), record.name.end());
  return header;
}

std::vector<std::uint8_t> CentralHeader(const CentralRecord& record) {
  std::vector<std::uint8_t> header(zip::kCentralHeaderSize);
  std::uint8_t* fields = header.data();
  StoreLe32(fields + zip::kCentralSignature, CentralHeaderSignature);
  fields[zip::kCentralVersionMadeBy] = kMadeByVersion;
  fields[zip::kCentralHostSystem] = kHostUnix;
  StoreLe16(fields + zip::kCentralVersionNeeded, VersionNeeded(record));
  StoreLe16(fields + zip::kCentralFlags, record.flags);
  StoreLe16(fields + zip::kCentralMethod, record.method);
  StoreLe16(fields + zip::kCentralTime, static_cast<std::uint16_t>(record.dos_date_time));
  StoreLe16(fields + zip::kCentralDate, static_cast<std::uint16_t>(record.dos_date_time >> 16));
  StoreLe32(fields + zip::kCentralCrc, record.crc);
  StoreLe32(fields + zip::kCentralCompressedSize, record.compressed);
  StoreLe32(fields + zip::kCentralUncompressedSize, record.uncompressed);
  StoreLe16(fields + zip::kCentralNameLength, static_cast<std::uint16_t>(record.name.size()));
  StoreLe32(fields + zip::kCentralExternalAttributes, record.external_attributes);
  StoreLe32(fields + zip::kCentralLocalHeaderOffset, record.offset);
  header.insert(header.end(), record.name.begin(), record.name.end());
  return header;
}

// Writes files' data into the archive, encrypting on the way: a file read and deflated
// before, or one streamed from its disk file (CRC, then deflate or copy).
class FilePacker {
 public:
  FilePacker(Output& output, const PackOptions& options) : output_(output), options_(options) {}

  // The data of a prepared file, which record describes already.
  bool WritePrepared(PreparedFile& prepared, std::string& error_text) {
    std::uint64_t written = 0;
    crc_ = prepared.crc;
    if (options_.password && !StartEncryption(written, error_text)) return false;
    std::size_t left = prepared.stored_size;
    for (std::uint8_t* piece : prepared.pieces) {
      std::size_t size = std::min(left, kPiece);
      if (!Emit(piece, size, written)) {
        error_text = "cannot write the output";
        return false;
      }
      left -= size;
    }
    return true;
  }

  // Streams a file; already_counted of its bytes have been told to the progress before.
  bool Pack(const PackSource& source, std::uint64_t already_counted, CentralRecord& record,
            std::string& error_text) {
    already_counted_ = already_counted;
    path_ = &source.disk_path;
    if (source.facts.size > kLargestFile) {
      error_text = TooLarge();
      return false;
    }
    std::FILE* input = OpenRegularFile(source.disk_path, source.through_link, error_text);
    if (input == nullptr) return false;
    bool packed = PackOpen(input, source.facts.size, record, error_text);
    std::fclose(input);
    return packed;
  }

 private:
  // What one pass over the input saw.
  struct Pass {
    std::uint32_t crc = 0xFFFFFFFF;
    std::uint64_t size = 0;
  };

  std::string TooLarge() const {
    return *path_ + ": files of 4 GiB or more need ZIP64, which the stub cannot read";
  }

  // Reads the next piece of the input into buffer and adds it to the pass: the number of
  // bytes read (0 at the end), or nothing on a read error or as soon as the file or the
  // archive passes what the stub can read. Checked here, piece by piece, because the size
  // inspected before proves nothing about a file that is still growing.
  std::optional<std::size_t> ReadPiece(std::FILE* input, std::uint8_t* buffer, Pass& pass,
                                       std::string& error_text) {
    std::size_t n = std::fread(buffer, 1, kChunk, input);
    if (std::ferror(input)) {
      error_text = *path_ + ": read error (" + std::strerror(errno) + ")";
      return std::nullopt;
    }
    UpdateCrc(buffer, static_cast<std::int32_t>(n), pass.crc);
    pass.size += n;
    if (pass.size > kLargestFile) {
      error_text = TooLarge();
      return std::nullopt;
    }
    if (output_.position() > kLargestArchive) {
      error_text = "the archive would reach 2 GiB, more than the stub can read";
      return std::nullopt;
    }
    if (count_progress_ && options_.progress && n != 0) {
      std::uint64_t skipped = std::min<std::uint64_t>(already_counted_, n);
      already_counted_ -= skipped;
      if (n > skipped) options_.progress(n - skipped);
    }
    return n;
  }

  bool PackOpen(std::FILE* input, std::uint64_t size_on_disk, CentralRecord& record,
                std::string& error_text) {
    // An encrypted entry's header carries the top byte of the CRC, so its CRC must be known
    // before the first byte is written: that costs one more pass. Otherwise the CRC is taken
    // on the way.
    count_progress_ = false;
    if (options_.password) {
      Pass first;
      std::vector<std::uint8_t> chunk(kChunk);
      std::optional<std::size_t> n;
      while ((n = ReadPiece(input, chunk.data(), first, error_text)) && *n != 0) {
      }
      if (!n) return false;
      crc_ = first.crc ^ 0xFFFFFFFF;
    }

    std::uint64_t data_start = output_.position();
    bool deflate = options_.level != 0 && size_on_disk != 0;
    Pass pass;
    std::uint64_t written = 0;
    count_progress_ = true;
    if (deflate) {
      if (!Deflate(input, written, pass, error_text)) return false;
      if (written >= pass.size + HeaderBytes()) {
        // Deflate did not shrink this file: store it instead, over what was written.
        if (!output_.Seek(data_start)) {
          error_text = "cannot seek in the output";
          return false;
        }
        deflate = false;
        pass = Pass();
        written = 0;
        count_progress_ = false;
      }
    }
    if (!deflate && !Copy(input, written, pass, error_text)) return false;

    record.method = deflate ? zip::kMethodDeflated : zip::kMethodStored;
    record.crc = pass.crc ^ 0xFFFFFFFF;
    record.uncompressed = static_cast<std::uint32_t>(pass.size);
    record.compressed = static_cast<std::uint32_t>(written);
    if (options_.password && record.crc != crc_) {
      error_text = *path_ + ": the file changed while it was being packed";
      return false;
    }
    return true;
  }

  std::uint64_t HeaderBytes() const { return options_.password ? kEncryptionHeaderSize : 0; }

  bool Emit(std::uint8_t* data, std::size_t size, std::uint64_t& written) {
    if (options_.password) Encrypt(data, size);
    written += size;
    return output_.Write(data, size);
  }

  void Encrypt(std::uint8_t* data, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
      std::uint8_t plain = data[i];
      data[i] = static_cast<std::uint8_t>(plain ^ KeystreamByte(keys_));
      UpdateKeys(keys_, plain);
    }
  }

  // Starts the key stream for an entry: 11 random bytes and the CRC's top byte, encrypted.
  bool StartEncryption(std::uint64_t& written, std::string& error_text) {
    std::uint8_t header[kEncryptionHeaderSize];
    if (!platform::RandomBytes(header, sizeof header - 1)) {
      error_text = "the system gave no random bytes for the encryption header";
      return false;
    }
    header[kEncryptionHeaderSize - 1] = static_cast<std::uint8_t>(crc_ >> 24);
    InitKeys(keys_, *options_.password);
    if (!Emit(header, sizeof header, written)) {
      error_text = "cannot write the output";
      return false;
    }
    return true;
  }

  bool Deflate(std::FILE* input, std::uint64_t& written, Pass& pass, std::string& error_text) {
    std::rewind(input);
    if (options_.password && !StartEncryption(written, error_text)) return false;
    z_stream stream = {};
    // zlib's levels end at 9; libdeflate's stronger ones have no streaming counterpart.
    int level = std::min(options_.level, 9);
    if (deflateInit2(&stream, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
      error_text = "zlib could not start";
      return false;
    }
    std::vector<std::uint8_t> in(kChunk), out(kChunk);
    bool ok = true;
    int flush = Z_NO_FLUSH;
    do {
      std::optional<std::size_t> n = ReadPiece(input, in.data(), pass, error_text);
      if (!n) {
        ok = false;
        break;
      }
      flush = *n < kChunk ? Z_FINISH : Z_NO_FLUSH;
      stream.next_in = in.data();
      stream.avail_in = static_cast<uInt>(*n);
      do {
        stream.next_out = out.data();
        stream.avail_out = kChunk;
        deflate(&stream, flush);
        std::size_t produced = kChunk - stream.avail_out;
        if (!Emit(out.data(), produced, written)) {
          error_text = "cannot write the output";
          ok = false;
        }
      } while (ok && stream.avail_out == 0);
    } while (ok && flush != Z_FINISH);
    deflateEnd(&stream);
    return ok;
  }

  bool Copy(std::FILE* input, std::uint64_t& written, Pass& pass, std::string& error_text) {
    std::rewind(input);
    if (options_.password && !StartEncryption(written, error_text)) return false;
    std::vector<std::uint8_t> chunk(kChunk);
    std::optional<std::size_t> n;
    while ((n = ReadPiece(input, chunk.data(), pass, error_text)) && *n != 0) {
      if (!Emit(chunk.data(), *n, written)) {
        error_text = "cannot write the output";
        return false;
      }
    }
    return n.has_value();
  }

  Output& output_;
  const PackOptions& options_;
  const std::string* path_ = nullptr;  // of the file being packed
  std::uint32_t crc_ = 0;              // of the file being packed
  ZipKeys keys_ = {};                  // the encryption of the file being packed
  bool count_progress_ = false;        // whether this pass is the one the progress counts
  std::uint64_t already_counted_ = 0;  // bytes of this pass the progress has been told of
};

// What one thread keeps from one file to the next: the same pages serve every file, where
// fresh buffers would cost a page fault per 4 KiB. Only what the entry stores goes on to the
// writer, in pieces.
struct Worker {
  std::unique_ptr<Deflater> deflater;  // none at level 0
  FileBytes input;
  FileBytes deflated;
};

// Copies what an entry stores into pieces from the pool: false when the pool has too few.
bool CopyToPieces(const FileBytes& bytes, PiecePool& pool, PreparedFile& prepared) {
  for (std::size_t at = 0; at < bytes.size(); at += kPiece) {
    std::uint8_t* piece = pool.Take();
    if (piece == nullptr) {
      pool.GiveBack(prepared.pieces);
      return false;
    }
    std::memcpy(piece, bytes.data() + at, std::min(kPiece, bytes.size() - at));
    prepared.pieces.push_back(piece);
  }
  prepared.stored_size = bytes.size();
  return true;
}

// Reads a file whole and deflates it, or says why it is left to the writer. Runs on any
// thread: it touches nothing but its own file, its worker's state and the (locked) progress.
PreparedFile PrepareFile(const PackSource& source, Worker& worker, PiecePool& pool,
                         const std::function<void(std::uint64_t)>& progress) {
  PreparedFile prepared;
  if (source.folder) return prepared;
  prepared.kind = PreparedFile::Kind::kStream;
  if (source.facts.size > kLargestInMemory) return prepared;
  std::FILE* input = OpenRegularFile(source.disk_path, source.through_link, prepared.error_text);
  if (input == nullptr) {
    prepared.kind = PreparedFile::Kind::kFailed;
    return prepared;
  }
  // One byte more than the size inspected, to see the end; a file still growing may need
  // more, up to the limit, past which it is streamed after all.
  FileBytes& data = worker.input;
  data.reserve(kLargestInMemory + 1);
  data.resize(source.facts.size + 1);
  std::size_t filled = 0;
  for (;;) {
    if (filled == data.size()) {
      if (filled > kLargestInMemory) break;
      data.resize(std::min<std::uint64_t>(2 * filled, kLargestInMemory + 1));
    }
    std::size_t n = std::fread(data.data() + filled, 1,
                               std::min<std::size_t>(kChunk, data.size() - filled), input);
    if (std::ferror(input)) {
      prepared.kind = PreparedFile::Kind::kFailed;
      prepared.error_text = source.disk_path + ": read error (" + std::strerror(errno) + ")";
      break;
    }
    if (n == 0) {
      prepared.kind = PreparedFile::Kind::kReady;
      break;
    }
    filled += n;
    prepared.counted += n;
    if (progress) progress(n);
  }
  std::fclose(input);
  if (prepared.kind != PreparedFile::Kind::kReady) return prepared;
  data.resize(filled);
  prepared.size = filled;
  prepared.crc = Crc32(data.data(), data.size());
  if (worker.deflater) {
    worker.deflated.reserve(kLargestInMemory);
    prepared.deflated = worker.deflater->Compress(data.data(), data.size(), worker.deflated);
  }
  // A file that grew past its reservation while it was read: the writer streams it.
  if (!CopyToPieces(prepared.deflated ? worker.deflated : data, pool, prepared)) {
    prepared.kind = PreparedFile::Kind::kStream;
    prepared.deflated = false;
  }
  return prepared;
}

// Writes the entries in the archive's order as they come prepared, then the central
// directory and the end record. Every step says false with error_text when it fails.
class ArchiveWriter {
 public:
  ArchiveWriter(std::FILE* file, const PackOptions& options, PiecePool& pool, PackResult& result,
                std::string& error_text)
      : file_(file),
        output_(file),
        packer_(output_, options),
        options_(options),
        pool_(pool),
        result_(result),
        error_text_(error_text) {}

  bool WriteEntry(const PackSource& source, PreparedFile& prepared) {
    CentralRecord record = StartRecord(source);
    std::uint64_t header_at = output_.position();
    bool written = false;
    switch (prepared.kind) {
      case PreparedFile::Kind::kFailed:
        error_text_ = prepared.error_text;
        return false;
      case PreparedFile::Kind::kFolder:
        written = WriteFolder(record);
        break;
      case PreparedFile::Kind::kReady:
        written = WritePreparedFile(prepared, record);
        break;
      case PreparedFile::Kind::kStream:
        written = WriteStreamedFile(source, prepared.counted, header_at, record);
        break;
    }
    if (!written || !WithinLimit()) return false;
    records_.push_back(record);
    return true;
  }

  // The central directory and the end record behind the entries; the file ends with them.
  bool Finish() {
    std::uint64_t directory_start = output_.position();
    for (const CentralRecord& record : records_) {
      std::vector<std::uint8_t> header = CentralHeader(record);
      if (!Write(header)) return false;
    }
    std::uint64_t directory_size = output_.position() - directory_start;
    std::uint8_t end_record[zip::kEndRecordSize] = {};
    StoreLe32(end_record + zip::kEndSignature, EndRecordSignature);
    StoreLe16(end_record + zip::kEndDiskEntries, static_cast<std::uint16_t>(records_.size()));
    StoreLe16(end_record + zip::kEndTotalEntries, static_cast<std::uint16_t>(records_.size()));
    StoreLe32(end_record + zip::kEndDirectorySize, static_cast<std::uint32_t>(directory_size));
    StoreLe32(end_record + zip::kEndDirectoryOffset, static_cast<std::uint32_t>(directory_start));
    if (!output_.Write(end_record, sizeof end_record)) return CannotWrite();
    if (!WithinLimit()) return false;
    // A file stored over its own failed deflate may have left bytes beyond the end record;
    // the end record must end the file.
    if (std::fflush(file_) != 0 || !TruncateFile(file_, output_.position())) return CannotWrite();
    return true;
  }

 private:
  // The record's fields that do not depend on the data.
  CentralRecord StartRecord(const PackSource& source) const {
    const PathFacts& facts = source.facts;
    std::time_t modified = facts.modified;
    if (options_.newest_time && modified > *options_.newest_time) modified = *options_.newest_time;
    CentralRecord record = {};
    record.name = source.name;
    record.dos_date_time = DosDateTime(modified);
    record.flags = IsPlainAscii(source.name) ? 0 : zip::kFlagUtf8Name;
    record.offset = static_cast<std::uint32_t>(output_.position());
    // The Unix mode in the high half for tools that restore it, the DOS folder bit below.
    record.external_attributes = (facts.mode << 16) | (source.folder ? 0x10 : 0);
    if (!source.folder && options_.password) record.flags |= zip::kFlagEncrypted;
    return record;
  }

  bool WriteFolder(CentralRecord& record) {
    record.method = zip::kMethodStored;
    if (!Write(LocalHeader(record))) return false;
    ++result_.folders;
    return true;
  }

  // A file read and deflated ahead: its sizes and CRC are known before its header.
  bool WritePreparedFile(PreparedFile& prepared, CentralRecord& record) {
    std::uint64_t header_bytes = options_.password ? kEncryptionHeaderSize : 0;
    record.method = prepared.deflated ? zip::kMethodDeflated : zip::kMethodStored;
    record.crc = prepared.crc;
    record.uncompressed = static_cast<std::uint32_t>(prepared.size);
    record.compressed = static_cast<std::uint32_t>(prepared.stored_size + header_bytes);
    if (!Write(LocalHeader(record))) return false;
    bool written = packer_.WritePrepared(prepared, error_text_);
    pool_.GiveBack(prepared.pieces);
    if (!written) return false;
    ++result_.files;
    result_.bytes_in += record.uncompressed;
    return true;
  }

  // A file too large for memory, streamed here: room for the header first, written again
  // once sizes and CRC are known.
  bool WriteStreamedFile(const PackSource& source, std::uint64_t already_counted,
                         std::uint64_t header_at, CentralRecord& record) {
    if (!Write(LocalHeader(record))) return false;
    if (!packer_.Pack(source, already_counted, record, error_text_)) return false;
    std::uint64_t data_end = output_.position();
    std::vector<std::uint8_t> header = LocalHeader(record);
    if (!output_.Seek(header_at) || !Write(header) || !output_.Seek(data_end)) {
      return CannotWrite();
    }
    ++result_.files;
    result_.bytes_in += record.uncompressed;
    return true;
  }

  bool Write(const std::vector<std::uint8_t>& bytes) {
    return output_.Write(bytes.data(), bytes.size()) || CannotWrite();
  }

  bool CannotWrite() {
    error_text_ = "cannot write the output";
    return false;
  }

  bool WithinLimit() {
    if (output_.position() <= kLargestArchive) return true;
    error_text_ = "the archive would reach 2 GiB, more than the stub can read";
    return false;
  }

  std::FILE* file_;
  Output output_;
  FilePacker packer_;
  const PackOptions& options_;
  PiecePool& pool_;
  PackResult& result_;
  std::string& error_text_;
  std::vector<CentralRecord> records_;
};

// The files go to as many threads as asked (no more than there are files), within a memory
// budget: a file read whole costs its size in pieces until it is written.
void PlanWork(const std::vector<PackSource>& sources, unsigned jobs,
              OrderedWork<PreparedFile>& work) {
  work.count = sources.size();
  work.threads = std::max(1u, std::min<unsigned>(jobs, static_cast<unsigned>(sources.size())));
  work.budget = kMemoryPerThread * work.threads;
  for (const PackSource& source : sources) {
    bool in_memory = !source.folder && source.facts.size <= kLargestInMemory;
    work.costs.push_back(in_memory ? (source.facts.size + kPiece - 1) / kPiece * kPiece : 0);
  }
}

}  // namespace

bool WriteZip(std::FILE* file, const std::vector<PackSource>& sources, const PackOptions& options,
              PackResult& result, std::string& error_text) {
  PrepareZipSignatures();
  BuildCrcTable();
  // The progress is told from every thread that reads.
  std::mutex progress_mutex;
  PackOptions shared = options;
  if (options.progress) {
    shared.progress = [&options, &progress_mutex](std::uint64_t bytes) {
      std::lock_guard<std::mutex> lock(progress_mutex);
      options.progress(bytes);
    };
  }
  OrderedWork<PreparedFile> work;
  PlanWork(sources, options.jobs, work);
  PiecePool pool(kPiece, work.budget);
  std::vector<Worker> workers(work.threads);
  if (options.level != 0) {
    for (Worker& worker : workers) worker.deflater = std::make_unique<Deflater>(options.level);
  }
  ArchiveWriter writer(file, shared, pool, result, error_text);
  work.work = [&](unsigned worker, std::size_t item) {
    return PrepareFile(sources[item], workers[worker], pool, shared.progress);
  };
  work.consume = [&](std::size_t item, PreparedFile& prepared) {
    return writer.WriteEntry(sources[item], prepared);
  };
  return work.Run() && writer.Finish();
}

}  // namespace selfx::cli
