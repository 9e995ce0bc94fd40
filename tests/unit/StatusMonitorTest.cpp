#include "deviceio/StatusMonitor.h"

#include <gtest/gtest.h>

#include <thread>

#include "fake/FakeDevice.h"
#include "fake/FakeTrace.h"
#include "platform/Event.h"

namespace korvo {
namespace {

using fake::DeviceAnswers;
using fake::DevicesLog;
using fake::ResetDevices;
using fake::TraceLinesOf;
using fake::WaitForQueries;
using fake::WaitForTraceLines;
using std::chrono::seconds;

constexpr char kTrace[] = "READING THREADING RUNNING.........\n";
constexpr char kClose[] = "Close thread!!!!!!!!!!!!!!!!!!!!!!!!!!!!\n";

// Events have no release: keep every test's event reachable until exit.
Event* KeptEvent() {
  static std::vector<Event*>* events = new std::vector<Event*>;
  Event* event = NewAutoResetEvent();
  events->push_back(event);
  return event;
}

// Runs StatusMonitorProc on a thread of the test's own, so that the test
// can wait for its end and see its result.
class StatusMonitorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Reset();
    fake::ResetTrace();
    context_.hDevice = OpenDevice("/dev/k#vid_6742&pid_0001");
    context_.bRunning = 1;
    context_.hEvent = KeptEvent();
    ASSERT_NE(context_.hEvent, nullptr);
  }

  static void Reset(const DeviceAnswers& answers = {}) { ResetDevices(answers); }

  void Start() {
    ::testing::internal::CaptureStdout();
    monitor_ = std::thread([this] { result_ = StatusMonitorProc(&context_); });
    id_ = monitor_.get_id();
  }

  // Clears the flag and waits for the monitor to end; answers its stdout.
  std::string Stop() {
    context_.bRunning = 0;
    monitor_.join();
    return ::testing::internal::GetCapturedStdout();
  }

  std::vector<std::string> Traces() const { return TraceLinesOf(id_); }
  bool WaitForTraces(size_t count) { return WaitForTraceLines(id_, count, seconds(10)); }

  MonitorContext context_{nullptr, {0}, nullptr};
  std::thread monitor_;
  std::thread::id id_;  // the monitor's, kept past its end
  uint32_t result_ = 99;
};

TEST_F(StatusMonitorTest, ClearedFlagTracesOnceMoreThenClosesWithZero) {
  context_.bRunning = 0;
  Start();
  monitor_.join();
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), kClose);
  EXPECT_EQ(result_, 0u);
  EXPECT_EQ(Traces(), std::vector<std::string>{kTrace});
  EXPECT_TRUE(DevicesLog().queries.empty());
}

TEST_F(StatusMonitorTest, WithoutSignalItOnlyTracesAndEndsWhenTheFlagIsCleared) {
  Start();
  ASSERT_TRUE(WaitForTraces(3));  // at least two waits have timed out
  std::string out = Stop();

  EXPECT_EQ(out, kClose);
  EXPECT_EQ(result_, 0u);
  std::vector<std::string> traces = Traces();
  EXPECT_GE(traces.size(), 3u);
  for (const std::string& line : traces) EXPECT_EQ(line, kTrace);
  EXPECT_TRUE(DevicesLog().queries.empty());
}

TEST_F(StatusMonitorTest, SignalMakesOneQueryWithNoInputAndATwoByteReply) {
  Start();
  SignalEvent(context_.hEvent);
  ASSERT_TRUE(WaitForQueries(1, seconds(10)));
  std::string out = Stop();

  EXPECT_EQ(out, std::string("SIGNALED!, bRet=1, port status:98\n") + kClose);
  fake::DeviceLog log = DevicesLog();
  ASSERT_EQ(log.queries.size(), 1u);
  EXPECT_EQ(log.queries[0].device, context_.hDevice);
  EXPECT_TRUE(log.queries[0].inputNull);
  EXPECT_EQ(log.queries[0].inputLength, 0u);
  EXPECT_EQ(log.queries[0].replyLength, 2u);
  EXPECT_EQ(log.queries[0].thread, id_);
  EXPECT_TRUE(log.closed.empty());  // the monitor never owns the device
}

TEST_F(StatusMonitorTest, SignalsBeforeAWakeCountAsOne) {
  SignalEvent(context_.hEvent);
  SignalEvent(context_.hEvent);
  Start();
  ASSERT_TRUE(WaitForQueries(1, seconds(10)));
  // The third turn starts only after the second one's wait has ended: had
  // that wait been signalled too, its query would be in the log by now.
  ASSERT_TRUE(WaitForTraces(3));
  std::string out = Stop();

  EXPECT_EQ(DevicesLog().queries.size(), 1u);
  EXPECT_EQ(out, std::string("SIGNALED!, bRet=1, port status:98\n") + kClose);
}

TEST_F(StatusMonitorTest, FailedQueryBeforeAnyGoodOneShowsErrorThenStatusZero) {
  DeviceAnswers answers;
  answers.queryFails = true;
  answers.queryError = 32;
  Reset(answers);
  Start();
  SignalEvent(context_.hEvent);
  ASSERT_TRUE(WaitForQueries(1, seconds(10)));
  std::string out = Stop();

  EXPECT_EQ(out, std::string("status error:32\nSIGNALED!, bRet=0, port status:0\n") + kClose);
}

TEST_F(StatusMonitorTest, FailedQueryRepeatsTheLastGoodStatusInLowercaseHex) {
  DeviceAnswers answers;
  answers.reply = {0x0a};
  Reset(answers);
  Start();
  SignalEvent(context_.hEvent);
  ASSERT_TRUE(WaitForQueries(1, seconds(10)));

  answers.queryFails = true;
  answers.queryError = 110;
  fake::SetDeviceAnswers(answers);
  SignalEvent(context_.hEvent);
  ASSERT_TRUE(WaitForQueries(2, seconds(10)));
  std::string out = Stop();

  EXPECT_EQ(out, std::string("SIGNALED!, bRet=1, port status:a\n"
                             "status error:110\n"
                             "SIGNALED!, bRet=0, port status:a\n") +
                     kClose);
}

TEST(StartStatusMonitorTest, StartsARunningMonitorOnTheDeviceThatASignalWakes) {
  ResetDevices();
  Device* device = OpenDevice("/dev/k#vid_6742&pid_0001");
  ::testing::internal::CaptureStdout();

  MonitorContext* context = StartStatusMonitor(device);

  ASSERT_NE(context, nullptr);
  EXPECT_EQ(context->hDevice, device);
  EXPECT_EQ(context->bRunning.load(), 1);
  ASSERT_NE(context->hEvent, nullptr);

  SignalEvent(context->hEvent);
  ASSERT_TRUE(WaitForQueries(1, seconds(10)));
  fake::QueryCall query = DevicesLog().queries[0];
  EXPECT_EQ(query.device, device);
  EXPECT_NE(query.thread, std::this_thread::get_id());
  // A turn that starts after the query's comes after its status line.
  size_t traced = TraceLinesOf(query.thread).size();
  ASSERT_TRUE(WaitForTraceLines(query.thread, traced + 1, seconds(10)));
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "SIGNALED!, bRet=1, port status:98\n");
  // It idles on, as in the program, until the process ends.
}

}  // namespace
}  // namespace korvo
