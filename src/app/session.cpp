#include "app/session.h"

#include "app/target_folder.h"
#include "archive/pe_image.h"
#include "platform/platform.h"
#include "ui/ui.h"

namespace selfx {

namespace {
bool EndsStartup(int answer) {
  return answer == kIdCancel || answer == kIdAbort || answer == kIdNo || answer == kIdClose;
}
}  // namespace

StartupOutcome LoadConfig(Session& session) {
  const std::uint8_t* image = platform::ModuleImage();
  StartupOutcome outcome = LoadConfigAt(session, FindOverlayStart(image));
  // A signature appended behind the archive is not part of it. The loader maps the headers,
  // the certificate table's entry with them, as they are in the file.
  ArchiveFile& archive = session.extraction.archive;
  if (outcome == StartupOutcome::kProceed) {
    archive.end = pe::EndWithoutSignature(image, archive.start, archive.end);
  }
  return outcome;
}

StartupOutcome LoadConfigAt(Session& session, std::uint32_t overlay_start) {
  SfxConfigState& config = session.config;
  ArchiveFile& archive = session.extraction.archive;
  ArchiveConfigSource source(archive, overlay_start);
  std::string folder_text;
  if (!ReadConfigFixedPart(source, config) ||
      !ReadConfigTexts(source, config,
                       {config.Caption, folder_text, config.Command, config.Message})) {
    return StartupOutcome::kCorrupt;
  }

  config.Command = ExpandEnvironment(config.Command);
  session.target_folder = ResolveTargetFolder(config.FolderLength(), folder_text);
  session.extraction.overwrite_mode = config.OverwriteMode();

  // The question comes before the trailer is looked at: a user who declines never hears
  // about a damaged file.
  if (config.MessageLength() != 0) {
    int answer = ShowMessage(nullptr, config.Message, config.Caption, config.MessageStyle());
    if (EndsStartup(answer)) return StartupOutcome::kDeclined;
  }

  std::optional<std::uint32_t> archive_offset = ReadConfigTrailer(source, config);
  if (!archive_offset) return StartupOutcome::kCorrupt;
  archive.start = overlay_start + *archive_offset;
  return StartupOutcome::kProceed;
}

}  // namespace selfx
