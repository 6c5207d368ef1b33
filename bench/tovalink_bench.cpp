// tovalink_bench: the figures that say whether the module is fast and frugal enough, each
// against its goal, compared with the previous run when there is one. scripts/bench builds a
// Release tree and runs this; see README.md.
//
//   tovalink_bench [--json FILE] [--previous FILE] [--label TEXT] [--parts P1,P2,P3,P4]
//                  [--quick]
//
//   P1  sale overhead: host-format SMS sales through modemsim answering at once
//   P2  idle cost: an idle tovalinkd (and the windowed tovalink, when built)
//   P3  settlement: replies per second at 100,000 and 1,000,000 sales, with the indexes
//   P4  codec: DecodePdu and ReadInbox throughput on one core
//
// --quick runs every part once on tiny inputs, to prove that it still works; its figures
// mean nothing. Needs TOVALINK_DB_SOCKET (scripts/mariadb).

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
};

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
    } else {
      throw std::runtime_error(
          "usage: tovalink_bench [--json FILE] [--previous FILE] [--label TEXT] "
          "[--parts P1,P2,P3,P4] [--quick]");
    }
  }
  return options;
}

void Heading(const std::string& text) { std::cout << "== " << text << std::endl; }

void SaleOverheadPart(const Options& options, Figures& figures) {
  const int sales = options.quick ? 3 : 21;
  Heading("P1 sale overhead: " + std::to_string(sales) + " host-format SMS sales");
  const SaleOverhead result = MeasureSaleOverhead(TOVALINKD_PATH, sales, std::cout);
  std::printf("  %d sales timed: %.1f exchanges and %.1f ms each; floor %.1f ms\n",
              result.sales_timed, result.exchanges_per_sale, result.ms_per_sale,
              result.floor_ms_per_sale);
  figures.Add({"P1.overhead", "P1 sale overhead over the floor", result.overhead_percent, "%",
               GoalKind::AtMost, 5});
  figures.Add({"P1.ms_per_sale", "P1 time per sale", result.ms_per_sale, "ms"});
  figures.Add({"P1.floor_ms_per_sale", "P1 floor per sale (100 ms per exchange)",
               result.floor_ms_per_sale, "ms"});
}

void PrintThreads(const IdleCost& cost) {
  for (const ThreadCost& thread : cost.threads) {
    std::printf("  thread %-16s %8.2f ms CPU  %5ld wake-ups\n", thread.name.c_str(), thread.cpu_ms,
                thread.wakeups);
  }
  std::printf("  a bare wake-up of a sleeping thread costs %.1f us of CPU here\n",
              cost.bare_wakeup_microseconds);
}

void IdlePart(const Options& options, Figures& figures) {
  const double seconds = options.quick ? 3 : 60;
  Heading("P2 idle cost: tovalinkd for " + std::to_string(static_cast<int>(seconds)) + " s");
  const IdleCost daemon = MeasureIdle(TOVALINKD_PATH, ModuleFrontEnd::Daemon, seconds, std::cout);
  PrintThreads(daemon);
  figures.Add({"P2.cpu", "P2 idle CPU, all threads", daemon.cpu_seconds_per_minute, "s/min",
               GoalKind::AtMost, 0.015});
  figures.Add({"P2.peak_resident", "P2 idle peak resident memory", daemon.peak_resident_mb, "MiB",
               GoalKind::AtMost, 8});
  figures.Add({"P2.wakeups", "P2 idle wake-ups", daemon.wakeups_per_second, "/s"});
  figures.Add({"P2.at_commands", "P2 idle AT commands", daemon.at_commands_per_minute, "/min"});
  figures.Add(
      {"P2.bare_wakeup", "P2 CPU of one bare wake-up here", daemon.bare_wakeup_microseconds, "us"});
  figures.Add({"P2.wakeup_floor", "P2 those wake-ups at that price",
               daemon.wakeups_per_second * daemon.bare_wakeup_microseconds * 60 / 1e6, "s/min"});

  const std::string window = TOVALINK_WINDOW_PATH;
  if (window.empty()) {
    std::cout << "  (the windowed tovalink is not built in this tree: no window figures)\n";
    return;
  }
  const double window_seconds = options.quick ? 3 : 20;
  Heading("P2 idle cost: the windowed tovalink (offscreen) for " +
          std::to_string(static_cast<int>(window_seconds)) + " s");
  const IdleCost windowed = MeasureIdle(window, ModuleFrontEnd::Window, window_seconds, std::cout);
  PrintThreads(windowed);
  figures.Add({"P2.window_peak_resident", "P2 windowed tovalink peak resident memory",
               windowed.peak_resident_mb, "MiB", GoalKind::AtMost, 40});
  figures.Add(
      {"P2.window_cpu", "P2 windowed tovalink idle CPU", windowed.cpu_seconds_per_minute, "s/min"});
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
  if (options.parts.count("P1")) SaleOverheadPart(options, figures);
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
