// Discovery and the automatic choice through the real Linux layer, on
// devices emulated by korvo-emu.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "support/Process.h"

namespace korvo {
namespace {

using test::ProcessResult;
using test::RunProcess;

std::string ProbePath() {
  return (std::filesystem::path(KORVO_TEST_BINARY).parent_path() / "korvo-list-probe").string();
}

// Runs `command` under korvo-emu with the given devices.
ProcessResult UnderEmulator(const std::vector<std::string>& devices,
                            const std::vector<std::string>& command) {
  std::vector<std::string> argv = {KORVO_EMU_BINARY};
  for (const std::string& deviceOptions : devices) {
    argv.push_back("--device");
    argv.push_back(deviceOptions);
  }
  argv.push_back("--");
  argv.insert(argv.end(), command.begin(), command.end());
  return RunProcess(argv);
}

struct Listed {
  std::vector<std::string> paths;
  std::vector<std::string> descriptions;
  std::string choice;
};

Listed ListDevices(const std::vector<std::string>& devices) {
  ProcessResult r = UnderEmulator(devices, {ProbePath()});
  EXPECT_EQ(r.status, 0) << r.err;
  Listed listed;
  std::istringstream lines(r.out);
  std::string line;
  while (std::getline(lines, line)) {
    size_t tab = line.find('\t');
    std::string head = line.substr(0, tab);
    std::string rest = line.substr(tab + 1);
    if (head == "choice") {
      listed.choice = rest;
      continue;
    }
    EXPECT_EQ(head, std::to_string(listed.paths.size())) << line;
    size_t second = rest.find('\t');
    listed.paths.push_back(rest.substr(0, second));
    listed.descriptions.push_back(rest.substr(second + 1));
  }
  return listed;
}

TEST(DiscoveryTest, PathCarriesNodeAndIdsInLowercaseHex) {
  Listed l = ListDevices({"vid=6742,pid=00AB,bus=3,dev=17,product=P"});
  ASSERT_EQ(l.paths.size(), 1u);
  EXPECT_EQ(l.paths[0], "/dev/bus/usb/003/017#vid_6742&pid_00ab");
  EXPECT_EQ(l.choice, "0");
}

TEST(DiscoveryTest, DescriptionsComeFromDeviceStringsThenDatabaseThenPath) {
  Listed l = ListDevices({
      "vid=1111,dev=2,manufacturer=ACME,product=Printer%2C Mk 2,vendor-db=Db Vendor,model-db=Db Model",
      "vid=1111,dev=3,product=Alone",
      "vid=1111,dev=4,manufacturer=Maker Only,vendor-db=Db Vendor,model-db=Db Model",
      "vid=1111,dev=5,model-db=Model Only",
      "vid=1111,dev=6,vendor-db=Vendor Only",
      "vid=1111,dev=7,product=255*x,model-db=unused",
      "vid=1111,dev=8,product=256*y,vendor-db=Db Vendor,model-db=Db Model",
      "vid=1111,dev=9,manufacturer=200*m,product=60*p,model-db=Fallback",
  });
  ASSERT_EQ(l.descriptions.size(), 8u);
  EXPECT_EQ(l.descriptions[0], "ACME Printer, Mk 2");
  EXPECT_EQ(l.descriptions[1], "Alone");
  EXPECT_EQ(l.descriptions[2], "Db Vendor Db Model");
  EXPECT_EQ(l.descriptions[3], "Model Only");
  EXPECT_EQ(l.descriptions[4], l.paths[4]);  // a vendor without a model is no name
  EXPECT_EQ(l.descriptions[5], std::string(255, 'x'));
  EXPECT_EQ(l.descriptions[6], "Db Vendor Db Model");
  EXPECT_EQ(l.descriptions[7], "Fallback");  // 200 + 1 + 60 bytes do not fit
}

TEST(DiscoveryTest, DevicesWithoutNodeAreLeftOutWithoutGap) {
  Listed l = ListDevices({"vid=1111,dev=2,product=A", "vid=6742,dev=3,product=Gone,nonode",
                          "vid=2222,dev=4,product=C"});
  ASSERT_EQ(l.descriptions.size(), 2u);
  EXPECT_EQ(l.descriptions[0], "A");
  EXPECT_EQ(l.descriptions[1], "C");
  EXPECT_EQ(l.choice, "none");  // the KORVO device without a node cannot be chosen
}

TEST(DiscoveryTest, ListFollowsSysfsOrderAndTheFirstKorvoDeviceIsChosen) {
  // The emulator lays the devices out in sysfs in the order given.
  Listed l = ListDevices({"vid=2222,bus=1,dev=9,product=Other",
                          "vid=6742,bus=2,dev=5,product=Korvo A",
                          "vid=6742,bus=1,dev=3,product=Korvo B",
                          "vid=1111,bus=1,dev=2,product=Last"});
  ASSERT_EQ(l.descriptions.size(), 4u);
  EXPECT_EQ(l.descriptions[0], "Other");
  EXPECT_EQ(l.descriptions[1], "Korvo A");
  EXPECT_EQ(l.descriptions[2], "Korvo B");
  EXPECT_EQ(l.descriptions[3], "Last");
  EXPECT_EQ(l.choice, "1");
}

TEST(DiscoveryTest, TheOnlyDeviceIsChosenWhateverItsVendor) {
  Listed l = ListDevices({"vid=04b8,product=Not a KORVO"});
  ASSERT_EQ(l.paths.size(), 1u);
  EXPECT_EQ(l.choice, "0");
}

TEST(DiscoveryTest, RootHubsAreNotDevicesToTest) {
  const std::string rootHub = "vid=1d6b,pid=0002,dev=1,roothub,product=EHCI Host Controller";
  Listed l = ListDevices({rootHub, "vid=04b8,dev=2,product=Attached"});
  ASSERT_EQ(l.descriptions.size(), 1u);
  EXPECT_EQ(l.descriptions[0], "Attached");
  EXPECT_EQ(l.choice, "0");

  // A machine with its buses but nothing attached has no device to test.
  ProcessResult r = UnderEmulator({rootHub, "vid=1d6b,pid=0003,bus=2,dev=1,roothub"},
                                  {KORVO_TEST_BINARY, "/nonexistent"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "No KORVO devices to test\n");
  EXPECT_EQ(r.out, "");
}

TEST(DiscoveryTest, ToolEndsAtOnceWithoutDevices) {
  ProcessResult r = UnderEmulator({}, {KORVO_TEST_BINARY, "/nonexistent"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "No KORVO devices to test\n");
  EXPECT_EQ(r.out, "");
}

}  // namespace
}  // namespace korvo
