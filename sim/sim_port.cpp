#include "sim/sim_port.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <utility>

#include "modem/scripted_port.h"
#include "sim/sim_io.h"

namespace tovalink::sim {

// Everything the port shares with the actions it leaves on the clock.
struct SimulatedPort::State : SimIo {
  explicit State(VirtualClock& virtual_clock) : clock(virtual_clock), line(virtual_clock) {
    start_ms = clock.NowMs();
    line.SetReceiveHandler([this](const std::string& bytes) { Received(bytes); });
  }

  // --- SimIo, called by the simulator with `mutex` held. ---
  void Send(const std::string& bytes) override {
    if (bytes.empty()) return;
    Record("TX", {bytes});
    outgoing.push_back(bytes);
  }
  void After(int64_t delay_ms, std::function<void()> action) override {
    later.emplace_back(delay_ms, std::move(action));
  }
  void Record(const std::string& kind, const std::vector<std::string>& fields) override {
    transcript.push_back(TranscriptLine{now_ms - start_ms, kind, fields});
  }

  // Runs `step` on the simulator, then hands what it sent and scheduled to the clock. The
  // clock is read before the lock is taken and written after it is released.
  static void Run(const std::shared_ptr<State>& state,
                  const std::function<void(Simulator&)>& step) {
    const int64_t now = state->clock.NowMs();
    std::vector<std::string> sent;
    std::vector<std::pair<int64_t, std::function<void()>>> scheduled;
    {
      std::lock_guard lock(state->mutex);
      state->now_ms = now;
      try {
        step(*state->simulator);
      } catch (const std::exception& error) {
        // As modemsim does: a message the operator cannot send is lost, not the line.
        state->Record("NOTE", {std::string("a step failed: ") + error.what()});
      }
      sent.swap(state->outgoing);
      scheduled.swap(state->later);
    }
    std::weak_ptr<State> weak = state;
    for (std::string& bytes : sent) {
      state->clock.After(0, [weak, bytes = std::move(bytes)] {
        if (auto alive = weak.lock()) alive->Deliver(bytes);
      });
    }
    for (auto& [delay_ms, action] : scheduled) {
      state->clock.After(delay_ms, [weak, action = std::move(action)] {
        if (auto alive = weak.lock()) Run(alive, [&action](Simulator&) { action(); });
      });
    }
  }

  // On the sleeping thread: queue the bytes and wait until the handler has taken them. The
  // wait gives up after a while rather than hang a test whose handler reads the clock.
  void Deliver(const std::string& bytes) {
    uint64_t ticket;
    {
      std::lock_guard lock(handler_mutex);
      ticket = ++queued;
    }
    line.PushAsync(bytes);
    std::unique_lock lock(handler_mutex);
    taken_changed.wait_for(lock, std::chrono::seconds(2), [&] { return taken >= ticket; });
  }

  // On the delivery thread, for every chunk in order.
  void Received(const std::string& bytes) {
    ReceiveHandler handler;
    {
      std::lock_guard lock(handler_mutex);
      handler = receive_handler;
    }
    if (handler) handler(bytes);
    std::lock_guard lock(handler_mutex);
    ++taken;
    taken_changed.notify_all();
  }

  VirtualClock& clock;
  int64_t start_ms = 0;

  std::mutex mutex;  // guards everything down to `later`
  std::unique_ptr<Simulator> simulator;
  std::vector<TranscriptLine> transcript;
  int64_t now_ms = 0;  // the virtual moment of the simulator's current step
  std::vector<std::string> outgoing;
  std::vector<std::pair<int64_t, std::function<void()>>> later;

  std::mutex handler_mutex;  // guards the handler and the counts below
  std::condition_variable taken_changed;
  ReceiveHandler receive_handler;
  uint64_t queued = 0;
  uint64_t taken = 0;

  // Last, so that it goes first: its delivery thread ends before the members it calls into.
  ScriptedPort line;
};

SimulatedPort::SimulatedPort(VirtualClock& clock, const std::string& scenario_json)
    : SimulatedPort(clock, scenario_json.empty() ? Scenario{} : ParseScenario(scenario_json)) {}

SimulatedPort::SimulatedPort(VirtualClock& clock, Scenario scenario)
    : state_(std::make_shared<State>(clock)) {
  {
    std::lock_guard lock(state_->mutex);
    state_->simulator = std::make_unique<Simulator>(std::move(scenario), *state_);
  }
  State::Run(state_, [](Simulator& simulator) { simulator.Start(); });
}

SimulatedPort::~SimulatedPort() { state_->line.SetReceiveHandler({}); }

void SimulatedPort::Open(const std::string& path, const SerialSettings& settings) {
  state_->line.Open(path, settings);
}

void SimulatedPort::Close() { state_->line.Close(); }

bool SimulatedPort::IsOpen() const { return state_->line.IsOpen(); }

void SimulatedPort::Write(const std::string& bytes) {
  state_->line.Write(bytes);
  State::Run(state_, [&bytes](Simulator& simulator) { simulator.Feed(bytes); });
}

void SimulatedPort::SetReceiveHandler(ReceiveHandler handler) {
  // Received holds our lock only to copy the handler, so a call may still be running the old
  // one. Installing the wrapper again takes the delivery thread's own lock, which such a call
  // holds: once this returns, the old handler is never called again.
  {
    std::lock_guard lock(state_->handler_mutex);
    state_->receive_handler = std::move(handler);
  }
  state_->line.SetReceiveHandler(
      [state = state_.get()](const std::string& bytes) { state->Received(bytes); });
}

void SimulatedPort::SetLineHandler(LineHandler handler) {
  state_->line.SetLineHandler(std::move(handler));
}

void SimulatedPort::SetFailOpen(bool fail) { state_->line.SetFailOpen(fail); }

void SimulatedPort::SetFailWrites(bool fail) { state_->line.SetFailWrites(fail); }

std::vector<std::string> SimulatedPort::Written() const { return state_->line.Written(); }

std::vector<std::string> SimulatedPort::Written(const std::string& prefix) const {
  return state_->line.Written(prefix);
}

std::vector<TranscriptLine> SimulatedPort::Transcript() const {
  std::lock_guard lock(state_->mutex);
  return state_->transcript;
}

std::vector<std::string> SimulatedPort::Lines(const std::string& kind) const {
  std::vector<std::string> found;
  for (const TranscriptLine& line : Transcript()) {
    if (line.kind != kind) continue;
    std::string joined;
    for (const std::string& field : line.fields) joined += (joined.empty() ? "" : "|") + field;
    found.push_back(joined);
  }
  return found;
}

std::map<int, Simulator::Stored> SimulatedPort::Store(const std::string& name) const {
  std::lock_guard lock(state_->mutex);
  return state_->simulator->Store(name);
}

void SimulatedPort::Inspect(const std::function<void(const Simulator&)>& look) const {
  std::lock_guard lock(state_->mutex);
  look(*state_->simulator);
}

}  // namespace tovalink::sim
