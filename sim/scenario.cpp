#include "sim/scenario.h"

#include <nlohmann/json.hpp>
#include <stdexcept>

#include "sim/dial_codes.h"
#include "sim/line_faults.h"
#include "sim/scenario_parse.h"
#include "sim/toolkit.h"
#include "sim/voucher_stock.h"

namespace tovalink::sim {

using nlohmann::json;

namespace {

gsmpdu::Coding ParseCoding(const std::string& text) {
  if (text == "gsm7" || text == "7bit") return gsmpdu::Coding::Gsm7;
  if (text == "ucs2") return gsmpdu::Coding::Ucs2;
  if (text == "8bit") return gsmpdu::Coding::Eight;
  throw std::runtime_error("unknown coding \"" + text + "\" (gsm7, ucs2 or 8bit)");
}

}  // namespace

Delivery ParseDelivery(const json& object) {
  Delivery delivery;
  delivery.delay_ms = Get<int64_t>(object, "delay_ms", 0);
  delivery.chunk_size = Get<size_t>(object, "chunk_size", 0);
  delivery.chunk_gap_ms = Get<int64_t>(object, "chunk_gap_ms", 0);
  delivery.chunks = Get<std::vector<size_t>>(object, "chunks", {});
  return delivery;
}

IncomingMessage ParseMessage(const json& object) {
  IncomingMessage message;
  message.store = Get<std::string>(object, "store", "SM");
  if (message.store != "SM" && message.store != "ME" && message.store != "listed") {
    throw std::runtime_error("unknown store \"" + message.store + "\" (SM, ME or listed)");
  }
  message.sender = Get<std::string>(object, "from", Get<std::string>(object, "sender", ""));
  message.text = Get<std::string>(object, "text", "");
  message.coding = ParseCoding(Get<std::string>(object, "coding", "gsm7"));
  message.reference = Get<int>(object, "reference", 1);
  message.multipart = Get<bool>(object, "multipart", false);
  message.part_size = Get<int>(object, "part_size", 0);
  message.only_parts = Get<std::vector<int>>(object, "only_parts", {});
  message.delay_ms = Get<int64_t>(object, "delay_ms", 0);
  message.announce = Get<bool>(object, "announce", true);
  return message;
}

std::regex Regex(const std::string& pattern, const char* where) {
  try {
    return std::regex(pattern);
  } catch (const std::regex_error& error) {
    throw std::runtime_error(std::string("bad regular expression in ") + where + ": \"" + pattern +
                             "\": " + error.what());
  }
}

RequestRule ParseRequest(const json& object, const char* target_key, const char* where) {
  RequestRule rule;
  rule.to = Regex(Get<std::string>(object, target_key, ".*"), where);
  if (object.contains("text")) {
    rule.has_text = true;
    rule.text = Regex(object["text"].get<std::string>(), where);
  }
  rule.names = Get<std::vector<std::string>>(object, "names", {});
  rule.reaction = ParseReaction(object);
  rule.times = Get<int>(object, "times", 0);
  return rule;
}

Reaction ParseReaction(const json& object) {
  Reaction reaction;
  reaction.ack = Get<std::string>(object, "ack", "");
  reaction.has_reply = object.contains("reply");
  reaction.reply = Get<std::string>(object, "reply", "");
  reaction.end = Get<std::string>(object, "end", "");
  reaction.has_ussd = object.contains("ussd");
  reaction.ussd = Get<std::string>(object, "ussd", "");
  reaction.ussd_state = Get<int>(object, "state", object.contains("answers") ? 1 : 0);
  reaction.delivery = ParseDelivery(object);
  if (object.contains("sms")) {
    reaction.has_sms = true;
    reaction.sms = ParseMessage(object["sms"]);
  }
  return reaction;
}

std::string SingleBytes(const std::string& utf8) {
  std::string out;
  for (size_t i = 0; i < utf8.size();) {
    const auto byte = static_cast<unsigned char>(utf8[i]);
    if (byte < 0x80) {
      out += static_cast<char>(byte);
      ++i;
    } else if ((byte >> 5) == 0x6 && i + 1 < utf8.size()) {
      const unsigned code = (byte & 0x1Fu) << 6 | (static_cast<unsigned char>(utf8[i + 1]) & 0x3Fu);
      out += code <= 0xFF ? static_cast<char>(code) : '?';
      i += 2;
    } else {
      out += '?';
      ++i;
      while (i < utf8.size() && (static_cast<unsigned char>(utf8[i]) & 0xC0) == 0x80) ++i;
    }
  }
  return out;
}

Scenario ParseScenario(const std::string& json_text) {
  json root;
  try {
    root = json::parse(json_text);
  } catch (const json::exception& error) {
    throw std::runtime_error(std::string("scenario is not JSON: ") + error.what());
  }
  if (!root.is_object()) throw std::runtime_error("scenario must be a JSON object");
  Scenario scenario;
  try {
    scenario.echo = Get<bool>(root, "echo", true);
    scenario.store = Get<std::string>(root, "store", "ME");
    scenario.me_capacity = Get<int>(root, "me_capacity", 50);
    scenario.sm_capacity = Get<int>(root, "sm_capacity", 30);
    scenario.dial_reply_end = Get<std::string>(root, "dial_reply_end", ",15\r\n");
    if (root.contains("submit")) {
      scenario.submit_delay_ms = Get<int64_t>(root["submit"], "delay_ms", 0);
      scenario.submit_reply = Get<std::string>(root["submit"], "reply", "");
    }
    for (const json& item : Get<json>(root, "commands", json::array())) {
      CommandRule rule;
      if (item.contains("exact")) {
        rule.how = CommandRule::How::Exact;
        rule.match = item["exact"].get<std::string>();
      } else if (item.contains("regex")) {
        rule.how = CommandRule::How::Regex;
        rule.match = item["regex"].get<std::string>();
        rule.pattern = Regex(rule.match, "commands");
      } else {
        rule.match = Get<std::string>(item, "prefix", "");
      }
      rule.silent = Get<bool>(item, "silent", false);
      rule.reply = Get<std::string>(item, "reply", "");
      rule.delivery = ParseDelivery(item);
      rule.times = Get<int>(item, "times", 0);
      scenario.commands.push_back(std::move(rule));
    }
    for (const json& item : Get<json>(root, "messages", json::array())) {
      scenario.messages.push_back(ParseMessage(item));
    }
    for (const json& item : Get<json>(root, "sms_rules", json::array())) {
      scenario.sms_rules.push_back(ParseRequest(item, "to", "sms_rules"));
    }
    for (const json& item : Get<json>(root, "dial_rules", json::array())) {
      scenario.dial_rules.push_back(ParseDialRule(item));
    }
    for (const json& item : Get<json>(root, "key_rules", json::array())) {
      RequestRule rule = ParseRequest(item, "keys", "key_rules");
      scenario.key_rules.push_back(std::move(rule));
    }
    if (root.contains("stk")) scenario.toolkit = ParseToolkit(root["stk"]);
    if (root.contains("stock")) scenario.stock = ParseVoucherStock(root["stock"]);
    if (root.contains("line")) scenario.line = ParseLineScenario(root["line"]);
  } catch (const json::exception& error) {
    throw std::runtime_error(std::string("scenario has a wrong value: ") + error.what());
  }
  return scenario;
}

namespace {
const char kCoreHelp[] = R"(Scenario file (JSON object; every key optional):
  "echo": true               echo the received characters until "ATE0" (default true)
  "store": "ME"              the store that AT+CMGL lists before any AT+CPMS ("ME" or "SM")
  "me_capacity": 50, "sm_capacity": 30
  "dial_reply_end": ",15\r\n"   what ends a dial or USSD answer unless a rule says "end"
  "submit": {"delay_ms": 0, "reply": "..."}
                             the answer to a submitted PDU; default "\r\n+CMGS: {mr}\r\n\r\nOK\r\n"
  "commands": [ {"prefix"|"exact"|"regex": "AT+CSQ", "reply": "\r\n+CSQ: 20,0\r\n\r\nOK\r\n",
                 "silent": false, "times": 0, <delivery>} ]
                             answers a received command (without its CR) before the built-in
                             handlers; the rule listed first wins; "silent" answers nothing;
                             "times" > 0 makes the rule stop after that many answers
  "messages": [ <message> ]  placed in their store at start, or after their "delay_ms"
  "sms_rules": [ {"to": "REGEX", "text": "REGEX", <reaction>} ]
                             a submitted SMS whose number matches "to" (whole) and whose text
                             contains a match of "text" gets the reaction
  "dial_rules": [ {"code": "REGEX", <reaction>} ]
                             "ATD<code>[;]" and "AT+CUSD=1,<code>[,15]" (whole match); USSD
                             sessions and the rest below
  "key_rules": [ {"keys": "REGEX", <reaction>} ]
                             an AT+CKPD key string (whole match), after its "OK"

<delivery>: "delay_ms": 0, "chunk_size": 0, "chunk_gap_ms": 0, "chunks": [3, 5]
                             when the first byte goes, and how the answer is split
<message>:  {"store": "SM", "from": "6281234", "text": "...", "coding": "gsm7"|"ucs2"|"8bit",
             "multipart": false, "part_size": 0, "reference": 1, "only_parts": [2],
             "delay_ms": 0, "announce": true}
                             one stored SMS-DELIVER per part (a long text is cut into parts
                             with the header 05 00 03 reference total sequence); "announce"
                             sends "\r\n+CMTI: \"<store>\",<index>\r\n" for each part;
                             "store": "listed" is the store AT+CMGL lists at that moment (the
                             last AT+CPMS), so the module finds the message on its next look
<reaction>: {"ack": "\r\nOK\r\n", "reply": "TEXT", "end": ",15\r\n", "ussd": "TEXT",
             "state": 0, <delivery>, "sms": <message>, "times": 0, "names": [...]}
                             "ack" goes at once, "reply" + "end" after the delay; "sms" is a
                             message the operator sends back ("from" defaults to the number
                             the request went to)
Placeholders in replies and reply texts: {0}..{9} groups of the matched expression ("text"
for SMS rules, "code" for dial rules, "keys" for key rules), or by the names a rule's
"names": ["destination", "amount"] gives the groups 1, 2, ...; {number} the SMS
destination, {text} the SMS text, {code} the dialled code, {answer} the text answered in a
USSD session, {keys} the key string, {serial} a fresh 12-digit serial number, {mr} the
submit reference.
Texts are JSON strings: "\r", "\n", "\u0000" (NUL) and "\u001a" work; texts sent on the line
go out as single bytes (each character up to U+00FF one byte); SMS texts are Unicode.

Operator features:
)";
}  // namespace

const char* ScenarioHelp() {
  static const std::string help = std::string(kCoreHelp) + DialCodesHelp() + ToolkitHelp() +
                                  VoucherStockHelp() + LineFaultsHelp();
  return help.c_str();
}

}  // namespace tovalink::sim
