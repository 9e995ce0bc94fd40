#pragma once

namespace korvo {

// An auto-reset event: signals that arrive before a wait count as one, and
// the wait that takes the signal resets it.
struct Event;

// nullptr when the event cannot be created.
Event* NewAutoResetEvent();
void SignalEvent(Event* event);

enum class WaitResult { Signalled, TimedOut, Failed };
WaitResult WaitForEvent(Event* event, unsigned milliseconds);

}  // namespace korvo
