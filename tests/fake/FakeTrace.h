#pragma once

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace korvo::fake {

struct TraceLine {
  std::thread::id thread;
  std::string text;
};

// Forgets every line traced so far.
void ResetTrace();

// The lines that `thread` traced, in order.
std::vector<std::string> TraceLinesOf(std::thread::id thread);

// Waits until `thread` traced at least `count` lines; false after `limit`.
bool WaitForTraceLines(std::thread::id thread, size_t count, std::chrono::milliseconds limit);

}  // namespace korvo::fake
