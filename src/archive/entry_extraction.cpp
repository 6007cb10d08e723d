#include "archive/entry_extraction.h"

#include <algorithm>
#include <cstdint>

#include "archive/archive_file.h"
#include "archive/directory.h"
#include "archive/extraction_state.h"
#include "archive/stored_copy.h"
#include "archive/zip_format.h"
#include "archive/zip_signatures.h"
#include "base/fatal_error.h"
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
bool AcceptPassword(platform::WindowHandle owner, const ArchiveEntry& entry,
                    std::uint8_t (&work)[2 * kEncryptionHeaderSize]) {
  auto check = [&] {
    return CheckEncryptionHeader(EntryKeys, work, kEncryptionHeaderSize, entry.Flags(), entry.Crc(),
                                 entry.DosTime(), Password);
  };
  // The check refuses an empty password, so a first entry goes straight to the prompt.
  if (!Password.empty() && check()) return true;
  for (int prompt = 0; prompt < kMaxPasswordPrompts; ++prompt) {
    if (PasswordPrompt(owner) != kPromptOk) return false;
    if (check()) return true;
    platform::Beep();
  }
  return false;
}

}  // namespace

EntryData SeekEntryData(const ArchiveEntry& entry) {
  // The archive is read with signed 32-bit positions: a header at 2 GiB or more cannot be
  // reached, and a seek that fails would leave the file where it was.
  std::uint32_t header_at = entry.LocalHeaderOffset() + static_cast<std::uint32_t>(ArchiveBase);
  if (header_at > 0x7FFFFFFF || SeekArchive(static_cast<std::int32_t>(header_at),
                                            platform::SeekOrigin::FromStart) != header_at) {
    return EntryData::kUnreachable;
  }
  std::uint8_t local_header[zip::kLocalHeaderSize];
  if (ReadArchive(local_header, zip::kLocalHeaderSize) != zip::kLocalHeaderSize) {
    return EntryData::kUnreachable;
  }
  if (LoadLe32(local_header + zip::kLocalSignature) != LocalHeaderSignature) {
    return EntryData::kNotLocalHeader;
  }
  // The local header's own lengths find the data: its extra field may differ from the
  // directory's.
  SeekArchive(LoadLe16(local_header + zip::kLocalNameLength) +
                  LoadLe16(local_header + zip::kLocalExtraLength),
              platform::SeekOrigin::FromCurrent);
  CompressedRemaining = static_cast<std::int32_t>(entry.CompressedSize());
  if (entry.IsEncrypted()) {
    // A size of 2 GiB or more reads as negative, which leaves nothing to read; near the bottom
    // of the range the header's 12 bytes must not wrap it round to a large positive size.
    if (CompressedRemaining < INT32_MIN + kEncryptionHeaderSize)
      CompressedRemaining = INT32_MIN;
    else
      CompressedRemaining -= kEncryptionHeaderSize;
  }
  return EntryData::kFound;
}

namespace {

// Everything before the output file: method, local header, data position, password. Leaves
// the archive at the entry's first data byte with CompressedRemaining and the keys set.
// False (with password_abort, or after the method's message) when the entry is not to be
// decoded.
bool PrepareEntry(platform::WindowHandle owner, const ArchiveEntry& entry, bool& password_abort) {
  password_abort = false;
  CurrentEntry = entry;
  if (CurrentEntry.Signature() != CentralHeaderSignature) {
    FatalError(FormatWith("Error reading zip %s", ArchiveFile.path));
  }
  if (entry.Method() != zip::kMethodStored && entry.Method() != zip::kMethodDeflated) {
    ShowError(owner, "Unknown compression type");
    return false;
  }

  switch (SeekEntryData(entry)) {
    case EntryData::kUnreachable:
      FatalError(kCorruptMessage);
    case EntryData::kNotLocalHeader:
      FatalError(FormatWith("Error reading zip %s", ArchiveFile.path));
    case EntryData::kFound:
      break;
  }
  if (entry.IsEncrypted()) {
    // The second half keeps the header as read, so every attempt decrypts a fresh copy.
    std::uint8_t work[2 * kEncryptionHeaderSize];
    ReadArchiveExact(work, kEncryptionHeaderSize);
    std::copy(work, work + kEncryptionHeaderSize, work + kEncryptionHeaderSize);
    password_abort = !AcceptPassword(owner, entry, work);
    if (password_abort) return false;
  }
  return true;
}

// After the entry's bytes went to OutputFile: sets the time, compares the CRC and closes the
// output.
bool FinishOutput(platform::WindowHandle owner, const ArchiveEntry& entry, bool set_time) {
  bool sound = false;
  if (set_time) {
    SetFileTimeFromDos(OutputFile.handle,
                       (static_cast<std::uint32_t>(entry.DosDate()) << 16) | entry.DosTime());
  }
  if (entry.Crc() == (RunningCrc ^ 0xFFFFFFFFu)) {
    sound = true;
  } else {
    ShowError(owner, FormatWith("CRC-32 error in %s", OutputFile.path));
  }
  if (!CloseAndReset(OutputFile.handle)) {
    ShowError(owner, FormatWith("Cannot close %s", OutputFile.path));
    sound = false;
  }
  return sound;
}

// Runs the entry's decoder into OutputFile, sets the time and compares the CRC. The output
// is closed on every way out.
bool DecodeIntoOutput(platform::WindowHandle owner, const ArchiveEntry& entry, bool set_time) {
  if (entry.Method() == zip::kMethodStored) {
    CopyStoredEntry();
  } else {
    DecodeDeflatedEntry(ThreadInflater(), kArchiveSource, CompressedRemaining,
                        entry.IsEncrypted() ? &EntryKeys : nullptr, kOutputFileSink);
  }
  return FinishOutput(owner, entry, set_time);
}

// The start of an entry's output: a fresh CRC, a chance to cancel, and the file created.
bool StartOutput(platform::WindowHandle owner, const std::string& output_path) {
  RunningCrc = 0xFFFFFFFF;
  PumpOneMessage();
  if (CancelRequested) return false;
  OutputFile.path = output_path;
  OutputFile.handle = platform::CreateForWriting(output_path);
  if (OutputFile.handle == platform::kNoFile) {
    ShowError(owner, FormatWith("Cannot write to %s", output_path));
    return false;
  }
  return true;
}

#ifndef SELFX_SINGLE_THREADED
// The output end of ExtractEntry for bytes decoded ahead: the same pieces the decoders hand
// over (32,768 bytes each, then the rest), through the same writer; the CRC register is the one
// the decoding thread kept over these bytes.
bool ExtractDecodedAhead(platform::WindowHandle owner, const std::string& output_path,
                         const ArchiveEntry& entry, const DecodedPieces& decoded) {
  CurrentEntry = entry;
  if (!StartOutput(owner, output_path)) return false;
  std::uint64_t left = decoded.size;
  for (const std::uint8_t* piece : decoded.pieces) {
    std::uint32_t count = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(left, deflate::kWindowSize));
    WriteOutput(OutputFile.handle, piece, count, OutputFile.path);
    left -= count;
  }
  RunningCrc = decoded.crc_register;
  return FinishOutput(owner, entry, true);
}
#endif

}  // namespace

#ifndef SELFX_SINGLE_THREADED
DecodedAheadLookup LookUpDecodedAhead = nullptr;
#endif

bool ExtractEntry(platform::WindowHandle owner, const std::string& output_path,
                  const ArchiveEntry& entry, bool& password_abort) {
#ifndef SELFX_SINGLE_THREADED
  if (LookUpDecodedAhead != nullptr) {
    if (const DecodedPieces* decoded = LookUpDecodedAhead(entry)) {
      password_abort = false;
      return ExtractDecodedAhead(owner, output_path, entry, *decoded);
    }
  }
#endif
  if (!PrepareEntry(owner, entry, password_abort)) return false;
  if (!StartOutput(owner, output_path)) return false;
  return DecodeIntoOutput(owner, entry, true);
}

bool TestEntry(platform::WindowHandle owner, const std::string& name, const ArchiveEntry& entry,
               bool& password_abort) {
  if (!PrepareEntry(owner, entry, password_abort)) return false;
  RunningCrc = 0xFFFFFFFF;
  OutputFile.path = name;
  OutputFile.handle = platform::OpenNullOutput();
  if (OutputFile.handle == platform::kNoFile) {
    ShowError(owner, "Cannot open the null device");
    return false;
  }
  return DecodeIntoOutput(owner, entry, false);
}

void SetFileTimeFromDos(platform::FileHandle file, std::uint32_t dos_date_time) {
  platform::SetLastWriteTimeFromDos(file, static_cast<std::uint16_t>(dos_date_time >> 16),
                                    static_cast<std::uint16_t>(dos_date_time));
}

}  // namespace selfx
