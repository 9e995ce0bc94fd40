#include "app/TestSequence.h"

#include <gtest/gtest.h>

#include "fake/FakeDevice.h"
#include "fake/FakeDiscovery.h"
#include "fake/FakePresenter.h"

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
  struct Case {
    const char* name;
    bool cannotShow;
    std::vector<fake::OperatorStep> script;
  };
  const Case cases[] = {
      {"cancelled", false, {fake::Select(0), fake::Press(IDCANCEL)}},
      {"not shown", true, {}},
      // Confirmed with nothing selected names no device.
      {"nothing selected", false, {fake::Select(CB_ERR), fake::Press(IDOK)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake::ResetDevices();
    fake::Presenter() = {};
    fake::Presenter().cannotShow = c.cannotShow;
    fake::Presenter().script = c.script;
    RunResult r = RunSequence();
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(fake::Presenter().shownTemplates, std::vector<int>{101});
    EXPECT_TRUE(fake::DevicesLog().opened.empty());
  }
}

TEST_F(TestSequenceTest, SeveralDevicesNoneOfKorvoTheOperatorsPickIsOpened) {
  Discovery().interfaces = {Interface("/dev/a#vid_1111", "A"), Interface("/dev/b#vid_2222", "B"),
                            Interface("/dev/c#vid_3333", "C")};
  struct Case {
    std::vector<fake::OperatorStep> script;
    const char* opened;
  };
  const Case cases[] = {
      {{fake::Press(IDOK)}, "/dev/c#vid_3333"},  // the preselected last one
      {{fake::Select(0), fake::Press(IDOK)}, "/dev/a#vid_1111"},
      {{fake::Select(1), fake::Press(IDOK)}, "/dev/b#vid_2222"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.opened);
    fake::ResetDevices();
    fake::Presenter() = {};
    fake::Presenter().script = c.script;
    RunSequence();
    EXPECT_EQ(fake::DevicesLog().opened, std::vector<std::string>{c.opened});
  }
}

TEST_F(TestSequenceTest, AKorvoDeviceAmongSeveralNeedsNoDialog) {
  Discovery().interfaces = {Interface("/dev/a#vid_1111", "A"), Interface("/dev/b#vid_6742", "B")};
  fake::ResetDevices();
  fake::Presenter() = {};
  RunSequence();
  EXPECT_TRUE(fake::Presenter().shownTemplates.empty());
  EXPECT_EQ(fake::DevicesLog().opened, std::vector<std::string>{"/dev/b#vid_6742"});
}

}  // namespace
}  // namespace korvo
