// The operator's command line end to end: korvo-test under korvo-emu, with
// options and selectors, and what they do to the devices.
#include <gtest/gtest.h>

#include "EmulatedRun.h"

namespace korvo::e2e {
namespace {

const std::vector<std::string> kTwoKorvo = {
    "vid=6742,pid=0001,product=KORVO K1,serial=K1-0001",   // 001/002, taken by the rule
    "vid=6742,pid=0002,product=KORVO K2,serial=K2-0002"};  // 001/003

// Help, version and usage errors end before any device work: nothing is
// opened, whatever devices are present.
TEST(CommandLineTest, HelpVersionAndUsageErrorsTouchNoDevice) {
  const struct {
    std::vector<std::string> args;
    int status;
    std::string outStart;  // the start of stdout
    std::string err;
  } cases[] = {
      {{"--help"}, 0, "Usage: korvo-test [-d VID[:PID]] [-s [[BUS]:][ADDR]] [--serial SERIAL] [--] FILE\n", ""},
      {{"-h", "data.bin"}, 0, "Usage: korvo-test ", ""},
      {{"-V"}, 0, "korvo-test 1.0.0\n", ""},
      {{"--version"}, 0, "korvo-test 1.0.0\n", ""},
      {{"-x", "data.bin"}, 1, "", "korvo-test: unknown option '-x'\nTry 'korvo-test --help'.\n"},
      {{"--serial"}, 1, "", "korvo-test: option '--serial' needs a value\nTry 'korvo-test --help'.\n"},
  };
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0]);
    DeviceRun run = RunOnDevices(dir, kTwoKorvo, c.args);
    EXPECT_EQ(run.process.status, c.status);
    EXPECT_EQ(run.process.out.substr(0, c.outStart.size()), c.outStart);
    if (c.outStart.empty()) {
      EXPECT_EQ(run.process.out, "");
    }
    EXPECT_EQ(run.process.err, c.err);
    EXPECT_FALSE(Opened(dir, 2));
    EXPECT_FALSE(Opened(dir, 3));
  }
}

TEST(CommandLineTest, ListShowsEveryDeviceAndMarksTheOneTakenWithoutAsking) {
  TempDir dir;
  DeviceRun run = RunOnDevices(dir,
                               {"vid=1111,bus=1,dev=2,product=Alpha",
                                "vid=6742,pid=00ab,bus=1,dev=3,product=KORVO K1,serial=K1-0042",
                                "vid=6742,bus=2,dev=9,product=%1B[2JKORVO K2,serial=AB%E2%80%AECD"},
                               {"-l"});
  EXPECT_EQ(run.process.status, 0);
  EXPECT_EQ(run.process.out,
            "    1  Bus 001 Device 002  ID 1111:0001  Alpha\n"
            "  * 2  Bus 001 Device 003  ID 6742:00ab  serial K1-0042  KORVO K1\n"
            "    3  Bus 002 Device 009  ID 6742:0001  serial AB\\xe2\\x80\\xaeCD  \\x1b[2JKORVO K2\n");
  EXPECT_EQ(run.process.err, "");
  EXPECT_FALSE(Opened(dir, 2));
  EXPECT_FALSE(Opened(dir, 3));

  // Nothing at all: the usual message, and no failure.
  run = RunOnDevices(dir, {}, {"--list"});
  EXPECT_EQ(run.process.status, 0);
  EXPECT_EQ(run.process.out, "");
  EXPECT_EQ(run.process.err, "No KORVO devices to test\n");
}

// Each selector takes the second of two KORVO devices, which the rule alone
// never would; the listing shows what is left.
TEST(CommandLineTest, EachSelectorChoosesTheSecondOfTwoKorvoDevices) {
  const std::vector<std::vector<std::string>> selectors = {
      {"-d", "6742:0002"}, {"-d", ":2"}, {"-s", "1:3"}, {"-s", "3"}, {"--serial", "K2-0002"},
      {"--serial=K2-0002", "-d", "6742"}, {"-d", "0x6742:0x0002"}, {"-s", "001/003"}};
  TempDir dir;
  const std::string data = Pattern(3000);
  const std::string file = dir.Write("data.bin", data);
  for (const std::vector<std::string>& selector : selectors) {
    SCOPED_TRACE(selector[0] + " " + selector[1]);
    std::vector<std::string> args = selector;
    args.push_back(file);
    DeviceRun run = RunOnDevices(dir, kTwoKorvo, args);
    EXPECT_EQ(run.process.status, 0) << run.process.err;
    EXPECT_EQ(run.process.out, "status:18\n");
    EXPECT_EQ(run.process.err, "");
    EXPECT_FALSE(Opened(dir, 2));
    EXPECT_EQ(ReadWhole(dir.PathOf("captures/001-003.bin")), data);

    args.back() = "-l";
    run = RunOnDevices(dir, kTwoKorvo, args);
    EXPECT_EQ(run.process.out, "  * 1  Bus 001 Device 003  ID 6742:0002  serial K2-0002  KORVO K2\n");
  }
}

// With no device plugged in at all too: a CI job that asked for a unit fails.
TEST(CommandLineTest, ASelectorMatchingNothingEndsWithOneAndSaysWhat) {
  TempDir dir;
  const std::string file = dir.Write("data.bin", "abc");
  const struct {
    std::vector<std::string> devices;
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {kTwoKorvo, {"-d", "6742:0003", file}, "No device matches -d 6742:0003\n"},
      {kTwoKorvo, {"-s", "2:", "--serial", "K1-0001", file}, "No device matches -s 2: --serial K1-0001\n"},
      {kTwoKorvo, {"-l", "--serial", "k1-0001"}, "No device matches --serial k1-0001\n"},
      {{}, {"--serial", "K2", file}, "No device matches --serial K2\n"},
      {{}, {"-s", "1:3", "-l"}, "No device matches -s 1:3\n"},
      {{"vid=1d6b,pid=0002,dev=1,roothub"}, {"-d", "6742", file}, "No device matches -d 6742\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.err);
    DeviceRun run = RunOnDevices(dir, c.devices, c.args);
    EXPECT_EQ(run.process.status, 1);
    EXPECT_EQ(run.process.out, "");
    EXPECT_EQ(run.process.err, c.err);
    EXPECT_FALSE(Opened(dir, 2));
    EXPECT_FALSE(Opened(dir, 3));
  }
}

// A file whose name begins with '-' is sent when given after "--"; words
// after FILE are ignored as they always were, options included.
TEST(CommandLineTest, FileNamedLikeAnOptionIsSentAfterDoubleDash) {
  TempDir dir;
  dir.Write("-x", "dash data");
  dir.Write("plain", "plain data");
  const struct {
    std::vector<std::string> args;
    std::string received;
  } cases[] = {
      {{"--", dir.PathOf("-x")}, "dash data"},
      {{"--", "-x"}, ""},  // relative, and not in the working directory: not found
      {{dir.PathOf("plain"), "-h", "--bogus"}, "plain data"},
  };
  for (const auto& c : cases) {
    DeviceRun run = RunOnDevice(dir, "vid=6742", c.args);
    if (c.received.empty()) {
      EXPECT_EQ(run.process.status, 1);
      EXPECT_EQ(run.process.out, "status:18\nCan not open file -x\n");
    } else {
      EXPECT_EQ(run.process.status, 0) << run.process.out;
      EXPECT_EQ(run.received, c.received);
    }
    EXPECT_EQ(run.process.err, "");
  }
}

}  // namespace
}  // namespace korvo::e2e
