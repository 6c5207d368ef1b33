#pragma once
// The SIM card's toolkit as a WAVECOM-style modem presents it. The SIM issues proactive
// commands (the main menu, a list to select from, a text to type, a text shown, an SMS it
// sends), each announced by "+STIN: <type>"; the module reads the current one with
// AT+STGI=<type> and answers it with AT+STGR=<type>,... . The tree of commands comes from the
// scenario's "stk" section (ToolkitHelp describes it).
//
// State, as a modem keeps it: idle at the main menu, or inside a session at one node of the
// tree, or restarting after AT+CFUN=1, or stalled (a fault the scenario asks for). A command
// that does not fit the state gets "ERROR"; a stalled toolkit answers no toolkit command until
// AT+CFUN=1 restarts it. Every toolkit command and event goes into the transcript as an "STK"
// line whose first field names the event.
//
// Not thread-safe: the Simulator that owns it calls it from its one thread.

#include <cstdint>
#include <map>
#include <nlohmann/json_fwd.hpp>
#include <string>

#include "sim/scenario.h"
#include "sim/sim_io.h"

namespace tovalink::sim {

class Simulator;

// The proactive command types, as "+STIN:" and AT+STGI/AT+STGR number them.
enum class Proactive {
  SetupMenu = 0,
  DisplayText = 1,
  GetInput = 3,
  SelectItem = 6,
  SendSms = 9,
  EndOfSession = 99,
};

class Toolkit {
 public:
  // `simulator` places the operator's messages and switches the line to text input; both it
  // and `io` outlive the toolkit.
  Toolkit(const ToolkitScenario& scenario, Simulator& simulator, SimIo& io);

  // AT+STIN?, AT+STGI=..., AT+STGR=..., AT+CFUN=1 (without CR and trailing ";"): answers and
  // returns true; any other command returns false untouched.
  bool Command(const std::string& command);
  // The text typed after the "> " of AT+STGR=3,1, up to its Ctrl-Z (not included).
  void Input(const std::string& text);
  // The typing after "> " was abandoned with Esc.
  void InputCancelled();

  // What was typed or chosen in the current session, by the nodes' names.
  const std::map<std::string, std::string>& Values() const { return values_; }
  // The last "+STIN:" type announced (0 after a restart).
  int LastAnnounced() const { return last_announced_; }

 private:
  enum class Phase { Idle, InSession, Restarting, Stalled };

  void AnswerStin();
  void AnswerStgi(const std::string& argument);
  void AnswerStgr(const std::string& argument, const std::string& command);
  void Restart();
  void Choose(const std::string& where, const StkItem& item);
  void Enter(const std::string& node_name);
  void EndSession();
  void Announce(Proactive type, const std::string& node_name);
  void Refuse(const std::string& command, const std::string& why);
  const StkNode* Current() const;
  std::string MenuLines() const;
  std::string NodeLines(const StkNode& node) const;

  const ToolkitScenario& scenario_;
  Simulator& simulator_;
  SimIo& io_;
  Phase phase_ = Phase::Idle;
  std::string current_;  // the node of the session
  int last_announced_ = static_cast<int>(Proactive::SetupMenu);
  std::map<std::string, std::string> values_;
  int stin_errors_left_;
  std::map<std::string, int> hangs_done_;
  // Bumped by every restart and new session, so that announcements still on their way from
  // an abandoned session are dropped.
  uint64_t generation_ = 0;
};

// Reads the scenario's "stk" section; throws std::runtime_error naming what is wrong.
ToolkitScenario ParseToolkit(const nlohmann::json& section);

// The "stk" section's part of modemsim --help.
const char* ToolkitHelp();

}  // namespace tovalink::sim
