#include "ui/console/progress.h"

#include <cstdio>

#include "platform/platform.h"
#include "ui/console/console_ui.h"

namespace selfx::console {

namespace {

bool line_drawn = false;

// The first drawing waits a moment: a run that ends at once shows no bar at all.
constexpr std::chrono::milliseconds kFirstDraw{300};
constexpr std::chrono::milliseconds kRedraw{200};
constexpr int kBarWidth = 24;

// "12.3 MB" style, in decimal units as disk sizes are sold.
void FormatBytes(double bytes, char* text, std::size_t size) {
  static const char* const kUnits[] = {"B", "kB", "MB", "GB", "TB"};
  int unit = 0;
  while (bytes >= 1000 && unit < 4) {
    bytes /= 1000;
    ++unit;
  }
  std::snprintf(text, size, unit == 0 ? "%.0f %s" : "%.1f %s", bytes, kUnits[unit]);
}

}  // namespace

ByteProgress::ByteProgress(std::uint64_t total_bytes)
    : enabled_(Settings().show_progress && platform::ErrorStreamIsTerminal()),
      total_(total_bytes),
      start_(std::chrono::steady_clock::now()),
      next_draw_(start_ + kFirstDraw) {}

ByteProgress::~ByteProgress() {
  if (enabled_) ClearProgressLine();
}

void ByteProgress::Advance(std::uint64_t bytes) {
  done_ += bytes;
  if (!enabled_) return;
  auto now = std::chrono::steady_clock::now();
  if (now < next_draw_) return;
  next_draw_ = now + kRedraw;
  Draw(now);
}

void ByteProgress::Draw(std::chrono::steady_clock::time_point now) {
  std::uint64_t done = done_ < total_ ? done_ : total_;
  double fraction = total_ == 0 ? 1.0 : static_cast<double>(done) / static_cast<double>(total_);
  int filled = static_cast<int>(fraction * kBarWidth);
  double seconds = std::chrono::duration<double>(now - start_).count();
  double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0;
  char done_text[16], rate_text[16], left_text[48] = "";
  FormatBytes(static_cast<double>(done), done_text, sizeof done_text);
  FormatBytes(rate, rate_text, sizeof rate_text);
  if (rate > 0 && done < total_) {
    auto left = static_cast<unsigned long>(static_cast<double>(total_ - done) / rate + 0.5);
    std::snprintf(left_text, sizeof left_text, "  %lu:%02lu left", left / 60, left % 60);
  }
  std::fprintf(stderr, "\r[%.*s%*s] %3d%%  %s  %s/s%s\033[K", filled,
               "========================", kBarWidth - filled, "", static_cast<int>(fraction * 100),
               done_text, rate_text, left_text);
  std::fflush(stderr);
  line_drawn = true;
}

void ClearProgressLine() {
  if (!line_drawn) return;
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
  line_drawn = false;
}

}  // namespace selfx::console
