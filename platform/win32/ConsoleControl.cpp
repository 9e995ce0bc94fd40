// The console's control events (Ctrl-C, Ctrl-Break, the console closed)
// while a device is open. The system calls the handler on a thread of its
// own while the main thread may be waiting in a write the device holds; the
// handler cancels that write, waits until it has returned, closes the device
// and ends the process. Without it, the system's default handler ends the
// process with the write still pending, and on Wine with status 0, so an
// interrupted transfer would look like a success.
#include <atomic>

#include "platform/win32/Win32.h"

namespace korvo {

namespace {

// What Windows gives a process ended by Ctrl-C; scripts and cmd know it.
constexpr UINT kControlCExit = 0xC000013A;
static_assert(kControlCExit == static_cast<UINT>(STATUS_CONTROL_C_EXIT));

// The armed device (the one opened last) and whether the handler has taken
// it, under g_state.
SRWLOCK g_state = SRWLOCK_INIT;
HANDLE g_device = nullptr;
std::atomic<bool> g_ending{false};

// Held shared by every request under way, exclusively by the handler once
// none is left.
SRWLOCK g_requests = SRWLOCK_INIT;

// The handler ends the process; the thread that calls this waits for that.
[[noreturn]] void WaitForTheEnd() {
  for (;;) Sleep(INFINITE);
}

BOOL WINAPI EndRun(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) {
    return FALSE;
  }
  AcquireSRWLockExclusive(&g_state);
  HANDLE device = g_device;
  bool first = device && !g_ending.exchange(true);
  ReleaseSRWLockExclusive(&g_state);
  if (!device) return FALSE;  // closed meanwhile: the system's handling
  if (!first) return TRUE;    // a second event while the first ends the run

  // A request may start just after a cancel; cancelling again until none is
  // left catches it.
  while (!TryAcquireSRWLockExclusive(&g_requests)) {
    CancelIoEx(device, nullptr);
    Sleep(10);
  }
  CloseHandle(device);
  ExitProcess(kControlCExit);
}

}  // namespace

void ArmConsoleControl(HANDLE device) {
  AcquireSRWLockExclusive(&g_state);
  g_device = device;
  ReleaseSRWLockExclusive(&g_state);
  SetConsoleCtrlHandler(EndRun, TRUE);
}

void DisarmConsoleControl(HANDLE device) {
  AcquireSRWLockExclusive(&g_state);
  bool ending = g_ending.load() && g_device == device;
  if (g_device == device && !ending) g_device = nullptr;
  ReleaseSRWLockExclusive(&g_state);
  if (ending) WaitForTheEnd();
  SetConsoleCtrlHandler(EndRun, FALSE);
}

void BeginDeviceRequest() {
  AcquireSRWLockShared(&g_requests);
  if (!g_ending.load()) return;
  ReleaseSRWLockShared(&g_requests);
  WaitForTheEnd();
}

void EndDeviceRequest() {
  ReleaseSRWLockShared(&g_requests);
  if (g_ending.load()) WaitForTheEnd();
  // The request's own error stays for the caller: nothing here sets one.
}

}  // namespace korvo
