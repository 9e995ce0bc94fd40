// The emulated device's answers to control requests and its descriptors.
#include <gtest/gtest.h>

#include "descriptors.h"
#include "device_model.h"

namespace korvo_emu {
namespace {

DeviceConfig Korvo() {
  DeviceConfig config;
  config.vendor_id = 0x6742;
  config.product_id = 0x0e28;
  config.manufacturer = "Korvo";
  return config;
}

ControlAnswer Ask(const DeviceConfig& config, std::uint8_t type, std::uint8_t request,
                  std::uint16_t value, std::uint16_t length, std::uint16_t index = 0) {
  return AnswerControl(config, SetupPacket{type, request, value, index, length});
}

TEST(EmuModel, SetupPacketsAreLittleEndian) {
  const std::uint8_t bytes[8] = {0xa1, 0x01, 0x34, 0x12, 0x02, 0x01, 0x00, 0x10};
  const SetupPacket setup = ParseSetup(bytes);
  EXPECT_EQ(setup.request_type, 0xa1);
  EXPECT_EQ(setup.request, 1);
  EXPECT_EQ(setup.value, 0x1234);
  EXPECT_EQ(setup.index, 0x0102);
  EXPECT_EQ(setup.length, 0x1000);
}

TEST(EmuModel, PortStatusFollowsTheConfiguration) {
  DeviceConfig config = Korvo();
  config.status_byte = 0x98;
  EXPECT_EQ(Ask(config, 0xa1, 1, 0, 1).data, Bytes{0x98});
  EXPECT_EQ(Ask(config, 0xa1, 1, 0, 80).data, Bytes{0x98});  // one byte whatever is asked
  EXPECT_EQ(Ask(config, 0xa1, 1, 0, 0).data, Bytes{});
  config.status_reply = StatusReply::kEmpty;
  const ControlAnswer empty = Ask(config, 0xa1, 1, 0, 1);
  EXPECT_FALSE(empty.stall);
  EXPECT_EQ(empty.data, Bytes{});
  config.status_reply = StatusReply::kStall;
  EXPECT_TRUE(Ask(config, 0xa1, 1, 0, 1).stall);
}

TEST(EmuModel, DescriptorsOverTheControlPipeMatchTheOnesInSysfs) {
  const DeviceConfig config = Korvo();
  const Bytes all = AllDescriptors(config);
  const Bytes device = Ask(config, 0x80, 6, 0x0100, 64).data;
  const Bytes configuration = Ask(config, 0x80, 6, 0x0200, 255).data;
  ASSERT_EQ(device.size(), 18u);
  EXPECT_EQ(all, [&] {
    Bytes both = device;
    both.insert(both.end(), configuration.begin(), configuration.end());
    return both;
  }());
  EXPECT_EQ(Ask(config, 0x80, 6, 0x0200, 9).data.size(), 9u);  // header only, as hosts ask first
  EXPECT_EQ(configuration[2] | configuration[3] << 8, static_cast<int>(configuration.size()));
  EXPECT_EQ(device[8] | device[9] << 8, 0x6742);
  EXPECT_EQ(device[10] | device[11] << 8, 0x0e28);
  EXPECT_EQ(device[14], kManufacturerIndex);
  EXPECT_EQ(device[15], 0);  // no product string given
}

TEST(EmuModel, StringDescriptors) {
  DeviceConfig config = Korvo();
  EXPECT_EQ(Ask(config, 0x80, 6, 0x0300, 255).data, (Bytes{4, 3, 0x09, 0x04}));
  EXPECT_EQ(Ask(config, 0x80, 6, 0x0301, 255).data,
            (Bytes{12, 3, 'K', 0, 'o', 0, 'r', 0, 'v', 0, 'o', 0}));
  EXPECT_TRUE(Ask(config, 0x80, 6, 0x0302, 255).stall);
  config.product = std::string(300, 'K');
  const Bytes product = Ask(config, 0x80, 6, 0x0302, 255).data;
  EXPECT_EQ(product.size(), 254u);  // 126 characters: all a descriptor can hold
  EXPECT_EQ(product[0], 254);
  config.product = "\xe9";  // bytes are taken as Latin-1
  EXPECT_EQ(Ask(config, 0x80, 6, 0x0302, 255).data, (Bytes{4, 3, 0xe9, 0}));
}

TEST(EmuModel, StandardRequestsAndEverythingElse) {
  const DeviceConfig config = Korvo();
  EXPECT_EQ(Ask(config, 0x80, 8, 0, 1).data, Bytes{kConfigurationValue});
  EXPECT_EQ(Ask(config, 0x80, 0, 0, 2).data, (Bytes{1, 0}));
  EXPECT_EQ(Ask(config, 0x81, 10, 0, 1).data, Bytes{0});
  EXPECT_FALSE(Ask(config, 0x00, 9, 1, 0).stall);  // SET_CONFIGURATION 1
  EXPECT_TRUE(Ask(config, 0x00, 9, 2, 0).stall);   // no configuration 2
  EXPECT_FALSE(Ask(config, 0x01, 11, 0, 0, 0).stall);  // SET_INTERFACE alternate 0
  EXPECT_FALSE(Ask(config, 0x02, 1, 0, 0, 0x01).stall);  // CLEAR_FEATURE endpoint halt
  EXPECT_TRUE(Ask(config, 0x80, 6, 0x0600, 10).stall);  // no device qualifier
  EXPECT_TRUE(Ask(config, 0xa1, 0, 0, 255).stall);      // no IEEE 1284 device ID
  EXPECT_TRUE(Ask(config, 0xc0, 0x42, 0, 4).stall);     // vendor requests
}

}  // namespace
}  // namespace korvo_emu
