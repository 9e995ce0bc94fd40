// Devices plugged in and unplugged while the command runs: what a libudev
// monitor in the command gets (the kernel's uevents, in the kernel's order),
// and what sysfs, /dev and usbfs show before, between and after.
#include <gtest/gtest.h>

#include "emu_run.h"

namespace {

using Strings = std::vector<std::string>;

const std::string kClient = EMU_CLIENT_PATH;

// Shell: waits until the monitor's report holds `text`.
std::string UntilReported(const std::string& text) {
  return "until grep -qs '" + text + "' monitor.out; do sleep 0.01; done; ";
}

// Shell: starts `emu-client monitor COUNT` in the background and goes on once
// its monitor listens; `wait` then lets it finish its report.
std::string MonitorInBackground(int count) {
  return kClient + " monitor " + std::to_string(count) + " > monitor.out & " + UntilReported("monitoring");
}

TEST(EmuHotplug, UnitsComeAndGoInTurnWithTheKernelsUeventsAndFreshAddresses) {
  TempDir dir;
  const ProcessResult run = RunEmu(
      {"--device", "vid=6742,serial=A,driver=usblp,plug-after=1000,unplug-after=300",
       "--device", "vid=6742,serial=B,in-turn,plug-after=100", "--device", "vid=1111"},
      {"/bin/sh", "-c",
       "cd " + dir.Path() + " || exit; " + MonitorInBackground(11) +
           "ls /dev/bus/usb/001; wait; cat monitor.out; " + kClient + " list; ls /dev/bus/usb/001"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  // The device there from the start has the first address; each unit plugged
  // in later the next one, never one used before.
  EXPECT_EQ(Lines(run.out),
            (Strings{
                "002",  // the vid=1111 device alone, before the plugs
                "monitoring",
                "add usb_device 1-2 devnum 003",
                "add usb_interface 1-2:1.0",
                "bind usb_interface 1-2:1.0 driver usblp",
                "bind usb_device 1-2 devnum 003 driver usb",
                "unbind usb_interface 1-2:1.0",
                "remove usb_interface 1-2:1.0",
                "unbind usb_device 1-2 devnum 003",
                "remove usb_device 1-2 devnum 003",
                "add usb_device 1-3 devnum 004",
                "add usb_interface 1-3:1.0",
                "bind usb_device 1-3 devnum 004 driver usb",
                // In the order of the devices given, as always.
                "1-3 type=usb_device node=/dev/bus/usb/001/004 init=0 idVendor=6742 idProduct=0001 "
                "busnum=1 devnum=4 PRODUCT=6742/1/100",
                "1-3:1.0 type=usb_interface init=0 bInterfaceClass=07 PRODUCT=6742/1/100",
                "1-1 type=usb_device node=/dev/bus/usb/001/002 init=0 idVendor=1111 idProduct=0001 "
                "busnum=1 devnum=2 PRODUCT=1111/1/100",
                "1-1:1.0 type=usb_interface init=0 bInterfaceClass=07 PRODUCT=1111/1/100",
                "002",
                "004",
            }));
}

// The device that takes vanish-after's bytes is unplugged: the transfer
// fails, and the device leaves sysfs and /dev with its uevents.
TEST(EmuHotplug, VanishAfterUnplugsTheDevice) {
  TempDir dir;
  const ProcessResult run =
      RunEmu({"--device", "vid=6742,vanish-after=10"},
             {"/bin/sh", "-c",
              "cd " + dir.Path() + " || exit; " + MonitorInBackground(3) + kClient +
                  " 1 2 write=20; wait; cat monitor.out; " + kClient + " list; ls /dev/bus/usb"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(Lines(run.out), (Strings{"open OK", "write LIBUSB_ERROR_NO_DEVICE 10", "monitoring",
                                     "remove usb_interface 1-1:1.0",
                                     "unbind usb_device 1-1 devnum 002",
                                     "remove usb_device 1-1 devnum 002", "001"}));
}

// The interface's driver binds once the probe delay is over, not at the
// plug: a program that claims the interface before keeps it, and the
// driver stays unbound, as in the kernel.
TEST(EmuHotplug, TheDriverBindsAfterTheProbeDelayUnlessTheInterfaceWasTaken) {
  const std::string printer = "vid=6742,driver=usblp,plug-after=1000,probe-delay=1000";
  const struct {
    const char* name;
    int uevents;
    const char* steps;
    Strings out;
    std::string driver;
  } cases[] = {
      {"looked at between the add and the bind", 4, "udev-driver lp-open",
       {"open OK", "udev-driver none", "lp-open none"}, "usblp"},
      // The claim lasts until after the bind.
      {"claimed between the add and the bind", 3, "claim sleep=2000", {"open OK", "claim OK"}, "none"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const ProcessResult run = RunEmu(
        {"--device", printer, "--report"},
        {"/bin/sh", "-c",
         "cd " + dir.Path() + " || exit; " + MonitorInBackground(c.uevents) +
             UntilReported("add usb_interface") + kClient + " 1 2 " + c.steps +
             "; wait; tail -n 1 monitor.out; " + kClient + " 1 2 udev-driver"});
    EXPECT_EQ(run.status, 0) << run.err;
    Strings expected = c.out;
    expected.insert(expected.end(),
                    {"bind usb_device 1-1 devnum 002 driver usb", "open OK", "udev-driver " + c.driver});
    EXPECT_EQ(Lines(run.out), expected);
    EXPECT_EQ(run.err, "korvo-emu: 001/002 driver " + c.driver + "\n");
  }
}

}  // namespace
