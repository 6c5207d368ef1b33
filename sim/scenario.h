#pragma once
// What the simulated modem and the operator behind it do, read from a JSON scenario file.
// The format is documented in ScenarioHelp() (modemsim --help prints it).

#include <cstdint>
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
  std::string store = "SM";
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
  Delivery delivery;
  bool has_sms = false;
  IncomingMessage sms;  // placed in the store after its delay and announced
};

struct RequestRule {
  std::regex to;    // SMS rules: the destination number (whole match); dial: the code
  std::regex text;  // SMS and key rules: searched in the text or the key string
  bool has_text = false;
  Reaction reaction;
  int times = 0;
  int used = 0;
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
};

// Throws std::runtime_error with a readable message when the text is not a scenario.
Scenario ParseScenario(const std::string& json_text);

const char* ScenarioHelp();

// UTF-8 -> single bytes: each character up to U+00FF becomes one byte, any other "?".
std::string SingleBytes(const std::string& utf8);

}  // namespace tovalink::sim
