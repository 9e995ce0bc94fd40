#include "deviceio/DeviceChannel.h"

#include <gtest/gtest.h>

#include "fake/FakeDevice.h"

namespace korvo {
namespace {

using fake::DeviceAnswers;
using fake::DevicesLog;
using fake::ResetDevices;

struct Shown {
  Device* device;
  std::string out;
  std::string err;
};

Shown OpenAndShow(const std::string& path, const std::string& description) {
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  Device* device = OpenAndShowPortStatus(path, description);
  std::string out = ::testing::internal::GetCapturedStdout();
  std::string err = ::testing::internal::GetCapturedStderr();
  return {device, out, err};
}

std::string StatusLineFor(std::vector<unsigned char> reply, uint32_t replyCount = 1) {
  DeviceAnswers answers;
  answers.reply = std::move(reply);
  answers.replyCount = replyCount;
  ResetDevices(answers);
  return OpenAndShow("/dev/k#vid_6742&pid_0001", "KORVO").out;
}

TEST(DeviceChannelTest, OpensTheChosenPathAndAsksOnceWithTheTwo80ByteBuffers) {
  ResetDevices();
  Shown shown = OpenAndShow("/dev/bus/usb/001/002#vid_6742&pid_0001", "KORVO K1");

  fake::DeviceLog log = DevicesLog();
  ASSERT_EQ(log.opened, std::vector<std::string>{"/dev/bus/usb/001/002#vid_6742&pid_0001"});
  ASSERT_EQ(log.openDevices.size(), 1u);
  EXPECT_EQ(shown.device, log.openDevices[0]);
  ASSERT_EQ(log.queries.size(), 1u);
  EXPECT_EQ(log.queries[0].device, shown.device);
  EXPECT_EQ(log.queries[0].inputLength, 80u);
  EXPECT_EQ(log.queries[0].replyLength, 80u);
  EXPECT_FALSE(log.queries[0].inputNull);
  EXPECT_TRUE(log.closed.empty());  // the sequence still needs it
  EXPECT_EQ(shown.out, "status:98\n");
  EXPECT_EQ(shown.err, "");
}

TEST(DeviceChannelTest, StatusLineShowsTheFirstReplyByteAsTwoLowercaseHexDigits) {
  EXPECT_EQ(StatusLineFor({0x98}), "status:98\n");
  EXPECT_EQ(StatusLineFor({0x00}), "status:00\n");
  EXPECT_EQ(StatusLineFor({0x0a}), "status:0a\n");
  EXPECT_EQ(StatusLineFor({0xff, 0x12}), "status:ff\n");
}

TEST(DeviceChannelTest, StatusLineShowsTheFirstByteWhateverTheReplyCount) {
  EXPECT_EQ(StatusLineFor({0x42}, 0), "status:42\n");
  EXPECT_EQ(StatusLineFor({0x43}, 80), "status:43\n");
}

TEST(DeviceChannelTest, FailedRequestShowsTheErrorNumberAndKeepsTheDeviceOpen) {
  DeviceAnswers answers;
  answers.queryFails = true;
  answers.queryError = 32;
  ResetDevices(answers);
  Shown shown = OpenAndShow("/dev/k#vid_6742&pid_0001", "KORVO");
  EXPECT_NE(shown.device, nullptr);
  EXPECT_EQ(shown.out, "Error code Status:32\n");
  EXPECT_EQ(shown.err, "");
  EXPECT_TRUE(DevicesLog().closed.empty());

  answers.queryError = 110;
  ResetDevices(answers);
  EXPECT_EQ(OpenAndShow("/dev/k#vid_6742&pid_0001", "KORVO").out, "Error code Status:110\n");
}

TEST(DeviceChannelTest, OpenFailureNamesTheDescriptionNotThePathAndAsksNothing) {
  DeviceAnswers answers;
  answers.openFails = true;
  ResetDevices(answers);
  Shown shown = OpenAndShow("/dev/bus/usb/001/002#vid_6742&pid_0001", "KORVO K1 Printer");
  EXPECT_EQ(shown.device, nullptr);
  EXPECT_EQ(shown.err, "Unable to open KORVO K1 Printer\n");
  EXPECT_EQ(shown.out, "");
  EXPECT_TRUE(DevicesLog().queries.empty());
}

}  // namespace
}  // namespace korvo
