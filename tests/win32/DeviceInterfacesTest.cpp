// Discovery through the real SetupAPI, over interfaces made up in Wine's
// registry.
#include <gtest/gtest.h>

#include <string>

#include "WineDevices.h"
#include "discovery/DeviceList.h"
#include "platform/DeviceInterfaces.h"

namespace korvo {
namespace {

using win32test::InterfacePath;
using win32test::MadeUpInterface;
using win32test::MadeUpInterfaces;

class DeviceInterfacesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!win32test::RunningUnderWine()) GTEST_SKIP() << "needs Wine's registry-backed SetupAPI";
  }

  // Every interface the layer reports for the USB device class, in order.
  static std::vector<InterfaceRecord> ReadAll() {
    std::optional<std::vector<InterfaceRecord>> records =
        ListPresentInterfaces(GUID_DEVINTERFACE_USB_DEVICE);
    EXPECT_TRUE(records.has_value());
    return records.value_or(std::vector<InterfaceRecord>{});
  }

  MadeUpInterfaces interfaces_;
};

TEST_F(DeviceInterfacesTest, NoDeviceGivesAnEmptySet) {
  EXPECT_TRUE(ReadAll().empty());
}

TEST_F(DeviceInterfacesTest, ReadsThePathAndBothNames) {
  MadeUpInterface korvo{"USB\\VID_6742&PID_0001\\K1"};
  korvo.friendlyName = "KORVO Test Unit";
  korvo.deviceDesc = "USB Printing Support";
  ASSERT_TRUE(interfaces_.Add(korvo));

  std::vector<InterfaceRecord> records = ReadAll();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].devicePath,
            "\\\\?\\usb#vid_6742&pid_0001#k1#{a5dcbf10-6530-11d2-901f-00c04fb951ed}");
  EXPECT_EQ(records[0].friendlyName, "KORVO Test Unit");
  EXPECT_EQ(records[0].deviceDescription, "USB Printing Support");
}

TEST_F(DeviceInterfacesTest, MissingNamesAreAbsent) {
  MadeUpInterface descriptionOnly{"USB\\VID_1111&PID_0001\\A"};
  descriptionOnly.deviceDesc = "Generic USB Hub";
  MadeUpInterface nameless{"USB\\VID_1111&PID_0002\\B"};
  ASSERT_TRUE(interfaces_.Add(descriptionOnly));
  ASSERT_TRUE(interfaces_.Add(nameless));

  std::vector<InterfaceRecord> records = ReadAll();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].friendlyName, std::nullopt);
  EXPECT_EQ(records[0].deviceDescription, "Generic USB Hub");
  EXPECT_EQ(records[1].devicePath, InterfacePath(nameless));
  EXPECT_EQ(records[1].friendlyName, std::nullopt);
  EXPECT_EQ(records[1].deviceDescription, std::nullopt);
}

TEST_F(DeviceInterfacesTest, NameMustFitIn256Bytes) {
  MadeUpInterface fits{"USB\\VID_1111&PID_0001\\A"};
  fits.friendlyName = std::string(255, 'f');
  MadeUpInterface tooLong{"USB\\VID_1111&PID_0002\\B"};
  tooLong.friendlyName = std::string(256, 'g');
  tooLong.deviceDesc = "Short Description";
  ASSERT_TRUE(interfaces_.Add(fits));
  ASSERT_TRUE(interfaces_.Add(tooLong));

  std::vector<InterfaceRecord> records = ReadAll();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].friendlyName, std::string(255, 'f'));
  EXPECT_EQ(records[1].friendlyName, std::nullopt);
  EXPECT_EQ(records[1].deviceDescription, "Short Description");
}

TEST_F(DeviceInterfacesTest, OnlyPresentInterfacesOfTheUsbDeviceClassAreListed) {
  MadeUpInterface absent{"USB\\VID_6742&PID_0001\\GONE"};
  absent.present = false;
  MadeUpInterface hub{"USB\\ROOT_HUB20\\HUB"};
  hub.interfaceClass = "{f18a0e88-c30c-11d0-8815-00a0c906bed8}";  // the USB hub class
  MadeUpInterface present{"USB\\VID_6742&PID_0001\\HERE"};
  ASSERT_TRUE(interfaces_.Add(absent));
  ASSERT_TRUE(interfaces_.Add(hub));
  ASSERT_TRUE(interfaces_.Add(present));

  std::vector<InterfaceRecord> records = ReadAll();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].devicePath, InterfacePath(present));
}

TEST_F(DeviceInterfacesTest, DeviceListTakesDescriptionsFromTheLayer) {
  MadeUpInterface named{"USB\\VID_1111&PID_0001\\A"};
  named.friendlyName = "Friendly";
  named.deviceDesc = "Described";
  MadeUpInterface described{"USB\\VID_1111&PID_0002\\B"};
  described.deviceDesc = "Described Only";
  MadeUpInterface nameless{"USB\\VID_6742&PID_0003\\C"};
  ASSERT_TRUE(interfaces_.Add(named));
  ASSERT_TRUE(interfaces_.Add(described));
  ASSERT_TRUE(interfaces_.Add(nameless));

  DeviceList list(GUID_DEVINTERFACE_USB_DEVICE);
  ASSERT_EQ(list.Enumerate(), 3);
  EXPECT_EQ(list.GetAt(0).description, "Friendly");
  EXPECT_EQ(list.GetAt(1).description, "Described Only");
  EXPECT_EQ(list.GetAt(2).description, InterfacePath(nameless));
  EXPECT_EQ(list.GetAt(2).devicePath, InterfacePath(nameless));
}

}  // namespace
}  // namespace korvo

namespace korvo {
namespace {

// The IDs and the serial number come from the device's instance ID; an ID
// that Windows made up for a device without a serial number holds '&'.
TEST_F(DeviceInterfacesTest, IdsAndSerialComeFromTheInstanceId) {
  const struct {
    const char* instanceId;
    unsigned vendorId, productId;
    const char* serial;  // none when null
  } cases[] = {
      {"USB\\VID_6742&PID_0001\\K1-0042", 0x6742, 0x0001, "K1-0042"},
      {"USB\\VID_1111&PID_00AB\\5&2C3F1A0&0&2", 0x1111, 0x00ab, nullptr},
      {"USB\\VID_6742&PID_0002&MI_00\\7&1&0&0", 0x6742, 0x0002, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.instanceId);
    MadeUpInterfaces interfaces;
    ASSERT_TRUE(interfaces.Add(MadeUpInterface{c.instanceId}));
    std::vector<InterfaceRecord> records = ReadAll();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].facts.vendorId, c.vendorId);
    EXPECT_EQ(records[0].facts.productId, c.productId);
    EXPECT_EQ(records[0].facts.serial, c.serial ? std::optional<std::string>(c.serial) : std::nullopt);
    EXPECT_FALSE(records[0].facts.bus);
    EXPECT_FALSE(records[0].facts.address);
  }
}

}  // namespace
}  // namespace korvo
