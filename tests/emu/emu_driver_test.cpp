// Kernel drivers bound to the emulated interface as usbfs answers for them
// (GETDRIVER, DISCONNECT_CLAIM, USBDEVFS_IOCTL), usblp's lp node, and the
// driver line of the report.
#include <gtest/gtest.h>

#include "emu_run.h"

namespace {

using Strings = std::vector<std::string>;

// The client's output after "open OK", one step's line each.
std::string Answers(const Strings& lines) {
  std::string out = "open OK\n";
  for (const std::string& line : lines) out += line + "\n";
  return out;
}

struct DriverCase {
  std::string device;
  Strings steps;
  Strings lines;       // what the steps print
  std::string report;  // the report's driver line, "" for none
};

void Check(const DriverCase& c) {
  TempDir dir;
  const ProcessResult run = RunDevice(c.device, c.steps, {"--capture-dir", dir.Path(), "--report"});
  EXPECT_EQ(run.status, 0) << c.device;
  EXPECT_EQ(run.out, Answers(c.lines)) << c.device;
  EXPECT_EQ(run.err, c.report.empty() ? "" : "korvo-emu: 001/002 driver " + c.report + "\n")
      << c.device;
}

TEST(EmuDriver, UsbfsAnswersAsTheKernelDoes) {
  const DriverCase cases[] = {
      // No kernel driver: nothing to detach, CONNECT finds no driver (0).
      {"vid=6742",
       {"raw-getdriver", "raw-disconnect", "raw-connect", "driver", "udev-driver", "claim",
        "raw-getdriver", "udev-driver", "release", "udev-driver"},
       {"raw-getdriver ENODATA", "raw-disconnect ENODATA", "raw-connect 0", "driver 0",
        "udev-driver none", "claim OK", "raw-getdriver usbfs", "udev-driver usbfs",
        "release OK", "udev-driver none"},
       ""},
      // Another driver keeps the interface: no claim, no transfer reaches the device.
      {"vid=0781,pid=5567,class=8,driver=usb-storage",
       {"raw-getdriver", "driver", "claim", "status", "write=10", "raw-status",
        "raw-disconnect-claim=if:usblp", "raw-disconnect-claim=except:usb-storage",
        "raw-connect", "raw-getdriver"},
       {"raw-getdriver usb-storage", "driver 1", "claim LIBUSB_ERROR_BUSY",
        "status LIBUSB_ERROR_IO", "write LIBUSB_ERROR_IO 0", "raw-status EBUSY",
        "raw-disconnect-claim EBUSY", "raw-disconnect-claim EBUSY", "raw-connect EBUSY",
        "raw-getdriver usb-storage"},
       "usb-storage"},
      // IF_DRIVER naming the bound driver detaches it and claims in one step; the
      // claim is usbfs's until released, and only CONNECT rebinds.
      {"vid=6742,driver=usblp",
       {"udev-driver", "raw-disconnect-claim=if:usblp", "raw-getdriver", "udev-driver", "claim",
        "raw-connect", "raw-disconnect-claim=if:usblp", "raw-release", "raw-getdriver",
        "udev-driver", "raw-connect", "raw-getdriver", "udev-driver", "raw-connect"},
       {"udev-driver usblp", "raw-disconnect-claim OK", "raw-getdriver usbfs",
        "udev-driver usbfs", "claim LIBUSB_ERROR_BUSY", "raw-connect EBUSY",
        "raw-disconnect-claim EBUSY", "raw-release OK", "raw-getdriver ENODATA",
        "udev-driver none", "raw-connect 1", "raw-getdriver usblp", "udev-driver usblp",
        "raw-connect EBUSY"},
       "usblp"},
      // EXCEPT_DRIVER and no flags at all take any other driver.
      {"vid=6742,class=255,driver=vendor_drv",
       {"raw-disconnect-claim=except:usblp", "raw-getdriver"},
       {"raw-disconnect-claim OK", "raw-getdriver usbfs"},
       "none"},
      {"vid=6742,class=3,driver=usbhid", {"raw-disconnect-claim", "raw-getdriver"},
       {"raw-disconnect-claim OK", "raw-getdriver usbfs"}, "none"},
      // USBDEVFS_DISCONNECT on the program's own claim ends it.
      {"vid=6742,driver=usblp",
       {"raw-disconnect", "raw-disconnect", "raw-disconnect-claim", "raw-disconnect",
        "raw-getdriver", "raw-release"},
       {"raw-disconnect 0", "raw-disconnect ENODATA", "raw-disconnect-claim OK",
        "raw-disconnect 0", "raw-getdriver ENODATA", "raw-release EINVAL"},
       "none"},
      // libusb's own calls: detach, claim, release, attach.
      {"vid=6742,driver=usblp",
       {"driver", "detach", "driver", "claim", "attach", "release", "attach", "driver",
        "detach", "detach"},
       {"driver 1", "detach OK", "driver 0", "claim OK", "attach LIBUSB_ERROR_BUSY",
        "release OK", "attach OK", "driver 1", "detach OK", "detach LIBUSB_ERROR_NOT_FOUND"},
       "none"},
  };
  for (const DriverCase& c : cases) Check(c);
}

TEST(EmuDriver, ClosingTheFileEndsTheClaimButDoesNotRebind) {
  const std::string client = std::string(EMU_CLIENT_PATH) + " 1 2 ";
  const ProcessResult run = RunEmu(
      {"--device", "vid=6742,driver=usblp", "--report"},
      {"/bin/sh", "-c",
       client + "raw-disconnect-claim=if:usblp; " + client +
           "raw-getdriver udev-driver lp-open claim"});
  EXPECT_EQ(run.out, "open OK\nraw-disconnect-claim OK\nopen OK\nraw-getdriver ENODATA\n"
                     "udev-driver none\nlp-open none\nclaim OK\n");
  EXPECT_EQ(run.err, "korvo-emu: 001/002 driver none\n");
}

TEST(EmuDriver, DataFlowsOnceTheDriverIsDetachedAndBothReportLinesAppear) {
  const DriverCase cases[] = {
      // As korvo-test does it: hold the lp node, detach and claim on one file.
      {"vid=6742,driver=usblp",
       {"lp-open", "raw-disconnect-claim=if:usblp", "raw-write=10", "raw-release",
        "raw-connect"},
       {"lp-open /dev/usb/lp0 OK", "raw-disconnect-claim OK", "raw-write OK 10",
        "raw-release OK", "raw-connect 1"},
       "usblp"},
      // libusb's way: detach, claim, write, release, attach.
      {"vid=6742,driver=usblp", {"detach", "claim", "write=10", "release", "attach"},
       {"detach OK", "claim OK", "write OK 10", "release OK", "attach OK"}, "usblp"},
      // Unplugged: no driver is left, and none can bind.
      {"vid=6742,driver=usblp,vanish-after=10", {"detach", "claim", "write=10", "udev-driver",
                                                 "attach"},
       {"detach OK", "claim OK", "write OK 10", "udev-driver none",
        "attach LIBUSB_ERROR_NO_DEVICE"},
       "none"},
  };
  for (const DriverCase& c : cases) {
    TempDir dir;
    const ProcessResult run = RunDevice(c.device, c.steps, {"--capture-dir", dir.Path(), "--report"});
    EXPECT_EQ(run.out, Answers(c.lines));
    const Strings lines = Lines(run.err);
    ASSERT_EQ(lines.size(), 2u) << run.err;
    EXPECT_EQ(lines[0].rfind("korvo-emu: 001/002 received 10 bytes, sha256 ", 0), 0u) << lines[0];
    EXPECT_EQ(lines[1], "korvo-emu: 001/002 driver " + c.report);
    EXPECT_EQ(ReadWhole(dir.PathOf("001-002.bin")).size(), 10u);
  }
}

TEST(EmuLpNode, OneOpenFileAtATimeWhileUsblpIsBound) {
  const DriverCase cases[] = {
      {"vid=6742,driver=usblp",
       {"lp-open", "lp-open", "lp-close", "lp-open"},
       {"lp-open /dev/usb/lp0 OK", "lp-open /dev/usb/lp0 EBUSY", "lp-open /dev/usb/lp0 OK"},
       "usblp"},
      // Another program has it open.
      {"vid=6742,driver=usblp,lp-busy", {"lp-open", "lp-open"},
       {"lp-open /dev/usb/lp0 EBUSY", "lp-open /dev/usb/lp0 EBUSY"}, "usblp"},
      // Unbound, usblp's node is gone; bound again, it is back and unused, even
      // though the old one is still open, here or elsewhere.
      {"vid=6742,driver=usblp",
       {"lp-open", "detach", "lp-open", "attach", "lp-open", "lp-open"},
       {"lp-open /dev/usb/lp0 OK", "detach OK", "lp-open none", "attach OK",
        "lp-open /dev/usb/lp0 OK", "lp-open /dev/usb/lp0 EBUSY"},
       "usblp"},
      {"vid=6742,driver=usblp,lp-busy", {"detach", "attach", "lp-open"},
       {"detach OK", "attach OK", "lp-open /dev/usb/lp0 OK"}, "usblp"},
      {"vid=6742,driver=usblp,vanish-after=0", {"lp-open", "raw-getdriver", "udev-driver"},
       {"lp-open none", "raw-getdriver ENODEV", "udev-driver none"}, "none"},
      // Only usblp has a node.
      {"vid=6742", {"lp-open"}, {"lp-open none"}, ""},
      {"vid=6742,driver=usb-storage", {"lp-open"}, {"lp-open none"}, "usb-storage"},
  };
  for (const DriverCase& c : cases) Check(c);
}

TEST(EmuLpNode, NumberedInOrderWithTheirUsbmiscDevices) {
  const std::string client = EMU_CLIENT_PATH;
  const ProcessResult run = RunEmu(
      {"--device", "vid=6742,driver=usblp", "--device", "vid=6742", "--device",
       "vid=6742,bus=2,driver=usblp,nonode"},
      {"/bin/sh", "-c",
       client + " 1 3 lp-open; " + client + " 1 2 lp-open; "
       "cat /sys/class/usbmisc/lp1/uevent; readlink /sys/class/usbmisc/lp0; "
       "stat -c '%F %t:%T' /dev/usb/lp1"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(Lines(run.out),
            (Strings{"open OK", "lp-open none", "open OK", "lp-open /dev/usb/lp0 OK",
                     "MAJOR=180", "MINOR=1", "DEVNAME=usb/lp1",
                     "../../devices/pci0000:00/0000:00:00.0/usb1/1-1/1-1:1.0/usbmisc/lp0",
                     "character special file b4:1"}));
}

TEST(EmuLpNode, OnlyUsblpRunsGetTheOpenWrapper) {
  const std::string show = "echo \"$LD_PRELOAD\"";
  ProcessResult run = RunEmu({"--device", "vid=6742,driver=usb-storage"}, {"/bin/sh", "-c", show});
  EXPECT_NE(run.out.find(":libumockdev-preload.so.0\n"), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("korvo-emu-lp-preload"), std::string::npos) << run.out;
  run = RunEmu({"--device", "vid=6742,driver=usblp"}, {"/bin/sh", "-c", show});
  EXPECT_NE(run.out.find(":libumockdev-preload.so.0\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("korvo-emu-lp-preload"), std::string::npos) << run.out;
}

}  // namespace
