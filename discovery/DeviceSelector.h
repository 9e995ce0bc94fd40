#pragma once

#include <optional>
#include <string>

#include "discovery/DeviceEntry.h"
#include "discovery/DeviceList.h"

namespace korvo {

// What the operator asked for on the command line to narrow the device
// list: -d VID[:PID], -s [[BUS]:][ADDR], --serial SERIAL and --path PATH. Every part is
// optional; a device matches when it has every fact asked for, equal.
struct DeviceSelector {
  std::optional<unsigned> vendorId;
  std::optional<unsigned> productId;
  std::optional<unsigned> bus;
  std::optional<unsigned> address;
  std::optional<std::string> serial;
  std::optional<std::string> path;  // the device's path, exactly as discovery gives it

  bool Empty() const { return !vendorId && !productId && !bus && !address && !serial && !path; }
  bool AsksBusOrAddress() const { return bus || address; }
};

// A vendor or product ID as -d takes it and -l shows it: "6742".
std::string Hex4(unsigned value);

bool Matches(const DeviceSelector& selector, const DeviceEntry& entry);

// Narrows the list to the devices the selector matches; returns the count.
// Inline, so that a program of selectors alone (the fuzz target) links no
// discovery.
inline int KeepSelected(DeviceList& devices, const DeviceSelector& selector) {
  if (selector.Empty()) return devices.GetCount();
  return devices.KeepOnly([&](const DeviceEntry& e) { return Matches(selector, e); });
}

// The selector as the operator would write it, e.g. "-d 6742:0002 --serial K1",
// for "No device matches ...". Control characters in the serial are escaped.
std::string DescribeSelector(const DeviceSelector& selector);

}  // namespace korvo
