// What the Linux channel does with the kernel driver bound to the device's
// interface: it takes the interface from usblp only while it holds usblp's
// node, gives usblp back however the run ends, and leaves every other driver
// alone. korvo-emu binds the drivers and reports the one bound at the end.
#include <gtest/gtest.h>

#include "EmulatedRun.h"

namespace korvo::e2e {
namespace {

const std::string kPrinter = "vid=6742,product=KORVO%20K1,driver=usblp";

TEST(KernelDriverTest, OnlyUsblpIsMovedAsideAndItIsAlwaysGivenBack) {
  TempDir dir;
  const std::string content = Pattern(100000);
  const std::string file = dir.Write("data.bin", content);
  const std::string missing = dir.PathOf("missing.bin");
  const struct {
    const char* name;
    std::string device;
    std::string file;
    int status;
    std::string out;
    std::string err;
    bool sent;
    const char* driver;  // bound at the end
  } cases[] = {
      {"usblp idle: the file arrives", kPrinter, file, 0, "status:18\n", "", true, "usblp"},
      {"usblp's node in use: refused", kPrinter + ",lp-busy", file, 1, "",
       "Unable to open KORVO K1\n", false, "usblp"},
      {"usblp, file missing", kPrinter, missing, 1, "status:18\nCan not open file " + missing + "\n",
       "", false, "usblp"},
      {"usblp, file unreadable", kPrinter, "/proc/self/status", 1,
       "status:18\nCan not read file /proc/self/status\n", "", false, "usblp"},
      {"usb-storage: refused", "vid=0781,pid=5567,class=8,product=Cruzer,driver=usb-storage", file,
       1, "", "Unable to open Cruzer\n", false, "usb-storage"},
      {"a network driver: refused", "vid=0bda,pid=8153,class=255,product=NIC,driver=cdc_ether",
       file, 1, "", "Unable to open NIC\n", false, "cdc_ether"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DeviceRun run = RunOnDevice(dir, c.device, {c.file});
    EXPECT_EQ(run.process.status, c.status);
    EXPECT_EQ(run.process.out, c.out);
    EXPECT_EQ(run.process.err, c.err);
    EXPECT_EQ(run.driver, c.driver);
    if (c.sent) {
      EXPECT_TRUE(run.received == content);
    } else {
      EXPECT_EQ(run.report, "") << "the device received data";
    }
  }
}

}  // namespace
}  // namespace korvo::e2e
