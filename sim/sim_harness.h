#pragma once
// Starts modemsim as a child process for end-to-end tests: in a fresh temporary folder, with
// an optional scenario (or a field trace to replay), waits until its port link COM<N> is there,
// stops it with SIGTERM and reads its transcript. Point a module at it with TOVALINK_PORT_DIR=Dir()
// and cport=N.
//
// Transcript lines, one per event, flushed as written:
//   <ms since start>\t<kind>\t<field>[\t<field>...]
// with kinds RX (a command received), TX (bytes sent to the module), KEYS (an AT+CKPD key
// string), SMS (a submitted message: number, text, ref/total/seq or "-"), DIAL (the dialled
// code), STK, USSD and STOCK (toolkit, USSD-session and voucher-stock events), NOTE
// (anything else); modemsim --help lists them all.
// Fields escape \\, \t, \r, \n and bytes outside printable ASCII as \xNN; Transcript()
// gives them unescaped.

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "sim/transcript.h"

namespace tovalink {

struct SimOptions {
  int port = 1;
  std::string scenario_json;  // written to scenario.json in the folder when not empty
  std::string replay_trace;   // a field trace to play back instead (modemsim --replay)
  std::string modemsim;       // the executable; default: the one built beside this library
  int start_timeout_ms = 5000;
};

class SimHarness {
 public:
  // Starts the simulator and waits for its link; throws std::runtime_error when it does not
  // come up in time.
  explicit SimHarness(SimOptions options);
  // The usual case: a scenario (JSON text, "" for none) on port COM<port>.
  explicit SimHarness(const std::string& scenario_json = "", int port = 1);
  ~SimHarness();  // stops the simulator and removes the folder
  SimHarness(const SimHarness&) = delete;
  SimHarness& operator=(const SimHarness&) = delete;

  const std::string& Dir() const { return dir_; }
  int Port() const { return options_.port; }
  std::string PortPath() const;  // Dir()/COM<N>
  std::string TranscriptPath() const;

  // SIGTERM, then waits (SIGKILL after 5 s). Returns the exit status (128 + signal when
  // killed). Harmless when already stopped.
  int Stop();
  bool Running() const { return pid_ > 0; }
  // The simulator's process, while it runs.
  pid_t Pid() const { return pid_; }

  std::vector<TranscriptLine> Transcript() const;
  // Waits (real time) until a transcript line of `kind` whose first field contains `text`
  // is there; true when it came.
  bool WaitFor(const std::string& kind, const std::string& text, int timeout_ms = 5000) const;

  static std::string Unescape(const std::string& field);

 private:
  SimOptions options_;
  std::string dir_;
  pid_t pid_ = -1;
  int exit_status_ = -1;
};

}  // namespace tovalink
