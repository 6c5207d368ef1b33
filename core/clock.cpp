#include "core/clock.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <thread>

namespace tovalink {

namespace {
constexpr int64_t kMsPerDay = 86'400'000;

std::string TwoDigits(int value) {
  char buffer[8];
  std::snprintf(buffer, sizeof buffer, "%02d", value % 100);
  return buffer;
}
}  // namespace

LocalDateTime Clock::Split(int64_t local_ms) {
  using namespace std::chrono;
  int64_t days = local_ms / kMsPerDay;
  int64_t rest = local_ms % kMsPerDay;
  if (rest < 0) {
    rest += kMsPerDay;
    --days;
  }
  const year_month_day ymd{sys_days{std::chrono::days{days}}};
  LocalDateTime local;
  local.year = static_cast<int>(ymd.year());
  local.month = static_cast<int>(static_cast<unsigned>(ymd.month()));
  local.day = static_cast<int>(static_cast<unsigned>(ymd.day()));
  local.hour = static_cast<int>(rest / 3'600'000);
  local.minute = static_cast<int>(rest / 60'000 % 60);
  local.second = static_cast<int>(rest / 1000 % 60);
  local.millisecond = static_cast<int>(rest % 1000);
  return local;
}

int64_t Clock::Join(const LocalDateTime& local) {
  using namespace std::chrono;
  const year_month_day ymd{year{local.year}, month{static_cast<unsigned>(local.month)},
                           day{static_cast<unsigned>(local.day)}};
  const int64_t days = sys_days{ymd}.time_since_epoch().count();
  return days * kMsPerDay + local.hour * 3'600'000LL + local.minute * 60'000LL +
         local.second * 1000LL + local.millisecond;
}

std::string Clock::FormatDate(const LocalDateTime& local) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d", local.year % 10000, local.month % 100,
                local.day % 100);
  return buffer;
}

std::string Clock::FormatTime(const LocalDateTime& local) {
  return TwoDigits(local.hour) + ":" + TwoDigits(local.minute) + ":" + TwoDigits(local.second);
}

LocalDateTime Clock::Local() { return Split(NowMs()); }
std::string Clock::Date() { return FormatDate(Local()); }
std::string Clock::Time() { return FormatTime(Local()); }

int Clock::SecondOfDay() {
  const LocalDateTime local = Local();
  return local.hour * 3600 + local.minute * 60 + local.second;
}

int64_t RealClock::NowMs() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const int64_t utc_ms = duration_cast<milliseconds>(now.time_since_epoch()).count();
  const std::time_t seconds = static_cast<std::time_t>(utc_ms / 1000);
  std::tm broken{};
  localtime_r(&seconds, &broken);
  return utc_ms + static_cast<int64_t>(broken.tm_gmtoff) * 1000;
}

int64_t RealClock::MonotonicMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void RealClock::SleepMs(int64_t milliseconds) {
  if (milliseconds > 0) std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

bool RealClock::WaitForMs(std::unique_lock<std::mutex>& lock, std::condition_variable& changed,
                          int64_t milliseconds, const std::function<bool()>& done) {
  // wait_for measures on the steady clock, as MonotonicMs does.
  return changed.wait_for(lock, std::chrono::milliseconds(std::max<int64_t>(milliseconds, 0)),
                          done);
}

VirtualClock::VirtualClock() : monotonic_ms_(Join(LocalDateTime{2026, 1, 5, 10, 0, 0, 0})) {}

int64_t VirtualClock::NowMs() {
  std::lock_guard lock(mutex_);
  return monotonic_ms_ + wall_offset_ms_;
}

int64_t VirtualClock::MonotonicMs() {
  std::lock_guard lock(mutex_);
  return monotonic_ms_;
}

void VirtualClock::SleepMs(int64_t milliseconds) {
  if (milliseconds < 0) milliseconds = 0;
  std::lock_guard lock(mutex_);
  slept_ms_ += milliseconds;
  AdvanceTo(monotonic_ms_ + milliseconds);
}

bool VirtualClock::WaitForMs(std::unique_lock<std::mutex>& lock,
                             std::condition_variable& /*changed*/, int64_t milliseconds,
                             const std::function<bool()>& done) {
  if (done()) return true;
  if (milliseconds < 0) milliseconds = 0;
  // The two mutexes are never held together: an action delivers what it brings through code
  // that takes the caller's mutex itself, and the caller may read the clock under its own.
  lock.unlock();
  int64_t start;
  {
    std::lock_guard clock_lock(mutex_);
    start = monotonic_ms_;
  }
  const int64_t target = start + milliseconds;
  bool ended = false;
  for (;;) {
    {
      std::lock_guard clock_lock(mutex_);
      if (!RunNextAction(target)) {
        if (target > monotonic_ms_) monotonic_ms_ = target;
        slept_ms_ += monotonic_ms_ - start;
        break;
      }
    }
    lock.lock();
    ended = done();
    lock.unlock();
    if (ended) {
      std::lock_guard clock_lock(mutex_);
      slept_ms_ += monotonic_ms_ - start;
      break;
    }
  }
  lock.lock();
  return ended || done();
}

void VirtualClock::SetLocal(int year, int month, int day, int hour, int minute, int second,
                            int millisecond) {
  std::lock_guard lock(mutex_);
  const int64_t wall = Join(LocalDateTime{year, month, day, hour, minute, second, millisecond});
  // Keep the monotonic reading where it is (it never goes back) but give it the wall's phase
  // within the second; the offset carries the rest.
  const int64_t phase_shift = ((wall - monotonic_ms_) % 1000 + 1000) % 1000;
  AdvanceTo(monotonic_ms_ + phase_shift);
  wall_offset_ms_ = wall - monotonic_ms_;
}

void VirtualClock::StepWall(int64_t milliseconds) {
  std::lock_guard lock(mutex_);
  wall_offset_ms_ += milliseconds;
}

void VirtualClock::AdvanceMs(int64_t milliseconds) {
  std::lock_guard lock(mutex_);
  AdvanceTo(monotonic_ms_ + milliseconds);
}

void VirtualClock::After(int64_t delay_ms, std::function<void()> action) {
  std::lock_guard lock(mutex_);
  actions_.emplace(std::make_pair(monotonic_ms_ + delay_ms, sequence_++), std::move(action));
}

int64_t VirtualClock::SleptMs() {
  std::lock_guard lock(mutex_);
  return slept_ms_;
}

void VirtualClock::ResetSlept() {
  std::lock_guard lock(mutex_);
  slept_ms_ = 0;
}

bool VirtualClock::RunNextAction(int64_t target) {
  if (actions_.empty() || actions_.begin()->first.first > target) return false;
  auto node = actions_.extract(actions_.begin());
  if (node.key().first > monotonic_ms_) monotonic_ms_ = node.key().first;
  node.mapped()();
  return true;
}

void VirtualClock::AdvanceTo(int64_t target) {
  // Actions may schedule further actions; each runs at its own moment.
  while (RunNextAction(target)) {
  }
  if (target > monotonic_ms_) monotonic_ms_ = target;
}

}  // namespace tovalink
