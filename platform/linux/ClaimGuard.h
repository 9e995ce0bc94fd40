#pragma once

#include <signal.h>

#include <cstdint>

namespace korvo {

// Gives a claimed interface back to the kernel, with the driver the tool
// moved aside, on the exits that do not pass through CloseDevice: the end of
// the process with the device still open, and SIGINT, SIGTERM or SIGHUP,
// which are then raised again so that the caller sees them. SIGKILL cannot
// be caught: the kernel then drops the claim but binds no driver again.

// Watches the claim from now on (up to four at a time). Only the main thread
// takes these signals (Thread.cpp), so the handler never runs beside a
// CloseDevice on another thread.
void GuardClaim(int usbfsFd, uint8_t interfaceNumber, bool reattachDriver);

// Stops watching the claim, which the caller now gives back itself, holding
// the signals off meanwhile (SignalHold).
void UnguardClaim(int usbfsFd, uint8_t interfaceNumber);

// Holds SIGINT, SIGTERM and SIGHUP off on this thread for its lifetime, so
// that none ends the process half-way through giving a claim back; one that
// came meanwhile is taken when the hold ends.
class SignalHold {
 public:
  SignalHold();
  ~SignalHold();
  SignalHold(const SignalHold&) = delete;
  SignalHold& operator=(const SignalHold&) = delete;

 private:
  sigset_t saved_;
};

}  // namespace korvo
