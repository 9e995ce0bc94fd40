// What the Linux channel does with the kernel driver bound to the device's
// interface: it takes the interface from usblp only while it holds usblp's
// node, gives usblp back however the run ends, and leaves every other driver
// alone. korvo-emu binds the drivers and reports the one bound at the end.
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

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
    std::vector<std::string> options = {};
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
      // --timeout: a write that makes no progress for that long is given up.
      {"usblp, write held: timed out", kPrinter + ",hold-writes", file, 1,
       "status:18\nError code Write:110\n", "", false, "usblp", {"--timeout", "1"}},
      {"usblp, bytes before a pause are progress: the rest follows", kPrinter + ",pause-after=40000",
       file, 0, "status:18\n", "", true, "usblp", {"--timeout", "1"}},
      {"usblp, slower than the time-out yet going: the file arrives",
       kPrinter + ",bulk-rate=80000", file, 0, "status:18\n", "", true, "usblp", {"--timeout=1"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args = c.options;
    args.push_back(c.file);
    DeviceRun run = RunOnDevice(dir, c.device, args);
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

// A run ended from outside while the write goes on, by any signal that ends
// a process (SIGKILL included: the guardian covers it), ends with that
// signal's status and usblp bound, and leaves no process behind.
TEST(KernelDriverTest, UsblpIsGivenBackWhateverSignalEndsTheRun) {
  const rlimit noCore = {0, 0};  // QUIT, XCPU and XFSZ would leave one here
  setrlimit(RLIMIT_CORE, &noCore);
  TempDir dir;
  const std::string file = dir.Write("data.bin", Pattern(100000));
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM,
                     SIGPROF, SIGPWR, SIGXCPU, SIGXFSZ, SIGRTMIN, SIGKILL}) {
    SCOPED_TRACE(strsignal(signal));
    test::Process emu;
    ASSERT_TRUE(emu.Start(EmuCommand(dir, {kPrinter + ",hold-writes"}, {KORVO_TEST_BINARY, file})));
    ASSERT_TRUE(WaitUntil([&] { return emu.Out() == "status:18\n"; })) << emu.Err();
    const pid_t tool = ChildOf(static_cast<pid_t>(emu.Id()));
    const pid_t guardian = ChildOf(tool);
    kill(tool, signal);
    ASSERT_TRUE(emu.Wait(60000));
    DeviceRun run = Collect(dir, {true, emu.Status(), emu.Out(), emu.Err()});
    EXPECT_EQ(run.process.status, 128 + signal);
    EXPECT_EQ(run.process.err, "");
    EXPECT_EQ(run.driver, "usblp");
    EXPECT_GT(guardian, 0);
    EXPECT_TRUE(WaitUntil([&] { return !fs::exists("/proc/" + std::to_string(guardian)); }))
        << "the guardian outlived the run";
  }
}

// A signal that comes while usblp is being moved aside is taken once the
// give-back is ready, not in between.
TEST(KernelDriverTest, ASignalDuringTheDetachStillGivesUsblpBack) {
  TempDir dir;
  const std::string file = dir.Write("data.bin", Pattern(1000));
  test::Process emu;
  ASSERT_TRUE(emu.Start(EmuCommand(dir, {kPrinter + ",detach-delay=1000"}, {KORVO_TEST_BINARY, file})));
  const std::string detaching = "korvo-emu: 001/002 detaching usblp\n";
  ASSERT_TRUE(WaitUntil([&] { return emu.Err() == detaching; }));
  kill(ChildOf(static_cast<pid_t>(emu.Id())), SIGINT);
  ASSERT_TRUE(emu.Wait(60000));
  DeviceRun run = Collect(dir, {true, emu.Status(), emu.Out(), emu.Err()});
  EXPECT_EQ(run.process.status, 128 + SIGINT);
  EXPECT_EQ(run.process.err, detaching);
  EXPECT_EQ(run.driver, "usblp");
  EXPECT_EQ(run.report, "") << "the device received data";
}

// Three loops of runs on one printer: each run sends the whole file or is
// refused while another has the device, nothing interleaves, and usblp is
// bound at the end.
TEST(KernelDriverTest, OverlappingRunsEachSendTheWholeFileOrAreRefused) {
  TempDir dir;
  const std::string content = Pattern(20000);
  const std::string file = dir.Write("data.bin", content);
  const std::string statuses = dir.PathOf("statuses");
  const char* loops =
      "for l in 1 2 3; do (for i in $(seq 40); do \"$0\" \"$1\" >/dev/null 2>&1; "
      "echo $? >>\"$2\"; done) & done; wait";
  DeviceRun run = Collect(dir, test::RunProcess(EmuCommand(
                                   dir, {kPrinter}, {"/bin/sh", "-c", loops, KORVO_TEST_BINARY, file, statuses})));
  ASSERT_EQ(run.process.status, 0) << run.process.err;
  std::ifstream in(statuses);
  int runs = 0, sent = 0;
  for (int status; in >> status; ++runs) {
    EXPECT_TRUE(status == 0 || status == 1) << status;
    if (status == 0) ++sent;
  }
  EXPECT_EQ(runs, 120);
  EXPECT_GT(sent, 0);
  std::string expected;
  for (int i = 0; i < sent; ++i) expected += content;
  EXPECT_TRUE(run.received == expected) << run.received.size() << " bytes for " << sent << " runs";
  EXPECT_EQ(run.driver, "usblp");
}

// A file larger than the memory the process may have is refused before it is
// read, with usblp given back: never a kill by the out-of-memory killer.
// Here the limit is the address space's: umockdev shows the program a /sys of
// its own, without cgroups (the VM lane runs the same case in a memory cgroup).
TEST(KernelDriverTest, AFileLargerThanTheMemoryLimitCannotBeRead) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer cannot start within an address-space limit";
#endif
  TempDir dir;
  const std::string file = dir.Write("big.bin", "");
  fs::resize_file(file, uint64_t{1} << 30);  // sparse: no disk, and 1 GiB to read
  DeviceRun run = Collect(dir, test::RunProcess(EmuCommand(
                                   dir, {kPrinter}, {"/usr/bin/prlimit", "--as=268435456", KORVO_TEST_BINARY, file})));
  EXPECT_EQ(run.process.status, 1) << run.process.err;
  EXPECT_EQ(run.process.out, "status:18\nCan not read file " + file + "\n");
  EXPECT_EQ(run.driver, "usblp");
  EXPECT_EQ(run.report, "") << "the device received data";
}

}  // namespace
}  // namespace korvo::e2e
