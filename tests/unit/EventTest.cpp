// The real auto-reset event and thread start of the platform layer.
#include "platform/Event.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/Thread.h"

namespace korvo {
namespace {

// Events have no release.
Event* KeptEvent() {
  static std::vector<Event*>* events = new std::vector<Event*>;
  Event* event = NewAutoResetEvent();
  events->push_back(event);
  return event;
}

TEST(EventTest, SignalsBeforeAWaitWakeItOnceAndTheWakeResetsTheEvent) {
  Event* event = KeptEvent();
  ASSERT_NE(event, nullptr);
  EXPECT_EQ(WaitForEvent(event, 0), WaitResult::TimedOut);  // starts not signalled

  SignalEvent(event);
  SignalEvent(event);
  EXPECT_EQ(WaitForEvent(event, 0), WaitResult::Signalled);
  EXPECT_EQ(WaitForEvent(event, 0), WaitResult::TimedOut);
  EXPECT_EQ(WaitForEvent(event, 10), WaitResult::TimedOut);

  SignalEvent(event);
  EXPECT_EQ(WaitForEvent(event, 10), WaitResult::Signalled);
}

TEST(EventTest, SignalFromAnotherThreadWakesAWaiter) {
  Event* event = KeptEvent();
  std::thread signaller([event] { SignalEvent(event); });
  EXPECT_EQ(WaitForEvent(event, 60000), WaitResult::Signalled);
  signaller.join();
}

TEST(EventTest, WaitOnAMissingEventFailsAtOnce) {
  EXPECT_EQ(WaitForEvent(nullptr, 60000), WaitResult::Failed);
}

struct Started {
  Event* done;
  std::thread::id ranOn;
  int value;
};

uint32_t Record(void* parameter) {
  // More stack than 16 KiB: the size asked for is Windows' first commitment,
  // not a limit.
  volatile char frame[256 * 1024];
  frame[0] = 1;
  frame[sizeof frame - 1] = 1;
  Started* started = static_cast<Started*>(parameter);
  started->ranOn = std::this_thread::get_id();
  started->value = 42;
  SignalEvent(started->done);
  return 0;
}

TEST(ThreadTest, RunsTheRoutineWithItsParameterOnAThreadOfItsOwn) {
  Started started{KeptEvent(), {}, 0};
  ASSERT_TRUE(StartDetachedThread(Record, &started, 16384));
  ASSERT_EQ(WaitForEvent(started.done, 60000), WaitResult::Signalled);
  EXPECT_EQ(started.value, 42);
  EXPECT_NE(started.ranOn, std::this_thread::get_id());
}

}  // namespace
}  // namespace korvo
