// What must be undone before the process ends (a claimed interface and the
// driver moved aside, the terminal's mode) is undone from here too, when a
// signal or exit() ends the process before its owner could: every signal
// whose default action ends the process. SIGKILL cannot be caught: the
// device's guardian process covers it (Device.cpp).
// While a wait for devices runs, SIGINT and SIGTERM only ask it to stop.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <iterator>

#include "platform/DeviceMonitor.h"
#include "platform/linux/Linux.h"

namespace korvo {

namespace {

// Sent from outside, so they can be held off for a moment (SignalHold).
// (SIGPIPE is ignored from the start: Framework.cpp.)
constexpr int kEndingSignals[] = {SIGINT,  SIGTERM, SIGHUP,    SIGQUIT, SIGUSR1,
                                  SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGPWR,
                                  SIGXCPU, SIGXFSZ, SIGIO,     SIGSTKFLT};
// Raised by the process itself (abort(), a fault): never held, caught only
// where nobody else has a handler for them (a sanitizer may have).
constexpr int kFaults[] = {SIGABRT, SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGSYS, SIGTRAP};

// The handler may run at any moment, so a slot is filled before it is armed,
// and whoever disarms it first owns the undoing.
struct Slot {
  ExitAction action;
  void* argument;
  std::atomic<bool> armed;
};
Slot g_slots[4];
static_assert(std::atomic<bool>::is_always_lock_free, "used from a signal handler");

std::atomic<bool> g_installed{false};

void RunArmed() {
  for (Slot& slot : g_slots) {
    if (slot.armed.exchange(false)) slot.action(slot.argument);
  }
}

extern "C" void RunArmedAndResignal(int signal) {
  int saved = errno;
  RunArmed();
  // The default action back, then the signal again: held until this handler
  // returns, it ends the process as it would have. Not SA_RESETHAND: the
  // kernel puts the default back before the handler runs, and a second
  // signal in between (Ctrl-C reaches the whole process group, and a parent
  // may pass it on again) ends the process with nothing undone.
  struct sigaction fallback = {};
  fallback.sa_handler = SIG_DFL;
  sigaction(signal, &fallback, nullptr);
  raise(signal);
  errno = saved;
}

sigset_t EndingSet() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal : kEndingSignals) sigaddset(&set, signal);
  for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) sigaddset(&set, signal);
  return set;
}

void Catch(int signal, const struct sigaction& action) {
  struct sigaction previous;
  if (sigaction(signal, nullptr, &previous) != 0) return;
  // Ignored (nohup and friends) stays ignored; someone else's handler stays.
  if (previous.sa_handler != SIG_DFL) return;
  sigaction(signal, &action, nullptr);
}

void InstallOnce() {
  if (g_installed.exchange(true)) return;
  std::atexit([] { RunArmed(); });
  struct sigaction action = {};
  action.sa_handler = RunArmedAndResignal;
  action.sa_mask = EndingSet();
  for (int signal : kEndingSignals) Catch(signal, action);
  for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) Catch(signal, action);
  for (int signal : kFaults) Catch(signal, action);
}

// The stop request of a wait: a flag, and a pipe for poll() to wake on.
constexpr int kStopSignals[] = {SIGINT, SIGTERM};
std::atomic<bool> g_stopRequested{false};
int g_stopPipe[2] = {-1, -1};
struct sigaction g_beforeStop[std::size(kStopSignals)];
bool g_stopCaught[std::size(kStopSignals)];

extern "C" void RequestStop(int) { NoteStopRequest(); }

}  // namespace

void NoteStopRequest() {
  int saved = errno;
  g_stopRequested.store(true);
  char byte = 0;
  [[maybe_unused]] ssize_t written = write(g_stopPipe[1], &byte, 1);  // full: it is readable anyway
  errno = saved;
}

// The pipe, once made, stays: a handler may write to it at any moment, and
// a closed end's number could by then be another file's.
int CatchStopRequests() {
  if (g_stopPipe[0] < 0 && pipe2(g_stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) return -1;
  struct sigaction action = {};
  action.sa_handler = RequestStop;
  sigemptyset(&action.sa_mask);
  for (size_t i = 0; i < std::size(kStopSignals); ++i) {
    g_stopCaught[i] = sigaction(kStopSignals[i], nullptr, &g_beforeStop[i]) == 0 &&
                      g_beforeStop[i].sa_handler == SIG_DFL &&
                      sigaction(kStopSignals[i], &action, nullptr) == 0;
  }
  return g_stopPipe[0];
}

void ReleaseStopRequests() {
  for (size_t i = 0; i < std::size(kStopSignals); ++i) {
    if (g_stopCaught[i]) sigaction(kStopSignals[i], &g_beforeStop[i], nullptr);
    g_stopCaught[i] = false;
  }
}

bool StopRequested() { return g_stopRequested.load(); }

int ArmExitAction(ExitAction action, void* argument) {
  InstallOnce();
  for (int i = 0; i < static_cast<int>(std::size(g_slots)); ++i) {
    if (g_slots[i].armed.load()) continue;
    g_slots[i].action = action;
    g_slots[i].argument = argument;
    g_slots[i].armed.store(true);
    return i;
  }
  return -1;
}

void DisarmExitAction(int handle) {
  if (handle >= 0 && handle < static_cast<int>(std::size(g_slots))) g_slots[handle].armed.store(false);
}

SignalHold::SignalHold() {
  sigset_t set = EndingSet();
  pthread_sigmask(SIG_BLOCK, &set, &saved_);
}

SignalHold::~SignalHold() { pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }

}  // namespace korvo
