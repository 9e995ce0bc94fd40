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

namespace {

class FakeSet : public DeviceInterfaceSet {
 public:
  InterfaceRead ReadInterface(unsigned index, InterfaceRecord& record) override {
    const std::vector<FakeInterface>& all = Discovery().interfaces;
    if (index >= all.size()) return InterfaceRead::NoMore;
    if (all[index].unreadable) return InterfaceRead::Unreadable;
    record = all[index].record;
    return InterfaceRead::Read;
  }
};

}  // namespace
}  // namespace fake

bool DiscoveryKnowsBusAddress() { return true; }

bool InitFramework() { return !fake::Discovery().initFails; }

std::unique_ptr<DeviceInterfaceSet> OpenPresentInterfaces(const InterfaceClassId&) {
  if (fake::Discovery().refuseSet) return nullptr;
  return std::make_unique<fake::FakeSet>();
}

}  // namespace korvo
