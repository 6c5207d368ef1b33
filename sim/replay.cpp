#include "sim/replay.h"

#include <algorithm>
#include <stdexcept>

namespace tovalink::sim {

namespace {

// How long the rest of a departing command may take to come in before it is reported as it
// stands: a module writes a command in one go, so this is generous.
constexpr int64_t kDepartureWaitMs = 300;

// What bytes a trace line shows, for a sentence.
std::string Quoted(const std::string& bytes) { return "\"" + EscapeTraceField(bytes) + "\""; }

bool EndsOpenStretch(TraceKind kind) {
  return kind == TraceKind::Close || kind == TraceKind::Open || kind == TraceKind::Gone;
}

}  // namespace

std::vector<TraceEvent> RunFrom(const std::vector<TraceEvent>& events, const std::string& from) {
  if (!from.empty() && !CompareTraceTime("", from)) {
    throw std::runtime_error("--from " + from + ": give hh:mm, hh:mm:ss or yyyy-mm-dd hh:mm:ss");
  }
  bool any_open = false;
  for (size_t n = 0; n < events.size(); ++n) {
    if (events[n].kind != TraceKind::Open) continue;
    any_open = true;
    if (from.empty() || *CompareTraceTime(events[n].when, from) >= 0) {
      return std::vector<TraceEvent>(events.begin() + static_cast<std::ptrdiff_t>(n), events.end());
    }
  }
  if (!any_open && from.empty()) return events;
  throw std::runtime_error("the trace has no opening of the port at or after " +
                           (from.empty() ? std::string("its start") : from));
}

Replay::Replay(const std::vector<TraceEvent>& run, SimIo& io, SayFn say)
    : exchanges_(DialogueOf(run).exchanges), io_(io), say_(std::move(say)) {
  if (exchanges_.empty()) state_ = State::Ended;
}

void Replay::Play(const TraceExchange& exchange) {
  for (const TraceEvent& event : exchange.after) {
    if (EndsOpenStretch(event.kind)) break;
    if (event.kind != TraceKind::Read) continue;
    const int64_t delay = std::max<int64_t>(0, event.ms - exchange.write.ms);
    io_.After(delay, [&io = io_, bytes = event.bytes()] { io.Send(bytes); });
  }
}

void Replay::Feed(const std::string& bytes) {
  if (state_ == State::Departed || state_ == State::Ended) {
    io_.Record("REPLAY", {"BEYOND", bytes});
    return;
  }
  pending_ += bytes;
  while (state_ == State::Playing && !pending_.empty()) {
    const std::string& expected = exchanges_[next_].write.bytes();
    const auto [mine, theirs] =
        std::mismatch(pending_.begin(), pending_.end(), expected.begin(), expected.end());
    if (theirs == expected.end()) {
      io_.Record("RX", {expected});
      Play(exchanges_[next_]);
      pending_.erase(0, expected.size());
      if (++next_ == exchanges_.size()) {
        state_ = State::Ended;
        io_.Record("REPLAY", {"END", std::to_string(next_)});
        if (say_) say_(Summary());
        if (!pending_.empty()) io_.Record("REPLAY", {"BEYOND", pending_});
        pending_.clear();
      }
      continue;
    }
    if (mine == pending_.end()) return;  // the command so far is the recorded one's start
    Depart();
  }
  if (state_ == State::Departing && pending_.find_first_of("\r\x1A") != std::string::npos) {
    ReportDeparture();
  }
}

void Replay::Depart() {
  state_ = State::Departing;
  io_.After(kDepartureWaitMs, [this] {
    if (state_ == State::Departing) ReportDeparture();
  });
}

void Replay::ReportDeparture() {
  const size_t end = pending_.find_first_of("\r\x1A");
  const std::string written = end == std::string::npos ? pending_ : pending_.substr(0, end + 1);
  const std::string rest = end == std::string::npos ? std::string() : pending_.substr(end + 1);
  pending_.clear();
  const TraceEvent& recorded = exchanges_[next_].write;
  state_ = State::Departed;
  io_.Record("REPLAY",
             {"DEPART", std::to_string(next_ + 1), recorded.when, recorded.bytes(), written});
  departure_ = "the module departs from the recording at command " + std::to_string(next_ + 1) +
               " of " + std::to_string(exchanges_.size()) + " (recorded at " + recorded.when +
               "): the recording has " + Quoted(recorded.bytes()) + ", the module wrote " +
               Quoted(written);
  if (say_) say_(departure_);
  if (!rest.empty()) io_.Record("REPLAY", {"BEYOND", rest});
}

std::string Replay::Summary() const {
  switch (state_) {
    case State::Departed:
      return departure_;
    case State::Ended:
      return "the whole recording was played: " + std::to_string(exchanges_.size()) +
             " commands, each as recorded";
    case State::Playing:
    case State::Departing:
      break;
  }
  return std::to_string(next_) + " of " + std::to_string(exchanges_.size()) +
         " recorded commands played so far, each as recorded";
}

}  // namespace tovalink::sim
