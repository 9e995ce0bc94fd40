#include "discovery/ChooseDevice.h"

#include <gtest/gtest.h>

#include "fake/FakeDiscovery.h"

namespace korvo {
namespace {

std::optional<int> ChooseAmong(std::vector<std::string> paths) {
  fake::Discovery() = {};
  for (std::string& path : paths) fake::Discovery().interfaces.push_back(fake::Interface(path));
  DeviceList list(GUID_DEVINTERFACE_USB_DEVICE);
  list.Enumerate();
  return ChooseDevice(list);
}

const std::string kOther = "/dev/bus/usb/001/002#vid_1d6b&pid_0002";
const std::string kKorvo = "/dev/bus/usb/001/003#vid_6742&pid_0001";

TEST(ChooseDeviceTest, TheOnlyDeviceIsChosenWhateverItsVendor) {
  EXPECT_EQ(ChooseAmong({kOther}), 0);
  EXPECT_EQ(ChooseAmong({"no vendor here"}), 0);
}

TEST(ChooseDeviceTest, FirstKorvoDeviceWins) {
  EXPECT_EQ(ChooseAmong({kOther, kKorvo}), 1);
  EXPECT_EQ(ChooseAmong({kKorvo, kOther, kKorvo}), 0);
  EXPECT_EQ(ChooseAmong({kOther, kOther, kKorvo, kKorvo}), 2);
}

TEST(ChooseDeviceTest, NoKorvoDeviceAmongSeveralGivesNoChoice) {
  EXPECT_EQ(ChooseAmong({kOther, kOther}), std::nullopt);
}

// Each path stands beside a device without the vendor, so only the path
// itself decides.
TEST(ChooseDeviceTest, VendorIsReadFromTheFirstKeyOnly) {
  struct Case {
    const char* path;
    bool matches;
  };
  const Case cases[] = {
      {"\\\\?\\usb#vid_6742&pid_0001#5&1", true},
      {"#vid_6742", true},                     // value ends the path
      {"#vid_67420000", true},                 // bytes after the value are not looked at
      {"#vidX6742", true},                     // any separator byte passes
      {"#vid\0016742", true},                  // even a control byte
      {"#VID_6742&pid_0001", false},           // the key is case-sensitive
      {"#vid_ABCD&vid_6742", false},           // a later key is never examined
      {"#vid_67", false},                      // path ends inside the value
      {"#vid_", false},
      {"vid", false},
      {"#vid_674", false},
      {"#vid_6743", false},
      {"#vid__6742", false},                   // value must start right after one separator
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ChooseAmong({kOther, c.path}), c.matches ? std::optional<int>(1) : std::nullopt)
        << c.path;
  }
}

}  // namespace
}  // namespace korvo
