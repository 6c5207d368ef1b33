#pragma once
// For the simulator's own tests: its outside world on a hand-turned clock, keeping what it
// sent with the moment it was sent and every transcript line.

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "sim/sim_io.h"

namespace tovalink::sim {

class FakeSimIo : public SimIo {
 public:
  void Send(const std::string& bytes) override { sent.push_back({now, bytes}); }
  void After(int64_t delay_ms, std::function<void()> action) override {
    timers.emplace(std::make_pair(now + delay_ms, sequence++), std::move(action));
  }
  void Record(const std::string& kind, const std::vector<std::string>& fields) override {
    records.push_back(kind + ":" + (fields.empty() ? "" : fields[0]) +
                      (fields.size() > 1 ? "|" + fields[1] : ""));
    lines.push_back({kind, fields});
  }
  // Runs the timers due within `ms`, each at its moment.
  void Advance(int64_t ms) {
    const int64_t target = now + ms;
    while (!timers.empty() && timers.begin()->first.first <= target) {
      auto node = timers.extract(timers.begin());
      now = node.key().first;
      node.mapped()();
    }
    now = target;
  }
  // Everything sent so far, joined, then forgotten.
  std::string Take() {
    std::string all;
    for (auto& [at, bytes] : sent) all += bytes;
    sent.clear();
    return all;
  }
  // The transcript lines of one kind, each as its fields joined by "|".
  std::vector<std::string> Lines(const std::string& kind) const {
    std::vector<std::string> found;
    for (const auto& [line_kind, fields] : lines) {
      if (line_kind != kind) continue;
      std::string joined;
      for (const std::string& field : fields) joined += (joined.empty() ? "" : "|") + field;
      found.push_back(joined);
    }
    return found;
  }

  int64_t now = 0;
  uint64_t sequence = 0;
  std::multimap<std::pair<int64_t, uint64_t>, std::function<void()>> timers;
  std::vector<std::pair<int64_t, std::string>> sent;
  std::vector<std::string> records;  // "KIND:field0|field1"
  std::vector<std::pair<std::string, std::vector<std::string>>> lines;
};

}  // namespace tovalink::sim
