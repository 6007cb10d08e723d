// The configuration block that an archive builder writes behind the stub's image:
//
//   stub image | ConfigBlock (18-byte fixed part + caption, folder, command, message)
//              | ConfigTrailer (8 bytes) | ZIP archive
//
// Both sides of that contract live here: EncodeConfigBlock writes it for the builder; one
// parser reads it back, for LoadConfig in the stub and for the tool's commands, from the
// archive file or from bytes in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "archive/archive_file.h"

#include "archive/extraction_run.h"

namespace selfx {

// Fixed part of the block.
constexpr std::uint32_t kConfigFixedSize = 18;
constexpr std::uint32_t kConfigTrailerSize = 8;
constexpr int kConfigSignature = 0;
constexpr int kConfigBlockLength = 4;
constexpr int kConfigOptions = 6;
constexpr int kConfigOverwriteMode = 8;
constexpr int kConfigCaptionLength = 9;
constexpr int kConfigFolderLength = 10;
constexpr int kConfigCommandLength = 11;
constexpr int kConfigReserved = 12;
constexpr int kConfigMessageLength = 13;
constexpr int kConfigMessageStyle = 14;
// "XQ" 00 01 and "XQ" 0A 01, compared as little-endian 32-bit values.
constexpr std::uint32_t kConfigBlockSignature = 0x01005158;
constexpr std::uint32_t kConfigTrailerSignature = 0x010A5158;

// Option bits of the option word.
constexpr std::uint16_t OptRunCheckbox = 0x0001;
constexpr std::uint16_t OptUserSelects = 0x0002;
constexpr std::uint16_t OptHideOverwriteChoice = 0x0004;
constexpr std::uint16_t OptAutoRun = 0x0008;
constexpr std::uint16_t OptQuietSuccess = 0x0010;
constexpr std::uint16_t OptListCollapsed = 0x0040;
constexpr std::uint16_t OptNoShowFiles = 0x0080;
constexpr std::uint16_t OptCancelAllowed = 0x0200;
// The success message is shown only when Options AND this mask is 0.
constexpr std::uint16_t kSuccessMessageMask = OptAutoRun | OptQuietSuccess;

constexpr const char* kDefaultCaption = "Unzip to disk";

// The configuration in memory: the fixed part exactly as read, and the texts.
struct SfxConfigState {
  std::uint8_t fixed[kConfigFixedSize] = {};
  std::string Caption = kDefaultCaption;
  std::string Command;  // after environment expansion
  std::string Message;

  std::uint16_t BlockLength() const;
  std::uint16_t Options() const;
  std::uint8_t& OverwriteMode() { return fixed[kConfigOverwriteMode]; }
  std::uint8_t OverwriteMode() const { return fixed[kConfigOverwriteMode]; }
  std::uint8_t CaptionLength() const { return fixed[kConfigCaptionLength]; }
  std::uint8_t FolderLength() const { return fixed[kConfigFolderLength]; }
  std::uint8_t CommandLength() const { return fixed[kConfigCommandLength]; }
  std::uint8_t MessageLength() const { return fixed[kConfigMessageLength]; }
  std::uint32_t MessageStyle() const;
};

// Where the parser finds the block's bytes. Offsets count from the block's first byte.
class ConfigSource {
 public:
  // Reads exactly count bytes at the current position; false when the file ends first.
  virtual bool Read(void* buffer, std::uint32_t count) = 0;
  // Moves the position to offset bytes behind the block's first byte.
  virtual void Seek(std::uint32_t offset) = 0;

 protected:
  ~ConfigSource() = default;
};

// The block in the archive file, starting at overlay_start: the stub's own file, or the file
// a console command opened.
class ArchiveConfigSource final : public ConfigSource {
 public:
  ArchiveConfigSource(const ArchiveFile& archive, std::uint32_t overlay_start)
      : archive_(archive), overlay_start_(overlay_start) {}
  bool Read(void* buffer, std::uint32_t count) override;
  void Seek(std::uint32_t offset) override;

 private:
  const ArchiveFile& archive_;
  std::uint32_t overlay_start_;
};

// The block in bytes held in memory, which start at the block's first byte and run to the end
// of the file.
class MemoryConfigSource final : public ConfigSource {
 public:
  MemoryConfigSource(const std::uint8_t* bytes, std::size_t size) : bytes_(bytes), size_(size) {}
  bool Read(void* buffer, std::uint32_t count) override;
  void Seek(std::uint32_t offset) override { position_ = offset; }

 private:
  const std::uint8_t* bytes_;
  std::size_t size_;
  std::size_t position_ = 0;
};

// The parser: one step for each part of the block, called in this order. The stub asks its
// start-up question between the texts and the trailer, so that a user who declines never
// hears about a damaged file; a reader that needs no texts skips that step. Each step reads
// only what its part needs.

// Clears the fixed part of config, then reads it from the block's first byte. False when the
// file ends inside it or its signature is wrong: there is no block.
bool ReadConfigFixedPart(ConfigSource& source, SfxConfigState& config);

// The four counted strings, in block order.
struct ConfigTexts {
  std::string& caption;
  std::string& folder;
  std::string& command;
  std::string& message;
};
// Reads the strings that follow the fixed part, as long as config's length bytes say. A
// length of 0 leaves its text as it was. False when the file ends inside a string.
bool ReadConfigTexts(ConfigSource& source, const SfxConfigState& config, const ConfigTexts& texts);

// Checks the trailer's signature at BlockLength. Gives where the archive starts, counted from
// the block's first byte (behind the trailer's 8 bytes; the second 4 are not read), or
// nothing when the signature is wrong or not there.
std::optional<std::uint32_t> ReadConfigTrailer(ConfigSource& source, const SfxConfigState& config);

// OverlayStart: the end of the raw data of the PE image whose headers start at `image`, where
// the block begins. The caller guarantees that the headers are readable (the stub's own
// mapped image, or a file that passed pe::CheckImageHeaders).
std::uint32_t FindOverlayStart(const std::uint8_t* image);

// What a builder writes, and what the tool reads back.
struct ConfigSettings {
  std::uint16_t options = 0;
  std::uint8_t overwrite_mode = kOverwrite;
  std::string caption;
  std::string folder;
  std::string command;
  std::string message;
  std::uint32_t message_style = 0;
};

// The block and its trailer, ready to be written behind the stub. Each text must be at most
// 255 bytes (the caller checks; longer texts are a programming error here).
std::vector<std::uint8_t> EncodeConfigBlock(const ConfigSettings& settings);

// The whole block, as far as it is sound.
struct DecodedConfig {
  bool found = false;  // a whole fixed part with the block's signature
  bool sound = false;  // and every text and the whole trailer, with its signature
  std::uint16_t block_length = 0;
  ConfigSettings settings;           // the fixed part's fields once found, the texts once sound
  std::uint32_t archive_offset = 0;  // from the block's first byte, once sound
};
// Reads it in the stub's own steps: a trailer whose signature is there is sound, as the stub
// takes it, wherever the archive it points to would start.
DecodedConfig DecodeConfig(ConfigSource& source);
// From bytes held in memory (from OverlayStart to the end of the file), where the archive
// must also start inside the bytes.
DecodedConfig DecodeConfigBlock(const std::uint8_t* bytes, std::size_t size);

}  // namespace selfx
