#include "app/TestSequence.h"

#include <gtest/gtest.h>

#include "fake/FakeDiscovery.h"

namespace korvo {
namespace {

using fake::Discovery;
using fake::Interface;

struct RunResult {
  int status;
  std::string out;
  std::string err;
};

RunResult RunSequence() {
  char program[] = "korvo-test";
  char file[] = "data.bin";
  char* argv[] = {program, file, nullptr};
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  int status = RunTestSequence(2, argv);
  std::string out = ::testing::internal::GetCapturedStdout();
  std::string err = ::testing::internal::GetCapturedStderr();
  return {status, out, err};
}

class TestSequenceTest : public ::testing::Test {
 protected:
  void SetUp() override { Discovery() = {}; }
};

TEST_F(TestSequenceTest, FailedInitialisationEndsWithOne) {
  Discovery().initFails = true;
  Discovery().interfaces = {Interface("/dev/a#vid_6742")};
  RunResult r = RunSequence();
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Fatal Error: MFC initialization failed\n");
  EXPECT_EQ(r.out, "");
}

TEST_F(TestSequenceTest, NoDeviceEndsWithZeroAndSaysSo) {
  RunResult r = RunSequence();
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "No KORVO devices to test\n");
  EXPECT_EQ(r.out, "");

  Discovery().refuseSet = true;
  Discovery().interfaces = {Interface("/dev/a#vid_6742")};
  r = RunSequence();
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "No KORVO devices to test\n");
}

TEST_F(TestSequenceTest, SeveralDevicesNoneOfKorvoAndNoChoiceEndWithOneSilently) {
  Discovery().interfaces = {Interface("/dev/a#vid_1111", "A"), Interface("/dev/b#vid_2222", "B")};
  RunResult r = RunSequence();
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
}

}  // namespace
}  // namespace korvo
