#include "app/DeviceListing.h"

#include <cstdio>

#include "discovery/DeviceSelector.h"
#include "platform/TerminalText.h"

namespace korvo {

namespace {

// Dashes for an unknown value, so that the columns stay in place.
std::string Decimal3(const std::optional<unsigned>& value) {
  char text[16];
  if (!value) return "---";
  std::snprintf(text, sizeof text, "%03u", *value);
  return text;
}

// Dashes for an unknown value, so that the columns stay in place.
std::string Id(const std::optional<unsigned>& value) { return value ? Hex4(*value) : "----"; }

}  // namespace

std::string DeviceListing(const DeviceList& devices, std::optional<int> automatic,
                          bool withBusAddress) {
  std::string text;
  for (int i = 0; i < devices.GetCount(); ++i) {
    const DeviceEntry& entry = devices.GetAt(i);
    const DeviceFacts& facts = entry.facts;
    // The same numbering and mark as the dialog's lines.
    text += automatic == i ? "  * " : "    ";
    text += std::to_string(i + 1) + "  ";
    if (withBusAddress) {
      text += "Bus " + Decimal3(facts.bus) + " Device " + Decimal3(facts.address) + "  ";
    }
    text += "ID " + Id(facts.vendorId) + ":" + Id(facts.productId) + "  ";
    if (facts.serial) text += "serial " + TerminalSafe(*facts.serial) + "  ";
    text += TerminalSafe(entry.description) + "\n";
  }
  return text;
}

std::string UnitName(const DeviceList& devices, int index, bool withBusAddress) {
  const DeviceFacts& facts = devices.GetAt(index).facts;
  if (!withBusAddress) return std::to_string(index + 1);
  return Decimal3(facts.bus) + ":" + Decimal3(facts.address);
}

}  // namespace korvo
