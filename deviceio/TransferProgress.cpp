#include "deviceio/TransferProgress.h"

#include <cstdio>

namespace korvo {

namespace {

constexpr std::chrono::seconds kQuietStart{1};
constexpr std::chrono::milliseconds kRedrawInterval{100};
constexpr double kMiB = 1024.0 * 1024.0;

// Carriage return, then erase to the end of the line (ECMA-48 EL).
constexpr const char* kClearLine = "\r\x1b[K";

}  // namespace

std::string ProgressText(uint64_t sent, uint64_t total, double seconds) {
  char text[128];
  unsigned percent = total ? static_cast<unsigned>(static_cast<double>(sent) * 100.0 /
                                                   static_cast<double>(total))
                           : 100;
  int length = std::snprintf(text, sizeof text, "%.1f of %.1f MiB  %u%%",
                             static_cast<double>(sent) / kMiB, static_cast<double>(total) / kMiB,
                             percent);
  std::string line(text, static_cast<size_t>(length));
  if (seconds <= 0 || sent == 0) return line;

  double rate = static_cast<double>(sent) / seconds;
  unsigned long left = static_cast<unsigned long>(static_cast<double>(total - sent) / rate + 0.5);
  std::snprintf(text, sizeof text, "  %.1f MiB/s  %lu:%02lu left", rate / kMiB, left / 60,
                left % 60);
  return line + text;
}

void TransferProgress::Sent(uint64_t bytes) {
  // The end needs no line: it is erased at once.
  if (bytes >= total_) return;
  Clock::time_point now = Clock::now();
  if (now - start_ < kQuietStart) return;
  if (shown_ && now - drawn_ < kRedrawInterval) return;
  double seconds = std::chrono::duration<double>(now - start_).count();
  std::fprintf(stderr, "%s%s", kClearLine, ProgressText(bytes, total_, seconds).c_str());
  std::fflush(stderr);
  drawn_ = now;
  shown_ = true;
}

void TransferProgress::Erase() {
  if (!shown_) return;
  std::fputs(kClearLine, stderr);
  std::fflush(stderr);
  shown_ = false;
}

}  // namespace korvo
