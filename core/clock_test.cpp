#include "core/clock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace tovalink {
namespace {

TEST(ClockTest, SplitAndJoinAreInverse) {
  const LocalDateTime moment{2024, 2, 29, 23, 59, 58, 250};
  const LocalDateTime back = Clock::Split(Clock::Join(moment));
  EXPECT_EQ(Clock::FormatDate(back), "2024-02-29");
  EXPECT_EQ(Clock::FormatTime(back), "23:59:58");
  EXPECT_EQ(back.millisecond, 250);
}

TEST(VirtualClockTest, SleepingAdvancesTimeAcrossMidnight) {
  VirtualClock clock;
  clock.SetLocal(2026, 12, 31, 23, 59, 58);
  clock.SleepMs(2500);
  EXPECT_EQ(clock.Date(), "2027-01-01");
  EXPECT_EQ(clock.Time(), "00:00:00");
  EXPECT_EQ(clock.SecondOfDay(), 0);
  EXPECT_EQ(clock.SleptMs(), 2500);
}

TEST(VirtualClockTest, ScheduledActionsRunInOrderWhenTheirMomentPasses) {
  VirtualClock clock;
  std::string order;
  clock.After(300, [&] { order += "b"; });
  clock.After(100, [&] {
    order += "a";
    clock.After(50, [&] { order += "c"; });  // due at 150
  });
  clock.SleepMs(99);
  EXPECT_EQ(order, "");
  clock.SleepMs(100);
  EXPECT_EQ(order, "ac");
  clock.SleepMs(200);
  EXPECT_EQ(order, "acb");
}

// A wait that another thread may end early: on the virtual clock it ends at the moment of the
// action that ended it, and otherwise lasts its full length, running every action due in it.
TEST(VirtualClockTest, AWaitEndsAtTheMomentOfTheActionThatEndsIt) {
  struct Case {
    const char* name;
    int64_t release_at;  // when an action sets the flag; -1: never
    int64_t wait_ms;
    bool ended;
    int64_t slept_ms;
  };
  const Case cases[] = {
      {"released inside the wait", 250, 1000, true, 250},
      {"released at its last moment", 1000, 1000, true, 1000},
      {"released after it", 1001, 1000, false, 1000},
      {"never released", -1, 100, false, 100},
      {"already released", 0, 1000, true, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    VirtualClock clock;
    std::mutex mutex;
    std::condition_variable changed;
    bool released = false;
    std::string order;
    clock.After(100, [&] { order += "a"; });  // an earlier action runs as in any sleep
    if (c.release_at >= 0) {
      clock.After(c.release_at, [&] {
        std::lock_guard lock(mutex);
        released = true;
      });
    }
    if (c.release_at == 0) clock.SleepMs(0);
    clock.ResetSlept();
    const int64_t start = clock.MonotonicMs();
    std::unique_lock lock(mutex);
    EXPECT_EQ(clock.WaitForMs(lock, changed, c.wait_ms, [&] { return released; }), c.ended);
    EXPECT_TRUE(lock.owns_lock());
    lock.unlock();  // the clock is read, as the exchange reads it, without the caller's mutex
    EXPECT_EQ(clock.MonotonicMs() - start, c.slept_ms);
    EXPECT_EQ(clock.SleptMs(), c.slept_ms);
    EXPECT_EQ(order, c.slept_ms >= 100 ? "a" : "");
  }
}

TEST(RealClockTest, AWaitEndsWhenAnotherThreadReleasesIt) {
  RealClock clock;
  std::mutex mutex;
  std::condition_variable changed;
  bool released = false;
  std::thread other([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    {
      std::lock_guard lock(mutex);
      released = true;
    }
    changed.notify_one();
  });
  const int64_t start = clock.MonotonicMs();
  std::unique_lock lock(mutex);
  EXPECT_TRUE(clock.WaitForMs(lock, changed, 60'000, [&] { return released; }));
  lock.unlock();
  EXPECT_LT(clock.MonotonicMs() - start, 30'000);
  other.join();
  // Nobody releases it: the wait lasts its length.
  released = false;
  const int64_t again = clock.MonotonicMs();
  lock.lock();
  EXPECT_FALSE(clock.WaitForMs(lock, changed, 30, [&] { return released; }));
  lock.unlock();
  EXPECT_GE(clock.MonotonicMs() - again, 30);
}

TEST(VirtualClockTest, WallStepsLeaveTheMonotonicReadingAlone) {
  VirtualClock clock;
  clock.SetLocal(2026, 3, 2, 9, 30, 0, 250);
  const int64_t monotonic = clock.MonotonicMs();
  EXPECT_EQ(monotonic % 1000, 250);  // the same phase within the second as the wall clock
  clock.StepWall(-3'600'000);
  EXPECT_EQ(clock.Time(), "08:30:00");
  EXPECT_EQ(clock.MonotonicMs(), monotonic);
  clock.SleepMs(1000);
  EXPECT_EQ(clock.Time(), "08:30:01");
  EXPECT_EQ(clock.MonotonicMs(), monotonic + 1000);
}

TEST(RealClockTest, ReadsTheLocalDate) {
  RealClock clock;
  EXPECT_EQ(clock.Date().size(), 10u);
  EXPECT_EQ(clock.Time().size(), 8u);
}

}  // namespace
}  // namespace tovalink
