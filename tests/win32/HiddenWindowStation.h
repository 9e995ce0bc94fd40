#pragma once

#include <windows.h>

namespace korvo::win32test {

// The name of a window station without a visible desktop, and of a desktop
// in it, for CreateProcess's lpDesktop.
inline constexpr const char* kHiddenWindowStation = "KorvoHidden";
inline constexpr const char* kHiddenDesktop = "KorvoHidden\\Default";

// Moves this process into a window station of its own for as long as the
// object lives: only the interactive station (WinSta0) has a visible
// desktop, so this is where a service or an OpenSSH session finds itself.
class HiddenWindowStation {
 public:
  HiddenWindowStation()
      : previous_(GetProcessWindowStation()),
        hidden_(CreateWindowStationA(kHiddenWindowStation, 0, WINSTA_ALL_ACCESS, nullptr)) {
    entered_ = hidden_ && SetProcessWindowStation(hidden_);
  }
  ~HiddenWindowStation() {
    if (entered_) SetProcessWindowStation(previous_);
    if (hidden_) CloseWindowStation(hidden_);
  }
  HiddenWindowStation(const HiddenWindowStation&) = delete;
  HiddenWindowStation& operator=(const HiddenWindowStation&) = delete;

  bool Entered() const { return entered_; }

 private:
  HWINSTA previous_;
  HWINSTA hidden_;
  bool entered_ = false;
};

}  // namespace korvo::win32test
