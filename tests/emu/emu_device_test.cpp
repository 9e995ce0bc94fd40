// The device side of korvo-emu as a libusb program sees it: port status,
// claims, bulk OUT data, the failure modes, and the capture and report.
#include <glib.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "emu_run.h"

namespace {

using Strings = std::vector<std::string>;

std::string Sha256(const std::string& bytes) {
  gchar* hex = g_compute_checksum_for_data(
      G_CHECKSUM_SHA256, reinterpret_cast<const guchar*>(bytes.data()), bytes.size());
  std::string result = hex;
  g_free(hex);
  return result;
}

TEST(EmuStatus, TheDeviceAnswersAsConfigured) {
  struct Case {
    std::string deviceOptions;
    std::string line;
  };
  const Case cases[] = {
      {"vid=6742", "status 18"},
      {"vid=6742,status=98", "status 98"},
      {"vid=6742,status=0", "status 00"},
      {"vid=6742,status=ff,class=255", "status ff"},
      {"vid=6742,status=18,class=8", "status 18"},
      {"vid=6742,status-empty,class=8", "status empty"},
      // Not a printer: the class request stalls unless the device says otherwise.
      {"vid=6742,class=8", "status LIBUSB_ERROR_PIPE"},
      {"vid=6742,class=0", "status LIBUSB_ERROR_PIPE"},
      {"vid=6742,status-empty", "status empty"},
      {"vid=6742,stall-status", "status LIBUSB_ERROR_PIPE"},
      // The client's timeout is short; the device never answers.
      {"vid=6742,hang", "status LIBUSB_ERROR_TIMEOUT"},
  };
  for (const Case& c : cases) {
    const ProcessResult run = RunDevice(c.deviceOptions, {"claim", "status=200", "status=200"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "open OK\nclaim OK\n" + c.line + "\n" + c.line + "\n") << c.deviceOptions;
  }
}

TEST(EmuStatus, SynchronousControlRequestsAreAnsweredToo) {
  EXPECT_EQ(RunDevice("vid=6742,status=98", {"raw-status"}).out, "open OK\nraw-status 98\n");
  EXPECT_EQ(RunDevice("vid=6742,status-empty", {"raw-status"}).out, "open OK\nraw-status empty\n");
  EXPECT_EQ(RunDevice("vid=6742,stall-status", {"raw-status"}).out, "open OK\nraw-status EPIPE\n");
  EXPECT_EQ(RunDevice("vid=6742,hang", {"raw-status=200"}).out, "open OK\nraw-status ETIMEDOUT\n");
}

TEST(EmuStatus, RequestsFromASecondThreadDuringATransferAreAllAnswered) {
  const ProcessResult run = RunDevice("vid=6742,status=98",
                               {"claim", "status-thread=300", "write=4194304/65536", "join"});
  EXPECT_EQ(run.out, "open OK\nclaim OK\nwrite OK 4194304\njoin 300 answered 0 failed\n")
      << run.err;
}

TEST(EmuDescriptors, DeviceConfigurationAndStrings) {
  ProcessResult run = RunDevice("vid=6742,pid=0e28,manufacturer=Korvo%20GmbH,product=KORVO%20K1",
                         {"describe", "string=1", "string=2"});
  EXPECT_EQ(run.out,
            "open OK\ndescribe 6742:0e28 strings 1 2 class 07/01/02 endpoints 01/bulk 82/bulk\n"
            "string Korvo%20GmbH\nstring KORVO%20K1\n");
  run = RunDevice("vid=6742,class=255", {"describe", "string=1"});
  EXPECT_EQ(run.out,
            "open OK\ndescribe 6742:0001 strings 0 0 class ff/00/00 endpoints 01/bulk 82/bulk\n"
            "string LIBUSB_ERROR_PIPE\n");
}

TEST(EmuClaim, ClaimsAreExclusivePerOpenFile) {
  // The second open file (raw) uses the interface implicitly, as the kernel lets it.
  const ProcessResult run = RunDevice("vid=6742", {"claim", "raw-write=10", "release", "raw-write=10",
                                            "claim"});
  EXPECT_EQ(run.out,
            "open OK\nclaim OK\nraw-write EBUSY\nrelease OK\nraw-write OK 10\n"
            "claim LIBUSB_ERROR_BUSY\n");
}

TEST(EmuClaim, NoKernelDriverIsBoundAndUsbfsDoesNotCount) {
  const ProcessResult run = RunDevice("vid=6742", {"driver", "detach", "autodetach", "claim", "driver",
                                            "release", "claim", "raw-status"});
  EXPECT_EQ(run.out,
            "open OK\ndriver 0\ndetach LIBUSB_ERROR_NOT_FOUND\nautodetach OK\nclaim OK\n"
            "driver 0\nrelease OK\nclaim OK\nraw-status EBUSY\n");
}

TEST(EmuClaim, AClaimEndsWhenTheProgramCloses) {
  const std::string client = std::string(EMU_CLIENT_PATH) + " 1 2 claim";
  const ProcessResult run =
      RunEmu({"--device", "vid=6742"}, {"/bin/sh", "-c", client + "; " + client});
  EXPECT_EQ(run.out, "open OK\nclaim OK\nopen OK\nclaim OK\n") << run.err;
}

TEST(EmuClaim, ABusyDeviceRefusesItsInterface) {
  TempDir dir;
  const ProcessResult run = RunDevice("vid=6742,busy", {"claim", "autodetach", "claim", "status", "write=10"},
                               {"--capture-dir", dir.Path(), "--report"});
  // Requests to the interface fail in the kernel before reaching the device.
  EXPECT_EQ(run.out,
            "open OK\nclaim LIBUSB_ERROR_BUSY\nautodetach OK\nclaim LIBUSB_ERROR_BUSY\n"
            "status LIBUSB_ERROR_IO\nwrite LIBUSB_ERROR_IO 0\n");
  EXPECT_EQ(ReadWhole(dir.PathOf("001-002.bin")), "");
  EXPECT_EQ(run.err, "");
  // The other program holds it through usbfs, which libusb will not detach.
  EXPECT_EQ(RunDevice("vid=6742,busy", {"driver", "detach", "raw-write=1", "udev-driver"}).out,
            "open OK\ndriver 0\ndetach LIBUSB_ERROR_NOT_FOUND\nraw-write EBUSY\n"
            "udev-driver usbfs\n");
}

TEST(EmuWrap, LibusbWithoutSysfsLearnsTheDeviceFromTheNode) {
  // Speed (GET_SPEED), address (CONNECTINFO) and the configuration (a synchronous
  // GET_CONFIGURATION) all come from the node.
  const ProcessResult run = RunDevice("vid=6742,status=98", {"wrap", "raw-status"});
  EXPECT_EQ(run.out, "open OK\nwrap OK speed 3 address 2 configuration 1\nraw-status 98\n")
      << run.err;
}

TEST(EmuBulk, BytesLandInTheCaptureFileExactly) {
  TempDir dir;
  const ProcessResult run = RunDevice("vid=6742", {"claim", "write=100000/4096", "write=0", "write=777"},
                               {"--capture-dir", dir.Path()});
  EXPECT_EQ(run.out, "open OK\nclaim OK\nwrite OK 100000\nwrite OK 0\nwrite OK 777\n");
  EXPECT_EQ(ReadWhole(dir.PathOf("001-002.bin")), Pattern(100000) + Pattern(777));
}

TEST(EmuBulk, CaptureFilesAppearWhenTheDeviceIsOpened) {
  TempDir dir;
  const ProcessResult run = RunEmu(
      {"--capture-dir", dir.PathOf("new/sub"), "--device", "vid=6742", "--device", "vid=6742",
       "--device", "vid=6742,dev=9", "--report"},
      {"/bin/sh", "-c",
       std::string(EMU_CLIENT_PATH) + " 1 2 write=0; " + EMU_CLIENT_PATH + " 1 3 claim"});
  EXPECT_EQ(run.out, "open OK\nwrite OK 0\nopen OK\nclaim OK\n");
  EXPECT_TRUE(std::filesystem::exists(dir.PathOf("new/sub/001-002.bin")));
  EXPECT_EQ(ReadWhole(dir.PathOf("new/sub/001-002.bin")), "");
  EXPECT_TRUE(std::filesystem::exists(dir.PathOf("new/sub/001-003.bin")));  // opened, never written
  EXPECT_FALSE(std::filesystem::exists(dir.PathOf("new/sub/001-009.bin")));  // never opened
  // An empty transfer is a write; a device only opened is not.
  EXPECT_EQ(run.err, "korvo-emu: 001/002 received 0 bytes, sha256 " + Sha256("") + "\n");
}

TEST(EmuBulk, AnOldCaptureIsReplacedNotExtended) {
  TempDir dir;
  dir.Write("001-002.bin", "stale bytes from an earlier run");
  RunDevice("vid=6742", {"write=10"}, {"--capture-dir", dir.Path()});
  EXPECT_EQ(ReadWhole(dir.PathOf("001-002.bin")), Pattern(10));
}

TEST(EmuBulk, TransfersOver16MiBFailLikeTheKernelsUsbfsLimit) {
  TempDir dir;
  const std::size_t mib = 1024 * 1024;
  const ProcessResult run = RunDevice(
      "vid=6742",
      {"claim", "write=" + std::to_string(20 * mib), "write=" + std::to_string(16 * mib + 1),
       "write=" + std::to_string(20 * mib) + "/" + std::to_string(mib),
       "write=" + std::to_string(16 * mib)},
      {"--capture-dir", dir.Path()});
  EXPECT_EQ(run.out, "open OK\nclaim OK\nwrite LIBUSB_ERROR_NO_MEM 0\nwrite LIBUSB_ERROR_NO_MEM 0\n"
                     "write OK 20971520\nwrite OK 16777216\n");
  const std::string capture = ReadWhole(dir.PathOf("001-002.bin"));
  EXPECT_TRUE(capture == Pattern(20 * mib) + Pattern(16 * mib)) << capture.size();
}

TEST(EmuBulk, SynchronousBulkWritesAreCapturedToo) {
  TempDir dir;
  const ProcessResult run = RunDevice("vid=6742", {"raw-write=5000"}, {"--capture-dir", dir.Path()});
  EXPECT_EQ(run.out, "open OK\nraw-write OK 5000\n");
  EXPECT_EQ(ReadWhole(dir.PathOf("001-002.bin")), Pattern(5000));
}

// usbfs polls ready only while a URB waits to be reaped, or once the device is
// gone: a program waiting for a hung transfer sleeps in poll().
TEST(EmuBulk, TheNodePollsReadyOnlyWhileAUrbWaitsToBeReaped) {
  const struct {
    std::string device;
    std::vector<std::string> steps;
    std::string out;
  } cases[] = {
      {"vid=6742", {"raw-poll", "raw-submit=10", "raw-poll", "raw-reap", "raw-poll", "raw-reap"},
       "raw-poll none\nraw-submit OK\nraw-poll ready\nraw-reap OK 10\nraw-poll none\n"
       "raw-reap EAGAIN\n"},
      {"vid=6742,hang", {"raw-submit=10", "raw-poll", "raw-reap"},
       "raw-submit OK\nraw-poll none\nraw-reap EAGAIN\n"},
      {"vid=6742,vanish-after=0", {"raw-poll", "raw-reap"}, "raw-poll ready\nraw-reap ENODEV\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(RunDevice(c.device, c.steps).out, "open OK\n" + c.out) << c.device;
  }
}

// A slow device's transfer takes its time without holding any other's: the
// other device's write ends at once, and the slow one's is given up at its
// time-out.
TEST(EmuBulk, ASlowDeviceHoldsOnlyItsOwnTransfers) {
  TempDir dir;
  const std::string slow = dir.PathOf("slow.txt");
  const ProcessResult run =
      RunEmu({"--device", "vid=6742,bulk-rate=1", "--device", "vid=6742"},
             {"/bin/sh", "-c", "\"$0\" 1 2 claim write=20/20/1000 > \"$1\" & \"$0\" 1 3 write=100; wait",
              EMU_CLIENT_PATH, slow});
  EXPECT_EQ(run.out, "open OK\nwrite OK 100\n");
  EXPECT_TRUE(ReadWhole(slow).starts_with("open OK\nclaim OK\nwrite LIBUSB_ERROR_TIMEOUT ")) << ReadWhole(slow);
}

TEST(EmuBulk, AHangingDeviceTakesNothing) {
  TempDir dir;
  const Strings options = {"--capture-dir", dir.Path(), "--report"};
  ProcessResult run = RunDevice("vid=6742,hang", {"claim", "write=100/100/200"}, options);
  EXPECT_EQ(run.out, "open OK\nclaim OK\nwrite LIBUSB_ERROR_TIMEOUT 0\n");
  EXPECT_EQ(ReadWhole(dir.PathOf("001-002.bin")), "");
  EXPECT_EQ(run.err, "");
  run = RunDevice("vid=6742,hang", {"raw-write=10/200"}, options);
  EXPECT_EQ(run.out, "open OK\nraw-write ETIMEDOUT\n");
  EXPECT_EQ(ReadWhole(dir.PathOf("001-002.bin")), "");
  EXPECT_EQ(run.err, "");
}

TEST(EmuVanish, TheDeviceTakesNBytesThenIsGone) {
  TempDir dir;
  const ProcessResult run = RunDevice("vid=6742,vanish-after=1000",
                               {"claim", "write=3000/400", "status", "write=1", "raw-status"},
                               {"--capture-dir", dir.Path(), "--report"});
  EXPECT_EQ(run.out, "open OK\nclaim OK\nwrite LIBUSB_ERROR_NO_DEVICE 1000\n"
                     "status LIBUSB_ERROR_NO_DEVICE\nwrite LIBUSB_ERROR_NO_DEVICE 0\n"
                     "raw-status ENODEV\n");
  EXPECT_EQ(ReadWhole(dir.PathOf("001-002.bin")), Pattern(1000));
  EXPECT_EQ(run.err, "korvo-emu: 001/002 received 1000 bytes, sha256 " +
                         Sha256(Pattern(1000)) + "\n");
}

TEST(EmuVanish, ATransferEndingExactlyAtNSucceeds) {
  const ProcessResult run = RunDevice("vid=6742,vanish-after=1234", {"write=1234", "status", "raw-write=1"});
  EXPECT_EQ(run.out, "open OK\nwrite OK 1234\nstatus LIBUSB_ERROR_NO_DEVICE\nraw-write ENODEV\n");
}

TEST(EmuVanish, VanishAfterZeroIsGoneFromTheStart) {
  const ProcessResult run = RunDevice("vid=6742,vanish-after=0", {"claim", "status", "raw-status"});
  EXPECT_EQ(run.out, "open OK\nclaim LIBUSB_ERROR_NO_DEVICE\nstatus LIBUSB_ERROR_NO_DEVICE\n"
                     "raw-status ENODEV\n");
}

TEST(EmuVanish, ASynchronousWriteAcrossNFails) {
  TempDir dir;
  const ProcessResult run =
      RunDevice("vid=6742,vanish-after=100", {"raw-write=150"}, {"--capture-dir", dir.Path()});
  EXPECT_EQ(run.out, "open OK\nraw-write ENODEV\n");
  EXPECT_EQ(ReadWhole(dir.PathOf("001-002.bin")), Pattern(100));
}

TEST(EmuReport, OneLinePerDeviceWrittenTo) {
  const std::string client = EMU_CLIENT_PATH;
  const ProcessResult run = RunEmu(
      {"--report", "--device", "vid=6742", "--device", "vid=6742", "--device", "vid=6742,bus=2"},
      {"/bin/sh", "-c", client + " 2 4 write=4096; " + client + " 1 2 write=10 write=20"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "korvo-emu: 001/002 received 30 bytes, sha256 " +
                         Sha256(Pattern(10) + Pattern(20)) + "\n" +
                         "korvo-emu: 002/004 received 4096 bytes, sha256 " +
                         Sha256(Pattern(4096)) + "\n");
}

TEST(EmuHang, TheCommandsEndEndsKorvoEmuWhileARequestIsStuck) {
  // The client waits forever (no timeout) on a device that never answers.
  const ProcessResult run = RunEmu(
      {"--device", "vid=6742,hang"},
      {"/bin/sh", "-c", std::string(EMU_CLIENT_PATH) + " 1 2 raw-status=0 & sleep 0.2; exit 5"});
  EXPECT_EQ(run.status, 5);
}

TEST(EmuReport, NothingWithoutReportAndTheStatusStillPassesThrough) {
  const ProcessResult run = RunEmu({"--device", "vid=6742"},
                               {"/bin/sh", "-c", std::string(EMU_CLIENT_PATH) + " 1 2 write=5; exit 3"});
  EXPECT_EQ(run.status, 3);
  EXPECT_EQ(run.err, "");
}

TEST(EmuRun, AnUnusableCaptureDirIsAUsageError) {
  TempDir dir;
  dir.Write("file", "");
  const ProcessResult run = RunEmu({"--capture-dir", dir.PathOf("file/sub")}, {"true"});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("--capture-dir " + dir.PathOf("file/sub")), std::string::npos) << run.err;
}

}  // namespace
