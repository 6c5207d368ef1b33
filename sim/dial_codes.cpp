#include "sim/dial_codes.h"

#include <nlohmann/json.hpp>
#include <regex>
#include <utility>

#include "sim/scenario_parse.h"
#include "sim/simulator.h"

namespace tovalink::sim {

using nlohmann::json;

namespace {

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

RequestRule ParseRule(const json& object, const char* key, const char* where) {
  RequestRule rule = ParseRequest(object, key, where);
  const json answers = Get<json>(object, "answers", json::array());
  if (!answers.is_array()) {
    throw std::runtime_error(std::string(where) + ": \"answers\" must be a list");
  }
  for (const json& answer : answers) {
    rule.answers.push_back(ParseRule(answer, "answer", "dial_rules answers"));
  }
  return rule;
}

}  // namespace

RequestRule ParseDialRule(const json& object) { return ParseRule(object, "code", "dial_rules"); }

DialCodes::DialCodes(std::vector<RequestRule>& rules, Simulator& simulator, SimIo& io,
                     Unmatched unmatched)
    : rules_(rules), simulator_(simulator), io_(io), unmatched_(std::move(unmatched)) {}

bool DialCodes::Command(const std::string& command) {
  if (StartsWith(command, "ATD")) {
    Request(command.substr(3));
    return true;
  }
  if (!StartsWith(command, "AT+CUSD=")) return false;
  // AT+CUSD=<n>[,<string>[,<dcs>]], the string quoted or not: the module sends its codes
  // and its PIN bare.
  const std::string arguments = command.substr(8);
  const size_t comma = arguments.find(',');
  const std::string mode = arguments.substr(0, comma);
  std::string text;
  if (comma != std::string::npos) {
    const std::string rest = arguments.substr(comma + 1);
    if (!rest.empty() && rest.front() == '"') {
      text = rest.substr(1, rest.find('"', 1) - 1);
    } else {
      text = rest.substr(0, rest.find(','));
    }
  }
  if (mode == "2") {
    Close();
  } else if (text.empty()) {
    io_.Send("\r\nOK\r\n");  // result codes for USSD switched on or off
  } else if (session_open_) {
    Answer(text);
  } else {
    Request(text);
  }
  return true;
}

void DialCodes::DropSession() {
  if (!session_open_) return;
  session_open_ = false;
  expected_.clear();
  io_.Record("USSD", {"CLOSED", "by the module"});
}

void DialCodes::Request(const std::string& code) {
  io_.Record("DIAL", {code});
  if (session_open_) {
    // A new request replaces the session in progress, as the network does.
    session_open_ = false;
    expected_.clear();
    io_.Record("USSD", {"CLOSED", "by a new request"});
  }
  session_values_.clear();
  if (Match(rules_, code, "code")) return;
  if (unmatched_ && unmatched_(code)) return;
  io_.Send("\r\nERROR\r\n");
}

void DialCodes::Answer(const std::string& text) {
  io_.Record("USSD", {"ANSWER", text});
  if (Match(expected_, text, "answer")) return;
  session_open_ = false;
  expected_.clear();
  io_.Record("USSD", {"CLOSED", "unexpected answer"});
  io_.Send("\r\n+CUSD: 4\r\n");  // operation not supported: the network drops the session
}

void DialCodes::Close() {
  const bool was_open = session_open_;
  session_open_ = false;
  expected_.clear();
  io_.Record("USSD", {"CLOSE", was_open ? "session" : "none"});
  io_.Send(was_open ? "\r\nOK\r\n\r\n+CUSD: 2\r\n" : "\r\nOK\r\n");
}

bool DialCodes::Match(std::vector<RequestRule>& rules, const std::string& text,
                      const std::string& key) {
  for (RequestRule& rule : rules) {
    if (rule.times > 0 && rule.used >= rule.times) continue;
    std::smatch match;
    if (!std::regex_match(text, match, rule.to)) continue;
    ++rule.used;
    std::vector<std::string> groups;
    for (const auto& group : match) groups.push_back(group.str());
    std::map<std::string, std::string> values = session_values_;
    values[key] = text;
    for (size_t n = 0; n < rule.names.size() && n + 1 < groups.size(); ++n) {
      values[rule.names[n]] = groups[n + 1];
    }
    Reaction reaction = rule.reaction;
    if (reaction.has_reply && reaction.end.empty()) reaction.end = simulator_.DialReplyEnd();
    // `rules` may be the session's own answers, which the new session replaces.
    std::vector<RequestRule> answers = rule.answers;
    const bool open = !answers.empty() || (reaction.has_ussd && reaction.ussd_state == 1);
    if (open) {
      io_.Record("USSD", {"OPEN", text});
    } else if (session_open_) {
      io_.Record("USSD", {"CLOSED", "by the network"});
    }
    session_open_ = open;
    expected_ = std::move(answers);
    session_values_ = open ? values : std::map<std::string, std::string>{};
    simulator_.React(reaction, groups, values, text);
    return true;
  }
  return false;
}

const char* DialCodesHelp() {
  return R"(  "dial_rules": [ {"code": "REGEX", "names": ["destination", ...], <reaction>,
                   "answers": [ {"answer": "REGEX", "names": [...], <reaction>,
                                 "answers": [...]} ]} ]
                             "ATD<code>[;]" and "AT+CUSD=1,<code>[,15]" (the code quoted or
                             bare) are matched whole against "code", rules in order; "names"
                             names the groups 1, 2, ... for the placeholders. A rule with
                             "answers" opens a USSD session: the next "AT+CUSD=1,<text>" is
                             matched whole against its answers (none matches: "+CUSD: 4" and
                             the session ends); an answer may open a further session. A rule
                             whose "ussd" has "state" 1 keeps the session open too.
                             "AT+CUSD=2" closes it: "OK", then "+CUSD: 2" when one was open.
                             A code no rule takes goes to the voucher stock, else gets ERROR.
                             A prompt that does not come (a missed PIN prompt): list first a
                             rule for the same code with "times": N and a "ussd" that asks for
                             nothing (or no answer at all).
    "ussd": "TEXT", "state": 0 in a <reaction> sends "\r\n+CUSD: <state>,\"TEXT\",15\r\n"
                             after the delay ("state" defaults to 1 with "answers", else 0);
                             "reply" + "end" send any other form
)";
}

}  // namespace tovalink::sim
