#pragma once
// modemsim --replay: the modem's side of a field trace (modem/trace_format.h) played back, so
// that what a module met at an outlet happens again at a desk. Each command the module
// writes is compared with the next command of the recording; when it is the same, the bytes
// the real modem sent after that command are sent again with their recorded delays (from the
// command on). The first command that differs is reported with both texts (the module did
// something else than at the outlet: another setting, another rule, another program), and
// from then on nothing is answered.
//
// A trace may hold several runs of its module (a restart appends). The replay plays one run:
// from the first open of the port, or the first open at or after a given time, to the end
// of the file. Line events cannot be made on a pseudo-terminal and are left out; bytes the
// modem sent before the run's first command, or after a close, fell on a closed or
// just-opened port and are left out too.
//
// A long SMS's parts carry a reference that the module draws at random: a submission that
// differs from the recorded one only there is the same command.
//
// Transcript (besides TX for the bytes sent): RX for each command matched, as written;
// REPLAY DEPART <command number> <recorded time> <recorded command> <command written>,
// REPLAY END <commands> once the recording is played out, REPLAY BEYOND <bytes> for what
// the module writes after the end. `say` is told the departure and the end in a sentence.
// Not thread-safe: the runner calls it from its one thread, as the simulator.

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "modem/trace_format.h"
#include "sim/sim_io.h"

namespace tovalink::sim {

// The run of `events` that begins at the first OPEN whose time is at or after `from` ("" the
// first OPEN; "hh:mm" or "hh:mm:ss" compares the time of day, "yyyy-mm-dd hh:mm:ss" the whole
// time); all of `events` when they hold no OPEN (a file that rotation cut). Throws
// std::runtime_error when no OPEN is at or after `from`.
std::vector<TraceEvent> RunFrom(const std::vector<TraceEvent>& events, const std::string& from);

class Replay {
 public:
  using SayFn = std::function<void(const std::string& sentence)>;
  Replay(const std::vector<TraceEvent>& run, SimIo& io, SayFn say);

  // Bytes the module wrote, in any chunks.
  void Feed(const std::string& bytes);

  enum class State { Playing, Departing, Departed, Ended };
  State state() const { return state_; }
  size_t Matched() const { return next_; }
  size_t Commands() const { return exchanges_.size(); }
  // One line: how far the module followed the recording.
  std::string Summary() const;

 private:
  // How many leading bytes of `written` are those of recorded command `command`.
  size_t SameUpTo(const std::string& written, size_t command) const;
  void Play(const TraceExchange& exchange);
  void Depart();
  void ReportDeparture();

  std::vector<TraceExchange> exchanges_;
  std::vector<std::vector<size_t>> free_digits_;  // per command: its reference's digits
  SimIo& io_;
  SayFn say_;
  State state_ = State::Playing;
  size_t next_ = 0;        // the recorded command the module's next bytes should be
  std::string pending_;    // what the module wrote that is not matched yet
  std::string departure_;  // the sentence of the departure, once reported
};

}  // namespace tovalink::sim
