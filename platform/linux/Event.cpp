// An auto-reset event on a mutex and a condition variable. Linux has no
// such object; this one gives the same answers: any number of signals before
// a wait wake it once, and the wake resets the event.
#include "platform/Event.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>

namespace korvo {

struct Event {
  std::mutex mutex;
  std::condition_variable signalled;
  bool set = false;
};

Event* NewAutoResetEvent() { return new (std::nothrow) Event; }

void SignalEvent(Event* event) {
  if (!event) return;
  {
    std::lock_guard<std::mutex> lock(event->mutex);
    event->set = true;
  }
  event->signalled.notify_one();
}

WaitResult WaitForEvent(Event* event, unsigned milliseconds) {
  if (!event) return WaitResult::Failed;
  std::unique_lock<std::mutex> lock(event->mutex);
  // A steady clock: a change of the wall clock neither cuts nor stretches the wait.
  if (!event->signalled.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                 [event] { return event->set; })) {
    return WaitResult::TimedOut;
  }
  event->set = false;
  return WaitResult::Signalled;
}

}  // namespace korvo
