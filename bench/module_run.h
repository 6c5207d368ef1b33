#pragma once
// The module as a program, measured: tovalinkd (or the windowed tovalink) beside its own
// dbsetting.txt, a fresh database on the throwaway server (TOVALINK_DB_SOCKET) with the
// recommended indexes and one module's rows, and modemsim on a pseudo-terminal.
//
//   sale time   sales of module BENCH1 through one provider type's channel, with a SIM and
//               an operator that answer at once: the module's time per sale against the floor
//               of that channel, the pauses its behaviour prescribes plus the time the modem
//               itself took to answer (both read from the modem's transcript).
//   idle cost   the module with nothing to do: CPU time of its own threads, peak resident
//               memory, wake-ups and AT commands, over a window of real time that begins
//               once start-up is over.
//
// Runs on the calling thread; progress lines go to `progress`.

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "sim/transcript.h"

namespace tovalink {

// A provider type as the benchmark sells through it.
struct SaleChannel {
  std::string id;           // the figures' key: "sms", "mtronik", "dompet", "mkios"
  std::string name;         // what a reader sees
  std::string rows;         // SQL: module BENCH1's row, its product and reply rules
  std::string product;      // the product of every sale
  std::string scenario;     // modemsim's scenario: the SIM and an operator answering at once
  std::string sale_begins;  // the command that begins each sale in the transcript
  int64_t pauses_ms = 0;    // the pauses the behaviour prescribes within one sale
};

// Host-format SMS, M-TRONIK on a WAVECOM modem, DOMPET by "DIAL151" and MKIOS.
const std::vector<SaleChannel>& SaleChannels();

// The sales of a transcript: each begins with the RX of a command that begins with
// `sale_begins`. The span runs from the first sale's beginning to the last's, so it holds
// `sales` whole sales and `exchanges` commands. The modem's time is what the modem took over
// each of those commands: from its RX to the last TX before the next RX.
struct SaleTiming {
  int sales = 0;
  int exchanges = 0;
  int64_t span_ms = 0;
  int64_t modem_ms = 0;
};
SaleTiming TimeSales(const std::vector<TranscriptLine>& transcript, const std::string& sale_begins);

struct SaleTime {
  int sales_timed = 0;
  double exchanges_per_sale = 0;
  double ms_per_sale = 0;
  double modem_ms_per_sale = 0;
  double floor_ms_per_sale = 0;   // the channel's pauses plus the modem's time
  double over_floor_percent = 0;  // (time - floor) / floor, a floor under 1 ms counting as 1
  // CPU time over the sales, per sale: the module's threads and the database server's. With
  // the floor they account for most of a sale's time; the rest is hand-overs between
  // processes.
  double module_cpu_ms_per_sale = 0;
  double server_cpu_ms_per_sale = 0;
};

// Runs `sales` sales (at least 2) through `tovalinkd` and `channel`; throws
// std::runtime_error when they are not all settled "SUKSES" in time.
SaleTime MeasureSaleTime(const std::string& tovalinkd, const SaleChannel& channel, int sales,
                         std::ostream& progress);

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
  double cycles = 0;  // the worker's cycles in the window (its store switches)
  std::vector<ThreadCost> threads;
  // Not counted above, for comparing with other ways of counting: the module's CPU time
  // before the window (start-up and its first cycles), its main thread's share (what
  // /proc/PID/schedstat alone shows), and the simulated modem's CPU over the window.
  double startup_cpu_ms = 0;
  double main_thread_cpu_seconds_per_minute = 0;
  double modemsim_cpu_seconds_per_minute = 0;
  // CPU time one bare wake-up of a sleeping thread costs on this machine, measured over the
  // same window: the price of every wake-up the behaviour asks for.
  double bare_wakeup_microseconds = 0;
};

enum class ModuleFrontEnd { Daemon, Window };

// Starts the module (the windowed one on Qt's offscreen platform), lets it settle into its
// cycle and measures `seconds` of it: the CPU time of the module's own threads from
// /proc/PID/task/*/schedstat, from the window's first reading to its last (a thread that ends
// inside the window counts up to its last reading).
IdleCost MeasureIdle(const std::string& program, ModuleFrontEnd front_end, double seconds,
                     std::ostream& progress);

}  // namespace tovalink
