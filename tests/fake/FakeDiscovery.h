#pragma once

#include <vector>

#include "platform/DeviceInterfaces.h"
#include "platform/DeviceMonitor.h"

namespace korvo::fake {

struct FakeInterface {
  InterfaceRecord record;
  bool unreadable = false;
};

// One plug or unplug: the devices present after it.
struct FakePlug {
  DeviceChange change;
  std::vector<FakeInterface> interfaces;
};

// What the fake platform reports at initialisation and discovery.
struct FakeDiscovery {
  bool initFails = false;
  bool refuseSet = false;
  std::vector<FakeInterface> interfaces;

  // The device monitor: each wait takes the next plug; when none is left it
  // times out, or without a deadline it is stopped.
  bool monitorFails = false;
  std::vector<FakePlug> plugs;
  int looks = 0;                 // discoveries, each counted
  int looksWithoutMonitor = 0;   // of them, while no monitor ran
  bool monitorRunning = false;
  std::vector<std::optional<Deadline>> deadlines;  // what each wait was given
};

// The state the fake platform reads; tests reset it in their fixtures.
FakeDiscovery& Discovery();

// A readable interface with the given names (absent where nullopt).
FakeInterface Interface(std::string path, std::optional<std::string> friendlyName = std::nullopt,
                        std::optional<std::string> deviceDescription = std::nullopt);

}  // namespace korvo::fake
