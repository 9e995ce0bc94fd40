#include "platform/Thread.h"

#include <pthread.h>
#include <signal.h>

#include <new>

namespace korvo {

namespace {

struct ThreadStart {
  ThreadRoutine routine;
  void* parameter;
};

void* RunThread(void* start) {
  ThreadStart what = *static_cast<ThreadStart*>(start);
  delete static_cast<ThreadStart*>(start);
  what.routine(what.parameter);
  return nullptr;
}

}  // namespace

// The stack size is not used: on Linux it would be the whole stack, not its
// first commitment as on Windows, and too small for formatted output. New
// threads get the default stack.
bool StartDetachedThread(ThreadRoutine routine, void* parameter, uint32_t stackSize) {
  (void)stackSize;
  ThreadStart* start = new (std::nothrow) ThreadStart{routine, parameter};
  if (!start) return false;

  // Signals sent to the process are left to the main thread, whose handlers
  // give the device back (Signals.cpp); the new thread inherits this mask.
  sigset_t all, saved;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, &saved);
  pthread_t thread;
  int r = pthread_create(&thread, nullptr, RunThread, start);
  pthread_sigmask(SIG_SETMASK, &saved, nullptr);
  if (r != 0) {
    delete start;
    return false;
  }
  pthread_detach(thread);
  return true;
}

}  // namespace korvo
