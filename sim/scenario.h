#pragma once
// What the simulated modem and the operator behind it do, read from a JSON scenario file.
// The format is documented in ScenarioHelp() (modemsim --help prints it).

#include <cstdint>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "sim/gsm_pdu.h"

namespace tovalink::sim {

// How an answer goes out on the line.
struct Delivery {
  int64_t delay_ms = 0;
  size_t chunk_size = 0;  // 0: all at once
  int64_t chunk_gap_ms = 0;
  std::vector<size_t> chunks;  // explicit chunk sizes; the rest goes as one last chunk
};

// A message that the operator sends to the modem.
struct IncomingMessage {
  std::string store = "SM";  // "SM", "ME", or "listed": the one AT+CMGL lists when placed
  std::string sender;
  std::string text;  // UTF-8; may hold placeholders when it is a rule's reply
  gsmpdu::Coding coding = gsmpdu::Coding::Gsm7;
  int reference = 1;
  bool multipart = false;
  int part_size = 0;
  std::vector<int> only_parts;  // place only these parts (1-based); empty: all
  int64_t delay_ms = 0;
  bool announce = true;  // "+CMTI" for each part placed
};

// A command rule: answers any command the simulator receives, before its own handlers.
struct CommandRule {
  enum class How { Prefix, Exact, Regex };
  std::string match;
  How how = How::Prefix;
  std::regex pattern;
  bool silent = false;
  std::string reply;  // sent as single bytes (characters U+0000..U+00FF)
  Delivery delivery;
  int times = 0;  // 0: always
  int used = 0;
};

// What the operator does about a request (a dial code, a key string, an SMS).
struct Reaction {
  std::string ack;  // sent at once (dial and USSD codes)
  bool has_reply = false;
  std::string reply;  // sent on the line after the delivery delay, then `end`
  std::string end;    // for dial rules; default: the scenario's dial_reply_end
  bool has_ussd = false;
  std::string ussd;    // sent after the delivery delay as "\r\n+CUSD: <state>,\"<ussd>\",15\r\n"
  int ussd_state = 0;  // 0 done, 1 the network waits for an answer (a session), 2 ended
  Delivery delivery;
  bool has_sms = false;
  IncomingMessage sms;  // placed in the store after its delay and announced
};

struct RequestRule {
  std::regex to;    // SMS rules: the destination number (whole match); dial: the code;
                    // a session's answers: the text answered
  std::regex text;  // SMS and key rules: searched in the text or the key string
  bool has_text = false;
  std::vector<std::string> names;  // placeholder names for the groups 1, 2, ... of `to`
  Reaction reaction;
  // Dial rules: what the network expects next in the USSD session this rule opens; the
  // first that matches the answer (whole) reacts.
  std::vector<RequestRule> answers;
  int times = 0;
  int used = 0;
};

// One entry of a toolkit menu, shown as "+STGI: <id>,<count>,\"<label>\",0".
struct StkItem {
  int id = 0;
  std::string label;
  std::string next;  // the node it leads to; "" ends the session
};

// One proactive command of the SIM's menu tree.
struct StkNode {
  enum class Kind { Select, Input, Display, SendSms };
  Kind kind = Kind::Select;
  std::string text;  // the title (select), the prompt (input), the text shown, the SMS's label
  std::string name;  // select and input: what the chosen label or typed text is kept as
  std::vector<StkItem> items;  // select
  bool digits = false;         // input: digits only
  bool hidden = false;         // input: typed text not shown (a PIN)
  int min_length = 1;
  int max_length = 20;
  std::string next;         // input, display and send_sms: the following node; "" ends
  int64_t after_ms = 1500;  // send_sms: from its announcement to what follows
  bool has_sms = false;
  IncomingMessage sms;  // send_sms: the operator's answer, placed after its own delay
  int hang = 0;         // the first `hang` arrivals at this node stall the toolkit
};

// The SIM card's toolkit: its main menu (SETUP MENU) and the nodes the items lead to.
struct ToolkitScenario {
  bool present = false;  // false: the SIM has no toolkit and its commands get "ERROR"
  std::string title;
  std::vector<StkItem> menu;
  std::map<std::string, StkNode> nodes;
  int64_t announce_delay_ms = 200;  // from a response to the next "+STIN: n"
  int64_t restart_delay_ms = 1000;  // from AT+CFUN=1 to "+STIN: 0"
  int stin_errors = 0;              // the first N "AT+STIN?" get "ERROR"
};

// The voucher stock of an MKIOS SIM and how the operator answers its sale and stock codes.
struct StockScenario {
  enum class Outcome {
    Success,  // the success text with a serial number and the new count; one voucher less
    Silent,   // a text that decides nothing, and one voucher less all the same
    Failed,   // the failure text; the stock stays
  };
  bool present = false;
  std::map<int, int> vouchers;               // denomination (5 for "V5") -> count
  std::string pin;                           // "" takes any PIN
  std::vector<Outcome> outcomes;             // the first sales' outcomes in turn, then Success
  int busy = 0;                              // the first N stock requests get the busy text
  std::string thousands;                     // written between thousands of a count ("." : "1.200")
  std::string ack;                           // sent at once to every code
  int64_t delay_ms = 1000;                   // from the code to the operator's answer
  std::map<std::string, std::string> texts;  // by name: success, silent, failed, ...
};

// A poor line between the module and the modem (the "line" section; sim/line_faults.h).
struct LineScenario {
  // The nth received command that begins with `at` (any command when `at` is empty).
  struct Trigger {
    bool present = false;
    std::string at;
    int nth = 1;
  };
  size_t chunk_size = 0;     // every byte sent goes out in pieces of this size...
  int64_t chunk_gap_ms = 0;  // ...this far apart
  size_t nul_every = 0;      // a NUL byte after every N bytes sent
  std::string noise;         // a garbage text (single bytes) sent every `noise_ms`
  int64_t noise_ms = 0;
  Trigger silent;         // from this command on, nothing is heard or answered...
  int64_t silent_ms = 0;  // ...for this long (0: for good)
  Trigger vanish;         // at this command the terminal is closed
};

struct Scenario {
  bool echo = true;
  std::string store = "ME";
  int me_capacity = 50;
  int sm_capacity = 30;
  std::string dial_reply_end = ",15\r\n";
  int64_t submit_delay_ms = 0;
  std::string submit_reply;  // replaces "+CMGS: <ref>" and "OK" when set ("{mr}" = reference)
  std::vector<CommandRule> commands;
  std::vector<IncomingMessage> messages;
  std::vector<RequestRule> sms_rules;
  std::vector<RequestRule> dial_rules;
  std::vector<RequestRule> key_rules;
  ToolkitScenario toolkit;
  StockScenario stock;
  LineScenario line;
};

// Throws std::runtime_error with a readable message when the text is not a scenario.
Scenario ParseScenario(const std::string& json_text);

const char* ScenarioHelp();

// UTF-8 -> single bytes: each character up to U+00FF becomes one byte, any other "?".
std::string SingleBytes(const std::string& utf8);

}  // namespace tovalink::sim
