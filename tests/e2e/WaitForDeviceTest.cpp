// --wait on korvo-emu: devices plugged in and unplugged during the run reach
// the real udev monitor as udevd's uevents; the run goes on once a device
// the selectors name has settled, or ends after the limit or on a signal.
#include <glob.h>
#include <signal.h>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "EmulatedRun.h"

namespace korvo::e2e {
namespace {

TEST(WaitForDeviceTest, ADevicePluggedInDuringTheWaitIsTestedAsUsual) {
  TempDir dir;
  const std::string content = Pattern(20000);
  const std::string file = dir.Write("data.bin", content);
  const struct {
    const char* name;
    std::vector<std::string> devices;
    std::vector<std::string> args;
    std::string out;
    std::string err;
    int address;         // the device that receives the file, 0 for none
    std::string driver;  // the first device's at the end
  } cases[] = {
      // Nothing but the device's own plug needs to happen: a wait for one
      // would last until the test gives up.
      {"present before: no wait", {"vid=6742,product=K1"}, {"--wait", file}, "status:18\n", "", 2, ""},
      {"plugged in during the wait", {"vid=6742,product=K1,plug-after=300"}, {"-w", file},
       "status:18\n", "", 2, ""},
      {"plugged in within the limit", {"vid=6742,product=K1,plug-after=300"}, {"--wait=60", file},
       "status:18\n", "", 2, ""},
      {"another device first, then the one asked for",
       {"vid=1111,product=Other,plug-after=200", "vid=6742,product=K1,plug-after=800"},
       {"--wait", "-d", "6742", file}, "status:18\n", "", 3, ""},
      {"one unplugged, then the one asked for in its place",
       {"vid=6742,serial=A,unplug-after=300", "vid=6742,serial=B,in-turn,plug-after=300"},
       {"--wait", "--serial", "B", file}, "status:18\n", "", 3, ""},
      // usblp binds a second after the plug: the run takes the printer from
      // usblp (the detach shows it was bound) and gives it back.
      {"a printer: opened once usblp bound",
       {"vid=6742,product=K1,driver=usblp,plug-after=1000,probe-delay=1000,detach-delay=1"},
       {"--wait", file}, "status:18\n", "korvo-emu: 001/002 detaching usblp\n", 2, "usblp"},
      {"-l waits, then lists", {"vid=6742,product=K1,plug-after=300"}, {"-l", "--wait"},
       "  * 1  Bus 001 Device 002  ID 6742:0001  K1\n", "", 0, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DeviceRun run = RunOnDevices(dir, c.devices, c.args);
    EXPECT_EQ(run.process.status, 0);
    EXPECT_EQ(run.process.out, c.out);
    EXPECT_EQ(run.process.err, c.err);
    EXPECT_EQ(run.driver, c.driver);
    for (int address = 2; address < 2 + static_cast<int>(c.devices.size()); ++address) {
      EXPECT_TRUE(ReceivedAt(dir, address) == (address == c.address ? content : ""))
          << "device " << address << " received " << ReceivedAt(dir, address).size() << " bytes";
    }
  }
}

TEST(WaitForDeviceTest, AWaitWithALimitEndsWithOneWhenNoDeviceCame) {
  TempDir dir;
  const std::string file = dir.Write("data.bin", Pattern(1000));
  const struct {
    const char* name;
    std::vector<std::string> devices;
    std::vector<std::string> args;
  } cases[] = {
      {"none at all", {}, {"--wait=1", file}},
      {"only one not asked for", {"vid=6742,serial=K1,plug-after=200"}, {"--wait=1", "--serial", "K2", file}},
      {"too late", {"vid=6742,plug-after=3000"}, {"--wait=1", file}},
      {"-l", {}, {"-l", "--wait=1"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DeviceRun run = RunOnDevices(dir, c.devices, c.args);
    EXPECT_EQ(run.process.status, 1);
    EXPECT_EQ(run.process.out, "");
    EXPECT_EQ(run.process.err, "No KORVO devices appeared within 1 s\n");
    EXPECT_FALSE(Opened(dir, 2));
  }
}

// What a loop over units waits on: each plug and each unplug, once, and the
// limit at the end.
TEST(WaitForDeviceTest, TheMonitorTellsEachPlugAndEachUnplug) {
  TempDir dir;
  DeviceRun run = Collect(dir, test::RunProcess(EmuCommand(
                                   dir,
                                   {"vid=6742,plug-after=1000,unplug-after=300",
                                    "vid=6742,driver=usblp,in-turn,plug-after=300,probe-delay=200,unplug-after=300",
                                    "vid=1111"},
                                   {KORVO_WATCH_PROBE, "5", "4"})));
  EXPECT_EQ(run.process.status, 0) << run.process.err;
  EXPECT_EQ(run.process.out, "added\nremoved\nadded\nremoved\ntimed-out\n");
  EXPECT_EQ(run.process.err, "");
}

// Without a limit, the operator ends the wait: exit status 1, no message;
// and the station, which then counts what it tested.
TEST(WaitForDeviceTest, SigintOrSigtermEndsAWaitWithOne) {
  TempDir dir;
  const std::string file = dir.Write("data.bin", Pattern(1000));
  const struct {
    const char* option;
    int signal;
    int status;
    const char* err;
  } cases[] = {
      {"--wait", SIGINT, 1, ""},
      {"--wait", SIGTERM, 1, ""},
      // A station stopped before any unit came has nothing against it.
      {"--each", SIGINT, 0, "korvo-test: 0 of 0 devices passed\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.option) + " " + strsignal(c.signal));
    test::Process emu;
    ASSERT_TRUE(emu.Start(EmuCommand(dir, {}, {KORVO_TEST_BINARY, c.option, file})));
    ASSERT_TRUE(WaitUntil([&] { return Listening(emu); }));
    kill(ChildOf(static_cast<pid_t>(emu.Id())), c.signal);
    ASSERT_TRUE(emu.Wait(60000));
    EXPECT_EQ(emu.Status(), c.status);
    EXPECT_EQ(emu.Out(), "");
    EXPECT_EQ(emu.Err(), c.err);
  }
}

}  // namespace
}  // namespace korvo::e2e
