#include "deviceio/TransferProgress.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <new>

#include "platform/TerminalText.h"
#include "platform/Thread.h"

namespace korvo {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::chrono::seconds kQuietStart{1};
constexpr std::chrono::milliseconds kRedrawInterval{100};
constexpr uint32_t kDrawStackSize = 64 * 1024;
constexpr double kMiB = 1024.0 * 1024.0;

// Carriage return, then erase to the end of the line (ECMA-48 EL).
constexpr const char* kClearLine = "\r\x1b[K";

}  // namespace

struct TransferProgress::Line {
  explicit Line(uint64_t size) : total(size) {}

  const uint64_t total;
  const Clock::time_point start = Clock::now();
  std::atomic<uint64_t> sent{0};
  std::mutex mutex;
  std::condition_variable changed;
  bool stopping = false;  // under mutex
  bool stopped = false;   // under mutex: the thread draws no more
  bool shown = false;     // the thread's until stopped, then the owner's

  void Draw() {
    Clock::time_point now = Clock::now();
    uint64_t bytes = sent.load();
    if (now - start < kQuietStart || bytes >= total) return;  // the end needs no line
    double seconds = std::chrono::duration<double>(now - start).count();
    std::fprintf(stderr, "%s%s", kClearLine,
                 ProgressText(bytes, total, seconds, StderrColumns()).c_str());
    std::fflush(stderr);
    shown = true;
  }

  static uint32_t Run(void* parameter) {
    std::unique_ptr<std::shared_ptr<Line>> own(static_cast<std::shared_ptr<Line>*>(parameter));
    Line& line = **own;
    std::unique_lock<std::mutex> lock(line.mutex);
    while (!line.changed.wait_for(lock, kRedrawInterval, [&] { return line.stopping; })) {
      line.Draw();
    }
    line.stopped = true;
    line.changed.notify_all();
    return 0;
  }
};

std::string ProgressText(uint64_t sent, uint64_t total, double seconds, unsigned columns) {
  char text[128];
  unsigned percent = total ? static_cast<unsigned>(static_cast<double>(sent) * 100.0 /
                                                   static_cast<double>(total))
                           : 100;
  int length = std::snprintf(text, sizeof text, "%.1f of %.1f MiB  %u%%",
                             static_cast<double>(sent) / kMiB, static_cast<double>(total) / kMiB,
                             percent);
  std::string line(text, static_cast<size_t>(length));
  if (seconds > 0 && sent > 0) {
    double rate = static_cast<double>(sent) / seconds;
    unsigned long left = static_cast<unsigned long>(static_cast<double>(total - sent) / rate + 0.5);
    std::snprintf(text, sizeof text, "  %.1f MiB/s  %lu:%02lu left", rate / kMiB, left / 60,
                  left % 60);
    line += text;
  }
  if (columns > 0) line.resize(std::min<size_t>(line.size(), columns - 1));
  return line;
}

TransferProgress::TransferProgress(uint64_t total) : line_(std::make_shared<Line>(total)) {
  // Without its thread the transfer goes on unseen, as it does off a terminal.
  auto* shared = new (std::nothrow) std::shared_ptr<Line>(line_);
  if (shared && StartDetachedThread(Line::Run, shared, kDrawStackSize)) return;
  delete shared;
  line_->stopped = true;
}

TransferProgress::~TransferProgress() {
  {
    std::unique_lock<std::mutex> lock(line_->mutex);
    line_->stopping = true;
    line_->changed.notify_all();
    line_->changed.wait(lock, [&] { return line_->stopped; });
  }
  if (!line_->shown) return;
  std::fputs(kClearLine, stderr);
  std::fflush(stderr);
}

void TransferProgress::Sent(uint64_t bytes) { line_->sent.store(bytes); }

}  // namespace korvo
