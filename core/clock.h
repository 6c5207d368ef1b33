#pragma once
// Every sleep and every reading of the time goes through a Clock, so that the timing rules
// (poll intervals, whole-second deadlines, waits across midnight) can be tested on a virtual
// clock without waiting.
//
// A Clock has two readings. The local wall clock gives the dates and times written to the
// database and shown; it may be stepped (by NTP, by a person) at any moment. The monotonic
// reading never jumps and is what every wait, deadline and period is measured on, so that a
// step of the wall clock neither stretches an exchange nor stops the supervision tick.

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>

namespace tovalink {

// A broken-down reading of the local wall clock.
struct LocalDateTime {
  int year = 1970;
  int month = 1;
  int day = 1;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};

class Clock {
 public:
  virtual ~Clock() = default;

  // Milliseconds since 1970-01-01 00:00 on the local wall clock (local time read as if it
  // were UTC), so that the date and the time of day follow from it directly.
  virtual int64_t NowMs() = 0;
  // Milliseconds on a clock that only moves forward, from an unspecified origin: for waiting.
  virtual int64_t MonotonicMs() = 0;
  virtual void SleepMs(int64_t milliseconds) = 0;
  // Sleeps for at most `milliseconds`, and less once `done()` holds: the wait of a thread
  // that another thread may release early. `lock` holds the mutex that guards what `done`
  // reads; it is held when `done` is called and on return, and released while sleeping.
  // Whoever makes `done` true does so under that mutex and then notifies `changed`.
  // Returns done().
  virtual bool WaitForMs(std::unique_lock<std::mutex>& lock, std::condition_variable& changed,
                         int64_t milliseconds, const std::function<bool()>& done) = 0;

  LocalDateTime Local();
  // "yyyy-mm-dd" of today.
  std::string Date();
  // "hh:mm:ss" of now.
  std::string Time();
  // Seconds since local midnight, 0..86399.
  int SecondOfDay();

  static LocalDateTime Split(int64_t local_ms);
  static int64_t Join(const LocalDateTime& local);
  static std::string FormatDate(const LocalDateTime& local);
  static std::string FormatTime(const LocalDateTime& local);
};

// The machine's clock; sleeps really sleep.
class RealClock : public Clock {
 public:
  int64_t NowMs() override;
  int64_t MonotonicMs() override;
  void SleepMs(int64_t milliseconds) override;
  bool WaitForMs(std::unique_lock<std::mutex>& lock, std::condition_variable& changed,
                 int64_t milliseconds, const std::function<bool()>& done) override;
};

// A clock for tests: SleepMs advances virtual time at once. Actions scheduled for a virtual
// moment run, in time order, on the thread whose sleep passes that moment (before its sleep
// returns), which is how a scripted modem "answers later". WaitForMs runs them the same way
// and looks at `done` after each one: the sleep ends at the moment of the action that made it
// true, so an answer that ends a wait ends it at its own virtual moment. (A change made by a
// thread of its own rather than by an action is seen when the sleep ends.) Safe to use from
// several threads. Both readings advance together; StepWall moves the wall clock alone, as
// NTP would.
class VirtualClock : public Clock {
 public:
  VirtualClock();  // starts at 2026-01-05 10:00:00.000
  int64_t NowMs() override;
  int64_t MonotonicMs() override;
  void SleepMs(int64_t milliseconds) override;
  bool WaitForMs(std::unique_lock<std::mutex>& lock, std::condition_variable& changed,
                 int64_t milliseconds, const std::function<bool()>& done) override;

  // Sets the scene: the wall clock reads this moment, and the monotonic reading has the same
  // sub-second phase, so whole-second rules line up with the times written.
  void SetLocal(int year, int month, int day, int hour, int minute, int second,
                int millisecond = 0);
  // Steps the wall clock by `milliseconds` (negative: back); waits are not affected.
  void StepWall(int64_t milliseconds);
  void AdvanceMs(int64_t milliseconds);
  // Runs `action` once virtual time reaches MonotonicMs() + delay_ms.
  void After(int64_t delay_ms, std::function<void()> action);
  // Total virtual milliseconds slept since construction (or the last reset); a sleep that
  // ended early counts for what it lasted.
  int64_t SleptMs();
  void ResetSlept();

 private:
  void AdvanceTo(int64_t target);
  // Runs the earliest action if it is due by `target`; false when none is.
  bool RunNextAction(int64_t target);

  std::recursive_mutex mutex_;
  int64_t monotonic_ms_;
  int64_t wall_offset_ms_ = 0;  // wall reading = monotonic reading + offset
  int64_t slept_ms_ = 0;
  uint64_t sequence_ = 0;
  std::multimap<std::pair<int64_t, uint64_t>, std::function<void()>> actions_;
};

}  // namespace tovalink
