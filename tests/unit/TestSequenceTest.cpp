#include "app/TestSequence.h"

#include <gtest/gtest.h>

#include "fake/FakeDevice.h"
#include "fake/FakeDiscovery.h"
#include "fake/FakePresenter.h"
#include "platform/ErrorNumber.h"
#include "support/Pattern.h"
#include "support/TempDir.h"

namespace korvo {
namespace {

using fake::DeviceAnswers;
using fake::DevicesLog;
using fake::Discovery;
using fake::Interface;
using fake::ResetDevices;

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

// A run with these arguments after the program name.
RunResult RunSequenceWith(std::vector<std::string> args) {
  std::vector<char*> argv;
  std::string program = "korvo-test";
  argv.push_back(program.data());
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  int status = RunTestSequence(static_cast<int>(argv.size() - 1), argv.data());
  std::string out = ::testing::internal::GetCapturedStdout();
  std::string err = ::testing::internal::GetCapturedStderr();
  return {status, out, err};
}

class TestSequenceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Discovery() = {};
    ResetDevices();
  }
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

// A selector asks for a device: none at all is a failure, as no match is.
TEST_F(TestSequenceTest, NoDeviceForASelectorEndsWithOneNamingIt) {
  const struct {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{"--serial", "K2", "data.bin"}, "No device matches --serial K2\n"},
      {{"-d", "6742", "data.bin"}, "No device matches -d 6742\n"},
      {{"-l", "-d", ":2"}, "No device matches -d :0002\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.err);
    RunResult r = RunSequenceWith(c.args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.out, "");
  }
}

TEST_F(TestSequenceTest, SeveralDevicesNoneOfKorvoAndNoChoiceEndWithOneSilently) {
  Discovery().interfaces = {Interface("/dev/a#vid_1111", "A"), Interface("/dev/b#vid_2222", "B")};
  struct Case {
    const char* name;
    bool confirm;
    std::optional<int> pick;
  };
  const Case cases[] = {
      {"cancelled or not shown", false, std::nullopt},
      // Confirmed with nothing selected names no device.
      {"nothing selected", true, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake::ResetDevices();
    fake::Presenter() = {};
    fake::Presenter().confirm = c.confirm;
    fake::Presenter().pick = c.pick;
    RunResult r = RunSequence();
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(fake::Presenter().shown, 1);
    EXPECT_TRUE(fake::DevicesLog().opened.empty());
  }
}

TEST_F(TestSequenceTest, SeveralDevicesNoneOfKorvoTheOperatorsPickIsOpened) {
  Discovery().interfaces = {Interface("/dev/a#vid_1111", "A"), Interface("/dev/b#vid_2222", "B"),
                            Interface("/dev/c#vid_3333", "C")};
  struct Case {
    std::optional<int> pick;
    const char* opened;
  };
  const Case cases[] = {
      {std::nullopt, "/dev/c#vid_3333"},  // the preselected last one
      {0, "/dev/a#vid_1111"},
      {1, "/dev/b#vid_2222"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.opened);
    fake::ResetDevices();
    fake::Presenter() = {};
    fake::Presenter().confirm = true;
    fake::Presenter().pick = c.pick;
    RunSequence();
    EXPECT_EQ(fake::DevicesLog().opened, std::vector<std::string>{c.opened});
  }
}

TEST_F(TestSequenceTest, AKorvoDeviceAmongSeveralNeedsNoDialog) {
  Discovery().interfaces = {Interface("/dev/a#vid_1111", "A"), Interface("/dev/b#vid_6742", "B")};
  fake::ResetDevices();
  fake::Presenter() = {};
  RunSequence();
  EXPECT_EQ(fake::Presenter().shown, 0);
  EXPECT_EQ(fake::DevicesLog().opened, std::vector<std::string>{"/dev/b#vid_6742"});
}

// From here on a KORVO device is present and the monitor starts; it idles
// on in the background after each run, as it does until the process ends.
class DeviceRunTest : public TestSequenceTest {
 protected:
  void SetUp() override {
    TestSequenceTest::SetUp();
    Discovery().interfaces = {Interface("/dev/bus/usb/001/005#vid_1234&pid_0001", "Other"),
                              Interface("/dev/bus/usb/001/007#vid_6742&pid_0001", "KORVO K1")};
  }

  static bool OnlyKorvoOpened() {
    return DevicesLog().opened == std::vector<std::string>{"/dev/bus/usb/001/007#vid_6742&pid_0001"};
  }

  test::TempDir dir_;
};

TEST_F(DeviceRunTest, FileSentEndsWithZeroAfterTheStatusLine) {
  std::string content = test::Pattern(5000);
  RunResult r = RunSequenceWith({dir_.Write("data.bin", content)});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "status:98\n");
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(OnlyKorvoOpened());
  fake::DeviceLog log = DevicesLog();
  ASSERT_EQ(log.writes.size(), 1u);
  EXPECT_EQ(log.writes[0].data, content);
  EXPECT_EQ(log.closed, log.openDevices);
}

TEST_F(DeviceRunTest, OnlyTheFirstArgumentIsTheFile) {
  RunResult r = RunSequenceWith({dir_.Write("data.bin", "abc"), dir_.Write("other.bin", "xyz")});
  EXPECT_EQ(r.status, 0);
  fake::DeviceLog log = DevicesLog();
  ASSERT_EQ(log.writes.size(), 1u);
  EXPECT_EQ(log.writes[0].data, "abc");
}

TEST_F(DeviceRunTest, FailedStatusRequestChangesNothingInTheRun) {
  DeviceAnswers answers;
  answers.queryFails = true;
  answers.queryError = 32;
  ResetDevices(answers);
  RunResult r = RunSequenceWith({dir_.Write("data.bin", "abc")});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "Error code Status:32\n");
  EXPECT_EQ(DevicesLog().writes.size(), 1u);
}

TEST_F(DeviceRunTest, DeviceThatCannotBeOpenedEndsWithOneNamingItsDescription) {
  DeviceAnswers answers;
  answers.openFails = true;
  ResetDevices(answers);
  RunResult r = RunSequenceWith({dir_.Write("data.bin", "abc")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Unable to open KORVO K1\n");
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(OnlyKorvoOpened());
  EXPECT_TRUE(DevicesLog().writes.empty());
}

TEST_F(DeviceRunTest, FileThatCannotBeOpenedEndsWithOneAndLeavesTheDeviceOpen) {
  std::string missing = dir_.PathOf("missing.bin");
  RunResult r = RunSequenceWith({missing});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "status:98\nCan not open file " + missing + "\n");
  EXPECT_EQ(r.err, "");
  fake::DeviceLog log = DevicesLog();
  EXPECT_TRUE(log.writes.empty());
  EXPECT_TRUE(log.closed.empty());
}

TEST_F(DeviceRunTest, NoArgumentIsAFileThatCannotBeOpened) {
  RunResult r = RunSequenceWith({});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "status:98\nCan not open file \n");
  EXPECT_TRUE(OnlyKorvoOpened());  // stages 5 and 6 ran as usual
  EXPECT_TRUE(DevicesLog().closed.empty());
}

TEST_F(DeviceRunTest, FailedWriteEndsWithOne) {
  DeviceAnswers answers;
  answers.writeAccepts = 100;
  answers.writeError = 19;
  ResetDevices(answers);
  RunResult r = RunSequenceWith({dir_.Write("data.bin", test::Pattern(5000))});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "status:98\nError code Write:19\n");
  fake::DeviceLog log = DevicesLog();
  EXPECT_EQ(log.closed, log.openDevices);
}

// --timeout reaches the write, and a write it cancelled fails like any
// other, with the time-out's number; without it the write waits for as long
// as the device takes.
TEST_F(DeviceRunTest, TheTimeOutIsTheWritesAndATimedOutWriteEndsWithOne) {
  const std::string file = dir_.Write("data.bin", "abc");
  const struct {
    std::vector<std::string> args;
    unsigned stallSeconds;
  } cases[] = {{{file}, 0}, {{"--timeout", "7", file}, 7}, {{"--timeout=999999", file}, 999999}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stallSeconds);
    ResetDevices();
    RunResult r = RunSequenceWith(c.args);
    EXPECT_EQ(r.status, 0);
    fake::DeviceLog log = DevicesLog();
    ASSERT_EQ(log.writes.size(), 1u);
    EXPECT_EQ(log.writes[0].stallSeconds, c.stallSeconds);
  }

  DeviceAnswers answers;
  answers.writeAccepts = 0;
  answers.writeError = TimedOutErrorNumber();
  ResetDevices(answers);
  RunResult r = RunSequenceWith({"--timeout", "1", file});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "status:98\nError code Write:" + std::to_string(TimedOutErrorNumber()) + "\n");
  fake::DeviceLog log = DevicesLog();
  EXPECT_EQ(log.closed, log.openDevices);
}

TEST_F(TestSequenceTest, OneDeviceOfAnotherVendorIsTestedWithoutAsking) {
  Discovery().interfaces = {Interface("/dev/bus/usb/002/003#vid_1234&pid_0001", "Other")};
  test::TempDir dir;
  RunResult r = RunSequenceWith({dir.Write("data.bin", "abc")});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(DevicesLog().opened, std::vector<std::string>{"/dev/bus/usb/002/003#vid_1234&pid_0001"});
  EXPECT_EQ(DevicesLog().writes.size(), 1u);
}

// --wait: the monitor runs from before the first look until the device is
// chosen; every plug or unplug means a new look, and the selectors and the
// choice apply to what is there then.
TEST_F(TestSequenceTest, WaitLooksAgainAfterEachChangeUntilASelectedDeviceIsThere) {
  auto unit = [](const char* path, const char* name, unsigned address, unsigned vendor) {
    fake::FakeInterface one = Interface(path, name);
    one.record.facts = {1, address, vendor, 1, std::nullopt};
    return one;
  };
  const fake::FakeInterface other = unit("/dev/bus/usb/001/004#vid_1111&pid_0001", "Other", 4, 0x1111);
  const fake::FakeInterface korvo = unit("/dev/bus/usb/001/005#vid_6742&pid_0001", "KORVO K1", 5, 0x6742);
  const struct {
    const char* name;
    std::vector<std::string> args;
    std::vector<fake::FakeInterface> present;
    std::vector<fake::FakePlug> plugs;
    int looks;
    std::string out;
  } cases[] = {
      {"present before: no wait", {"--wait"}, {korvo}, {}, 1, "status:98\n"},
      {"plugged during the wait", {"-w"}, {}, {{DeviceChange::Added, {korvo}}}, 2, "status:98\n"},
      {"unplugs and others, then the one asked for", {"--wait=30", "-d", "6742"}, {other},
       {{DeviceChange::Removed, {}}, {DeviceChange::Added, {other}}, {DeviceChange::Added, {other, korvo}}},
       4, "status:98\n"},
      {"-l waits, then lists", {"-l", "--wait"}, {}, {{DeviceChange::Added, {other, korvo}}}, 2,
       "    1  Bus 001 Device 004  ID 1111:0001  Other\n"
       "  * 2  Bus 001 Device 005  ID 6742:0001  KORVO K1\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Discovery() = {};
    ResetDevices();
    Discovery().interfaces = c.present;
    Discovery().plugs = c.plugs;
    const bool list = c.args[0] == "-l";
    std::vector<std::string> args = c.args;
    test::TempDir dir;
    if (!list) args.push_back(dir.Write("data.bin", "abc"));
    RunResult r = RunSequenceWith(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(Discovery().looks, c.looks);
    EXPECT_EQ(Discovery().looksWithoutMonitor, 0) << "a look before the monitor ran";
    EXPECT_FALSE(Discovery().monitorRunning) << "the monitor outlived the wait";
    EXPECT_TRUE(Discovery().plugs.empty());
    EXPECT_EQ(DevicesLog().opened,
              list ? std::vector<std::string>{} : std::vector<std::string>{korvo.record.devicePath});
  }
}

TEST_F(TestSequenceTest, AWaitThatEndsWithoutADeviceEndsWithOne) {
  const struct {
    const char* name;
    std::vector<std::string> args;
    bool monitorFails;
    std::string err;
  } cases[] = {
      {"time-out", {"--wait=1"}, false, "No KORVO devices appeared within 1 s\n"},
      {"time-out, a selector given", {"--wait=7", "--serial", "K9"}, false,
       "No KORVO devices appeared within 7 s\n"},
      {"stopped by a signal or Ctrl-C", {"--wait"}, false, ""},
      {"no notifications", {"--wait"}, true, "korvo-test: cannot watch for devices: "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Discovery() = {};
    Discovery().monitorFails = c.monitorFails;
    std::vector<std::string> args = c.args;
    args.push_back("data.bin");
    const auto before = std::chrono::steady_clock::now();
    RunResult r = RunSequenceWith(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.substr(0, c.err.size()), c.err);
    if (c.monitorFails) continue;
    EXPECT_EQ(r.err.size(), c.err.size());
    ASSERT_EQ(Discovery().deadlines.size(), 1u);
    EXPECT_EQ(Discovery().deadlines[0].has_value(), args[0] != "--wait");
    if (Discovery().deadlines[0]) {
      const unsigned seconds = static_cast<unsigned>(std::stoul(args[0].substr(7)));
      EXPECT_GE(*Discovery().deadlines[0], before + std::chrono::seconds(seconds));
      EXPECT_LE(*Discovery().deadlines[0], std::chrono::steady_clock::now() + std::chrono::seconds(seconds));
    }
    EXPECT_FALSE(Discovery().monitorRunning);
  }
}

}  // namespace
}  // namespace korvo
