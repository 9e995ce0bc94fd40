#include "discovery/DeviceList.h"

#include <gtest/gtest.h>

#include "fake/FakeDiscovery.h"

namespace korvo {
namespace {

using fake::Discovery;
using fake::Interface;

class DeviceListTest : public ::testing::Test {
 protected:
  void SetUp() override { Discovery() = {}; }

  DeviceList Enumerated() {
    DeviceList list(GUID_DEVINTERFACE_USB_DEVICE);
    count = list.Enumerate();
    return list;
  }

  int count = -1;
};

TEST_F(DeviceListTest, RefusedOrEmptySetGivesNoEntries) {
  Discovery().refuseSet = true;
  Discovery().interfaces = {Interface("/dev/a")};
  DeviceList refused = Enumerated();
  EXPECT_EQ(count, 0);
  EXPECT_EQ(refused.GetCount(), 0);

  Discovery() = {};
  DeviceList empty = Enumerated();
  EXPECT_EQ(count, 0);
  EXPECT_EQ(empty.GetCount(), 0);
}

TEST_F(DeviceListTest, KeepsThePlatformOrderAndWholePaths) {
  Discovery().interfaces = {Interface("/dev/b", "B"), Interface("/dev/a", "A")};
  DeviceList list = Enumerated();
  ASSERT_EQ(count, 2);
  EXPECT_EQ(list.GetAt(0).devicePath, "/dev/b");
  EXPECT_EQ(list.GetAt(1).devicePath, "/dev/a");
}

TEST_F(DeviceListTest, DescriptionFallsBackFromFriendlyNameToDescriptionToPath) {
  const std::string fits(255, 'f');
  const std::string tooLong(256, 'g');
  Discovery().interfaces = {
      Interface("/dev/1", "Friendly", "Desc"),
      Interface("/dev/2", std::nullopt, "Desc"),
      Interface("/dev/3"),
      Interface("/dev/4", fits, "Desc"),
      Interface("/dev/5", tooLong, "Desc"),
      Interface("/dev/6", tooLong, tooLong),
      Interface("/dev/7", "", "Desc"),  // an empty name is still a name
  };
  DeviceList list = Enumerated();
  ASSERT_EQ(count, 7);
  EXPECT_EQ(list.GetAt(0).description, "Friendly");
  EXPECT_EQ(list.GetAt(1).description, "Desc");
  EXPECT_EQ(list.GetAt(2).description, "/dev/3");
  EXPECT_EQ(list.GetAt(3).description, fits);
  EXPECT_EQ(list.GetAt(4).description, "Desc");
  EXPECT_EQ(list.GetAt(5).description, "/dev/6");
  EXPECT_EQ(list.GetAt(6).description, "");
}

TEST_F(DeviceListTest, LongPathIsCutForTheDescriptionOnly) {
  std::string path = "/dev/" + std::string(300, 'p');
  Discovery().interfaces = {Interface(path, std::string(256, 'n'))};
  DeviceList list = Enumerated();
  ASSERT_EQ(count, 1);
  EXPECT_EQ(list.GetAt(0).devicePath, path);
  EXPECT_EQ(list.GetAt(0).description, path.substr(0, 255));
}

TEST_F(DeviceListTest, UnreadableInterfaceLeavesNoGap) {
  fake::FakeInterface broken = Interface("/dev/broken", "Broken");
  broken.unreadable = true;
  Discovery().interfaces = {Interface("/dev/a", "A"), broken, Interface("/dev/c", "C")};
  DeviceList list = Enumerated();
  ASSERT_EQ(count, 2);
  EXPECT_EQ(list.GetAt(0).description, "A");
  EXPECT_EQ(list.GetAt(1).description, "C");
}

}  // namespace
}  // namespace korvo
