#include "sim/line_faults.h"

#include <nlohmann/json.hpp>
#include <stdexcept>

#include "sim/scenario_parse.h"

namespace tovalink::sim {

LineFaults::LineFaults(const LineScenario& settings, SimIo& line)
    : settings_(settings), line_(line) {}

void LineFaults::Start() {
  if (!settings_.noise.empty() && settings_.noise_ms > 0) {
    line_.After(settings_.noise_ms, [this] { Noise(); });
  }
}

void LineFaults::Noise() {
  if (vanished_) return;
  Send(settings_.noise);
  line_.After(settings_.noise_ms, [this] { Noise(); });
}

void LineFaults::Send(const std::string& bytes) {
  if (bytes.empty() || silent_ || vanished_) return;
  std::string spoiled;
  if (settings_.nul_every == 0) {
    spoiled = bytes;
  } else {
    for (char c : bytes) {
      spoiled += c;
      if (++since_nul_ == settings_.nul_every) {
        spoiled += '\0';
        since_nul_ = 0;
      }
    }
  }
  if (settings_.chunk_size == 0) {
    line_.Send(spoiled);
    return;
  }
  Queue(spoiled);
}

// Pieces go out in order, one every chunk_gap_ms, whoever sent them: what is sent while
// earlier pieces still wait goes behind them.
void LineFaults::Queue(const std::string& bytes) {
  queued_ += bytes;
  if (!pumping_) Pump();
}

void LineFaults::Pump() {
  if (vanished_ || silent_) {
    queued_.clear();
    pumping_ = false;
    return;
  }
  const std::string piece = queued_.substr(0, settings_.chunk_size);
  queued_.erase(0, piece.size());
  line_.Send(piece);
  pumping_ = !queued_.empty();
  if (pumping_) line_.After(settings_.chunk_gap_ms, [this] { Pump(); });
}

void LineFaults::After(int64_t delay_ms, std::function<void()> action) {
  line_.After(delay_ms, std::move(action));
}

void LineFaults::Record(const std::string& kind, const std::vector<std::string>& fields) {
  line_.Record(kind, fields);
}

bool LineFaults::Fires(const LineScenario::Trigger& trigger, int& seen,
                       const std::string& command) {
  if (!trigger.present || command.compare(0, trigger.at.size(), trigger.at) != 0) return false;
  return ++seen == trigger.nth;
}

bool LineFaults::Hears(const std::string& command) {
  if (vanished_) return false;
  if (Fires(settings_.vanish, vanish_seen_, command)) {
    vanished_ = true;
    Record("NOTE", {"vanished: the terminal is closed"});
    return false;
  }
  if (!silent_ && Fires(settings_.silent, silent_seen_, command)) {
    silent_ = true;
    Record("NOTE", {"silent" + (settings_.silent_ms > 0
                                    ? " for " + std::to_string(settings_.silent_ms) + " ms"
                                    : std::string(" for good"))});
    if (settings_.silent_ms > 0) {
      line_.After(settings_.silent_ms, [this] {
        silent_ = false;
        Record("NOTE", {"answering again"});
      });
    }
  }
  if (silent_) Record("NOTE", {"unheard"});
  return !silent_;
}

namespace {

LineScenario::Trigger ParseTrigger(const nlohmann::json& object, const char* where) {
  LineScenario::Trigger trigger;
  trigger.present = true;
  trigger.at = Get<std::string>(object, "at", "");
  trigger.nth = Get<int>(object, "nth", 1);
  if (trigger.nth < 1)
    throw std::runtime_error(std::string("line ") + where + ": nth must be 1 or more");
  return trigger;
}

}  // namespace

LineScenario ParseLineScenario(const nlohmann::json& object) {
  if (!object.is_object()) throw std::runtime_error("\"line\" must be an object");
  LineScenario line;
  line.chunk_size = Get<size_t>(object, "chunk_size", 0);
  line.chunk_gap_ms = Get<int64_t>(object, "chunk_gap_ms", 0);
  line.nul_every = Get<size_t>(object, "nul_every", 0);
  line.noise = SingleBytes(Get<std::string>(object, "noise", ""));
  line.noise_ms = Get<int64_t>(object, "noise_ms", 0);
  if (!line.noise.empty() && line.noise_ms <= 0) {
    throw std::runtime_error("line: \"noise\" needs \"noise_ms\" above 0");
  }
  if (object.contains("silent")) {
    line.silent = ParseTrigger(object["silent"], "silent");
    line.silent_ms = Get<int64_t>(object["silent"], "for_ms", 0);
  }
  if (object.contains("vanish")) line.vanish = ParseTrigger(object["vanish"], "vanish");
  return line;
}

const char* LineFaultsHelp() {
  return R"(  "line": {"chunk_size": 0, "chunk_gap_ms": 0, "nul_every": 0, "noise": "TEXT",
           "noise_ms": 0, "silent": {"at": "ATD", "nth": 1, "for_ms": 0},
           "vanish": {"at": "AT+CMGD", "nth": 1}}
                             a poor line: every byte the modem sends goes out in pieces of
                             "chunk_size" bytes, "chunk_gap_ms" apart, in order; a NUL byte
                             follows every "nul_every" bytes sent; "noise" (single bytes,
                             "\u0000" allowed) goes on the line every "noise_ms". "silent":
                             at the nth received command beginning with "at" (any command
                             when "at" is empty) the modem stops hearing and answering, that
                             command included, for "for_ms" (0: for good). "vanish": at that
                             command the terminal is closed and the port link removed, as a
                             modem pulled out; modemsim then waits for its stop signal.
                             NOTE lines tell: "silent ...", "unheard", "answering again",
                             "vanished: the terminal is closed".
)";
}

}  // namespace tovalink::sim
