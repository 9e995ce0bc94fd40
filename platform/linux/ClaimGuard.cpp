#include "platform/linux/ClaimGuard.h"

#include <pthread.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <iterator>

#include "platform/linux/KernelDriver.h"

namespace korvo {

namespace {

constexpr int kGuardedSignals[] = {SIGINT, SIGTERM, SIGHUP};

// A watched claim. The handler may run at any moment, so a slot is filled
// before it is armed, and whoever disarms it first gives the claim back.
struct Slot {
  int fd;
  uint8_t interfaceNumber;
  bool reattach;
  std::atomic<bool> armed;
};
// The tool claims one device; a few more slots cost nothing.
Slot g_slots[4];
static_assert(std::atomic<bool>::is_always_lock_free, "used from a signal handler");

std::atomic<bool> g_installed{false};

void GiveBackAll() {
  for (Slot& slot : g_slots) {
    if (slot.armed.exchange(false)) ReleaseInterface(slot.fd, slot.interfaceNumber, slot.reattach);
  }
}

extern "C" void GiveBackAndResignal(int signal) {
  GiveBackAll();
  // SA_RESETHAND has put the default action back: the signal, taken when
  // this handler returns, ends the process as it would have.
  int saved = errno;
  raise(signal);
  errno = saved;
}

extern "C" void GiveBackAtExit() { GiveBackAll(); }

void InstallOnce() {
  if (g_installed.exchange(true)) return;
  std::atexit(GiveBackAtExit);
  struct sigaction action = {};
  action.sa_handler = GiveBackAndResignal;
  sigemptyset(&action.sa_mask);
  for (int signal : kGuardedSignals) sigaddset(&action.sa_mask, signal);
  action.sa_flags = SA_RESETHAND;
  for (int signal : kGuardedSignals) {
    struct sigaction previous;
    if (sigaction(signal, nullptr, &previous) != 0) continue;
    if (previous.sa_handler == SIG_IGN) continue;  // nohup and friends: stays ignored
    sigaction(signal, &action, nullptr);
  }
}

sigset_t GuardedSet() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal : kGuardedSignals) sigaddset(&set, signal);
  return set;
}

}  // namespace

void GuardClaim(int usbfsFd, uint8_t interfaceNumber, bool reattachDriver) {
  InstallOnce();
  for (Slot& slot : g_slots) {
    if (slot.armed.load()) continue;
    slot.fd = usbfsFd;
    slot.interfaceNumber = interfaceNumber;
    slot.reattach = reattachDriver;
    slot.armed.store(true);
    return;
  }
}

void UnguardClaim(int usbfsFd, uint8_t interfaceNumber) {
  for (Slot& slot : g_slots) {
    if (slot.armed.load() && slot.fd == usbfsFd && slot.interfaceNumber == interfaceNumber) {
      slot.armed.store(false);
    }
  }
}

SignalHold::SignalHold() {
  sigset_t set = GuardedSet();
  pthread_sigmask(SIG_BLOCK, &set, &saved_);
}

SignalHold::~SignalHold() { pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }

}  // namespace korvo
