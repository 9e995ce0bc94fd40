// Plugs and unplugs as Windows tells them: WM_DEVICECHANGE for the
// interfaces of one class (RegisterDeviceNotification) on a message-only
// window of the waiting thread, which takes the messages while it waits. An
// interface is enabled by its driver once the driver started the device, so
// an arrival is a device ready to be opened. (CM_Register_Notification would
// need Windows 8; the window works on every version and on Wine.)
#include "platform/DeviceMonitor.h"

#include <windows.h>
#include <dbt.h>

#include <deque>

#include "platform/win32/Win32.h"

namespace korvo {

struct DeviceMonitor {
  HWND window = nullptr;
  HDEVNOTIFY notification = nullptr;
  HANDLE stop = nullptr;
  std::deque<DeviceChange> changes;  // told, not yet reported
};

namespace {

constexpr char kWindowClass[] = "KorvoDeviceMonitor";  // the tests look for it

LRESULT CALLBACK MonitorWindow(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* monitor = reinterpret_cast<DeviceMonitor*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (message == WM_DEVICECHANGE && monitor &&
      (wParam == DBT_DEVICEARRIVAL || wParam == DBT_DEVICEREMOVECOMPLETE)) {
    monitor->changes.push_back(wParam == DBT_DEVICEARRIVAL ? DeviceChange::Added : DeviceChange::Removed);
    return TRUE;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

DeviceMonitor* StartDeviceMonitor(const InterfaceClassId& interfaceClass) {
  auto* monitor = new DeviceMonitor;
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = MonitorWindow;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = kWindowClass;
  if (RegisterClassA(&windowClass) || GetLastError() == ERROR_CLASS_ALREADY_EXISTS) {
    monitor->window = CreateWindowExA(0, kWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                      windowClass.hInstance, nullptr);
  }
  if (monitor->window) {
    SetWindowLongPtrA(monitor->window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(monitor));
    DEV_BROADCAST_DEVICEINTERFACE_A filter = {};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = ToGuid(interfaceClass);
    monitor->notification = RegisterDeviceNotificationA(monitor->window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
  }
  if (monitor->notification) monitor->stop = CatchStopRequests();
  if (monitor->stop) return monitor;
  DWORD error = GetLastError();
  if (monitor->notification) UnregisterDeviceNotification(monitor->notification);
  if (monitor->window) DestroyWindow(monitor->window);
  delete monitor;
  SetLastError(error);
  return nullptr;
}

void StopDeviceMonitor(DeviceMonitor* monitor) {
  ReleaseStopRequests();
  UnregisterDeviceNotification(monitor->notification);
  DestroyWindow(monitor->window);
  delete monitor;
}

DeviceChange WaitForDeviceChange(DeviceMonitor* monitor, std::optional<Deadline> deadline,
                                 std::string* settled) {
  if (settled) settled->clear();  // the drivers are bound before an interface arrives
  for (;;) {
    // Takes the notifications sent to the window meanwhile.
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
    if (StopRequested()) return DeviceChange::Stopped;
    if (!monitor->changes.empty()) {
      DeviceChange change = monitor->changes.front();
      monitor->changes.pop_front();
      return change;
    }
    DWORD timeout = INFINITE;
    if (deadline) {
      auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return DeviceChange::TimedOut;
      timeout = left.count() < INFINITE ? static_cast<DWORD>(left.count()) : INFINITE - 1;
    }
    if (MsgWaitForMultipleObjects(1, &monitor->stop, FALSE, timeout, QS_ALLINPUT) == WAIT_FAILED) {
      return DeviceChange::Failed;
    }
  }
}

}  // namespace korvo
