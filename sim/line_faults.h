#pragma once
// A poor line between the module and the simulated modem: what the scenario's "line" section
// asks for. The modem can fall silent at a given command (for a while or for good), vanish
// (its terminal closed, as a USB modem pulled out), and spoil what it sends: NUL bytes in
// it, garbage lines at intervals, every answer trickling out in small pieces with pauses.
//
// LineFaults wraps the runner's SimIo: the simulator sends through it, and asks it with
// Hears() whether a received command reaches the modem at all. The runner closes its
// terminal once Vanished() is true.
// Not thread-safe: the runner calls it from the simulator's one thread.

#include <cstdint>
#include <functional>
#include <nlohmann/json_fwd.hpp>
#include <string>
#include <vector>

#include "sim/scenario.h"
#include "sim/sim_io.h"

namespace tovalink::sim {

class LineFaults : public SimIo {
 public:
  // `settings` (the scenario's "line" section) is copied; `line` outlives this.
  LineFaults(const LineScenario& settings, SimIo& line);

  // Starts the garbage lines, if the scenario has any.
  void Start();

  void Send(const std::string& bytes) override;
  void After(int64_t delay_ms, std::function<void()> action) override;
  void Record(const std::string& kind, const std::vector<std::string>& fields) override;
  bool Hears(const std::string& command) override;

  bool Silent() const { return silent_; }
  bool Vanished() const { return vanished_; }

 private:
  // True when `command` is the one `trigger` waits for (counting it when it matches).
  static bool Fires(const LineScenario::Trigger& trigger, int& seen, const std::string& command);
  void Queue(const std::string& bytes);
  void Pump();
  void Noise();

  LineScenario settings_;
  SimIo& line_;
  bool silent_ = false;
  bool vanished_ = false;
  int silent_seen_ = 0;
  int vanish_seen_ = 0;
  size_t since_nul_ = 0;  // bytes sent since the last NUL put in
  std::string queued_;    // bytes waiting for their piece to go
  bool pumping_ = false;
};

// Reads the "line" section; throws std::runtime_error naming what is wrong.
LineScenario ParseLineScenario(const nlohmann::json& object);

// The "line" section's part of modemsim --help.
const char* LineFaultsHelp();

}  // namespace tovalink::sim
