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

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The positions of the hexadecimal digits of `command` that carry a long SMS's concatenation
// reference, when the command is an SMS-SUBMIT PDU (ended by Ctrl-Z) whose user data begins
// with such a header. The module draws that reference at random for every long text, so two
// runs that send the same text differ there and nowhere else. Empty for any other command.
std::vector<size_t> ReferenceDigits(const std::string& command) {
  if (command.size() < 3 || command.back() != '\x1A' || command.size() % 2 == 0) return {};
  std::vector<int> octets;
  for (size_t i = 0; i + 1 < command.size(); i += 2) {
    const int high = HexValue(command[i]);
    const int low = HexValue(command[i + 1]);
    if (high < 0 || low < 0) return {};
    octets.push_back(high * 16 + low);
  }
  size_t at = 0;
  auto skip = [&](size_t count) {
    at += count;
    return at < octets.size();
  };
  if (!skip(1 + static_cast<size_t>(octets[0]))) return {};  // the service centre
  const int first = octets[at];
  if ((first & 0x03) != 0x01 || (first & 0x40) == 0) return {};  // a SUBMIT with a header
  if (!skip(2)) return {};  // the first octet, the message reference
  const size_t destination_digits = static_cast<size_t>(octets[at]);
  if (!skip(2 + (destination_digits + 1) / 2)) return {};  // its length, type and digits
  // The protocol identifier, the coding, and the validity: none, enhanced, relative (one
  // octet) or absolute.
  const int validity = (first >> 3) & 0x03;
  if (!skip(2 + (validity == 0 ? 0 : validity == 2 ? 1 : 7))) return {};
  if (!skip(1)) return {};  // the user-data length
  const size_t header_end = at + 1 + static_cast<size_t>(octets[at]);
  std::vector<size_t> digits;
  for (at += 1; at + 1 < header_end && header_end <= octets.size();
       at += 2 + static_cast<size_t>(octets[at + 1])) {
    const int element = octets[at];
    const int length = octets[at + 1];
    // 8-bit (element 0) and 16-bit (element 8) references, before the count and the part.
    const size_t reference_octets = element == 0x00 && length == 3   ? 1
                                    : element == 0x08 && length == 4 ? 2
                                                                     : 0;
    for (size_t k = 0; k < reference_octets; ++k) {
      digits.push_back(2 * (at + 2 + k));
      digits.push_back(2 * (at + 2 + k) + 1);
    }
  }
  return digits;
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
  for (const TraceExchange& exchange : exchanges_) {
    free_digits_.push_back(ReferenceDigits(exchange.write.bytes()));
  }
}

size_t Replay::SameUpTo(const std::string& written, size_t command) const {
  const std::string& expected = exchanges_[command].write.bytes();
  const std::vector<size_t>& free = free_digits_[command];
  size_t at = 0;
  for (; at < written.size() && at < expected.size(); ++at) {
    if (written[at] == expected[at]) continue;
    const bool any_digit =
        HexValue(written[at]) >= 0 && std::find(free.begin(), free.end(), at) != free.end();
    if (!any_digit) break;
  }
  return at;
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
    const size_t same = SameUpTo(pending_, next_);
    if (same == expected.size()) {
      io_.Record("RX", {pending_.substr(0, same)});
      Play(exchanges_[next_]);
      pending_.erase(0, same);
      if (++next_ == exchanges_.size()) {
        state_ = State::Ended;
        io_.Record("REPLAY", {"END", std::to_string(next_)});
        if (say_) say_(Summary());
        if (!pending_.empty()) io_.Record("REPLAY", {"BEYOND", pending_});
        pending_.clear();
      }
      continue;
    }
    if (same == pending_.size()) return;  // the command so far is the recorded one's start
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
