#pragma once

namespace korvo {

// True when the process's window station has a desktop someone can see. A
// service, a scheduled task running while nobody is logged on and an
// OpenSSH session run in window stations without one: a dialog shown there
// can never be answered.
bool HasVisibleWindowStation();

}  // namespace korvo
