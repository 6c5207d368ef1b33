// A preloaded library for end-to-end tests that step a program's wall clock as NTP would,
// without touching the machine's: every reading of the real-time clock is shifted by the
// number of seconds written in the file that TOVALINK_WALL_SHIFT_FILE names (0 while the file
// is missing or empty). The monotonic clock is left alone. The file is read at every call, so
// a test can step the clock while the program runs.
//
//   LD_PRELOAD=libtovalink_wall_clock_shift.so TOVALINK_WALL_SHIFT_FILE=/tmp/shift program
#include <dlfcn.h>
#include <sys/time.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>

namespace {

long ShiftSeconds() {
  const char* path = std::getenv("TOVALINK_WALL_SHIFT_FILE");
  if (path == nullptr) return 0;
  std::FILE* file = std::fopen(path, "r");
  if (file == nullptr) return 0;
  long seconds = 0;
  if (std::fscanf(file, "%ld", &seconds) != 1) seconds = 0;
  std::fclose(file);
  return seconds;
}

using ClockGetTime = int (*)(clockid_t, struct timespec*);

ClockGetTime RealClockGetTime() {
  static const auto real = reinterpret_cast<ClockGetTime>(dlsym(RTLD_NEXT, "clock_gettime"));
  return real;
}

}  // namespace

extern "C" {

int clock_gettime(clockid_t clock, struct timespec* now) {
  const int result = RealClockGetTime()(clock, now);
  if (result == 0 && (clock == CLOCK_REALTIME || clock == CLOCK_REALTIME_COARSE)) {
    now->tv_sec += ShiftSeconds();
  }
  return result;
}

int gettimeofday(struct timeval* now, void*) {
  struct timespec reading {};
  const int result = clock_gettime(CLOCK_REALTIME, &reading);
  if (result == 0) {
    now->tv_sec = reading.tv_sec;
    now->tv_usec = reading.tv_nsec / 1000;
  }
  return result;
}

time_t time(time_t* now) {
  struct timespec reading {};
  clock_gettime(CLOCK_REALTIME, &reading);
  if (now != nullptr) *now = reading.tv_sec;
  return reading.tv_sec;
}

}  // extern "C"
