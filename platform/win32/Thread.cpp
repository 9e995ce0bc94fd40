#include "platform/Thread.h"

#include <windows.h>
#include <process.h>

#include <cstdint>
#include <new>

namespace korvo {

namespace {

struct ThreadStart {
  ThreadRoutine routine;
  void* parameter;
};

// _beginthreadex calls a stdcall routine; the portable routine is a plain
// C++ function, so it is reached through this one.
unsigned __stdcall RunThread(void* start) {
  ThreadStart copy = *static_cast<ThreadStart*>(start);
  delete static_cast<ThreadStart*>(start);
  return copy.routine(copy.parameter);
}

}  // namespace

bool StartDetachedThread(ThreadRoutine routine, void* parameter, uint32_t stackSize) {
  auto* start = new (std::nothrow) ThreadStart{routine, parameter};
  if (!start) return false;

  // The routine uses the C runtime (printf), so the runtime starts the
  // thread and sets up its per-thread data. The stack size is the initial
  // commitment; the reservation stays the process default.
  unsigned threadId = 0;
  auto thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, stackSize, RunThread, start, 0, &threadId));
  if (!thread) {
    delete start;
    return false;
  }
  SetThreadPriority(thread, THREAD_PRIORITY_NORMAL);
  CloseHandle(thread);  // never joined
  return true;
}

}  // namespace korvo
