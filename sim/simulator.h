#pragma once
// The simulated modem: takes the bytes the module writes, answers them as a modem would and
// plays the operator from a scenario. It knows nothing of terminals or real time: the runner
// gives it a SimIo that sends bytes, schedules later actions and records the transcript, so
// that the same logic runs over a pseudo-terminal, in process and in tests.
//
// One handler per command family (modes and set-up, message store, submission, keypad); each
// operator feature (the SIM-toolkit menu, dial codes and USSD, the voucher stock) has a file
// of its own and is called from here.
// Not thread-safe: the runner calls it from one thread.

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "sim/dial_codes.h"
#include "sim/scenario.h"
#include "sim/sim_io.h"
#include "sim/toolkit.h"
#include "sim/voucher_stock.h"

namespace tovalink::sim {

class Simulator {
 public:
  Simulator(Scenario scenario, SimIo& io);
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

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
  std::vector<int> Place(const IncomingMessage& wanted);

  // Fills the placeholders of a reply: {0}..{9} from `groups`, {serial} a fresh serial
  // number, {name} from `values`; unknown ones stay as they are.
  std::string Expand(const std::string& text, const std::vector<std::string>& groups,
                     const std::map<std::string, std::string>& values);
  // Sends bytes as `delivery` says (delay, chunks).
  void SendLater(const std::string& bytes, const Delivery& delivery);
  // The operator's reaction to a request: the ack at once, the reply or USSD text after the
  // delay, the message later; `reply_to` is the message's sender when it names none.
  void React(const Reaction& reaction, const std::vector<std::string>& groups,
             const std::map<std::string, std::string>& values, const std::string& reply_to);
  const std::string& DialReplyEnd() const { return scenario_.dial_reply_end; }

  // From the next byte on, the line carries the text of a toolkit input up to Ctrl-Z.
  void TakeToolkitText();

  const Toolkit& SimToolkit() const { return toolkit_; }
  const VoucherStock& Stock() const { return stock_; }

 private:
  using Handler = bool (Simulator::*)(const std::string& command);

  void Command(const std::string& line);
  void TakeText(char c);
  void Submitted(const std::string& pdu_text);
  bool ScenarioRule(const std::string& command);

  bool ModesFamily(const std::string& command);
  bool StoreFamily(const std::string& command);
  bool SubmitFamily(const std::string& command);
  bool KeypadFamily(const std::string& command);
  bool DialFamily(const std::string& command) { return dial_codes_.Command(command); }
  bool ToolkitFamily(const std::string& command) { return toolkit_.Command(command); }
  void Ok() { io_.Send("\r\nOK\r\n"); }
  void Error() { io_.Send("\r\nERROR\r\n"); }
  int Capacity(const std::string& store) const;
  void CompleteSms(const std::string& number, const std::string& text);

  Scenario scenario_;
  SimIo& io_;
  bool echo_;
  std::string line_;
  // What the bytes after a "> " prompt are, up to their Ctrl-Z.
  enum class TextFor { Nothing, Submission, Toolkit };
  TextFor text_for_ = TextFor::Nothing;
  int expected_length_ = 0;
  std::string text_;
  std::string store_;
  std::map<std::string, std::map<int, Stored>> stores_;
  int message_reference_ = 0;
  int64_t serial_ = 100000000000;
  // Parts of concatenated submissions, by number and reference: sequence -> text.
  std::map<std::pair<std::string, int>, std::map<int, std::string>> pending_parts_;
  std::vector<Handler> families_;
  Toolkit toolkit_;
  VoucherStock stock_;
  DialCodes dial_codes_;
};

// Transcript escaping: that of the field trace (modem/trace_format.h).
std::string EscapeField(const std::string& bytes);

}  // namespace tovalink::sim
