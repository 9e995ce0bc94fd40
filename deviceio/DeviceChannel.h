#pragma once

#include <string>

#include "platform/Device.h"

namespace korvo {

// Opens the chosen device and prints its port status once ("status:98"), or
// the request's error. On an open failure it says "Unable to open" with the
// description on stderr and answers nullptr; the request's outcome never does.
Device* OpenAndShowPortStatus(const std::string& path, const std::string& description);

}  // namespace korvo
