// The directory reader's scan for the ZIP end record over arbitrary file tails (the whole
// combined file is fuzz_archive's).
#include <cstdint>
#include <cstdlib>

#include "archive/directory.h"
#include "archive/pe_image.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 8) return 0;
  // The first 8 bytes choose where the window starts in the file, how large the file is, and
  // whether it is a signed file, whose archive may end in the signer's padding (the window
  // then reaches the archive's end, as it always does for such a file).
  std::uint32_t window_start = (data[0] | (data[1] << 8)) & 0x3FF;
  std::uint32_t extra = data[2] | (data[3] << 8);
  bool is_signed = (data[4] & 1) != 0;
  const std::uint8_t* window = data + 8;
  std::uint32_t window_size = static_cast<std::uint32_t>(size - 8);
  std::uint32_t file_size = window_start + window_size + (!is_signed && extra % 4 == 0 ? extra : 0);
  std::uint32_t padding_allowed = is_signed ? selfx::pe::kCertificateAlignment - 1 : 0;
  auto found = selfx::ScanForEndRecord(window, window_size, window_start, file_size,
                                       padding_allowed);
  if (!found) return 0;
  if (*found > window_size - 22) abort();
  // What the record and its comment leave before the archive's end is padding: zeros, and
  // no more of them than a signer adds.
  std::uint64_t comment = window[*found + 20] | (window[*found + 21] << 8);
  std::uint64_t record_end = std::uint64_t{window_start} + *found + 22 + comment;
  if (record_end > file_size || file_size - record_end > padding_allowed) abort();
  for (std::uint64_t at = record_end; at < file_size; ++at) {
    if (window[at - window_start] != 0) abort();
  }
  return 0;
}
