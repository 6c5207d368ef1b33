#pragma once
// The module as a program, measured: tovalinkd (or the windowed tovalink) beside its own
// dbsetting.txt, a fresh database on the throwaway server (TOVALINK_DB_SOCKET) with the
// recommended indexes and a host-format module's rows, and modemsim on a pseudo-terminal.
//
//   sale overhead  host-format SMS sales of module BENCH1 through a modem and a supplier that
//                  answer at once: the module's time per sale against the floor the behaviour
//                  sets, one 100 ms poll per exchange (such a sale has no fixed pause).
//   idle cost      the module with nothing to do: CPU time over all its threads, peak
//                  resident memory, wake-ups and AT commands, over a window of real time.
//
// Runs on the calling thread; progress lines go to `progress`.

#include <ostream>
#include <string>
#include <vector>

#include "sim/transcript.h"

namespace tovalink {

// The sales of a transcript: each begins with the RX of its "AT+CMGS=". The span runs from
// the first sale's beginning to the last's, so it holds `sales` whole sales and `exchanges`
// commands.
struct SaleTiming {
  int sales = 0;
  int exchanges = 0;
  int64_t span_ms = 0;
};
SaleTiming TimeSales(const std::vector<TranscriptLine>& transcript);

// The AT exchange looks at the modem's answer every 100 ms.
inline constexpr int kExchangePollMs = 100;

struct SaleOverhead {
  int sales_timed = 0;
  double exchanges_per_sale = 0;
  double ms_per_sale = 0;
  double floor_ms_per_sale = 0;
  double overhead_percent = 0;  // (time - floor) / floor
};

// Runs `sales` sales (at least 2) through `tovalinkd`; throws std::runtime_error when they are
// not all settled "SUKSES" in time.
SaleOverhead MeasureSaleOverhead(const std::string& tovalinkd, int sales, std::ostream& progress);

struct ThreadCost {
  std::string name;
  double cpu_ms = 0;
  long wakeups = 0;  // voluntary context switches
};

struct IdleCost {
  double seconds = 0;  // the window measured
  double cpu_seconds_per_minute = 0;
  double peak_resident_mb = 0;  // VmHWM, in MiB
  double wakeups_per_second = 0;
  double at_commands_per_minute = 0;
  std::vector<ThreadCost> threads;
  // CPU time one bare wake-up of a sleeping thread costs on this machine, measured over the
  // same window: the price of every wake-up the behaviour asks for.
  double bare_wakeup_microseconds = 0;
};

enum class ModuleFrontEnd { Daemon, Window };

// Starts the module (the windowed one on Qt's offscreen platform), lets it settle into its
// cycle and measures `seconds` of it.
IdleCost MeasureIdle(const std::string& program, ModuleFrontEnd front_end, double seconds,
                     std::ostream& progress);

}  // namespace tovalink
