// The device channel on the real file calls. Under Wine the device behind a
// made-up interface path is a plain file: it takes writes and refuses the
// port-status request, which is what can be checked without a driver.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "WineDevices.h"
#include "platform/Device.h"
#include "platform/ErrorNumber.h"

namespace korvo {
namespace {

using win32test::DeviceNode;
using win32test::InterfacePath;
using win32test::MadeUpInterface;

class DeviceChannelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!win32test::RunningUnderWine()) GTEST_SKIP() << "needs a Wine prefix for the device node";
    ASSERT_TRUE(node_.Create());
  }

  const std::string path_ = InterfacePath(MadeUpInterface{"USB\\VID_6742&PID_0001\\CHANNEL"});
  DeviceNode node_{path_};
};

TEST_F(DeviceChannelTest, WrittenBytesReachTheDeviceUnchanged) {
  std::string data;
  for (int i = 0; i < 3 * 1024; ++i) data += static_cast<char>(i % 251);

  Device* device = OpenDevice(path_);
  ASSERT_NE(device, nullptr);
  uint64_t written = 0;
  EXPECT_TRUE(WriteDevice(device, data.data(), data.size(), &written));
  EXPECT_EQ(written, data.size());
  CloseDevice(device);
  EXPECT_EQ(node_.Contents(), data);
}

TEST_F(DeviceChannelTest, EmptyWriteSucceeds) {
  Device* device = OpenDevice(path_);
  ASSERT_NE(device, nullptr);
  uint64_t written = 7;
  EXPECT_TRUE(WriteDevice(device, "", 0, &written));
  EXPECT_EQ(written, 0u);
  CloseDevice(device);
  EXPECT_EQ(node_.Contents(), "");
}

TEST_F(DeviceChannelTest, OpenIsExclusiveUntilClosed) {
  Device* first = OpenDevice(path_);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(OpenDevice(path_), nullptr);
  EXPECT_EQ(LastErrorNumber(), ERROR_SHARING_VIOLATION);
  CloseDevice(first);

  Device* again = OpenDevice(path_);
  EXPECT_NE(again, nullptr);
  if (again) CloseDevice(again);
}

TEST_F(DeviceChannelTest, AbsentDeviceDoesNotOpen) {
  EXPECT_EQ(OpenDevice(InterfacePath(MadeUpInterface{"USB\\VID_6742&PID_0001\\ABSENT"})), nullptr);
  EXPECT_EQ(LastErrorNumber(), ERROR_FILE_NOT_FOUND);
}

TEST_F(DeviceChannelTest, RefusedPortStatusRequestReportsTheSystemsError) {
  Device* device = OpenDevice(path_);
  ASSERT_NE(device, nullptr);
  unsigned char input[80] = {};
  unsigned char reply[80] = {};
  uint32_t replyCount = 123;
  SetLastError(0);
  EXPECT_FALSE(QueryPortStatus(device, input, sizeof input, reply, sizeof reply, &replyCount));
  EXPECT_NE(LastErrorNumber(), 0);
  EXPECT_EQ(replyCount, 0u);
  CloseDevice(device);
}

}  // namespace
}  // namespace korvo
