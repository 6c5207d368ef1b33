// tovalink_bench: the figures that say whether the module is fast and frugal enough, each
// against its goal, compared with the previous run when there is one. scripts/bench builds a
// Release tree and runs this; see README.md.
//
//   tovalink_bench [--json FILE] [--previous FILE] [--label TEXT] [--parts P1,P2,P3,P4]
//                  [--quick]
//
//   P1  sale time: sales of each provider type through modemsim answering at once, against
//       the channel's floor (its prescribed pauses plus the modem's own answer time)
//   P2  idle cost: an idle tovalinkd and, side by side, the windowed tovalink (when built)
//   P3  settlement: replies per second at 100,000 and 1,000,000 sales, with the indexes
//   P4  codec: DecodePdu and ReadInbox throughput on one core
//
// --quick runs every part once on tiny inputs, to prove that it still works; its figures
// mean nothing. Needs TOVALINK_DB_SOCKET (scripts/mariadb).

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>

#include "bench/codec_run.h"
#include "bench/figures.h"
#include "bench/module_run.h"
#include "bench/settle_run.h"

namespace tovalink {
namespace {

struct Options {
  std::string json;
  std::string previous;
  std::string label;
  std::set<std::string> parts = {"P1", "P2", "P3", "P4"};
  bool quick = false;
  bool help = false;
};

const char kUsage[] =
    "usage: tovalink_bench [--json FILE] [--previous FILE] [--label TEXT] "
    "[--parts P1,P2,P3,P4] [--quick]";

Options ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) throw std::runtime_error(arg + " needs a value");
      return argv[++i];
    };
    if (arg == "--json") {
      options.json = value();
    } else if (arg == "--previous") {
      options.previous = value();
    } else if (arg == "--label") {
      options.label = value();
    } else if (arg == "--parts") {
      options.parts.clear();
      std::istringstream list(value());
      for (std::string part; std::getline(list, part, ',');) options.parts.insert(part);
    } else if (arg == "--quick") {
      options.quick = true;
    } else if (arg == "--help") {
      options.help = true;
    } else {
      throw std::runtime_error(std::string(kUsage) + " (scripts/bench --help says more)");
    }
  }
  return options;
}

void Heading(const std::string& text) { std::cout << "== " << text << std::endl; }

void SaleTimePart(const Options& options, Figures& figures) {
  const int sales = options.quick ? 3 : 21;
  for (const SaleChannel& channel : SaleChannels()) {
    Heading("P1 sale time: " + std::to_string(sales) + " sales, " + channel.name);
    const SaleTime result = MeasureSaleTime(TOVALINKD_PATH, channel, sales, std::cout);
    std::printf(
        "  %d sales timed: %.1f exchanges and %.1f ms each; floor %.1f ms (%lld ms of pauses, "
        "%.1f ms of the modem's answers)\n"
        "  CPU per sale: the module %.2f ms, the database server %.2f ms\n",
        result.sales_timed, result.exchanges_per_sale, result.ms_per_sale, result.floor_ms_per_sale,
        static_cast<long long>(channel.pauses_ms), result.modem_ms_per_sale,
        result.module_cpu_ms_per_sale, result.server_cpu_ms_per_sale);
    const std::string key = "P1." + channel.id;
    figures.Add({key + ".over_floor", "P1 " + channel.id + " sale over its floor",
                 result.over_floor_percent, "%", GoalKind::AtMost, 5});
    figures.Add(
        {key + ".ms_per_sale", "P1 " + channel.id + " time per sale", result.ms_per_sale, "ms"});
    figures.Add({key + ".floor_ms", "P1 " + channel.id + " floor (pauses + modem)",
                 result.floor_ms_per_sale, "ms"});
    figures.Add({key + ".over_floor_ms", "P1 " + channel.id + " time above the floor",
                 result.ms_per_sale - result.floor_ms_per_sale, "ms"});
    figures.Add({key + ".module_cpu_ms", "P1 " + channel.id + " module CPU per sale",
                 result.module_cpu_ms_per_sale, "ms"});
    figures.Add({key + ".server_cpu_ms", "P1 " + channel.id + " server CPU per sale",
                 result.server_cpu_ms_per_sale, "ms"});
  }
}

// Per thread: CPU and wake-ups over the window, and per cycle of the worker.
void PrintThreads(const IdleCost& cost) {
  const double cycles = std::max(cost.cycles, 1.0);
  std::printf("  %.0f cycles in %.1f s; per thread over the window and per cycle:\n", cost.cycles,
              cost.seconds);
  double cpu_ms = 0;
  long wakeups = 0;
  for (const ThreadCost& thread : cost.threads) {
    std::printf("  thread %-16s %8.2f ms CPU %6ld wake-ups   %7.0f us %5.2f wake-ups a cycle\n",
                thread.name.c_str(), thread.cpu_ms, thread.wakeups, thread.cpu_ms * 1e3 / cycles,
                static_cast<double>(thread.wakeups) / cycles);
    cpu_ms += thread.cpu_ms;
    wakeups += thread.wakeups;
  }
  std::printf(
      "  all threads             %8.2f ms CPU %6ld wake-ups   %7.0f us %5.2f wake-ups a cycle\n",
      cpu_ms, wakeups, cpu_ms * 1e3 / cycles, static_cast<double>(wakeups) / cycles);
  std::printf("  a bare wake-up of a sleeping thread costs %.1f us of CPU here\n",
              cost.bare_wakeup_microseconds);
  std::printf(
      "  not counted: %.1f ms of CPU before the window (start-up, first cycles); modemsim "
      "%.4f s/min; the main thread alone (/proc/PID/schedstat) would give %.4f s/min\n",
      cost.startup_cpu_ms, cost.modemsim_cpu_seconds_per_minute,
      cost.main_thread_cpu_seconds_per_minute);
}

void IdlePart(const Options& options, Figures& figures) {
  const double seconds = options.quick ? 3 : 60;
  Heading("P2 idle cost: tovalinkd for " + std::to_string(static_cast<int>(seconds)) + " s");
  const IdleCost daemon = MeasureIdle(TOVALINKD_PATH, ModuleFrontEnd::Daemon, seconds, std::cout);
  PrintThreads(daemon);
  const double cycles = std::max(daemon.cycles, 1.0);
  figures.Add({"P2.cpu", "P2 idle CPU, the module's threads", daemon.cpu_seconds_per_minute,
               "s/min", GoalKind::AtMost, 0.015});
  figures.Add({"P2.peak_resident", "P2 idle peak resident memory", daemon.peak_resident_mb, "MiB",
               GoalKind::AtMost, 8});
  figures.Add({"P2.wakeups", "P2 idle wake-ups", daemon.wakeups_per_second, "/s"});
  figures.Add({"P2.at_commands", "P2 idle AT commands", daemon.at_commands_per_minute, "/min"});
  figures.Add({"P2.cycle_cpu", "P2 CPU of one idle cycle",
               daemon.cpu_seconds_per_minute * daemon.seconds / 60 * 1e6 / cycles, "us"});
  figures.Add({"P2.cycle_wakeups", "P2 wake-ups of one idle cycle",
               daemon.wakeups_per_second * daemon.seconds / cycles, ""});
  figures.Add(
      {"P2.bare_wakeup", "P2 CPU of one bare wake-up here", daemon.bare_wakeup_microseconds, "us"});
  figures.Add({"P2.wakeup_floor", "P2 those wake-ups at that price",
               daemon.wakeups_per_second * daemon.bare_wakeup_microseconds * 60 / 1e6, "s/min"});

  const std::string window = TOVALINK_WINDOW_PATH;
  if (window.empty()) {
    std::cout << "  (the windowed tovalink is not built in this tree: no window figures)\n";
    return;
  }
  Heading("P2 idle cost: the windowed tovalink (offscreen) for " +
          std::to_string(static_cast<int>(seconds)) + " s");
  const IdleCost windowed = MeasureIdle(window, ModuleFrontEnd::Window, seconds, std::cout);
  PrintThreads(windowed);
  figures.Add({"P2.window_peak_resident", "P2 windowed tovalink peak resident memory",
               windowed.peak_resident_mb, "MiB", GoalKind::AtMost, 40});
  figures.Add(
      {"P2.window_cpu", "P2 windowed tovalink idle CPU", windowed.cpu_seconds_per_minute, "s/min"});
  figures.Add({"P2.window_to_daemon", "P2 windowed tovalink against tovalinkd",
               windowed.cpu_seconds_per_minute / daemon.cpu_seconds_per_minute, "x",
               GoalKind::AtMost, 2});
}

void SettlePart(const Options& options, Figures& figures) {
  SettleBenchOptions small;
  SettleBenchOptions large;
  small.sales = 100000;
  large.sales = 1000000;
  if (options.quick) {
    for (SettleBenchOptions* settle : {&small, &large}) {
      settle->replies = 10;
      settle->unindexed_replies = 2;
      settle->statement_repeats = 3;
    }
    small.sales = 900;
    large.sales = 9000;
  }
  Heading("P3 settlement at " + std::to_string(small.sales) + " sales");
  const SettleResult at_small = RunSettleBench(small, std::cout);
  Heading("P3 settlement at " + std::to_string(large.sales) + " sales");
  const SettleResult at_large = RunSettleBench(large, std::cout);
  std::cout << "  one reply's statements at " << large.sales << " sales, each run alone:\n";
  PrintSettleProfile(at_large, std::cout);
  const std::string small_name = options.quick ? "small" : "100k";
  const std::string large_name = options.quick ? "large" : "1m";
  figures.Add({"P3.replies_" + small_name, "P3 replies/s at " + std::to_string(small.sales),
               at_small.replies_per_second, "/s"});
  figures.Add({"P3.replies_" + large_name, "P3 replies/s at " + std::to_string(large.sales),
               at_large.replies_per_second, "/s", GoalKind::AtLeast, 2000});
  figures.Add({"P3.module_cpu_" + large_name,
               "P3 module CPU per reply at " + std::to_string(large.sales),
               at_large.module_cpu_microseconds, "us"});
  figures.Add({"P3.growth", "P3 time per reply, x10 rows",
               at_small.replies_per_second / at_large.replies_per_second, "x", GoalKind::Below, 2});
  figures.Add({"P3.unindexed_" + small_name, "P3 without indexes at " + std::to_string(small.sales),
               at_small.unindexed_replies_per_second, "/s"});
  figures.Add({"P3.unindexed_" + large_name, "P3 without indexes at " + std::to_string(large.sales),
               at_large.unindexed_replies_per_second, "/s"});
}

void CodecPart(const Options& options, Figures& figures) {
  Heading("P4 codec, one core");
  const CodecResult result = RunCodecBench(options.quick ? 0.02 : 1.0, std::cout);
  figures.Add({"P4.decodes", "P4 DecodePdu, single-part", result.decodes_per_second, "/s",
               GoalKind::AtLeast, 1e6});
  figures.Add({"P4.inbox", "P4 ReadInbox", result.inbox_messages_per_second, "messages/s"});
}

int Main(int argc, char** argv) {
  Options options = ParseOptions(argc, argv);
  if (options.help) {
    std::cout << kUsage << "\nscripts/bench --help tells what each part measures.\n";
    return 0;
  }
  if (options.previous.empty()) options.previous = options.json;
  nlohmann::json previous;
  bool have_previous = false;
  if (!options.previous.empty()) {
    std::ifstream in(options.previous);
    if (in) {
      try {
        previous = nlohmann::json::parse(in);
        have_previous = true;
      } catch (const nlohmann::json::exception&) {
        std::cout << "(" << options.previous << " is no earlier run: not compared)\n";
      }
    }
  }

  Machine machine = ReadMachine();
  PrintMachine(std::cout, machine);
  const CpuTicks ticks = ReadCpuTicks();
  Figures figures;
  if (options.parts.count("P1")) SaleTimePart(options, figures);
  if (options.parts.count("P2")) IdlePart(options, figures);
  if (options.parts.count("P3")) SettlePart(options, figures);
  if (options.parts.count("P4")) CodecPart(options, figures);
  machine.load_after = LoadAverage();
  machine.busy_share = BusyShare(ticks, ReadCpuTicks());
  machine.measured = true;

  Heading("figures" + std::string(options.quick ? " (quick run: they mean nothing)" : ""));
  PrintMachine(std::cout, machine);
  if (have_previous) {
    std::cout << "previous run: " << previous.value("label", "") << ", load average "
              << previous["machine"].value("load_before", 0.0) << "\n";
  }
  figures.Print(std::cout, have_previous ? &previous : nullptr);
  if (!options.json.empty()) {
    std::ofstream out(options.json);
    out << figures.ToJson(machine, options.label).dump(2) << "\n";
    if (!out) throw std::runtime_error("cannot write " + options.json);
    std::cout << "written to " << options.json << "\n";
  }
  return 0;
}

}  // namespace
}  // namespace tovalink

int main(int argc, char** argv) {
  try {
    return tovalink::Main(argc, argv);
  } catch (const std::exception& error) {
    std::fflush(stdout);
    std::fprintf(stderr, "tovalink_bench: %s\n", error.what());
    return 1;
  }
}
