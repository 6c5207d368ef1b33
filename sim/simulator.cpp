#include "sim/simulator.h"

#include <algorithm>
#include <cstdio>
#include <regex>
#include <stdexcept>

#include "modem/trace_format.h"

namespace tovalink::sim {

namespace {

std::string StripTrailingSemicolon(std::string command) {
  while (!command.empty() && (command.back() == ';' || command.back() == ' ')) command.pop_back();
  return command;
}

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// The first double-quoted text in a command, or "" without quotes.
std::string Quoted(const std::string& command) {
  const size_t open = command.find('"');
  if (open == std::string::npos) return {};
  const size_t close = command.find('"', open + 1);
  if (close == std::string::npos) return command.substr(open + 1);
  return command.substr(open + 1, close - open - 1);
}

// A whole number of at most nine digits: more cannot be an index or a length, and would not
// fit an int.
bool ReadNumber(const std::string& text, int& value) {
  if (text.empty() || text.size() > 9) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  value = std::stoi(text);
  return true;
}

// `values` with the rule's names for the matched groups 1, 2, ...
std::map<std::string, std::string> Named(const RequestRule& rule,
                                         const std::vector<std::string>& groups,
                                         std::map<std::string, std::string> values) {
  for (size_t n = 0; n < rule.names.size() && n + 1 < groups.size(); ++n) {
    values[rule.names[n]] = groups[n + 1];
  }
  return values;
}

}  // namespace

std::string EscapeField(const std::string& bytes) { return EscapeTraceField(bytes); }

Simulator::Simulator(Scenario scenario, SimIo& io)
    : scenario_(std::move(scenario)),
      io_(io),
      echo_(scenario_.echo),
      store_(scenario_.store),
      toolkit_(scenario_.toolkit, *this, io),
      stock_(scenario_.stock, *this, io),
      dial_codes_(scenario_.dial_rules, *this, io,
                  [this](const std::string& code) { return stock_.Dial(code); }) {
  stores_["ME"];
  stores_["SM"];
  families_ = {&Simulator::SubmitFamily,  &Simulator::StoreFamily, &Simulator::KeypadFamily,
               &Simulator::ToolkitFamily, &Simulator::DialFamily,  &Simulator::ModesFamily};
}

const std::map<int, Simulator::Stored>& Simulator::Store(const std::string& name) const {
  static const std::map<int, Stored> kNone;
  auto found = stores_.find(name);
  return found == stores_.end() ? kNone : found->second;
}

void Simulator::Start() {
  for (const IncomingMessage& message : scenario_.messages) {
    if (message.delay_ms > 0) {
      io_.After(message.delay_ms, [this, message] { Place(message); });
    } else {
      Place(message);
    }
  }
}

void Simulator::Feed(const std::string& bytes) {
  for (char c : bytes) {
    if (echo_) io_.Send(std::string(1, c));
    if (text_for_ != TextFor::Nothing) {
      TakeText(c);
      continue;
    }
    if (c == '\r') {
      std::string line = line_;
      line_.clear();
      while (!line.empty() && (line.front() == '\n' || line.front() == ' ')) line.erase(0, 1);
      if (!line.empty()) Command(line);
    } else if (c != '\n') {
      line_ += c;
    }
  }
}

void Simulator::TakeToolkitText() { text_for_ = TextFor::Toolkit; }

void Simulator::TakeText(char c) {
  const TextFor text_for = text_for_;
  if (c == '\x1A' || c == '\x1B') {
    text_for_ = TextFor::Nothing;
    std::string text;
    text.swap(text_);
    const bool sent = c == '\x1A';
    if (text_for == TextFor::Submission) {
      if (sent) {
        Submitted(text);
      } else {
        io_.Record("NOTE", {"submission cancelled"});
        Ok();
      }
    } else if (sent) {
      io_.Record("RX", {text + "\x1A"});
      toolkit_.Input(text);
    } else {
      io_.Record("RX", {text + "\x1B"});
      toolkit_.InputCancelled();
    }
    return;
  }
  // A PDU is hexadecimal: line breaks and blanks in it are not part of it. A toolkit text is
  // taken as typed.
  if (text_for == TextFor::Submission && (c == '\r' || c == '\n' || c == ' ')) return;
  text_ += c;
}

void Simulator::Command(const std::string& line) {
  io_.Record("RX", {line});
  if (!io_.Hears(line)) return;
  // A command the simulator trips over is answered as a modem would any command it cannot
  // carry out; the simulator goes on.
  try {
    if (ScenarioRule(line)) return;
    const std::string command = StripTrailingSemicolon(line);
    for (Handler family : families_) {
      if ((this->*family)(command)) return;
    }
  } catch (const std::exception& error) {
    io_.Record("NOTE", {std::string("failed on this command: ") + error.what()});
  }
  Error();
}

bool Simulator::ScenarioRule(const std::string& command) {
  for (CommandRule& rule : scenario_.commands) {
    if (rule.times > 0 && rule.used >= rule.times) continue;
    bool matches = false;
    switch (rule.how) {
      case CommandRule::How::Prefix:
        matches = StartsWith(command, rule.match);
        break;
      case CommandRule::How::Exact:
        matches = command == rule.match;
        break;
      case CommandRule::How::Regex:
        matches = std::regex_search(command, rule.pattern);
        break;
    }
    if (!matches) continue;
    ++rule.used;
    if (rule.silent) return true;  // the modem did not hear it: nothing changes
    // An answered command still takes its effect on the modem's modes.
    if (StartsWith(command, "ATE0")) echo_ = false;
    if (StartsWith(command, "AT+CMGS=")) text_for_ = TextFor::Submission;
    if (StartsWith(command, "AT+CUSD=2")) dial_codes_.DropSession();
    SendLater(SingleBytes(rule.reply), rule.delivery);
    return true;
  }
  return false;
}

void Simulator::SendLater(const std::string& bytes, const Delivery& delivery) {
  std::vector<std::string> chunks;
  size_t at = 0;
  for (size_t size : delivery.chunks) {
    if (at >= bytes.size()) break;
    chunks.push_back(bytes.substr(at, size));
    at += size;
  }
  const size_t size = delivery.chunk_size == 0 ? bytes.size() : delivery.chunk_size;
  while (at < bytes.size()) {
    chunks.push_back(bytes.substr(at, size));
    at += size;
  }
  int64_t due = delivery.delay_ms;
  for (size_t n = 0; n < chunks.size(); ++n) {
    if (n > 0) due += delivery.chunk_gap_ms;
    if (due == 0) {
      io_.Send(chunks[n]);
    } else {
      io_.After(due, [this, chunk = chunks[n]] { io_.Send(chunk); });
    }
  }
}

// Modes and set-up: every command the worker sends to prepare the modem is accepted.
bool Simulator::ModesFamily(const std::string& command) {
  if (command == "AT" || command == "ATZ" || command == "AT&F") {
    Ok();
    return true;
  }
  if (StartsWith(command, "ATE")) {
    echo_ = command.size() > 3 && command[3] == '1';
    Ok();
    return true;
  }
  static const char* const kAccepted[] = {"AT+CMGF", "AT+CNMI", "AT+CMEC", "AT+CSMS", "AT+STSF",
                                          "AT+WIND", "AT+CFUN", "AT+CMEE", "AT+CSCS"};
  for (const char* prefix : kAccepted) {
    if (StartsWith(command, prefix)) {
      Ok();
      return true;
    }
  }
  return false;
}

int Simulator::Capacity(const std::string& store) const {
  return store == "SM" ? scenario_.sm_capacity : scenario_.me_capacity;
}

bool Simulator::StoreFamily(const std::string& command) {
  if (StartsWith(command, "AT+CPMS")) {
    if (command == "AT+CPMS?") {
      const std::string used = std::to_string(stores_[store_].size());
      const std::string total = std::to_string(Capacity(store_));
      const std::string one = "\"" + store_ + "\"," + used + "," + total;
      io_.Send("\r\n+CPMS: " + one + "," + one + "," + one + "\r\n\r\nOK\r\n");
      return true;
    }
    const std::string name = Quoted(command);
    if (name != "ME" && name != "SM") {
      io_.Send("\r\n+CMS ERROR: 302\r\n");
      return true;
    }
    store_ = name;
    const std::string one =
        std::to_string(stores_[store_].size()) + "," + std::to_string(Capacity(store_));
    io_.Send("\r\n+CPMS: " + one + "," + one + "," + one + "\r\n\r\nOK\r\n");
    return true;
  }
  if (StartsWith(command, "AT+CMGL")) {
    int wanted = 0;
    const size_t equals = command.find('=');
    if (equals != std::string::npos && !ReadNumber(command.substr(equals + 1), wanted)) {
      io_.Send("\r\n+CMS ERROR: 302\r\n");
      return true;
    }
    std::string listing = "\r\n";
    for (auto& [index, message] : stores_[store_]) {
      if (wanted != 4 && message.status != wanted) continue;
      listing += "+CMGL: " + std::to_string(index) + "," + std::to_string(message.status) + ",," +
                 std::to_string(gsmpdu::TpduLength(message.pdu)) + "\r\n" + message.pdu + "\r\n";
      if (message.status == 0) message.status = 1;
    }
    io_.Send(listing + "\r\nOK\r\n");
    return true;
  }
  if (StartsWith(command, "AT+CMGR=")) {
    int index = 0;
    auto& store = stores_[store_];
    if (!ReadNumber(command.substr(8), index) || store.count(index) == 0) {
      io_.Send("\r\n+CMS ERROR: 321\r\n");
      return true;
    }
    Stored& message = store[index];
    io_.Send("\r\n+CMGR: " + std::to_string(message.status) + ",," +
             std::to_string(gsmpdu::TpduLength(message.pdu)) + "\r\n" + message.pdu +
             "\r\n\r\nOK\r\n");
    if (message.status == 0) message.status = 1;
    return true;
  }
  if (StartsWith(command, "AT+CMGD=")) {
    std::string argument = command.substr(8);
    int flag = 0;
    const size_t comma = argument.find(',');
    if (comma != std::string::npos) {
      ReadNumber(argument.substr(comma + 1), flag);
      argument.resize(comma);
    }
    int index = 0;
    auto& store = stores_[store_];
    if (flag == 4) {
      store.clear();
      io_.Record("DELETE", {store_, "all"});
      Ok();
      return true;
    }
    if (!ReadNumber(argument, index) || store.count(index) == 0) {
      io_.Send("\r\n+CMS ERROR: 321\r\n");
      return true;
    }
    store.erase(index);
    io_.Record("DELETE", {store_, std::to_string(index)});
    Ok();
    return true;
  }
  return false;
}

std::vector<int> Simulator::Place(const IncomingMessage& wanted) {
  IncomingMessage message = wanted;
  if (message.store == "listed") message.store = store_;
  gsmpdu::DeliverOptions options;
  options.reference = message.reference;
  options.force_multipart = message.multipart;
  options.part_size = message.part_size;
  const std::vector<std::string> pdus =
      gsmpdu::EncodeDeliver(message.sender, message.text, message.coding, options);
  std::vector<int> indexes;
  auto& store = stores_[message.store];
  for (size_t n = 0; n < pdus.size(); ++n) {
    const int part = static_cast<int>(n) + 1;
    if (!message.only_parts.empty() &&
        std::find(message.only_parts.begin(), message.only_parts.end(), part) ==
            message.only_parts.end()) {
      continue;
    }
    if (static_cast<int>(store.size()) >= Capacity(message.store)) {
      io_.Record("NOTE",
                 {"store " + message.store + " full, message from " + message.sender + " dropped"});
      continue;
    }
    int index = 1;
    while (store.count(index) != 0) ++index;
    store[index] = Stored{0, pdus[n], message.sender, message.text};
    indexes.push_back(index);
    io_.Record("STORE", {message.store, std::to_string(index), message.sender, message.text,
                         std::to_string(part) + "/" + std::to_string(pdus.size())});
    if (message.announce) {
      io_.Send("\r\n+CMTI: \"" + message.store + "\"," + std::to_string(index) + "\r\n");
    }
  }
  return indexes;
}

bool Simulator::SubmitFamily(const std::string& command) {
  if (!StartsWith(command, "AT+CMGS=")) return false;
  if (!ReadNumber(command.substr(8), expected_length_)) {
    Error();
    return true;
  }
  text_for_ = TextFor::Submission;
  io_.Send("\r\n> ");
  return true;
}

void Simulator::Submitted(const std::string& pdu_text) {
  io_.Record("RX", {pdu_text + "\x1A"});
  gsmpdu::Submit submit;
  try {
    submit = gsmpdu::DecodeSubmit(pdu_text);
    if (gsmpdu::TpduLength(pdu_text) != expected_length_) {
      io_.Record("NOTE", {"AT+CMGS length " + std::to_string(expected_length_) +
                          " but the PDU has " + std::to_string(gsmpdu::TpduLength(pdu_text))});
    }
  } catch (const std::exception& error) {
    io_.Record("NOTE", {std::string("bad SUBMIT PDU: ") + error.what()});
    io_.Send("\r\n+CMS ERROR: 304\r\n");
    return;
  }
  message_reference_ = (message_reference_ + 1) % 256;
  const std::string parts = submit.has_concatenation ? std::to_string(submit.reference) + "/" +
                                                           std::to_string(submit.total) + "/" +
                                                           std::to_string(submit.sequence)
                                                     : "-";
  io_.Record("SMSPART", {submit.number, submit.text, parts});
  std::string reply =
      scenario_.submit_reply.empty() ? "\r\n+CMGS: {mr}\r\n\r\nOK\r\n" : scenario_.submit_reply;
  reply = Expand(reply, {}, {{"mr", std::to_string(message_reference_)}});
  SendLater(SingleBytes(reply), Delivery{scenario_.submit_delay_ms, 0, 0, {}});

  if (!submit.has_concatenation || submit.total <= 1) {
    CompleteSms(submit.number, submit.text);
    return;
  }
  auto& parts_in = pending_parts_[{submit.number, submit.reference}];
  parts_in[submit.sequence] = submit.text;
  if (static_cast<int>(parts_in.size()) < submit.total) return;
  std::string text;
  for (auto& [sequence, piece] : parts_in) text += piece;
  pending_parts_.erase({submit.number, submit.reference});
  CompleteSms(submit.number, text);
}

void Simulator::CompleteSms(const std::string& number, const std::string& text) {
  io_.Record("SMS", {number, text});
  for (RequestRule& rule : scenario_.sms_rules) {
    if (rule.times > 0 && rule.used >= rule.times) continue;
    if (!std::regex_match(number, rule.to)) continue;
    std::smatch match;
    std::vector<std::string> groups;
    if (rule.has_text) {
      if (!std::regex_search(text, match, rule.text)) continue;
      for (const auto& group : match) groups.push_back(group.str());
    }
    ++rule.used;
    React(rule.reaction, groups, Named(rule, groups, {{"number", number}, {"text", text}}), number);
    return;
  }
}

bool Simulator::KeypadFamily(const std::string& command) {
  if (!StartsWith(command, "AT+CKPD=")) return false;
  const std::string keys = Quoted(command);
  io_.Record("KEYS", {keys});
  Ok();
  for (RequestRule& rule : scenario_.key_rules) {
    if (rule.times > 0 && rule.used >= rule.times) continue;
    std::smatch match;
    if (!std::regex_match(keys, match, rule.to)) continue;
    std::vector<std::string> groups;
    for (const auto& group : match) groups.push_back(group.str());
    ++rule.used;
    React(rule.reaction, groups, Named(rule, groups, {{"keys", keys}}), "");
    break;
  }
  return true;
}

void Simulator::React(const Reaction& reaction, const std::vector<std::string>& groups,
                      const std::map<std::string, std::string>& values,
                      const std::string& reply_to) {
  if (!reaction.ack.empty()) io_.Send(SingleBytes(Expand(reaction.ack, groups, values)));
  if (reaction.has_reply) {
    SendLater(SingleBytes(Expand(reaction.reply, groups, values) + reaction.end),
              reaction.delivery);
  }
  if (reaction.has_ussd) {
    SendLater(SingleBytes("\r\n+CUSD: " + std::to_string(reaction.ussd_state) + ",\"" +
                          Expand(reaction.ussd, groups, values) + "\",15\r\n"),
              reaction.delivery);
  }
  if (reaction.has_sms) {
    IncomingMessage message = reaction.sms;
    message.text = Expand(message.text, groups, values);
    message.sender = Expand(message.sender.empty() ? reply_to : message.sender, groups, values);
    io_.After(message.delay_ms, [this, message] { Place(message); });
  }
}

std::string Simulator::Expand(const std::string& text, const std::vector<std::string>& groups,
                              const std::map<std::string, std::string>& values) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    const size_t close = text[i] == '{' ? text.find('}', i) : std::string::npos;
    if (close == std::string::npos) {
      out += text[i];
      continue;
    }
    const std::string name = text.substr(i + 1, close - i - 1);
    int group = 0;
    if (ReadNumber(name, group)) {
      if (static_cast<size_t>(group) < groups.size()) out += groups[static_cast<size_t>(group)];
    } else if (name == "serial") {
      out += std::to_string(++serial_);
    } else if (auto found = values.find(name); found != values.end()) {
      out += found->second;
    } else {
      out += text.substr(i, close - i + 1);
    }
    i = close;
  }
  return out;
}

}  // namespace tovalink::sim
