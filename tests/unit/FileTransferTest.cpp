#include "deviceio/FileTransfer.h"
#include "deviceio/TransferProgress.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "fake/FakeDevice.h"
#include "platform/InputFile.h"
#include "support/Pattern.h"
#include "support/TempDir.h"

// An allocation too large for the machine must answer nullptr, as it does
// without a sanitizer, not end the test run.
#if defined(__SANITIZE_ADDRESS__)
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }
#endif
#if defined(__SANITIZE_THREAD__)
extern "C" const char* __tsan_default_options() { return "allocator_may_return_null=1"; }
#endif

namespace korvo {
namespace {

using fake::DeviceAnswers;
using fake::DevicesLog;
using fake::ResetDevices;
using test::Pattern;
using test::TempDir;

struct Transfer {
  TransferResult result;
  std::string out;
};

class FileTransferTest : public ::testing::Test {
 protected:
  void SetUp() override { Open(); }

  void Open(const DeviceAnswers& answers = {}) {
    ResetDevices(answers);
    device_ = OpenDevice("/dev/k#vid_6742&pid_0001");
  }

  Transfer Send(const std::string& path) {
    ::testing::internal::CaptureStdout();
    TransferResult result = SendFile(path.c_str(), device_);
    return {result, ::testing::internal::GetCapturedStdout()};
  }

  // The transfer let go of the file: it can be held exclusively again.
  static bool FileIsFree(const std::string& path) {
    InputFile* file = OpenInputFile(path.c_str());
    if (!file) return false;
    CloseInputFile(file);
    return true;
  }

  bool DeviceClosed() const { return DevicesLog().closed == std::vector<const Device*>{device_}; }

  TempDir dir_;
  Device* device_ = nullptr;
};

TEST_F(FileTransferTest, SendsTheWholeFileInOneWriteThenClosesFileAndDevice) {
  std::string content = Pattern(3 * 1024 + 17);
  std::string path = dir_.Write("data.bin", content);

  Transfer t = Send(path);

  EXPECT_EQ(t.result, TransferResult::Sent);
  EXPECT_EQ(t.out, "");
  fake::DeviceLog log = DevicesLog();
  ASSERT_EQ(log.writes.size(), 1u);
  EXPECT_EQ(log.writes[0].device, device_);
  EXPECT_EQ(log.writes[0].length, content.size());
  EXPECT_EQ(log.writes[0].data, content);
  EXPECT_TRUE(DeviceClosed());
  EXPECT_TRUE(FileIsFree(path));
}

TEST_F(FileTransferTest, EmptyFileIsOneWriteOfNothing) {
  std::string path = dir_.Write("empty.bin", "");
  Transfer t = Send(path);
  EXPECT_EQ(t.result, TransferResult::Sent);
  EXPECT_EQ(t.out, "");
  fake::DeviceLog log = DevicesLog();
  ASSERT_EQ(log.writes.size(), 1u);
  EXPECT_EQ(log.writes[0].length, 0u);
  EXPECT_TRUE(DeviceClosed());
}

TEST_F(FileTransferTest, FileThatCannotBeOpenedIsNamedAndLeavesTheDeviceOpen) {
  std::string missing = dir_.PathOf("no-such-file.bin");
  std::string held = dir_.Write("held.bin", "busy");
  InputFile* holder = OpenInputFile(held.c_str());
  ASSERT_NE(holder, nullptr);

  for (const std::string& path : {missing, dir_.Path(), held, std::string()}) {
    SCOPED_TRACE("path: '" + path + "'");
    Open();
    Transfer t = Send(path);
    EXPECT_EQ(t.result, TransferResult::FileNotOpened);
    EXPECT_EQ(t.out, "Can not open file " + path + "\n");
    fake::DeviceLog log = DevicesLog();
    EXPECT_TRUE(log.writes.empty());
    EXPECT_TRUE(log.closed.empty());
  }
  CloseInputFile(holder);
}

TEST_F(FileTransferTest, FailedWriteIsReportedClosesEverythingAndIsNoSuccess) {
  DeviceAnswers answers;
  answers.writeAccepts = 1000;
  answers.writeError = 19;
  Open(answers);
  std::string path = dir_.Write("data.bin", Pattern(4096));

  Transfer t = Send(path);

  EXPECT_EQ(t.result, TransferResult::NotWritten);
  EXPECT_EQ(t.out, "Error code Write:19\n");
  EXPECT_EQ(DevicesLog().writes.size(), 1u);
  EXPECT_TRUE(DeviceClosed());
  EXPECT_TRUE(FileIsFree(path));
}

// A file larger than the address space: the buffer cannot be had, and
// nothing may reach the device.
TEST_F(FileTransferTest, FileTooLargeForMemoryIsNotSentAndSaysSo) {
  std::filesystem::path where = std::filesystem::exists("/dev/shm") ? "/dev/shm" : dir_.Path();
  std::filesystem::path huge = where / ("korvo-unit-huge-" + std::to_string(std::random_device{}()));
  std::error_code error;
  { std::ofstream create(huge); }
  std::filesystem::resize_file(huge, uint64_t{1} << 62, error);  // sparse
  if (error) {
    std::filesystem::remove(huge);
    GTEST_SKIP() << "no file system here holds a sparse file of 4 EiB";
  }

  Transfer t = Send(huge.string());

  EXPECT_EQ(t.result, TransferResult::FileNotRead);
  EXPECT_EQ(t.out, "Can not read file " + huge.string() + "\n");
  EXPECT_TRUE(DevicesLog().writes.empty());
  EXPECT_TRUE(DeviceClosed());
  EXPECT_TRUE(FileIsFree(huge.string()));
  std::filesystem::remove(huge);
}

}  // namespace
}  // namespace korvo

namespace korvo {
namespace {

TEST(TransferProgressTest, LineTellsBytesPercentRateAndTimeLeft) {
  constexpr uint64_t kMiB = 1024 * 1024;
  const struct {
    uint64_t sent, total;
    double seconds;
    unsigned columns;  // 0: the width is not known
    const char* line;
  } cases[] = {
      {0, 4 * kMiB, 1.0, 0, "0.0 of 4.0 MiB  0%"},  // no rate before the first byte
      {kMiB, 4 * kMiB, 0.0, 0, "1.0 of 4.0 MiB  25%"},
      {kMiB, 4 * kMiB, 1.0, 0, "1.0 of 4.0 MiB  25%  1.0 MiB/s  0:03 left"},
      {60 * kMiB, 1000 * kMiB, 2.0, 0, "60.0 of 1000.0 MiB  6%  30.0 MiB/s  0:31 left"},
      {kMiB, 600 * kMiB, 1.0, 0, "1.0 of 600.0 MiB  0%  1.0 MiB/s  9:59 left"},
      {0, 0, 1.0, 0, "0.0 of 0.0 MiB  100%"},
      {3 * kMiB / 2, 3 * kMiB, 0.5, 0, "1.5 of 3.0 MiB  50%  3.0 MiB/s  0:01 left"},
      // Never into the last column, where the terminal would wrap the line.
      {kMiB, 4 * kMiB, 1.0, 80, "1.0 of 4.0 MiB  25%  1.0 MiB/s  0:03 left"},
      {kMiB, 4 * kMiB, 1.0, 42, "1.0 of 4.0 MiB  25%  1.0 MiB/s  0:03 left"},
      {kMiB, 4 * kMiB, 1.0, 41, "1.0 of 4.0 MiB  25%  1.0 MiB/s  0:03 lef"},
      {kMiB, 4 * kMiB, 1.0, 20, "1.0 of 4.0 MiB  25%"},
      {kMiB, 4 * kMiB, 1.0, 1, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ProgressText(c.sent, c.total, c.seconds, c.columns), c.line);
  }
}

}  // namespace
}  // namespace korvo
