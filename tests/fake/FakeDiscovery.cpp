#include "fake/FakeDiscovery.h"

#include "platform/Framework.h"

namespace korvo {

namespace fake {

FakeDiscovery& Discovery() {
  static FakeDiscovery state;
  return state;
}

FakeInterface Interface(std::string path, std::optional<std::string> friendlyName,
                        std::optional<std::string> deviceDescription) {
  return FakeInterface{{std::move(path), std::move(friendlyName), std::move(deviceDescription), {}}, false};
}

}  // namespace fake

bool DiscoveryKnowsBusAddress() { return true; }

bool InitFramework() { return !fake::Discovery().initFails; }

std::optional<std::vector<InterfaceRecord>> ListPresentInterfaces(const InterfaceClassId&) {
  if (fake::Discovery().refuseSet) return std::nullopt;
  std::vector<InterfaceRecord> records;
  for (const fake::FakeInterface& one : fake::Discovery().interfaces) {
    if (!one.unreadable) records.push_back(one.record);
  }
  return records;
}

}  // namespace korvo
