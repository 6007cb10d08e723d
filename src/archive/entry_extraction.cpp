#include "archive/entry_extraction.h"

#include <algorithm>
#include <cstdint>

#include "archive/stored_copy.h"
#include "archive/zip_format.h"
#include "archive/zip_signatures.h"
#include "base/text.h"
#include "codec/deflate_format.h"
#include "codec/inflate.h"
#include "codec/zip_crypto.h"
#include "ui/ui.h"

namespace selfx {

namespace {

constexpr int kMaxPasswordPrompts = 3;

// Asks until a password opens the header or the user gives up: at most three prompts, a
// beep after each refused password. Returns true when the keys are ready for the data.
bool AcceptPassword(Extraction& extraction, const ArchiveEntry& entry,
                    std::uint8_t (&work)[2 * kEncryptionHeaderSize]) {
  auto check = [&] {
    return CheckEncryptionHeader(extraction.keys, work, kEncryptionHeaderSize, entry.Flags(),
                                 entry.Crc(), entry.DosTime(), extraction.password);
  };
  // The check refuses an empty password, so a first entry goes straight to the prompt.
  if (!extraction.password.empty() && check()) return true;
  for (int prompt = 0; prompt < kMaxPasswordPrompts; ++prompt) {
    if (!PasswordPrompt(extraction.window, extraction.output_path, extraction.name_start,
                        extraction.password)) {
      return false;
    }
    if (check()) return true;
    platform::Beep();
  }
  return false;
}

}  // namespace

EntryData SeekEntryData(const ArchiveFile& archive, const ArchiveEntry& entry,
                        std::int32_t& remaining) {
  // The archive is read with signed 32-bit positions: a header at 2 GiB or more cannot be
  // reached, and a seek that fails would leave the file where it was.
  std::uint32_t header_at = entry.LocalHeaderOffset() + static_cast<std::uint32_t>(archive.base);
  if (header_at > 0x7FFFFFFF || archive.Seek(static_cast<std::int32_t>(header_at),
                                             platform::SeekOrigin::FromStart) != header_at) {
    return EntryData::kUnreachable;
  }
  std::uint8_t local_header[zip::kLocalHeaderSize];
  if (!archive.ReadExact(local_header, zip::kLocalHeaderSize)) return EntryData::kUnreachable;
  if (LoadLe32(local_header + zip::kLocalSignature) != LocalHeaderSignature) {
    return EntryData::kNotLocalHeader;
  }
  // The local header's own lengths find the data: its extra field may differ from the
  // directory's.
  archive.Seek(LoadLe16(local_header + zip::kLocalNameLength) +
                   LoadLe16(local_header + zip::kLocalExtraLength),
               platform::SeekOrigin::FromCurrent);
  remaining = static_cast<std::int32_t>(entry.CompressedSize());
  if (entry.IsEncrypted()) {
    // A size of 2 GiB or more reads as negative, which leaves nothing to read; near the bottom
    // of the range the header's 12 bytes must not wrap it round to a large positive size.
    if (remaining < INT32_MIN + kEncryptionHeaderSize)
      remaining = INT32_MIN;
    else
      remaining -= kEncryptionHeaderSize;
  }
  return EntryData::kFound;
}

namespace {

EntryOutcome Fatal(Extraction& extraction, Fault fault) {
  extraction.fault = fault;
  return EntryOutcome::kFatal;
}

// Everything before the output file: method, local header, data position, password. Leaves
// the archive at the entry's first data byte with compressed_remaining and the keys set.
EntryOutcome PrepareEntry(Extraction& extraction, const EntryRow& row) {
  const ArchiveEntry& entry = row.entry;
  extraction.current = entry;
  if (entry.Signature() != CentralHeaderSignature) return Fatal(extraction, Fault::kReadingZip);
  if (entry.Method() != zip::kMethodStored && entry.Method() != zip::kMethodDeflated) {
    ShowError(extraction.window, "Unknown compression type");
    return EntryOutcome::kFailed;
  }

  switch (SeekEntryData(extraction.archive, entry, extraction.compressed_remaining)) {
    case EntryData::kUnreachable:
      return Fatal(extraction, Fault::kCorrupt);
    case EntryData::kNotLocalHeader:
      return Fatal(extraction, Fault::kReadingZip);
    case EntryData::kFound:
      break;
  }
  if (entry.IsEncrypted()) {
    // The second half keeps the header as read, so every attempt decrypts a fresh copy.
    std::uint8_t work[2 * kEncryptionHeaderSize];
    if (!extraction.archive.ReadExact(work, kEncryptionHeaderSize)) {
      return Fatal(extraction, Fault::kCorrupt);
    }
    std::copy(work, work + kEncryptionHeaderSize, work + kEncryptionHeaderSize);
    if (!AcceptPassword(extraction, entry, work)) return EntryOutcome::kNoPassword;
  }
  return EntryOutcome::kDone;
}

// After the entry's bytes went to the output: sets the time, compares the CRC and closes the
// output. A file whose CRC matched takes its name; one that failed keeps it only where no
// file stood (the user then has the damaged bytes beside the message), and never replaces
// an existing file.
EntryOutcome FinishOutput(Extraction& extraction, bool set_time) {
  const ArchiveEntry& entry = extraction.current;
  OutputFile& output = extraction.output;
  bool sound = entry.Crc() == (extraction.running_crc ^ 0xFFFFFFFFu);
  if (set_time) {
    SetFileTimeFromDos(output.handle,
                       (static_cast<std::uint32_t>(entry.DosDate()) << 16) | entry.DosTime());
  }
  if (!sound) ShowError(extraction.window, FormatWith("CRC-32 error in %s", output.path));
  bool closed;
  if (set_time) {
    closed = platform::CloseOutput(output.handle, sound ? platform::OutputEnding::kCommit
                                                        : platform::OutputEnding::kKeepIfNew);
    output.handle = platform::kNoFile;
  } else {
    closed = CloseAndReset(output.handle);
  }
  if (!closed) {
    ShowError(extraction.window, FormatWith("Cannot close %s", output.path));
    sound = false;
  }
  return sound ? EntryOutcome::kDone : EntryOutcome::kFailed;
}

// Runs the entry's decoder into the output, sets the time and compares the CRC.
EntryOutcome DecodeIntoOutput(Extraction& extraction, bool set_time) {
  const ArchiveEntry& entry = extraction.current;
  if (entry.Method() == zip::kMethodStored) {
    if (!CopyStoredEntry(extraction)) return EntryOutcome::kFatal;
  } else {
    if (!extraction.inflater) extraction.inflater = std::make_unique<Inflater>();
    if (!DecodeDeflatedEntry(*extraction.inflater, ArchiveSource(extraction.archive),
                             extraction.compressed_remaining,
                             entry.IsEncrypted() ? &extraction.keys : nullptr,
                             OutputToFile(extraction))) {
      return EntryOutcome::kFatal;
    }
  }
  return FinishOutput(extraction, set_time);
}

// The start of an entry's output: a fresh CRC, a chance to cancel, and the file created.
EntryOutcome StartOutput(Extraction& extraction) {
  extraction.running_crc = 0xFFFFFFFF;
  PumpOneMessage(extraction.cancel_requested);
  if (extraction.cancel_requested) return EntryOutcome::kFailed;
  OutputFile& output = extraction.output;
  output.path = extraction.output_path;
  output.handle = platform::CreateForWriting(output.path);
  if (output.handle == platform::kNoFile) {
    ShowError(extraction.window, FormatWith("Cannot write to %s", output.path));
    return EntryOutcome::kFailed;
  }
  return EntryOutcome::kDone;
}

#ifndef SELFX_STUB_BUILD
// The output end of ExtractEntry for bytes decoded ahead: the same pieces the decoders hand
// over (32,768 bytes each, then the rest), through the same writer; the CRC register is the one
// the decoding thread kept over these bytes.
EntryOutcome ExtractDecodedAhead(Extraction& extraction, const EntryRow& row,
                                 const DecodedPieces& decoded) {
  extraction.current = row.entry;
  EntryOutcome started = StartOutput(extraction);
  if (started != EntryOutcome::kDone) return started;
  std::uint64_t left = decoded.size;
  for (const std::uint8_t* piece : decoded.pieces) {
    std::uint32_t count = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(left, deflate::kWindowSize));
    if (!WriteOutput(extraction, piece, count)) return EntryOutcome::kFatal;
    left -= count;
  }
  extraction.running_crc = decoded.crc_register;
  return FinishOutput(extraction, true);
}
#endif

}  // namespace

EntryOutcome ExtractEntry(Extraction& extraction, std::size_t row_index) {
  const EntryRow& row = extraction.entries[row_index];
#ifndef SELFX_STUB_BUILD
  if (extraction.decoded_ahead != nullptr) {
    if (const DecodedPieces* decoded = extraction.decoded_ahead(extraction.decoded_ahead_context,
                                                                row_index, extraction.password)) {
      return ExtractDecodedAhead(extraction, row, *decoded);
    }
  }
#endif
  EntryOutcome outcome = PrepareEntry(extraction, row);
  if (outcome == EntryOutcome::kDone) outcome = StartOutput(extraction);
  if (outcome == EntryOutcome::kDone) outcome = DecodeIntoOutput(extraction, true);
  return outcome;
}

EntryOutcome TestEntry(Extraction& extraction, std::size_t row_index) {
  const EntryRow& row = extraction.entries[row_index];
  extraction.output_path = row.name;
  extraction.name_start = 0;
  EntryOutcome outcome = PrepareEntry(extraction, row);
  if (outcome != EntryOutcome::kDone) return outcome;
  extraction.running_crc = 0xFFFFFFFF;
  OutputFile& output = extraction.output;
  output.path = row.name;
  output.handle = platform::OpenNullOutput();
  if (output.handle == platform::kNoFile) {
    ShowError(extraction.window, "Cannot open the null device");
    return EntryOutcome::kFailed;
  }
  return DecodeIntoOutput(extraction, false);
}

void SetFileTimeFromDos(platform::FileHandle file, std::uint32_t dos_date_time) {
  platform::SetLastWriteTimeFromDos(file, static_cast<std::uint16_t>(dos_date_time >> 16),
                                    static_cast<std::uint16_t>(dos_date_time));
}

}  // namespace selfx
