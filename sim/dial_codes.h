#pragma once
// Dial codes and USSD: "ATD<code>" and "AT+CUSD=1,<code>" (quoted or not, with or without a
// data coding scheme) answered by the scenario's dial rules, and the USSD session a rule can
// open: its "+CUSD: 1,..." asks for an answer, the module's next "AT+CUSD=1,<text>" goes to
// the rule's "answers", and "AT+CUSD=2" closes the session ("OK", then "+CUSD: 2" when one was
// open). A code no rule takes goes to the simulator's next feature (the voucher stock), and
// gets "ERROR" when none takes it either. Every code is a DIAL transcript line, every session
// event a USSD line.
//
// Not thread-safe: the Simulator that owns it calls it from its one thread.

#include <functional>
#include <map>
#include <nlohmann/json_fwd.hpp>
#include <string>
#include <vector>

#include "sim/scenario.h"
#include "sim/sim_io.h"

namespace tovalink::sim {

class Simulator;

class DialCodes {
 public:
  // Answers a code that no rule takes; false when it does not take it either.
  using Unmatched = std::function<bool(const std::string& code)>;

  // `rules` (the scenario's, counted as they are used), `simulator` and `io` outlive this.
  DialCodes(std::vector<RequestRule>& rules, Simulator& simulator, SimIo& io, Unmatched unmatched);

  // "ATD..." and "AT+CUSD=..." (without CR and trailing ";"): answers and returns true; any
  // other command returns false untouched.
  bool Command(const std::string& command);
  // Ends the session as "AT+CUSD=2" does, but silently (a command rule answered it).
  void DropSession();
  bool SessionOpen() const { return session_open_; }

 private:
  void Request(const std::string& code);
  void Answer(const std::string& text);
  void Close();
  // Reacts with the first rule of `rules` whose expression matches `text` whole; false when
  // none does.
  bool Match(std::vector<RequestRule>& rules, const std::string& text, const std::string& key);

  std::vector<RequestRule>& rules_;
  Simulator& simulator_;
  SimIo& io_;
  Unmatched unmatched_;
  bool session_open_ = false;
  std::vector<RequestRule> expected_;  // the open session's answers
  std::map<std::string, std::string> session_values_;
};

// Reads one entry of "dial_rules", with its "answers"; throws std::runtime_error naming
// what is wrong.
RequestRule ParseDialRule(const nlohmann::json& object);

// The dial rules' and USSD sessions' part of modemsim --help.
const char* DialCodesHelp();

}  // namespace tovalink::sim
