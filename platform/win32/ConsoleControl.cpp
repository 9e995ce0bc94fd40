// The console's control events (Ctrl-C, Ctrl-Break, the console closed)
// while a device is open. The system calls the handler on a thread of its
// own while the main thread may be waiting in a write the device holds; the
// handler cancels that write, waits until it has returned, closes the device
// and ends the process. Without it, the system's default handler ends the
// process with the write still pending, and on Wine with status 0, so an
// interrupted transfer would look like a success.
//
// The stall watch (--timeout) cancels a write the same way, from a timer
// that each piece of progress sets again, and lets the run go on to its
// failure.
//
// While a wait for devices runs, Ctrl-C and Ctrl-Break only ask it to stop.
#include <atomic>

#include "platform/DeviceMonitor.h"
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

// The stall watch: a timer-queue timer while a write is watched, its time,
// and whether it has fired.
HANDLE g_stallTimer = nullptr;
DWORD g_stallMilliseconds = 0;
std::atomic<bool> g_stalled{false};

// Cancels the requests under way on `device` until none is left, then holds
// g_requests exclusively. A request may start just after a cancel;
// cancelling again until none is left catches it.
void CancelRequestsUnderWay(HANDLE device) {
  while (!TryAcquireSRWLockExclusive(&g_requests)) {
    CancelIoEx(device, nullptr);
    Sleep(10);
  }
}

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

  CancelRequestsUnderWay(device);
  CloseHandle(device);
  ExitProcess(kControlCExit);
}

VOID CALLBACK Stalled(PVOID device, BOOLEAN) {
  g_stalled = true;  // from now on no request starts
  CancelRequestsUnderWay(static_cast<HANDLE>(device));
  ReleaseSRWLockExclusive(&g_requests);
}

// The stop request of a wait; the event under g_stopLock, as the handler
// runs on a thread of its own.
SRWLOCK g_stopLock = SRWLOCK_INIT;
HANDLE g_stopEvent = nullptr;
std::atomic<bool> g_stopRequested{false};

BOOL WINAPI RequestStop(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  NoteStopRequest();
  return TRUE;
}

}  // namespace

void NoteStopRequest() {
  g_stopRequested.store(true);
  AcquireSRWLockShared(&g_stopLock);
  if (g_stopEvent) SetEvent(g_stopEvent);
  ReleaseSRWLockShared(&g_stopLock);
}

HANDLE CatchStopRequests() {
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (!event) return nullptr;
  AcquireSRWLockExclusive(&g_stopLock);
  g_stopEvent = event;
  ReleaseSRWLockExclusive(&g_stopLock);
  if (SetConsoleCtrlHandler(RequestStop, TRUE)) return event;
  ReleaseStopRequests();
  return nullptr;
}

void ReleaseStopRequests() {
  SetConsoleCtrlHandler(RequestStop, FALSE);
  AcquireSRWLockExclusive(&g_stopLock);
  if (g_stopEvent) CloseHandle(g_stopEvent);
  g_stopEvent = nullptr;
  ReleaseSRWLockExclusive(&g_stopLock);
}

bool StopRequested() { return g_stopRequested.load(); }

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

bool BeginDeviceRequest() {
  AcquireSRWLockShared(&g_requests);
  if (g_ending.load()) {
    ReleaseSRWLockShared(&g_requests);
    WaitForTheEnd();
  }
  if (!g_stalled.load()) return true;
  ReleaseSRWLockShared(&g_requests);
  SetLastError(ERROR_TIMEOUT);
  return false;
}

void EndDeviceRequest() {
  ReleaseSRWLockShared(&g_requests);
  if (g_ending.load()) WaitForTheEnd();
  // The request's own error stays for the caller: nothing here sets one.
}

bool StartStallWatch(HANDLE device, DWORD milliseconds) {
  g_stalled = false;
  g_stallMilliseconds = milliseconds;
  if (CreateTimerQueueTimer(&g_stallTimer, nullptr, Stalled, device, milliseconds, 0,
                            WT_EXECUTELONGFUNCTION)) {
    return true;
  }
  g_stallTimer = nullptr;
  return false;
}

void RenewStallWatch() {
  if (g_stallTimer) ChangeTimerQueueTimer(nullptr, g_stallTimer, g_stallMilliseconds, 0);
}

bool EndStallWatch() {
  // Waits for the timer's cancelling, if it has begun.
  if (g_stallTimer) DeleteTimerQueueTimer(nullptr, g_stallTimer, INVALID_HANDLE_VALUE);
  g_stallTimer = nullptr;
  return g_stalled.exchange(false);
}

}  // namespace korvo
