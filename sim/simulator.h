#pragma once
// The simulated modem: takes the bytes the module writes, answers them as a modem would and
// plays the operator from a scenario. It knows nothing of terminals or real time: the runner
// gives it a SimIo that sends bytes, schedules later actions and records the transcript, so
// that the same logic runs over a pseudo-terminal and in tests.
//
// One handler per command family (modes and set-up, message store, submission, keypad, dial
// and USSD); a family that grows (the SIM-toolkit menu) gets a handler of its own.
// Not thread-safe: the runner calls it from one thread.

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "sim/scenario.h"

namespace tovalink::sim {

class SimIo {
 public:
  virtual ~SimIo() = default;
  virtual void Send(const std::string& bytes) = 0;
  virtual void After(int64_t delay_ms, std::function<void()> action) = 0;
  virtual void Record(const std::string& kind, const std::vector<std::string>& fields) = 0;
};

class Simulator {
 public:
  Simulator(Scenario scenario, SimIo& io);

  // Places the scenario's messages (now or after their delays).
  void Start();
  // Bytes received from the module, in any chunks.
  void Feed(const std::string& bytes);

  struct Stored {
    int status = 0;  // 0 received unread, 1 received read
    std::string pdu;
    std::string sender;
    std::string text;
  };
  // The stores by name ("ME", "SM"), index -> message.
  const std::map<int, Stored>& Store(const std::string& name) const;
  bool Echo() const { return echo_; }

  // Places one message (all parts or the chosen ones) and announces it; returns the indexes.
  std::vector<int> Place(const IncomingMessage& message);

 private:
  using Handler = bool (Simulator::*)(const std::string& command);

  void Command(const std::string& line);
  void Submitted(const std::string& pdu_text);
  bool ScenarioRule(const std::string& command);

  bool ModesFamily(const std::string& command);
  bool StoreFamily(const std::string& command);
  bool SubmitFamily(const std::string& command);
  bool KeypadFamily(const std::string& command);
  bool DialFamily(const std::string& command);

  void React(const Reaction& reaction, const std::vector<std::string>& groups,
             const std::map<std::string, std::string>& values, const std::string& reply_to);
  std::string Expand(const std::string& text, const std::vector<std::string>& groups,
                     const std::map<std::string, std::string>& values);
  void SendLater(const std::string& bytes, const Delivery& delivery);
  void Ok() { io_.Send("\r\nOK\r\n"); }
  void Error() { io_.Send("\r\nERROR\r\n"); }
  int Capacity(const std::string& store) const;
  void CompleteSms(const std::string& number, const std::string& text);

  Scenario scenario_;
  SimIo& io_;
  bool echo_;
  std::string line_;
  bool pdu_mode_ = false;
  int expected_length_ = 0;
  std::string pdu_;
  std::string store_;
  std::map<std::string, std::map<int, Stored>> stores_;
  int message_reference_ = 0;
  int64_t serial_ = 100000000000;
  // Parts of concatenated submissions, by number and reference: sequence -> text.
  std::map<std::pair<std::string, int>, std::map<int, std::string>> pending_parts_;
  std::vector<Handler> families_;
};

// Transcript escaping: \\, \t, \r, \n and bytes outside printable ASCII as \xNN.
std::string EscapeField(const std::string& bytes);

}  // namespace tovalink::sim
