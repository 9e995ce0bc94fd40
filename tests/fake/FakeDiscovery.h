#pragma once

#include <vector>

#include "platform/DeviceInterfaces.h"

namespace korvo::fake {

struct FakeInterface {
  InterfaceRecord record;
  bool unreadable = false;
};

// What the fake platform reports at initialisation and discovery.
struct FakeDiscovery {
  bool initFails = false;
  bool refuseSet = false;
  std::vector<FakeInterface> interfaces;
};

// The state the fake platform reads; tests reset it in their fixtures.
FakeDiscovery& Discovery();

// A readable interface with the given names (absent where nullopt).
FakeInterface Interface(std::string path, std::optional<std::string> friendlyName = std::nullopt,
                        std::optional<std::string> deviceDescription = std::nullopt);

}  // namespace korvo::fake
