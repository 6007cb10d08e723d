#include "app/config_block.h"

#include <algorithm>

#include "base/byte_order.h"
#include "base/fatal_error.h"
#include "app/target_folder.h"
#include "archive/archive_file.h"
#include "archive/pe_image.h"
#include "platform/platform.h"
#include "ui/ui.h"

namespace selfx {

SfxConfigState SfxConfig;

std::uint16_t SfxConfigState::BlockLength() const { return LoadLe16(fixed + kConfigBlockLength); }
std::uint16_t SfxConfigState::Options() const { return LoadLe16(fixed + kConfigOptions); }
std::uint32_t SfxConfigState::MessageStyle() const {
  return LoadLe32(fixed + kConfigMessageStyle);
}

namespace {

// For N = 0 the text keeps what it had; otherwise it becomes exactly N bytes of the archive.
void ReadCountedString(std::string& text, std::uint8_t length) {
  if (length == 0) return;
  text.assign(length, '\0');
  ReadArchiveExact(&text[0], length);
}

bool EndsStartup(int answer) {
  return answer == kIdCancel || answer == kIdAbort || answer == kIdNo || answer == kIdClose;
}

}  // namespace

std::uint32_t FindOverlayStart(const std::uint8_t* image) { return pe::OverlayStart(image); }

void LoadConfig() { LoadConfigAt(FindOverlayStart(platform::ModuleImage())); }

void LoadConfigAt(std::uint32_t overlay_start) {
  SeekArchive(static_cast<std::int32_t>(overlay_start), platform::SeekOrigin::FromStart);

  std::fill(std::begin(SfxConfig.fixed), std::end(SfxConfig.fixed), 0);
  ReadArchiveExact(SfxConfig.fixed, kConfigFixedSize);
  if (LoadLe32(SfxConfig.fixed + kConfigSignature) != kConfigBlockSignature) {
    FatalError(kCorruptMessage);
  }

  std::string folder_text;
  ReadCountedString(SfxConfig.Caption, SfxConfig.CaptionLength());
  ReadCountedString(folder_text, SfxConfig.FolderLength());
  ReadCountedString(SfxConfig.Command, SfxConfig.CommandLength());
  ReadCountedString(SfxConfig.Message, SfxConfig.MessageLength());

  SfxConfig.Command = ExpandEnvironment(SfxConfig.Command);
  TargetFolder = ResolveTargetFolder(SfxConfig.FolderLength(), folder_text);

  // The question comes before the trailer is looked at: a user who declines never hears
  // about a damaged file.
  if (SfxConfig.MessageLength() != 0) {
    int answer = ShowMessage(nullptr, SfxConfig.Message, SfxConfig.Caption,
                             SfxConfig.MessageStyle());
    if (EndsStartup(answer)) EndProgram(0);
  }

  SeekArchive(static_cast<std::int32_t>(overlay_start + SfxConfig.BlockLength()),
              platform::SeekOrigin::FromStart);
  std::uint8_t trailer_signature[4];
  ReadArchiveExact(trailer_signature, sizeof trailer_signature);
  if (LoadLe32(trailer_signature) != kConfigTrailerSignature) FatalError(kCorruptMessage);
  ArchiveStart = SeekArchive(4, platform::SeekOrigin::FromCurrent);
}

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

std::optional<DecodedConfig> DecodeConfigBlock(const std::uint8_t* bytes, std::size_t size) {
  if (size < kConfigFixedSize || LoadLe32(bytes + kConfigSignature) != kConfigBlockSignature) {
    return std::nullopt;
  }
  DecodedConfig decoded;
  ConfigSettings& settings = decoded.settings;
  decoded.block_length = LoadLe16(bytes + kConfigBlockLength);
  settings.options = LoadLe16(bytes + kConfigOptions);
  settings.overwrite_mode = bytes[kConfigOverwriteMode];
  settings.message_style = LoadLe32(bytes + kConfigMessageStyle);

  std::size_t at = kConfigFixedSize;
  std::string* texts[] = {&settings.caption, &settings.folder, &settings.command,
                          &settings.message};
  const int length_fields[] = {kConfigCaptionLength, kConfigFolderLength, kConfigCommandLength,
                               kConfigMessageLength};
  for (int i = 0; i < 4; ++i) {
    std::size_t length = bytes[length_fields[i]];
    if (size - at < length) return std::nullopt;
    texts[i]->assign(reinterpret_cast<const char*>(bytes + at), length);
    at += length;
  }

  std::size_t trailer_at = decoded.block_length;
  if (size < trailer_at + kConfigTrailerSize ||
      LoadLe32(bytes + trailer_at) != kConfigTrailerSignature) {
    return std::nullopt;
  }
  decoded.archive_offset = static_cast<std::uint32_t>(trailer_at + kConfigTrailerSize);
  return decoded;
}

}  // namespace selfx
