#pragma once
// The simulated modem in process, for engine tests: a SerialPort whose writes feed a
// sim::Simulator and whose answers reach the receive handler on a VirtualClock, so that a
// test can run an M-TRONIK walk, a USSD dialogue or a stock sale through the module's own
// exchange against the same operator model as the end-to-end tests, without a terminal and
// without waiting.
//
// Timing, as with ScriptedPort (whose delivery thread, handler locking, open/close and write
// faults this port uses): bytes the simulator sends at a virtual moment are handed to the
// delivery thread by whichever thread's sleep passes that moment, which then waits until the
// receive handler has taken them. So an answer is in RxBuffer before the sleep that passed
// its moment returns, and its timing on the virtual clock is exact: an answer sent at once
// ends the exchange at once, a "+STIN:" due 200 ms later ends it at 200 ms. (A handler that reads the same virtual clock waits for that sleep, as with
// ScriptedPort; the bytes then arrive up to 2 s of real time late.)
//
// Threads: every member may be called from any thread. The simulator runs under one lock, on
// the writing thread (Write) or the sleeping thread (later actions); that lock is never held
// while the clock's lock is taken, so writers and sleepers on different threads cannot block
// each other. Lifetime: the clock must outlive the port; actions still scheduled on the clock
// when the port goes do nothing.

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/clock.h"
#include "modem/serial_port.h"
#include "sim/scenario.h"
#include "sim/simulator.h"
#include "sim/transcript.h"

namespace tovalink::sim {

class SimulatedPort : public SerialPort {
 public:
  // Plays `scenario_json` (modemsim --help describes it; "" for the default modem). Throws
  // std::runtime_error when the scenario cannot be read. The scenario's messages are placed
  // at once and announced at the first sleep.
  SimulatedPort(VirtualClock& clock, const std::string& scenario_json);
  SimulatedPort(VirtualClock& clock, Scenario scenario);
  ~SimulatedPort() override;
  SimulatedPort(const SimulatedPort&) = delete;
  SimulatedPort& operator=(const SimulatedPort&) = delete;

  void Open(const std::string& path, const SerialSettings& settings) override;
  void Close() override;
  bool IsOpen() const override;
  // Throws PortError when the port is closed or writes are set to fail; the simulator then
  // hears nothing.
  void Write(const std::string& bytes) override;
  void SetReceiveHandler(ReceiveHandler handler) override;
  void SetLineHandler(LineHandler handler) override;

  // Faults of the line itself (the operator's faults are the scenario's).
  void SetFailOpen(bool fail);
  void SetFailWrites(bool fail);

  // Everything written so far, one entry per Write; the writes that begin with `prefix`.
  std::vector<std::string> Written() const;
  std::vector<std::string> Written(const std::string& prefix) const;

  // The transcript so far, as modemsim writes it (kinds in modemsim --help); `ms` counts
  // virtual milliseconds since the port was made.
  std::vector<TranscriptLine> Transcript() const;
  // The lines of one kind, each as its fields joined by "|".
  std::vector<std::string> Lines(const std::string& kind) const;
  // A copy of a message store ("ME" or "SM").
  std::map<int, Simulator::Stored> Store(const std::string& name) const;
  // Runs `look` on the simulator under its lock, for what the accessors above do not give.
  void Inspect(const std::function<void(const Simulator&)>& look) const;

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace tovalink::sim
