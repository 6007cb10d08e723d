// The stub's session: the configuration read at start-up, the target folder, and the one
// extraction the dialog runs (as often as the user presses Unzip). The stub's start-up creates
// it and hands it to the dialog; nothing of it is program-wide.
#pragma once

#include <cstdint>
#include <string>

#include "app/config_block.h"
#include "archive/extraction.h"

namespace selfx {

struct Session {
  SfxConfigState config;
  std::string target_folder;
  Extraction extraction;

  bool HasOption(std::uint16_t option) const { return (config.Options() & option) != 0; }
};

enum class StartupOutcome : std::uint8_t {
  kProceed,
  kDeclined,  // No, Cancel, Abort or Close to the start-up question: the program ends, 0
  kCorrupt,   // a damaged block: "Cannot unzip: file is corrupt."
};

// Reads and checks the block behind the stub's image: fills the configuration, resolves the
// target folder, asks the start-up question and sets the archive's start (and its end before
// a signature).
StartupOutcome LoadConfig(Session& session);
// LoadConfig for a block known to start at overlay_start.
StartupOutcome LoadConfigAt(Session& session, std::uint32_t overlay_start);

}  // namespace selfx
