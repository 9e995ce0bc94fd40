// The device channel and the file transfer through the real Linux layer
// (libusb on usbfs), on devices emulated by korvo-emu: every way a run on a
// present KORVO device can end.
#include <sys/file.h>
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "EmulatedRun.h"

namespace korvo::e2e {
namespace {

const std::string kKorvo = "vid=6742,pid=0001,product=KORVO%20K1";

std::string Sha256Of(const std::string& path) {
  test::ProcessResult r = test::RunProcess({"/usr/bin/sha256sum", "-b", path});
  return r.out.substr(0, 64);
}

std::string ReportFor(const std::string& content, const std::string& path) {
  return "korvo-emu: 001/002 received " + std::to_string(content.size()) + " bytes, sha256 " +
         Sha256Of(path) + "\n";
}

TEST(DeviceIoTest, StatusLineShowsTheStatusByteAndTheFileArrivesWhole) {
  TempDir dir;
  std::string content = Pattern(3 * 1024 + 5);
  std::string file = dir.Write("data.bin", content);

  DeviceRun run = RunOnDevice(dir, kKorvo + ",status=98", {file});

  EXPECT_EQ(run.process.status, 0);
  EXPECT_EQ(run.process.out, "status:98\n");  // the monitor's trace stays off stdout...
  EXPECT_EQ(run.process.err, "");             // ...and stderr
  EXPECT_EQ(run.received, content);
  EXPECT_EQ(run.report, ReportFor(content, file));
}

TEST(DeviceIoTest, StatusZeroAndAnEmptyReplyBothShowZero) {
  TempDir dir;
  std::string file = dir.Write("data.bin", "abc");
  for (const char* status : {"status=00", "status-empty"}) {
    SCOPED_TRACE(status);
    DeviceRun run = RunOnDevice(dir, kKorvo + "," + status, {file});
    EXPECT_EQ(run.process.status, 0);
    EXPECT_EQ(run.process.out, "status:00\n");
    EXPECT_EQ(run.received, "abc");
  }
}

TEST(DeviceIoTest, StalledStatusRequestShowsEpipeAndTheTransferStillCompletes) {
  TempDir dir;
  std::string content = Pattern(10000);
  std::string file = dir.Write("data.bin", content);

  DeviceRun run = RunOnDevice(dir, kKorvo + ",stall-status", {file});

  EXPECT_EQ(run.process.status, 0);
  EXPECT_EQ(run.process.out, "Error code Status:32\n");
  EXPECT_EQ(run.process.err, "");
  EXPECT_EQ(run.received, content);
}

// The description is the device's own text: control characters in it are
// escaped, so that it can neither drive the terminal nor forge a line.
TEST(DeviceIoTest, DeviceHeldElsewhereCannotBeOpenedAndTheDescriptionIsNamed) {
  const struct {
    const char* product;
    const char* shown;
  } cases[] = {
      {"KORVO%20K1", "KORVO K1"},
      {"K1%1B[2J%0Dstatus:00%07%7F", "K1\\x1b[2J\\x0dstatus:00\\x07\\x7f"},
      {"Caf%C3%A9%20%E2%84%A2", "Caf\xc3\xa9 \xe2\x84\xa2"},
  };
  TempDir dir;
  std::string file = dir.Write("data.bin", "abc");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.product);
    DeviceRun run = RunOnDevice(dir, std::string("vid=6742,busy,product=") + c.product, {file});
    EXPECT_EQ(run.process.status, 1);
    EXPECT_EQ(run.process.err, std::string("Unable to open ") + c.shown + "\n");
    EXPECT_EQ(run.process.out, "");
    EXPECT_EQ(run.received, "");
    EXPECT_EQ(run.report, "");
  }
}

TEST(DeviceIoTest, EmptyFileSendsNothingAndSucceeds) {
  TempDir dir;
  DeviceRun run = RunOnDevice(dir, kKorvo, {dir.Write("empty.bin", "")});
  EXPECT_EQ(run.process.status, 0);
  EXPECT_EQ(run.process.out, "status:18\n");
  EXPECT_TRUE(run.captured);
  EXPECT_EQ(run.received, "");
}

// usbfs takes at most 16 MiB in one transfer: the one write of the whole
// file must still reach the device whole and in order.
TEST(DeviceIoTest, FileOf64MiBArrivesByteExact) {
  TempDir dir;
  std::string content = Pattern(64u << 20);
  std::string file = dir.Write("big.bin", content);

  DeviceRun run = RunOnDevice(dir, kKorvo, {file});

  EXPECT_EQ(run.process.status, 0);
  EXPECT_EQ(run.process.out, "status:18\n");
  EXPECT_EQ(run.received.size(), content.size());
  EXPECT_TRUE(run.received == content);  // no 64 MiB diff in the log
  EXPECT_EQ(run.report, ReportFor(content, file));
}

// Without a printer interface the first interface with a bulk OUT endpoint
// takes the data.
TEST(DeviceIoTest, DeviceOfAnotherInterfaceClassTakesTheFileToo) {
  TempDir dir;
  DeviceRun run = RunOnDevice(dir, kKorvo + ",class=255", {dir.Write("data.bin", "vendor class")});
  EXPECT_EQ(run.process.status, 0);
  EXPECT_EQ(run.received, "vendor class");
}

TEST(DeviceIoTest, FileThatCannotBeOpenedEndsWithOneAfterTheStatusLine) {
  TempDir dir;
  std::string missing = dir.PathOf("missing.bin");
  std::string directory = dir.PathOf("a-directory");
  fs::create_directories(directory);

  for (const std::string& path : {missing, directory}) {
    SCOPED_TRACE(path);
    DeviceRun run = RunOnDevice(dir, kKorvo, {path});
    EXPECT_EQ(run.process.status, 1);
    EXPECT_EQ(run.process.out, "status:18\nCan not open file " + path + "\n");
    EXPECT_EQ(run.process.err, "");
    EXPECT_EQ(run.received, "");
    EXPECT_EQ(run.report, "");
  }
}

TEST(DeviceIoTest, FileLockedByAnotherProgramCannotBeOpened) {
  TempDir dir;
  std::string file = dir.Write("held.bin", "abc");
  int holder = open(file.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(flock(holder, LOCK_SH), 0);

  DeviceRun run = RunOnDevice(dir, kKorvo, {file});
  close(holder);

  EXPECT_EQ(run.process.status, 1);
  EXPECT_EQ(run.process.out, "status:18\nCan not open file " + file + "\n");
  EXPECT_EQ(run.received, "");
}

TEST(DeviceIoTest, NoArgumentNamesTheEmptyPath) {
  TempDir dir;
  DeviceRun run = RunOnDevice(dir, kKorvo, {});
  EXPECT_EQ(run.process.status, 1);
  EXPECT_EQ(run.process.out, "status:18\nCan not open file \n");
  EXPECT_EQ(run.received, "");
}

// A sysfs attribute measures 4096 bytes and holds fewer: the read ends
// before the measured size, as when a file shrinks after it was measured.
std::string ShrinkingAttribute() {
  for (const char* candidate : {"/sys/kernel/mm/transparent_hugepage/enabled",
                                "/sys/kernel/kexec_loaded", "/sys/power/state",
                                "/sys/kernel/profiling"}) {
    std::error_code error;
    uintmax_t measured = fs::file_size(candidate, error);
    if (!error && measured > ReadWhole(candidate).size()) return candidate;
  }
  return "";
}

// Files whose measured size is not their content are not sent: one that
// gives less (it shrank) and one that gives more (/proc measures 0, as does
// a file that grew). Links keep the emulator's private /sys out of the way.
TEST(DeviceIoTest, FileWhoseSizeIsNotItsContentIsNotSent) {
  TempDir dir;
  for (const std::string& target : {ShrinkingAttribute(), std::string("/proc/self/status")}) {
    if (target.empty()) continue;  // no such sysfs attribute here
    SCOPED_TRACE(target);
    std::string link = dir.PathOf("pseudo.bin");
    fs::remove(link);
    fs::create_symlink(target, link);

    DeviceRun run = RunOnDevice(dir, kKorvo, {link});

    EXPECT_EQ(run.process.status, 1);
    EXPECT_EQ(run.process.out, "status:18\nCan not read file " + link + "\n");
    EXPECT_EQ(run.received, "");
    EXPECT_EQ(run.report, "");
  }
}

// `korvo-test FILE | true`: nobody reads the status line, yet the file is
// sent and the exit status is the table's, not death by SIGPIPE.
TEST(DeviceIoTest, StdoutThatNobodyReadsDoesNotStopTheTransfer) {
  TempDir dir;
  std::string content = Pattern(100000);
  std::string file = dir.Write("data.bin", content);

  DeviceRun run = RunOnDevice(dir, kKorvo, {file}, test::Stdout::ReaderGone);

  EXPECT_EQ(run.process.status, 0) << run.process.err;
  EXPECT_TRUE(run.received == content);
}

TEST(DeviceIoTest, DeviceVanishingMidTransferIsAFailedWrite) {
  TempDir dir;
  std::string content = Pattern(3u << 20);
  std::string file = dir.Write("data.bin", content);

  DeviceRun run = RunOnDevice(dir, kKorvo + ",vanish-after=1500000", {file});

  EXPECT_EQ(run.process.status, 1);
  EXPECT_EQ(run.process.out, "status:18\nError code Write:19\n");
  EXPECT_EQ(run.process.err, "");
  EXPECT_EQ(run.received.size(), 1500000u);
  EXPECT_TRUE(run.received == content.substr(0, 1500000));
}

}  // namespace
}  // namespace korvo::e2e
