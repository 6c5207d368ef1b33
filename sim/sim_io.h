#pragma once
// What the simulated modem needs from its runner: a line to send bytes on, a way to act
// later, and a transcript. The pseudo-terminal runner (modemsim), the in-process port and the
// tests each give one, so the same modem logic runs over all of them.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tovalink::sim {

class SimIo {
 public:
  virtual ~SimIo() = default;
  // Sends bytes to the module now.
  virtual void Send(const std::string& bytes) = 0;
  // Runs `action` once `delay_ms` have passed on the runner's clock, on the thread that drives
  // the simulator (never inside the call that scheduled it).
  virtual void After(int64_t delay_ms, std::function<void()> action) = 0;
  // One transcript line of `kind` with its fields (see modemsim --help for the kinds).
  virtual void Record(const std::string& kind, const std::vector<std::string>& fields) = 0;
  // Whether a received command (already recorded) reaches the modem at all: a silent or
  // vanished modem neither carries it out nor answers it. A sound line hears everything.
  virtual bool Hears(const std::string& command) {
    (void)command;
    return true;
  }
};

}  // namespace tovalink::sim
