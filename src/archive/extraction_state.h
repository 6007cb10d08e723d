// The state of the one extraction in progress, shared between entry extraction and the
// decoders: which entry, how many of its compressed bytes remain, the CRC register over what
// has been written, and the output file; and the output end of the decoders.
#pragma once

#include <cstdint>
#include <string>

#include "archive/archive_entry.h"
#include "base/per_thread.h"
#include "codec/stream.h"
#include "codec/zip_crypto.h"
#include "platform/platform.h"

namespace selfx {

extern SELFX_PER_THREAD ArchiveEntry CurrentEntry;
// Compressed bytes of CurrentEntry still to be read (signed: an encrypted entry smaller than
// its 12-byte header starts below zero). The stored copy counts it down; the deflate decoder
// takes it as its input's bound and counts down its own copy (CompressedInput.remaining).
extern SELFX_PER_THREAD std::int32_t CompressedRemaining;
// CRC-32 register over every byte written for the entry; starts at 0xFFFFFFFF.
extern SELFX_PER_THREAD std::uint32_t RunningCrc;
// The decryption keys of CurrentEntry, primed by its password check.
extern SELFX_PER_THREAD ZipKeys EntryKeys;

struct Inflater;
// The decoder of the thread's extractions, made on first use and kept for the thread's life.
Inflater& ThreadInflater();

// The remembered password: tried first for every encrypted entry, at most 80 characters.
extern std::string Password;
// Set when the user confirms cancelling; the run stops at its next check.
extern bool CancelRequested;

struct OutputFileState {
  std::string path;  // the %s of the output messages; stays set after the close
  platform::FileHandle handle = platform::kNoFile;
};
extern SELFX_PER_THREAD OutputFileState OutputFile;

// Writes the block with one write call; a short write ends the program with
// "Cannot write to %s" and the path.
void WriteOutput(platform::FileHandle file, const void* buffer, std::uint32_t count,
                 const std::string& path);

// Where every decoded piece goes, from the deflate decoder (this is its sink) and from the
// stored copy: written to OutputFile with one WriteOutput call, then folded into RunningCrc, so
// that the CRC covers exactly the bytes written. The context is unused; a short write ends the
// program, so the piece is always kept.
bool WriteOutputPiece(void* context, const std::uint8_t* bytes, std::uint32_t count);
constexpr OutputSink kOutputFileSink = {WriteOutputPiece, nullptr};

// The archive file from its current position as the decoders' source (ReadArchive); the
// context is unused.
std::uint32_t ReadArchiveInput(void* context, void* buffer, std::uint32_t count);
constexpr InputSource kArchiveSource = {ReadArchiveInput, nullptr};

// Closes the handle unless it was never opened (0 or kNoFile) and marks it closed; false only
// when the close itself failed.
bool CloseAndReset(platform::FileHandle& handle);

// The first of the process-end steps: releases the entry table and closes the archive file
// and any open output file, reporting "Cannot close %s" for a close that fails.
void CloseArchiveFiles();

}  // namespace selfx
