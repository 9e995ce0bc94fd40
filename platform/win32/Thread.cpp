#include "platform/Thread.h"

#include <windows.h>

#include <new>

namespace korvo {

namespace {

struct ThreadStart {
  ThreadRoutine routine;
  void* parameter;
};

// CreateThread calls a WINAPI (stdcall) routine; the portable routine is a
// plain C++ function, so it is reached through this one.
DWORD WINAPI RunThread(LPVOID start) {
  ThreadStart copy = *static_cast<ThreadStart*>(start);
  delete static_cast<ThreadStart*>(start);
  return copy.routine(copy.parameter);
}

}  // namespace

bool StartDetachedThread(ThreadRoutine routine, void* parameter, uint32_t stackSize) {
  auto* start = new (std::nothrow) ThreadStart{routine, parameter};
  if (!start) return false;

  // The stack size is the initial commitment; the reservation stays the
  // process default.
  DWORD threadId = 0;
  HANDLE thread = CreateThread(nullptr, stackSize, RunThread, start, 0, &threadId);
  if (!thread) {
    delete start;
    return false;
  }
  SetThreadPriority(thread, THREAD_PRIORITY_NORMAL);
  CloseHandle(thread);  // never joined
  return true;
}

}  // namespace korvo
