#include "bench/figures.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

namespace tovalink {

namespace {

std::string Number(double value) {
  char buffer[64];
  const double magnitude = value < 0 ? -value : value;
  if (magnitude >= 1000) {
    std::snprintf(buffer, sizeof buffer, "%.0f", value);
  } else if (magnitude >= 10) {
    std::snprintf(buffer, sizeof buffer, "%.1f", value);
  } else if (magnitude >= 0.1) {
    std::snprintf(buffer, sizeof buffer, "%.3f", value);
  } else {
    std::snprintf(buffer, sizeof buffer, "%.4f", value);
  }
  return buffer;
}

const char* GoalSign(GoalKind kind) {
  switch (kind) {
    case GoalKind::AtMost:
      return "<=";
    case GoalKind::AtLeast:
      return ">=";
    case GoalKind::Below:
      return "<";
    case GoalKind::None:
      return "";
  }
  return "";
}

const char* GoalWord(GoalKind kind) {
  switch (kind) {
    case GoalKind::AtMost:
      return "at_most";
    case GoalKind::AtLeast:
      return "at_least";
    case GoalKind::Below:
      return "below";
    case GoalKind::None:
      return "none";
  }
  return "none";
}

std::string Padded(const std::string& text, size_t width) {
  return text.size() >= width ? text + " " : text + std::string(width - text.size(), ' ');
}

}  // namespace

std::optional<double> Figure::Ratio() const {
  if (goal_kind == GoalKind::None || goal == 0) return std::nullopt;
  return value / goal;
}

std::optional<bool> Figure::Meets() const {
  switch (goal_kind) {
    case GoalKind::AtMost:
      return value <= goal;
    case GoalKind::AtLeast:
      return value >= goal;
    case GoalKind::Below:
      return value < goal;
    case GoalKind::None:
      return std::nullopt;
  }
  return std::nullopt;
}

void Figures::Add(Figure figure) { figures_.push_back(std::move(figure)); }

const Figure* Figures::Find(const std::string& id) const {
  for (const Figure& figure : figures_) {
    if (figure.id == id) return &figure;
  }
  return nullptr;
}

void Figures::Print(std::ostream& out, const nlohmann::json* previous) const {
  out << Padded("figure", 46) << Padded("value", 16) << Padded("goal", 14) << Padded("ratio", 8)
      << Padded("", 7);
  if (previous != nullptr) out << "previous -> change";
  out << "\n";
  for (const Figure& figure : figures_) {
    std::string goal;
    if (figure.goal_kind != GoalKind::None) {
      goal = std::string(GoalSign(figure.goal_kind)) + " " + Number(figure.goal);
    }
    const std::optional<double> ratio = figure.Ratio();
    const std::optional<bool> meets = figure.Meets();
    out << Padded(figure.name, 46) << Padded(Number(figure.value) + " " + figure.unit, 16)
        << Padded(goal, 14) << Padded(ratio ? Number(*ratio) : "", 8)
        << Padded(meets ? (*meets ? "met" : "MISSED") : "", 7);
    if (previous != nullptr && previous->contains("figures")) {
      for (const nlohmann::json& earlier : (*previous)["figures"]) {
        if (earlier.value("id", "") != figure.id || !earlier.contains("value")) continue;
        const double before = earlier["value"].get<double>();
        out << Number(before);
        if (before != 0) {
          char change[32];
          std::snprintf(change, sizeof change, " -> %+.1f %%",
                        (figure.value - before) / before * 100);
          out << change;
        }
      }
    }
    out << "\n";
  }
}

nlohmann::json Figures::ToJson(const Machine& machine, const std::string& label) const {
  nlohmann::json figures = nlohmann::json::array();
  for (const Figure& figure : figures_) {
    nlohmann::json entry = {{"id", figure.id},
                            {"name", figure.name},
                            {"value", figure.value},
                            {"unit", figure.unit},
                            {"goal_kind", GoalWord(figure.goal_kind)}};
    if (figure.goal_kind != GoalKind::None) entry["goal"] = figure.goal;
    if (const auto ratio = figure.Ratio()) entry["ratio"] = *ratio;
    if (const auto meets = figure.Meets()) entry["met"] = *meets;
    figures.push_back(entry);
  }
  return {{"label", label},
          {"machine",
           {{"cores", machine.cores},
            {"cpu", machine.cpu},
            {"kernel", machine.kernel},
            {"load_before", machine.load_before},
            {"load_after", machine.load_after},
            {"busy_share", machine.busy_share}}},
          {"figures", figures}};
}

double LoadAverage() {
  std::ifstream in("/proc/loadavg");
  double load = 0;
  in >> load;
  return load;
}

CpuTicks ReadCpuTicks() {
  std::ifstream in("/proc/stat");
  std::string cpu;
  in >> cpu;
  // user nice system idle iowait irq softirq steal
  unsigned long long fields[8] = {};
  for (unsigned long long& field : fields) in >> field;
  CpuTicks ticks;
  for (const unsigned long long field : fields) ticks.total += field;
  ticks.busy = ticks.total - fields[3] - fields[4];
  return ticks;
}

double BusyShare(const CpuTicks& before, const CpuTicks& after) {
  const unsigned long long total = after.total - before.total;
  return total == 0 ? 0
                    : static_cast<double>(after.busy - before.busy) / static_cast<double>(total);
}

Machine ReadMachine() {
  Machine machine;
  machine.cores = static_cast<int>(sysconf(_SC_NPROCESSORS_ONLN));
  std::ifstream cpuinfo("/proc/cpuinfo");
  std::string line;
  while (std::getline(cpuinfo, line)) {
    if (line.rfind("model name", 0) == 0) {
      const size_t colon = line.find(':');
      if (colon != std::string::npos) machine.cpu = line.substr(colon + 2);
      break;
    }
  }
  utsname names{};
  if (uname(&names) == 0) machine.kernel = std::string(names.sysname) + " " + names.release;
  machine.load_before = LoadAverage();
  return machine;
}

void PrintMachine(std::ostream& out, const Machine& machine) {
  char line[256];
  std::snprintf(line, sizeof line, "machine: %d cores (%s), %s; load average %.2f at the start",
                machine.cores, machine.cpu.c_str(), machine.kernel.c_str(), machine.load_before);
  out << line;
  if (machine.measured) {
    std::snprintf(line, sizeof line, ", %.2f at the end; %.0f %% of all cores busy during the run",
                  machine.load_after, machine.busy_share * 100);
    out << line;
  }
  out << "\n";
}

}  // namespace tovalink
