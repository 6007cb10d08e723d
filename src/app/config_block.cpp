#include "app/config_block.h"

#include <algorithm>

#include "archive/pe_image.h"
#include "base/byte_order.h"
#include "platform/platform.h"

namespace selfx {

std::uint16_t SfxConfigState::BlockLength() const { return LoadLe16(fixed + kConfigBlockLength); }
std::uint16_t SfxConfigState::Options() const { return LoadLe16(fixed + kConfigOptions); }
std::uint32_t SfxConfigState::MessageStyle() const { return LoadLe32(fixed + kConfigMessageStyle); }

namespace {

// For a length of 0 the text keeps what it had; otherwise it becomes exactly that many bytes
// of the block.
bool ReadCountedString(ConfigSource& source, std::string& text, std::uint8_t length) {
  if (length == 0) return true;
  text.assign(length, '\0');
  return source.Read(&text[0], length);
}

}  // namespace

bool ArchiveConfigSource::Read(void* buffer, std::uint32_t count) {
  return archive_.ReadExact(buffer, count);
}

void ArchiveConfigSource::Seek(std::uint32_t offset) {
  archive_.Seek(static_cast<std::int32_t>(overlay_start_ + offset),
                platform::SeekOrigin::FromStart);
}

bool MemoryConfigSource::Read(void* buffer, std::uint32_t count) {
  if (position_ > size_ || size_ - position_ < count) return false;
  std::copy(bytes_ + position_, bytes_ + position_ + count, static_cast<std::uint8_t*>(buffer));
  position_ += count;
  return true;
}

bool ReadConfigFixedPart(ConfigSource& source, SfxConfigState& config) {
  std::fill(std::begin(config.fixed), std::end(config.fixed), 0);
  source.Seek(0);
  return source.Read(config.fixed, kConfigFixedSize) &&
         LoadLe32(config.fixed + kConfigSignature) == kConfigBlockSignature;
}

bool ReadConfigTexts(ConfigSource& source, const SfxConfigState& config, const ConfigTexts& texts) {
  static constexpr int kLengthFields[] = {kConfigCaptionLength, kConfigFolderLength,
                                          kConfigCommandLength, kConfigMessageLength};
  std::string* const targets[] = {&texts.caption, &texts.folder, &texts.command, &texts.message};
  for (int i = 0; i < 4; ++i) {
    if (!ReadCountedString(source, *targets[i], config.fixed[kLengthFields[i]])) return false;
  }
  return true;
}

std::optional<std::uint32_t> ReadConfigTrailer(ConfigSource& source, const SfxConfigState& config) {
  source.Seek(config.BlockLength());
  std::uint8_t signature[4];
  if (!source.Read(signature, sizeof signature) || LoadLe32(signature) != kConfigTrailerSignature) {
    return std::nullopt;
  }
  return config.BlockLength() + kConfigTrailerSize;
}

std::uint32_t FindOverlayStart(const std::uint8_t* image) { return pe::OverlayStart(image); }

std::vector<std::uint8_t> EncodeConfigBlock(const ConfigSettings& settings) {
  const std::string* texts[] = {&settings.caption, &settings.folder, &settings.command,
                                &settings.message};
  std::uint32_t block_length = kConfigFixedSize;
  for (const std::string* text : texts) block_length += static_cast<std::uint32_t>(text->size());

  std::vector<std::uint8_t> bytes(kConfigFixedSize);
  StoreLe32(&bytes[kConfigSignature], kConfigBlockSignature);
  StoreLe16(&bytes[kConfigBlockLength], static_cast<std::uint16_t>(block_length));
  StoreLe16(&bytes[kConfigOptions], settings.options);
  bytes[kConfigOverwriteMode] = settings.overwrite_mode;
  bytes[kConfigCaptionLength] = static_cast<std::uint8_t>(settings.caption.size());
  bytes[kConfigFolderLength] = static_cast<std::uint8_t>(settings.folder.size());
  bytes[kConfigCommandLength] = static_cast<std::uint8_t>(settings.command.size());
  bytes[kConfigReserved] = 0;
  bytes[kConfigMessageLength] = static_cast<std::uint8_t>(settings.message.size());
  StoreLe32(&bytes[kConfigMessageStyle], settings.message_style);
  for (const std::string* text : texts) bytes.insert(bytes.end(), text->begin(), text->end());

  std::uint8_t trailer[kConfigTrailerSize];
  StoreLe32(trailer, kConfigTrailerSignature);
  StoreLe32(trailer + 4, block_length);
  bytes.insert(bytes.end(), trailer, trailer + kConfigTrailerSize);
  return bytes;
}

DecodedConfig DecodeConfig(ConfigSource& source) {
  DecodedConfig decoded;
  SfxConfigState block;
  if (!ReadConfigFixedPart(source, block)) return decoded;
  decoded.found = true;
  decoded.block_length = block.BlockLength();
  ConfigSettings& settings = decoded.settings;
  settings.options = block.Options();
  settings.overwrite_mode = block.OverwriteMode();
  settings.message_style = block.MessageStyle();

  if (!ReadConfigTexts(source, block,
                       {settings.caption, settings.folder, settings.command, settings.message})) {
    return decoded;
  }
  std::optional<std::uint32_t> archive_offset = ReadConfigTrailer(source, block);
  if (!archive_offset) return decoded;
  decoded.sound = true;
  decoded.archive_offset = *archive_offset;
  return decoded;
}

DecodedConfig DecodeConfigBlock(const std::uint8_t* bytes, std::size_t size) {
  MemoryConfigSource source(bytes, size);
  DecodedConfig decoded = DecodeConfig(source);
  if (decoded.sound && decoded.archive_offset > size) decoded.sound = false;
  return decoded;
}

}  // namespace selfx
