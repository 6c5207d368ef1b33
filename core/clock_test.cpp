#include "core/clock.h"

#include <gtest/gtest.h>

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
