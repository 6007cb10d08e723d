// The directory reader's scan for the ZIP end record over arbitrary file tails. The whole
// combined file through LoadDirectory is not fuzzed: it ends the process on any damage (a
// damaged archive is fatal by design), which libFuzzer would report as a crash.
#include <cstdint>
#include <cstdlib>

#include "archive/directory.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 8) return 0;
  // The first 8 bytes choose where the window starts in the file and how large the file is.
  std::uint32_t window_start = (data[0] | (data[1] << 8)) & 0x3FF;
  std::uint32_t extra = data[2] | (data[3] << 8);
  const std::uint8_t* window = data + 8;
  std::uint32_t window_size = static_cast<std::uint32_t>(size - 8);
  std::uint32_t file_size = window_start + window_size + (extra % 4 == 0 ? extra : 0);
  auto found = selfx::ScanForEndRecord(window, window_size, window_start, file_size);
  if (found && *found >= window_size) abort();
  return 0;
}
