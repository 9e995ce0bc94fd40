// The Windows layer's files, events, threads and error numbers, on the real
// system calls.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "WineDevices.h"
#include "platform/ErrorNumber.h"
#include "platform/Event.h"
#include "platform/InputFile.h"
#include "platform/Thread.h"

namespace korvo {
namespace {

using win32test::TemporaryPath;
using win32test::WriteFileBytes;

class InputFileTest : public ::testing::Test {
 protected:
  void SetUp() override { path_ = TemporaryPath("inp"); }
  void TearDown() override { DeleteFileA(path_.c_str()); }

  std::string path_;
};

TEST_F(InputFileTest, ReadsTheWholeFileItMeasured) {
  std::string content;
  for (int i = 0; i < 5000; ++i) content += static_cast<char>(i * 7);
  ASSERT_TRUE(WriteFileBytes(path_, content));

  InputFile* file = OpenInputFile(path_.c_str());
  ASSERT_NE(file, nullptr);
  uint64_t size = 0;
  ASSERT_TRUE(InputFileSize(file, &size));
  EXPECT_EQ(size, content.size());
  std::string buffer(content.size(), '\0');
  uint64_t got = 0;
  EXPECT_TRUE(ReadInputFile(file, buffer.data(), size, &got));
  EXPECT_EQ(got, size);
  EXPECT_EQ(buffer, content);
  CloseInputFile(file);
}

TEST_F(InputFileTest, ReadStopsWhereTheFileEnds) {
  ASSERT_TRUE(WriteFileBytes(path_, "short"));
  InputFile* file = OpenInputFile(path_.c_str());
  ASSERT_NE(file, nullptr);
  char buffer[64];
  uint64_t got = 99;
  EXPECT_TRUE(ReadInputFile(file, buffer, sizeof buffer, &got));
  EXPECT_EQ(got, 5u);
  CloseInputFile(file);
}

TEST_F(InputFileTest, EmptyFileMeasuresAndReadsNothing) {
  ASSERT_TRUE(WriteFileBytes(path_, ""));
  InputFile* file = OpenInputFile(path_.c_str());
  ASSERT_NE(file, nullptr);
  uint64_t size = 1;
  ASSERT_TRUE(InputFileSize(file, &size));
  EXPECT_EQ(size, 0u);
  uint64_t got = 1;
  char unused;
  EXPECT_TRUE(ReadInputFile(file, &unused, 0, &got));
  EXPECT_EQ(got, 0u);
  CloseInputFile(file);
}

TEST_F(InputFileTest, SizeOf4GiBAndMoreIsNotCutTo32Bits) {
  // A sparse file: nothing is written but its end.
  HANDLE handle = CreateFileA(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  LARGE_INTEGER end;
  end.QuadPart = (1LL << 32) + 3;
  bool extended = SetFilePointerEx(handle, end, nullptr, FILE_BEGIN) && SetEndOfFile(handle);
  CloseHandle(handle);
  ASSERT_TRUE(extended);

  InputFile* file = OpenInputFile(path_.c_str());
  ASSERT_NE(file, nullptr);
  uint64_t size = 0;
  EXPECT_TRUE(InputFileSize(file, &size));
  EXPECT_EQ(size, (uint64_t{1} << 32) + 3);
  CloseInputFile(file);
}

TEST_F(InputFileTest, OpenIsExclusive) {
  ASSERT_TRUE(WriteFileBytes(path_, "data"));

  // Held by another reader that allows others to read too: still refused.
  HANDLE other = CreateFileA(path_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(other, INVALID_HANDLE_VALUE);
  EXPECT_EQ(OpenInputFile(path_.c_str()), nullptr);
  EXPECT_EQ(LastErrorNumber(), ERROR_SHARING_VIOLATION);
  CloseHandle(other);

  // And while we hold it, nobody else gets in.
  InputFile* file = OpenInputFile(path_.c_str());
  ASSERT_NE(file, nullptr);
  HANDLE late = CreateFileA(path_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(late, INVALID_HANDLE_VALUE);
  if (late != INVALID_HANDLE_VALUE) CloseHandle(late);
  CloseInputFile(file);
}

TEST_F(InputFileTest, MissingFilesDirectoriesAndNoPathDoNotOpen) {
  EXPECT_EQ(OpenInputFile(path_.c_str()), nullptr);
  EXPECT_EQ(LastErrorNumber(), ERROR_FILE_NOT_FOUND);

  ASSERT_TRUE(CreateDirectoryA(path_.c_str(), nullptr));
  EXPECT_EQ(OpenInputFile(path_.c_str()), nullptr);
  EXPECT_NE(LastErrorNumber(), 0);
  RemoveDirectoryA(path_.c_str());

  EXPECT_EQ(OpenInputFile(nullptr), nullptr);
  EXPECT_NE(LastErrorNumber(), 0);
}

TEST(EventTest, SignalsBeforeAWaitCountAsOne) {
  Event* event = NewAutoResetEvent();
  ASSERT_NE(event, nullptr);
  EXPECT_EQ(WaitForEvent(event, 0), WaitResult::TimedOut);  // starts unsignalled
  SignalEvent(event);
  SignalEvent(event);
  EXPECT_EQ(WaitForEvent(event, 0), WaitResult::Signalled);
  EXPECT_EQ(WaitForEvent(event, 1), WaitResult::TimedOut);  // the wait reset it
}

TEST(EventTest, WaitOnNoEventFails) {
  EXPECT_EQ(WaitForEvent(nullptr, 100), WaitResult::Failed);
}

struct ThreadProbe {
  std::atomic<uint32_t> seen{0};
  Event* done = nullptr;
};

uint32_t RecordParameter(void* parameter) {
  auto* probe = static_cast<ThreadProbe*>(parameter);
  probe->seen = 0xC0FFEE;
  SignalEvent(probe->done);
  return 0;
}

TEST(ThreadTest, RunsTheRoutineWithItsParameterOnAnotherThread) {
  ThreadProbe probe;
  probe.done = NewAutoResetEvent();
  ASSERT_NE(probe.done, nullptr);
  ASSERT_TRUE(StartDetachedThread(RecordParameter, &probe, 16384));
  ASSERT_EQ(WaitForEvent(probe.done, 10000), WaitResult::Signalled);
  EXPECT_EQ(probe.seen.load(), 0xC0FFEEu);
}

TEST(ErrorNumberTest, IsTheSystemsLastErrorBothWays) {
  SetLastError(ERROR_ACCESS_DENIED);
  EXPECT_EQ(LastErrorNumber(), 5);
  SetLastErrorNumber(ERROR_SHARING_VIOLATION);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  // Codes with the top bit set read as negative numbers, as %d prints them.
  SetLastError(0xE0000203);
  EXPECT_EQ(LastErrorNumber(), static_cast<int>(0xE0000203));
  EXPECT_LT(LastErrorNumber(), 0);
}

}  // namespace
}  // namespace korvo
