#include <mutex>

#include "usbfs_internal.h"

namespace korvo_emu {
namespace {

// Linux's default usbfs_memory_mb: all transfers in flight through usbfs together.
constexpr std::size_t kUsbfsMemoryLimit = 16 * 1024 * 1024;

std::mutex g_memory_mutex;
std::size_t g_memory_used = 0;

}  // namespace

bool ChargeMemory(std::size_t bytes) {
  const std::lock_guard<std::mutex> lock(g_memory_mutex);
  if (bytes > kUsbfsMemoryLimit - g_memory_used) return false;
  g_memory_used += bytes;
  return true;
}

void ReleaseMemory(std::size_t bytes) {
  const std::lock_guard<std::mutex> lock(g_memory_mutex);
  g_memory_used -= bytes;
}

}  // namespace korvo_emu
