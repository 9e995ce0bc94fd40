#include "deviceio/StatusMonitor.h"

#include <cstdio>
#include <new>

#include "platform/ErrorNumber.h"
#include "platform/Thread.h"
#include "platform/Trace.h"

namespace korvo {

namespace {

constexpr unsigned kWaitMilliseconds = 100;
// What the thread has always asked for. Windows treats it as the initial
// commitment only; other platforms may use their default stack instead.
constexpr uint32_t kMonitorStackSize = 16384;
constexpr uint32_t kReplySize = 2;

}  // namespace

MonitorContext* StartStatusMonitor(Device* device) {
  MonitorContext* context = new (std::nothrow) MonitorContext{device, {1}, nullptr};
  if (!context) return nullptr;

  // Without its event every wait would fail at once and the thread would spin.
  context->hEvent = NewAutoResetEvent();
  if (!context->hEvent) {
    delete context;
    return nullptr;
  }

  if (!StartDetachedThread(StatusMonitorProc, context, kMonitorStackSize)) {
    // The event has no release; like a running monitor's, it stays until exit.
    delete context;
    return nullptr;
  }
  return context;
}

uint32_t StatusMonitorProc(void* parameter) {
  MonitorContext* context = static_cast<MonitorContext*>(parameter);
  // Kept for the whole run: a failed query leaves the last good status in
  // place, and before any good one it shows zero.
  unsigned char reply[kReplySize] = {0, 0};

  for (;;) {
    WriteTrace("READING THREADING RUNNING.........\n");
    if (context->bRunning.load() == 0) {
      std::printf("Close thread!!!!!!!!!!!!!!!!!!!!!!!!!!!!\n");
      std::fflush(stdout);
      return 0;
    }

    if (WaitForEvent(context->hEvent, kWaitMilliseconds) != WaitResult::Signalled) continue;

    // On Linux the request reaches the device even while the main thread's
    // write is under way. On Windows the handle is synchronous: the system
    // serialises requests on it, so this one waits until the write is over.
    uint32_t replyCount = 0;
    bool ok = QueryPortStatus(context->hDevice, nullptr, 0, reply, kReplySize, &replyCount);
    if (!ok) std::printf("status error:%d\n", LastErrorNumber());
    std::printf("SIGNALED!, bRet=%d, port status:%x\n", ok ? 1 : 0, static_cast<unsigned>(reply[0]));
    std::fflush(stdout);  // seen now, not at exit
  }
}

}  // namespace korvo
