#include "discovery/DeviceSelector.h"

#include <cstdio>

#include "platform/TerminalText.h"

namespace korvo {

namespace {

// An asked-for fact matches only a known, equal one.
template <typename T>
bool Same(const std::optional<T>& asked, const std::optional<T>& known) {
  return !asked || (known && *known == *asked);
}

}  // namespace

std::string Hex4(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, "%04x", value & 0xFFFFu);
  return text;
}

bool Matches(const DeviceSelector& selector, const DeviceEntry& entry) {
  const DeviceFacts& facts = entry.facts;
  return Same(selector.vendorId, facts.vendorId) && Same(selector.productId, facts.productId) &&
         Same(selector.bus, facts.bus) && Same(selector.address, facts.address) &&
         Same(selector.serial, facts.serial) &&
         (!selector.path || *selector.path == entry.devicePath);
}

std::string DescribeSelector(const DeviceSelector& selector) {
  std::string text;
  auto add = [&](const std::string& part) {
    if (!text.empty()) text += ' ';
    text += part;
  };
  if (selector.vendorId || selector.productId) {
    std::string ids = selector.vendorId ? Hex4(*selector.vendorId) : "";
    if (selector.productId) ids += ":" + Hex4(*selector.productId);
    add("-d " + ids);
  }
  if (selector.bus || selector.address) {
    std::string where = selector.bus ? std::to_string(*selector.bus) + ":" : "";
    if (selector.address) where += std::to_string(*selector.address);
    add("-s " + where);
  }
  if (selector.serial) add("--serial " + TerminalSafe(*selector.serial));
  if (selector.path) add("--path " + TerminalSafe(*selector.path));
  return text;
}

}  // namespace korvo
