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
  ++fake::Discovery().looks;
  if (!fake::Discovery().monitorRunning) ++fake::Discovery().looksWithoutMonitor;
  if (fake::Discovery().refuseSet) return std::nullopt;
  std::vector<InterfaceRecord> records;
  for (const fake::FakeInterface& one : fake::Discovery().interfaces) {
    if (!one.unreadable) records.push_back(one.record);
  }
  return records;
}

struct DeviceMonitor {};

DeviceMonitor* StartDeviceMonitor(const InterfaceClassId&) {
  static DeviceMonitor monitor;
  if (fake::Discovery().monitorFails) return nullptr;
  fake::Discovery().monitorRunning = true;
  return &monitor;
}

void StopDeviceMonitor(DeviceMonitor*) { fake::Discovery().monitorRunning = false; }

DeviceChange WaitForDeviceChange(DeviceMonitor*, std::optional<Deadline> deadline,
                                 std::string* settled) {
  fake::FakeDiscovery& discovery = fake::Discovery();
  if (settled) settled->clear();
  discovery.deadlines.push_back(deadline);
  if (discovery.plugs.empty()) return deadline ? DeviceChange::TimedOut : DeviceChange::Stopped;
  fake::FakePlug plug = discovery.plugs.front();
  discovery.plugs.erase(discovery.plugs.begin());
  discovery.interfaces = plug.interfaces;
  return plug.change;
}

}  // namespace korvo
