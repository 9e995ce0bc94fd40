#pragma once

#include <string>

namespace korvo {

// The text of --help. `withBusAddress`: the system tells bus numbers and
// addresses, so -s is offered.
std::string UsageText(bool withBusAddress);

// The first line of --version.
std::string VersionText();

}  // namespace korvo
