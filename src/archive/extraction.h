// The extraction context: everything one extraction works with, in one object that its
// owner (the stub's start-up, a selfx command, a decoding thread) creates and passes down.
// The archive file, the entry list with its selection (the model the stub's list view
// shows), the overwrite mode, the password, the cancel flag, the run's counts, and the state
// of the entry being decoded. Nothing of it is program-wide.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "archive/archive_entry.h"
#include "archive/archive_file.h"
#include "base/fault.h"
#include "base/stub_build.h"
#include "codec/inflate.h"
#include "codec/stream.h"
#include "codec/zip_crypto.h"
#include "platform/platform.h"

namespace selfx {

// How a file that already exists is treated: the configured mode, changed by the user in the
// dialog or by "Don't ask again" in the prompt.
enum OverwriteModeValue : std::uint8_t { kOverwrite = 0, kDontOverwrite = 1, kAsk = 2 };

// One file entry of the directory, with the name the user sees and whether it is to be
// extracted. Folder entries are not listed.
struct EntryRow {
  ArchiveEntry entry;
  std::string name;
  bool selected = false;
};

// The file being written for the entry being decoded.
struct OutputFile {
  std::string path;  // the %s of the output messages; stays set after the close
  platform::FileHandle handle = platform::kNoFile;
};

// What a run did with the selected entries.
struct RunCounts {
  int extracted = 0;
  int skipped = 0;  // existing files left as they were
  int failed = 0;   // reported and left selected
};

#ifndef SELFX_STUB_BUILD
// The bytes of an entry decoded elsewhere, in the pieces the decoders hand over: 32,768 bytes
// each, the last one the rest; and the CRC register over all of them.
struct DecodedPieces {
  std::vector<std::uint8_t*> pieces;
  std::uint64_t size = 0;
  std::uint32_t crc_register = 0xFFFFFFFF;
};

// The command-line tool decodes entries ahead on other threads. When set, the run asks it
// first for the row it is about to extract: the bytes of its entry, decoded with the password
// held now and found sound (CRC-32 matched), or nullptr to prepare and decode the entry here.
// The bytes stay valid until the next call.
using DecodedAheadLookup = const DecodedPieces* (*)(void* context, std::size_t row,
                                                    const std::string& password);
#endif

struct Extraction {
  ArchiveFile archive;
  std::vector<EntryRow> entries;
  std::uint8_t overwrite_mode = kAsk;
  // The remembered password: tried first for every encrypted entry, at most 80 characters.
  std::string password;
  // Set when the user confirms cancelling; the run stops at its next check.
  bool cancel_requested = false;
  RunCounts counts;
  // The window that owns the run's boxes and prompts (none in the console).
  platform::WindowHandle window = nullptr;
  // What ended the run, when something did; the top of the program reports it.
  Fault fault = Fault::kNone;

  // The full path of the row being handled: the target folder, one backslash, the name (which
  // starts at name_start).
  std::string output_path;
  std::size_t name_start = 0;

  // The entry being decoded: its record, how many of its compressed bytes remain (signed: an
  // encrypted entry smaller than its 12-byte header starts below zero), the CRC register over
  // every byte written for it, its keys, and its output.
  ArchiveEntry current;
  std::int32_t compressed_remaining = 0;
  std::uint32_t running_crc = 0xFFFFFFFF;
  ZipKeys keys = {};
  OutputFile output;
  // The deflate decoder's working memory, made at the first deflated entry.
  std::unique_ptr<Inflater> inflater;

#ifndef SELFX_STUB_BUILD
  DecodedAheadLookup decoded_ahead = nullptr;
  void* decoded_ahead_context = nullptr;
#endif
};

// The message of the extraction's fault, naming the archive or the output file.
std::string FaultMessage(const Extraction& extraction);

// Where every decoded piece goes, from the deflate decoder and from the stored copy: written
// to the output file with one write call, then folded into running_crc, so that the CRC covers
// exactly the bytes written. A short write records "Cannot write to %s" as the fault and
// refuses the piece.
OutputSink OutputToFile(Extraction& extraction);
bool WriteOutput(Extraction& extraction, const void* buffer, std::uint32_t count);

// Closes the handle unless it was never opened (0 or kNoFile) and marks it closed; false only
// when the close itself failed.
bool CloseAndReset(platform::FileHandle& handle);

// The first of the process-end steps: releases the entry list, closes the archive file and
// any output file still open (whose new file is dropped), reporting "Cannot close %s" for a
// close that fails.
void CloseArchiveFiles(Extraction& extraction);

}  // namespace selfx
