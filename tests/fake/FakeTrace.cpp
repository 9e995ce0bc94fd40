#include "fake/FakeTrace.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>

#include "platform/Trace.h"

namespace korvo {

namespace fake {

namespace {

// Lines are kept per thread: monitors started by other tests may still be
// tracing in the background.
struct State {
  std::mutex mutex;
  std::condition_variable traced;
  std::vector<TraceLine> lines;
};

// Never destroyed: monitor threads that outlive their test still use it
// while the process exits.
State& Trace() {
  static State* state = new State;
  return *state;
}

size_t CountOf(const std::vector<TraceLine>& lines, std::thread::id thread) {
  return static_cast<size_t>(std::count_if(lines.begin(), lines.end(),
                                           [thread](const TraceLine& l) { return l.thread == thread; }));
}

}  // namespace

void ResetTrace() {
  std::lock_guard<std::mutex> lock(Trace().mutex);
  Trace().lines.clear();
}

std::vector<std::string> TraceLinesOf(std::thread::id thread) {
  std::lock_guard<std::mutex> lock(Trace().mutex);
  std::vector<std::string> texts;
  for (const TraceLine& line : Trace().lines) {
    if (line.thread == thread) texts.push_back(line.text);
  }
  return texts;
}

bool WaitForTraceLines(std::thread::id thread, size_t count, std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> lock(Trace().mutex);
  return Trace().traced.wait_for(lock, limit,
                                 [&] { return CountOf(Trace().lines, thread) >= count; });
}

}  // namespace fake

void WriteTrace(const char* text) {
  {
    std::lock_guard<std::mutex> lock(fake::Trace().mutex);
    fake::Trace().lines.push_back({std::this_thread::get_id(), text});
  }
  fake::Trace().traced.notify_all();
}

}  // namespace korvo
