// The progress bar of the command-line tool, by bytes, with the rate and the time left.
#pragma once

#include <chrono>
#include <cstdint>

namespace selfx::console {

// A bar on stderr, drawn only when stderr is a terminal and Settings().show_progress is set
// (--quiet, --json and --no-progress clear it). It is redrawn at most a few times a second,
// so Advance may be called for every buffer.
class ByteProgress {
 public:
  explicit ByteProgress(std::uint64_t total_bytes);
  ~ByteProgress();  // clears the line
  ByteProgress(const ByteProgress&) = delete;
  ByteProgress& operator=(const ByteProgress&) = delete;

  // Counts bytes done since the last call.
  void Advance(std::uint64_t bytes);

 private:
  void Draw(std::chrono::steady_clock::time_point now);

  bool enabled_;
  std::uint64_t total_;
  std::uint64_t done_ = 0;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point next_draw_;
};

// Clears a drawn bar's line, so that a message does not land in the middle of it.
void ClearProgressLine();

}  // namespace selfx::console
