#include "platform/Event.h"

#include <windows.h>

namespace korvo {

namespace {

// An Event* is the event's handle itself.
HANDLE HandleOf(Event* event) { return reinterpret_cast<HANDLE>(event); }

}  // namespace

Event* NewAutoResetEvent() {
  // Unnamed, default security, auto-reset, not signalled.
  return reinterpret_cast<Event*>(CreateEventA(nullptr, FALSE, FALSE, nullptr));
}

void SignalEvent(Event* event) { SetEvent(HandleOf(event)); }

WaitResult WaitForEvent(Event* event, unsigned milliseconds) {
  switch (WaitForSingleObject(HandleOf(event), milliseconds)) {
    case WAIT_OBJECT_0:
      return WaitResult::Signalled;
    case WAIT_TIMEOUT:
      return WaitResult::TimedOut;
    default:
      return WaitResult::Failed;
  }
}

}  // namespace korvo
