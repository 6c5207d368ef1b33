#pragma once
// The figures of one benchmark run: each with its value, its goal and how the two compare,
// printed as a table, written as JSON, and compared with the figures of an earlier run.
//
// Not thread-safe: one run fills one Figures on one thread.

#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace tovalink {

enum class GoalKind {
  None,     // a figure shown for understanding, with no goal of its own
  AtMost,   // met when value <= goal
  AtLeast,  // met when value >= goal
  Below,    // met when value < goal
};

struct Figure {
  std::string id;    // stable key across runs, such as "P3.replies_per_second_1m"
  std::string name;  // what a reader sees
  double value = 0;
  std::string unit;
  GoalKind goal_kind = GoalKind::None;
  double goal = 0;

  // value / goal: at most 1 meets an AtMost or Below goal, at least 1 an AtLeast goal.
  std::optional<double> Ratio() const;
  std::optional<bool> Meets() const;
};

// The conditions a run was measured under: the same figures on a loaded machine mean less.
struct Machine {
  int cores = 0;
  std::string cpu;
  std::string kernel;
  double load_before = 0;  // one-minute load average at the start
  double load_after = 0;
  // Share of all cores' time that was busy during the run (every process, the benchmark's
  // own included), from /proc/stat.
  double busy_share = 0;
  bool measured = false;  // the run is over: load_after and busy_share hold its readings
};

class Figures {
 public:
  void Add(Figure figure);
  const std::vector<Figure>& All() const { return figures_; }
  const Figure* Find(const std::string& id) const;

  // One line per figure: name, value, goal, ratio and whether it is met; with `previous`,
  // also the earlier value and the change.
  void Print(std::ostream& out, const nlohmann::json* previous = nullptr) const;
  nlohmann::json ToJson(const Machine& machine, const std::string& label) const;

 private:
  std::vector<Figure> figures_;
};

// Reads the conditions of the machine now; `busy_share` is left to the caller.
Machine ReadMachine();
// Ticks of /proc/stat's first line: busy and total, for a busy share between two readings.
struct CpuTicks {
  unsigned long long busy = 0;
  unsigned long long total = 0;
};
CpuTicks ReadCpuTicks();
double BusyShare(const CpuTicks& before, const CpuTicks& after);
double LoadAverage();

void PrintMachine(std::ostream& out, const Machine& machine);

}  // namespace tovalink
