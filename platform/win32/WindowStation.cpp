#include "platform/win32/WindowStation.h"

#include <windows.h>

namespace korvo {

bool HasVisibleWindowStation() {
  USEROBJECTFLAGS flags = {};
  DWORD needed = 0;
  // No answer counts as no desktop: a dialog nobody can see is worse than
  // none.
  if (!GetUserObjectInformationA(GetProcessWindowStation(), UOI_FLAGS, &flags, sizeof flags,
                                 &needed)) {
    return false;
  }
  return (flags.dwFlags & WSF_VISIBLE) != 0;
}

}  // namespace korvo
