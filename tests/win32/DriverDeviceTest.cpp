// The Windows layer and korvo-test.exe behind a real driver: korvo-driver's
// KORVO device, found through SetupAPI and opened by its interface path.
// Skipped, with the reason, where the driver cannot be loaded.
#include <windows.h>
#include <newdev.h>
#include <setupapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include <optional>
#include <string>
#include <vector>

#include "DriverDevice.h"
#include "WineDevices.h"
#include "discovery/DeviceList.h"
#include "platform/Device.h"
#include "platform/DeviceMonitor.h"
#include "platform/ErrorNumber.h"
#include "support/Pattern.h"
#include "support/Process.h"
#include "support/TempDir.h"

namespace korvo {
namespace {

using namespace win32test;
using test::Pattern;
using test::ProcessResult;

// NTSTATUS values the device is told to fail with, and the error numbers
// the program sees for them.
constexpr int kIoDeviceError = static_cast<int>(0xC0000185);          // ERROR_IO_DEVICE
constexpr int kInsufficientResources = static_cast<int>(0xC000009A);  // ERROR_NO_SYSTEM_RESOURCES
constexpr int kWorkingSetQuota = static_cast<int>(0xC00000A1);        // ERROR_WORKING_SET_QUOTA
constexpr int kAccessDenied = static_cast<int>(0xC0000022);

constexpr size_t kMiB = 1 << 20;

class DriverDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why = InstallDriverDevice();
    if (!why.empty()) GTEST_SKIP() << "the test driver cannot be loaded here: " << why;
    device_.emplace();
    ASSERT_TRUE(device_->Ready());
  }

  // Plugs the device in with these settings; its interface path.
  std::string Plug(const KorvoDeviceSettings& settings) {
    EXPECT_TRUE(device_->Configure(settings));
    std::string path = DriverDevice::InterfacePath();
    EXPECT_NE(path, "") << "the device's interface is not listed";
    return path;
  }

  // Polls the counters until `done` holds, at most 10 s.
  template <typename Done>
  bool WaitFor(Done done) {
    for (int i = 0; i < 200; ++i) {
      if (done(device_->Counters())) return true;
      Sleep(50);
    }
    return false;
  }

  std::optional<DriverDevice> device_;
};

// --- The device channel (platform/win32/Device.cpp) ---------------------

TEST_F(DriverDeviceTest, PathNamesTheVendorAndTheUsbDeviceClass) {
  std::string path = Plug(PresentDevice());
  EXPECT_EQ(path, "\\\\?\\root#vid_6742&pid_0001#0000#{a5dcbf10-6530-11d2-901f-00c04fb951ed}");
}

TEST_F(DriverDeviceTest, UnpluggedDeviceIsNotListed) {
  KorvoDeviceSettings unplugged = PresentDevice();
  unplugged.present = 0;
  ASSERT_TRUE(device_->Configure(unplugged));
  EXPECT_EQ(DriverDevice::InterfacePath(), "");
}

// Wine registers a device notification on a thread of its own, a moment
// after RegisterDeviceNotification returned (Windows does it in the call):
// what happens before that is not told.
constexpr DWORD kWineListens = 1000;

// The device monitor (platform/win32/DeviceMonitor.cpp): the interface
// disabled and enabled again is an unplug and a plug, each told once.
TEST_F(DriverDeviceTest, MonitorTellsEachUnplugAndPlugThenTheLimit) {
  Plug(PresentDevice());
  DeviceMonitor* monitor = StartDeviceMonitor(GUID_DEVINTERFACE_USB_DEVICE);
  ASSERT_NE(monitor, nullptr) << GetLastError();
  Sleep(kWineListens);
  const auto soon = [] { return std::chrono::steady_clock::now() + std::chrono::seconds(20); };
  KorvoDeviceSettings unplugged = PresentDevice();
  unplugged.present = 0;
  ASSERT_TRUE(device_->Configure(unplugged));
  EXPECT_EQ(WaitForDeviceChange(monitor, soon()), DeviceChange::Removed);
  Plug(PresentDevice());
  EXPECT_EQ(WaitForDeviceChange(monitor, soon()), DeviceChange::Added);
  const auto before = std::chrono::steady_clock::now();
  EXPECT_EQ(WaitForDeviceChange(monitor, before + std::chrono::milliseconds(300)), DeviceChange::TimedOut);
  EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(300));
  StopDeviceMonitor(monitor);
}

TEST_F(DriverDeviceTest, StatusRequestGetsTheDevicesByte) {
  for (unsigned statusByte : {0x98u, 0x00u, 0xFFu}) {
    KorvoDeviceSettings settings = PresentDevice();
    settings.statusByte = statusByte;
    Device* device = OpenDevice(Plug(settings));
    ASSERT_NE(device, nullptr) << LastErrorNumber();
    // As the run asks (80-byte buffers) and as the monitor asks (no input).
    unsigned char input[80] = {};
    unsigned char reply[80] = {};
    uint32_t replyCount = 0;
    EXPECT_TRUE(QueryPortStatus(device, input, sizeof input, reply, sizeof reply, &replyCount));
    EXPECT_EQ(reply[0], statusByte);
    EXPECT_EQ(replyCount, 1u);
    unsigned char small[2] = {0x55, 0x55};
    EXPECT_TRUE(QueryPortStatus(device, nullptr, 0, small, sizeof small, &replyCount));
    EXPECT_EQ(small[0], statusByte);
    CloseDevice(device);
  }
}

TEST_F(DriverDeviceTest, FailedStatusRequestGivesTheSystemsError) {
  KorvoDeviceSettings settings = PresentDevice();
  settings.statusFailure = kIoDeviceError;
  Device* device = OpenDevice(Plug(settings));
  ASSERT_NE(device, nullptr);
  unsigned char reply[80] = {};
  uint32_t replyCount = 7;
  EXPECT_FALSE(QueryPortStatus(device, reply, sizeof reply, reply, sizeof reply, &replyCount));
  EXPECT_EQ(LastErrorNumber(), ERROR_IO_DEVICE);
  EXPECT_EQ(replyCount, 0u);
  CloseDevice(device);
}

// In one write, or in pieces under a time-out: an empty write is still one.
TEST_F(DriverDeviceTest, WrittenBytesArriveUnchanged) {
  for (unsigned stallSeconds : {0u, 1u}) {
    for (size_t size : {size_t{0}, size_t{1}, kMiB + 7}) {
      SCOPED_TRACE(stallSeconds);
      std::string data = Pattern(size);
      Device* device = OpenDevice(Plug(PresentDevice()));
      ASSERT_NE(device, nullptr);
      uint64_t written = 99;
      EXPECT_TRUE(WriteDevice(device, data.data(), data.size(), &written, nullptr, stallSeconds));
      EXPECT_EQ(written, size);
      CloseDevice(device);
      EXPECT_TRUE(device_->Received() == data) << size << " bytes";
      EXPECT_EQ(device_->Counters().writes == 1, stallSeconds == 0 || size <= 1);
    }
  }
}

TEST_F(DriverDeviceTest, WriteFailingMidwayReportsTheDevicesError) {
  KorvoDeviceSettings settings = PresentDevice();
  settings.failWriteAfter = 1000;
  settings.writeFailure = kIoDeviceError;
  Device* device = OpenDevice(Plug(settings));
  ASSERT_NE(device, nullptr);
  std::string data = Pattern(4096);
  uint64_t written = 0;
  EXPECT_FALSE(WriteDevice(device, data.data(), data.size(), &written));
  EXPECT_EQ(LastErrorNumber(), ERROR_IO_DEVICE);
  CloseDevice(device);
  EXPECT_EQ(device_->Received(), data.substr(0, 1000));
}

// A device (or the system) that cannot take one huge write: on the two
// resource errors the rest goes in pieces; on any other error, not.
TEST_F(DriverDeviceTest, WriteTooLargeForTheSystemIsSentInPieces) {
  struct Case {
    int oversizeFailure;
    unsigned long long maxWriteLength;
    bool sent;
    int error;
  };
  const Case cases[] = {
      {kInsufficientResources, 3 * kMiB, true, 0},
      {kWorkingSetQuota, 5 * kMiB, true, 0},
      {kInsufficientResources, 1000, false, ERROR_NO_SYSTEM_RESOURCES},
      {kIoDeviceError, 3 * kMiB, false, ERROR_IO_DEVICE},
  };
  const std::string data = Pattern(20 * kMiB + 3);
  for (const Case& c : cases) {
    KorvoDeviceSettings settings = PresentDevice();
    settings.maxWriteLength = c.maxWriteLength;
    settings.oversizeFailure = c.oversizeFailure;
    Device* device = OpenDevice(Plug(settings));
    ASSERT_NE(device, nullptr);
    uint64_t written = 0;
    EXPECT_EQ(WriteDevice(device, data.data(), data.size(), &written), c.sent)
        << std::hex << c.oversizeFailure;
    if (!c.sent) {
      EXPECT_EQ(LastErrorNumber(), c.error);
    }
    CloseDevice(device);
    KorvoDeviceCounters counters = device_->Counters();
    EXPECT_EQ(counters.largestWrite, data.size());  // one write was tried first
    if (c.sent) {
      EXPECT_EQ(written, data.size());
      EXPECT_TRUE(device_->Received() == data) << "the pieces do not add up to the data";
    } else {
      EXPECT_EQ(counters.received, 0u);
    }
    if (c.oversizeFailure == kIoDeviceError) {
      EXPECT_EQ(counters.writes, 1u);
    }
  }
}

// The device lets one program in. Windows refuses the second open; Wine
// hands out the handle before the driver has answered, so there the refusal
// shows on every request made through it.
TEST_F(DriverDeviceTest, SecondOpenIsRefusedWhileTheDeviceIsHeld) {
  std::string path = Plug(PresentDevice());
  Device* first = OpenDevice(path);
  ASSERT_NE(first, nullptr);
  Device* second = OpenDevice(path);
  if (RunningUnderWine()) {
    ASSERT_NE(second, nullptr);
    unsigned char reply[80] = {};
    uint32_t replyCount = 0;
    EXPECT_FALSE(QueryPortStatus(second, reply, sizeof reply, reply, sizeof reply, &replyCount));
    EXPECT_EQ(LastErrorNumber(), ERROR_ACCESS_DENIED);
    uint64_t written = 0;
    EXPECT_FALSE(WriteDevice(second, "data", 4, &written));
    EXPECT_EQ(LastErrorNumber(), ERROR_ACCESS_DENIED);
    CloseDevice(second);
  } else {
    EXPECT_EQ(second, nullptr);
    EXPECT_EQ(LastErrorNumber(), ERROR_ACCESS_DENIED);
  }
  EXPECT_EQ(device_->Counters().refusedOpens, 1u);
  EXPECT_EQ(device_->Received(), "");

  // The holder is unaffected, and once it lets go the device opens again.
  uint64_t written = 0;
  EXPECT_TRUE(WriteDevice(first, "held", 4, &written));
  CloseDevice(first);
  Device* again = OpenDevice(path);
  ASSERT_NE(again, nullptr);
  EXPECT_TRUE(WriteDevice(again, "again", 5, &written));
  CloseDevice(again);
  EXPECT_EQ(device_->Received(), "heldagain");
}

// --- 32-bit programs on 64-bit Windows -----------------------------------

bool IsWow64() {
  BOOL wow64 = FALSE;
  return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

// 64-bit Windows loads 64-bit drivers only; a 32-bit program meets the one
// the 64-bit installer put in (tools/windows/run-tests.sh).
TEST_F(DriverDeviceTest, ThirtyTwoBitProgramMeetsThe64BitDriver) {
  if (!IsWow64()) GTEST_SKIP() << "not a 32-bit program on 64-bit Windows";
  // "sysnative": the 64-bit system folder, which WoW64 redirection hides.
  std::string image = test::ReadWhole("C:\\windows\\sysnative\\drivers\\korvo-driver.sys");
  ASSERT_GT(image.size(), 0x200u) << "no 64-bit korvo-driver.sys installed";
  IMAGE_DOS_HEADER dos;
  std::memcpy(&dos, image.data(), sizeof dos);
  IMAGE_FILE_HEADER header;
  ASSERT_LT(static_cast<size_t>(dos.e_lfanew) + 4 + sizeof header, image.size());
  std::memcpy(&header, image.data() + dos.e_lfanew + 4, sizeof header);
  EXPECT_EQ(header.Machine, IMAGE_FILE_MACHINE_AMD64);
}

// And a 32-bit installer is refused there. Wine's
// UpdateDriverForPlugAndPlayDevices has no such check (README): there it
// would install the 32-bit driver beside the 64-bit one.
TEST(DriverInstallTest, ThirtyTwoBitInstallerIsRefusedOn64BitWindows) {
  if (!IsWow64()) GTEST_SKIP() << "not a 32-bit program on 64-bit Windows";
  if (RunningUnderWine()) GTEST_SKIP() << "Wine does not refuse 32-bit installers (README)";
  const std::string inf = DosPathOfUnixPath(KORVO_DRIVER_DIR "/korvo-driver.inf");
  BOOL reboot = FALSE;
  EXPECT_FALSE(UpdateDriverForPlugAndPlayDevicesA(nullptr, "Root\\KorvoTestDevice", inf.c_str(),
                                                  INSTALLFLAG_FORCE, &reboot));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IN_WOW64));
}

// --- korvo-test.exe end to end ------------------------------------------

class ProgramOnDriverTest : public DriverDeviceTest {
 protected:
  // Runs the program on a file of `data`.
  ProcessResult Run(const std::string& data) {
    EXPECT_TRUE(test::WriteWhole(dataFile_, data));
    return test::RunProcess(Argv());
  }
  std::vector<std::string> Argv() const {
    return {DosPathOfUnixPath(KORVO_TEST_PROGRAM), dataFile_};
  }

  test::TempDir dir_;
  std::string dataFile_ = dir_.PathOf("data.bin");
};

TEST_F(ProgramOnDriverTest, ShowsTheStatusAndSendsA65MiBFileByteExact) {
  KorvoDeviceSettings settings = PresentDevice();
  settings.statusByte = 0x98;
  Plug(settings);
  const std::string data = Pattern(65 * kMiB + 11);

  ProcessResult run = Run(data);
  ASSERT_TRUE(run.ended);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "status:98\r\n");
  EXPECT_EQ(run.err, "");
  EXPECT_TRUE(device_->Received() == data) << "the device did not receive the file byte for byte";
  KorvoDeviceCounters counters = device_->Counters();
  EXPECT_EQ(counters.statusRequests, 1u);
  EXPECT_EQ(counters.openNow, 0u);  // closed at the end
}

TEST_F(ProgramOnDriverTest, ChoosesTheKorvoVendorAmongOtherDevices) {
  MadeUpInterfaces others;
  MadeUpInterface other{"USB\\VID_1234&PID_0001\\A"};
  other.friendlyName = "Other Device";
  ASSERT_TRUE(others.Add(other));
  DeviceNode otherNode(InterfacePath(other));
  ASSERT_TRUE(otherNode.Create());
  Plug(PresentDevice());

  ProcessResult run = Run(Pattern(4096));
  ASSERT_TRUE(run.ended);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "status:00\r\n");
  EXPECT_EQ(device_->Received(), Pattern(4096));
  EXPECT_EQ(otherNode.Contents(), "");
}

TEST_F(ProgramOnDriverTest, FailedStatusRequestIsShownAndTheFileStillSent) {
  KorvoDeviceSettings settings = PresentDevice();
  settings.statusFailure = kIoDeviceError;
  Plug(settings);

  ProcessResult run = Run(Pattern(5000));
  ASSERT_TRUE(run.ended);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "Error code Status:1117\r\n");
  EXPECT_EQ(device_->Received(), Pattern(5000));
}

TEST_F(ProgramOnDriverTest, WriteFailingMidwayEndsWithTheWriteError) {
  KorvoDeviceSettings settings = PresentDevice();
  settings.failWriteAfter = kMiB;
  settings.writeFailure = kIoDeviceError;
  Plug(settings);
  const std::string data = Pattern(4 * kMiB);

  ProcessResult run = Run(data);
  ASSERT_TRUE(run.ended);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "status:00\r\nError code Write:1117\r\n");
  EXPECT_TRUE(device_->Received() == data.substr(0, kMiB));
}

TEST_F(ProgramOnDriverTest, FileTooLargeForOneWriteArrivesInPieces) {
  KorvoDeviceSettings settings = PresentDevice();
  settings.maxWriteLength = 4 * kMiB;
  settings.oversizeFailure = kInsufficientResources;
  Plug(settings);
  const std::string data = Pattern(20 * kMiB);

  ProcessResult run = Run(data);
  ASSERT_TRUE(run.ended);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "status:00\r\n");
  EXPECT_TRUE(device_->Received() == data);
}

TEST_F(ProgramOnDriverTest, BusyDeviceIsNotWrittenTo) {
  std::string path = Plug(PresentDevice());
  Device* holder = OpenDevice(path);
  ASSERT_NE(holder, nullptr);

  ProcessResult run = Run(Pattern(100));
  CloseDevice(holder);
  ASSERT_TRUE(run.ended);
  EXPECT_EQ(run.status, 1);
  if (RunningUnderWine()) {
    // The open "succeeds" (see SecondOpenIsRefusedWhileTheDeviceIsHeld).
    EXPECT_EQ(run.out, "Error code Status:5\r\nError code Write:5\r\n");
    EXPECT_EQ(run.err, "");
  } else {
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, std::string("Unable to open ") + kDriverDeviceName + "\r\n");
  }
  EXPECT_EQ(device_->Counters().refusedOpens, 1u);
  EXPECT_EQ(device_->Received(), "");
}

// The lines of `text` that begin with `prefix`, in order, without it.
std::string LinesAfter(const std::string& prefix, const std::string& text) {
  std::string lines;
  for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    if (text.compare(start, prefix.size(), prefix) == 0) {
      lines += text.substr(start + prefix.size(), end + 1 - start - prefix.size());
    }
  }
  return lines;
}

// --all over both units: each is tested by a run of its own, whose lines come
// after its number in the listing; the count of those that passed comes last.
TEST_F(ProgramOnDriverTest, AllTestsEveryUnitInARunOfItsOwn) {
  DriverDevice second(1);
  ASSERT_TRUE(second.Ready());
  const std::string data = Pattern(100000);
  ASSERT_TRUE(test::WriteWhole(dataFile_, data));
  KorvoDeviceSettings failing = PresentDevice();
  failing.failWriteAfter = 1000;
  failing.writeFailure = kIoDeviceError;
  const struct {
    const char* name;
    KorvoDeviceSettings first, second;
    std::string otherOut;  // the second unit's lines, whichever number it has
    std::string summary;
    int status;
  } cases[] = {
      {"both pass", PresentDevice(), PresentDevice(), "status:00\r\n", "korvo-test: 2 of 2 devices passed\r\n", 0},
      {"the second fails its write", PresentDevice(), failing, "status:00\r\nError code Write:1117\r\n",
       "korvo-test: 1 of 2 devices passed\r\n", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Plug(c.first);
    ASSERT_TRUE(second.Configure(c.second));
    ProcessResult run = test::RunProcess({Argv()[0], "--all", dataFile_});
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.status, c.status) << run.err;
    const std::string one = LinesAfter("1 ", run.out), two = LinesAfter("2 ", run.out);
    const size_t lines = std::count(run.out.begin(), run.out.end(), '\n');
    EXPECT_EQ(one.size() + two.size() + 2 * lines, run.out.size()) << "a line of no unit: " << run.out;
    EXPECT_TRUE((one == "status:00\r\n" && two == c.otherOut) ||
                (two == "status:00\r\n" && one == c.otherOut))
        << run.out;
    EXPECT_EQ(run.err, c.summary);
    EXPECT_TRUE(device_->Received() == data);
    const uint64_t taken = std::min<uint64_t>(c.second.failWriteAfter, data.size());
    EXPECT_TRUE(second.Received() == data.substr(0, static_cast<size_t>(taken)));
    EXPECT_EQ(device_->Counters().opens + second.Counters().opens, 2u);
  }
}

// --wait against the driver's plug: its interface enabled while the run
// waits is what a device plugged in looks like to the program.
//
// Whether the program waits: its monitor window is there. Wine brings the
// desktop up for the first window that needs it; when the program's window
// and this look bring it up at once, the look may never see the window, so
// the tests call DesktopUp() before they start the program.
void DesktopUp() { ASSERT_NE(GetDesktopWindow(), nullptr); }

bool Waiting(const test::Process& program) {
  for (HWND window = nullptr;
       (window = FindWindowExA(HWND_MESSAGE, window, "KorvoDeviceMonitor", nullptr)) != nullptr;) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == program.Id()) return true;
  }
  return false;
}

// Gives the program a minute to start waiting, as the other waits here: a
// loaded machine under WoW64 is slow to start it. "" once it waits, else
// what became of it.
std::string StartsWaiting(const test::Process& program) {
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, program.Id());
  if (!process) return "cannot watch the program: error " + std::to_string(GetLastError());
  bool waiting = false;
  for (int i = 0; i < 1200 && !(waiting = Waiting(program)); ++i) {
    if (WaitForSingleObject(process, 50) == WAIT_OBJECT_0) break;
  }
  DWORD code = STILL_ACTIVE;
  GetExitCodeProcess(process, &code);
  CloseHandle(process);
  if (waiting) return "";
  char end[64];
  std::snprintf(end, sizeof end, code == STILL_ACTIVE ? "still runs" : "ended with 0x%lx",
                static_cast<unsigned long>(code));
  return std::string("the program never waited: it ") + end + ", out: " + program.Out() +
         ", err: " + program.Err();
}

TEST_F(ProgramOnDriverTest, WaitEndsWhenTheDeviceIsPluggedInOrAfterItsLimit) {
  ASSERT_TRUE(test::WriteWhole(dataFile_, Pattern(4096)));
  const struct {
    const char* name;
    const char* wait;
    bool plug;
    int status;
    std::string out;
    std::string err;
  } cases[] = {
      {"plugged in", "--wait", true, 0, "status:00\r\n", ""},
      {"plugged in within the limit", "--wait=60", true, 0, "status:00\r\n", ""},
      {"not plugged in", "--wait=1", false, 1, "", "No KORVO devices appeared within 1 s\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    KorvoDeviceSettings unplugged = PresentDevice();
    unplugged.present = 0;
    ASSERT_TRUE(device_->Configure(unplugged));
    test::Process program;
    DesktopUp();
    ASSERT_TRUE(program.Start({DosPathOfUnixPath(KORVO_TEST_PROGRAM), c.wait, dataFile_}));
    if (c.plug) {
      ASSERT_EQ(StartsWaiting(program), "");
      Sleep(kWineListens);  // and its first look found nothing
      EXPECT_EQ(device_->Counters().opens, 0u);
      Plug(PresentDevice());
    }
    ASSERT_TRUE(program.Wait(60000)) << "the plug did not end the wait";
    EXPECT_EQ(program.Status(), c.status);
    EXPECT_EQ(program.Out(), c.out);
    EXPECT_EQ(program.Err(), c.err);
    EXPECT_EQ(device_->Received(), c.plug ? Pattern(4096) : "");
  }
}

// A device that never finishes the write: the program waits in it, and
// ending the program cancels the write and frees the device.
TEST_F(ProgramOnDriverTest, HeldWriteIsCancelledWhenTheProgramIsEnded) {
  KorvoDeviceSettings settings = PresentDevice();
  settings.holdWrites = 1;
  Plug(settings);
  ASSERT_TRUE(test::WriteWhole(dataFile_, Pattern(1000)));

  test::Process program;
  ASSERT_TRUE(program.Start(Argv()));
  ASSERT_TRUE(WaitFor([](const KorvoDeviceCounters& c) { return c.heldWrites == 1; }));
  EXPECT_EQ(program.Out(), "status:00\r\n");  // shown before the write
  EXPECT_FALSE(program.Wait(500));               // still waiting: ended here
  EXPECT_TRUE(WaitFor([](const KorvoDeviceCounters& c) {
    return c.cancelledWrites == 1 && c.openNow == 0;
  })) << "the held write was not cancelled";
  EXPECT_EQ(device_->Received(), "");

  // The device is free again.
  KorvoDeviceSettings normal = PresentDevice();
  Device* device = OpenDevice(Plug(normal));
  EXPECT_NE(device, nullptr);
  if (device) CloseDevice(device);
}

// --timeout: a write the device holds is cancelled once it has made no
// progress for that long; the run ends as a failed write, with the device
// closed.
TEST_F(ProgramOnDriverTest, HeldWriteIsGivenUpAfterTheTimeOut) {
  KorvoDeviceSettings settings = PresentDevice();
  settings.holdWrites = 1;
  Plug(settings);
  ASSERT_TRUE(test::WriteWhole(dataFile_, Pattern(1000)));

  ProcessResult run =
      test::RunProcess({DosPathOfUnixPath(KORVO_TEST_PROGRAM), "--timeout", "1", dataFile_});
  ASSERT_TRUE(run.ended);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "status:00\r\nError code Write:1460\r\n");
  EXPECT_EQ(run.err, "");
  KorvoDeviceCounters counters = device_->Counters();
  EXPECT_EQ(counters.writes, 1u);
  EXPECT_EQ(counters.cancelledWrites, 1u);
  EXPECT_EQ(counters.openNow, 0u);
  EXPECT_EQ(device_->Received(), "");
}

// A device slower than the time-out takes the whole file all the same, as
// long as each piece makes progress within it.
TEST_F(ProgramOnDriverTest, SlowDeviceThatKeepsTakingIsNotTimedOut) {
  KorvoDeviceSettings settings = PresentDevice();
  settings.writeDelayMs = 300;
  Plug(settings);
  const std::string data = Pattern(320 * 1024 + 5);  // six pieces: about two seconds
  ASSERT_TRUE(test::WriteWhole(dataFile_, data));

  ProcessResult run =
      test::RunProcess({DosPathOfUnixPath(KORVO_TEST_PROGRAM), "--timeout", "1", dataFile_});
  ASSERT_TRUE(run.ended);
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(run.out, "status:00\r\n");
  EXPECT_TRUE(device_->Received() == data);
}

// Ctrl-C or Ctrl-Break during a write the device holds: the program cancels
// the write, closes the device and ends as Windows ends a program on Ctrl-C,
// with nothing sent or printed after the status line. The test shares a
// console of its own with the program and ignores the event itself.
class ConsoleControlTest : public ProgramOnDriverTest {
 protected:
  void SetUp() override {
    ProgramOnDriverTest::SetUp();
    if (IsSkipped()) return;
    // Under Wine a program started from a Unix shell has no console to send
    // events through, only a stand-in for one.
    FreeConsole();
    ASSERT_TRUE(AllocConsole()) << GetLastError();
    ASSERT_TRUE(SetConsoleCtrlHandler(Ignore, TRUE));
    KorvoDeviceSettings settings = PresentDevice();
    settings.holdWrites = 1;
    Plug(settings);
    ASSERT_TRUE(test::WriteWhole(dataFile_, Pattern(1000)));
  }
  void TearDown() override {
    SetConsoleCtrlHandler(Ignore, FALSE);
    FreeConsole();
  }
  static BOOL WINAPI Ignore(DWORD) { return TRUE; }

  // Starts the program and waits until the device holds its write.
  void StartUntilTheWriteIsHeld(test::Process& program) {
    ASSERT_TRUE(program.Start(Argv()));
    ASSERT_TRUE(WaitFor([](const KorvoDeviceCounters& c) { return c.heldWrites == 1; }));
  }

  void ExpectEndedAsInterrupted(test::Process& program) {
    ASSERT_TRUE(program.Wait(20000)) << "the event did not end the program";
    EXPECT_EQ(static_cast<DWORD>(program.Status()), static_cast<DWORD>(STATUS_CONTROL_C_EXIT));
    EXPECT_EQ(program.Out(), "status:00\r\n");
    EXPECT_EQ(program.Err(), "");
    KorvoDeviceCounters counters = device_->Counters();
    EXPECT_EQ(counters.cancelledWrites, 1u);
    EXPECT_EQ(counters.writes, 1u);  // none after the cancel
    EXPECT_EQ(counters.openNow, 0u);
    EXPECT_EQ(device_->Received(), "");
  }
};

TEST_F(ConsoleControlTest, CtrlCDuringAHeldWriteCancelsItAndEndsAsInterrupted) {
  test::Process program;
  StartUntilTheWriteIsHeld(program);
  // Group 0: every process on the console, this one included.
  ASSERT_TRUE(GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0)) << GetLastError();
  ExpectEndedAsInterrupted(program);
}

// Ctrl-C during --all reaches every run from the console: each cancels its
// held write and ends as interrupted, and the count still comes before the
// program ends so too.
TEST_F(ConsoleControlTest, CtrlCDuringAllEndsEveryRunAndTheCountComes) {
  DriverDevice second(1);
  ASSERT_TRUE(second.Ready());
  KorvoDeviceSettings held = PresentDevice();
  held.holdWrites = 1;
  ASSERT_TRUE(second.Configure(held));
  test::Process program;
  ASSERT_TRUE(program.Start({Argv()[0], "--all", dataFile_}));
  auto heldOne = [](const KorvoDeviceCounters& c) { return c.heldWrites == 1; };
  ASSERT_TRUE(WaitFor(heldOne));
  ASSERT_TRUE(WaitFor([&](const KorvoDeviceCounters&) { return heldOne(second.Counters()); }));
  ASSERT_TRUE(GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0)) << GetLastError();
  ASSERT_TRUE(program.Wait(20000)) << "the event did not end the program";
  EXPECT_EQ(static_cast<DWORD>(program.Status()), static_cast<DWORD>(STATUS_CONTROL_C_EXIT));
  EXPECT_EQ(LinesAfter("1 ", program.Out()), "status:00\r\n");
  EXPECT_EQ(LinesAfter("2 ", program.Out()), "status:00\r\n");
  EXPECT_EQ(LinesAfter("1 ", program.Err()), "korvo-test: ended with status 0xC000013A\r\n");
  EXPECT_EQ(LinesAfter("2 ", program.Err()), "korvo-test: ended with status 0xC000013A\r\n");
  EXPECT_TRUE(program.Err().ends_with("korvo-test: 0 of 2 devices passed\r\n")) << program.Err();
  for (const DriverDevice* unit : {&*device_, &second}) {
    KorvoDeviceCounters counters = unit->Counters();
    EXPECT_EQ(counters.cancelledWrites, 1u);
    EXPECT_EQ(counters.openNow, 0u);
  }
}

// A program in a process group of its own ignores Ctrl-C (Windows disables it
// there); Ctrl-Break still reaches it, addressed to the group.
TEST_F(ConsoleControlTest, CtrlBreakToTheProgramsOwnGroupDoesTheSame) {
  test::Process program;
  program.InOwnProcessGroup();
  StartUntilTheWriteIsHeld(program);
  if (!GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, program.Id())) {
    DWORD error = GetLastError();
    // Wine 8.0's server passes Ctrl-C on and nothing else.
    if (RunningUnderWine()) GTEST_SKIP() << "this Wine sends no Ctrl-Break (error " << error << ")";
    FAIL() << "GenerateConsoleCtrlEvent: error " << error;
  }
  ExpectEndedAsInterrupted(program);
}

// Ctrl-C while the program waits for a device ends the wait: exit status 1,
// nothing printed.
TEST_F(ConsoleControlTest, CtrlCDuringAWaitEndsItWithOne) {
  KorvoDeviceSettings unplugged = PresentDevice();
  unplugged.present = 0;
  ASSERT_TRUE(device_->Configure(unplugged));
  test::Process program;
  DesktopUp();
  ASSERT_TRUE(program.Start({DosPathOfUnixPath(KORVO_TEST_PROGRAM), "--wait", dataFile_}));
  ASSERT_EQ(StartsWaiting(program), "");
  ASSERT_TRUE(GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0)) << GetLastError();
  ASSERT_TRUE(program.Wait(20000)) << "Ctrl-C did not end the wait";
  EXPECT_EQ(program.Status(), 1);
  EXPECT_EQ(program.Out(), "");
  EXPECT_EQ(program.Err(), "");
  EXPECT_EQ(device_->Counters().opens, 0u);
}

// A write on its own thread, for a device that holds it.
struct HeldWrite {
  static DWORD WINAPI Run(void* parameter) {
    auto* write = static_cast<HeldWrite*>(parameter);
    uint64_t written = 0;
    write->ok = WriteDevice(write->device, "held", 4, &written);
    write->error = LastErrorNumber();
    return 0;
  }

  Device* device;
  bool ok = true;
  int error = 0;
};

// The driver itself: a held write ends as the control device says.
TEST_F(DriverDeviceTest, HeldWriteEndsWhenReleased) {
  KorvoDeviceSettings settings = PresentDevice();
  settings.holdWrites = 1;
  Device* device = OpenDevice(Plug(settings));
  ASSERT_NE(device, nullptr);

  HeldWrite write{device};
  HANDLE thread = CreateThread(nullptr, 0, HeldWrite::Run, &write, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  ASSERT_TRUE(WaitFor([](const KorvoDeviceCounters& c) { return c.heldWrites == 1; }));
  EXPECT_EQ(WaitForSingleObject(thread, 200), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_TRUE(device_->ReleaseHeldWrite(kAccessDenied));
  EXPECT_EQ(WaitForSingleObject(thread, 10000), static_cast<DWORD>(WAIT_OBJECT_0));
  CloseHandle(thread);
  EXPECT_FALSE(write.ok);
  EXPECT_EQ(write.error, ERROR_ACCESS_DENIED);
  CloseDevice(device);
}

}  // namespace
}  // namespace korvo
