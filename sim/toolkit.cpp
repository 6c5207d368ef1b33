#include "sim/toolkit.h"

#include <nlohmann/json.hpp>
#include <set>
#include <stdexcept>

#include "sim/scenario_parse.h"
#include "sim/simulator.h"

namespace tovalink::sim {

using nlohmann::json;

namespace {

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

std::vector<std::string> SplitAtCommas(const std::string& text) {
  std::vector<std::string> parts;
  size_t at = 0;
  for (;;) {
    const size_t comma = text.find(',', at);
    parts.push_back(text.substr(at, comma == std::string::npos ? std::string::npos : comma - at));
    if (comma == std::string::npos) return parts;
    at = comma + 1;
  }
}

// A whole decimal number of at most four digits, or -1.
int SmallNumber(const std::string& text) {
  if (text.empty() || text.size() > 4) return -1;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c - '0');
  }
  return value;
}

int TypeOf(StkNode::Kind kind) {
  switch (kind) {
    case StkNode::Kind::Select:
      return static_cast<int>(Proactive::SelectItem);
    case StkNode::Kind::Input:
      return static_cast<int>(Proactive::GetInput);
    case StkNode::Kind::Display:
      return static_cast<int>(Proactive::DisplayText);
    case StkNode::Kind::SendSms:
      return static_cast<int>(Proactive::SendSms);
  }
  return -1;
}

std::string ItemLines(const std::vector<StkItem>& items) {
  std::string lines;
  for (const StkItem& item : items) {
    lines += "+STGI: " + std::to_string(item.id) + "," + std::to_string(items.size()) + ",\"" +
             item.label + "\",0\r\n";
  }
  return lines;
}

// --- Reading the "stk" section -------------------------------------------------------------

class TreeReader {
 public:
  explicit TreeReader(ToolkitScenario& toolkit) : toolkit_(toolkit) {}

  // The items of the main menu (owner "menu") or of a select node (owner its name).
  std::vector<StkItem> Items(const json& list, const std::string& owner) {
    const std::string where = owner == "menu" ? owner : "node \"" + owner + "\"";
    if (!list.is_array() || list.empty()) {
      throw std::runtime_error("stk: " + where + " needs a list of \"items\"");
    }
    std::vector<StkItem> items;
    std::set<int> ids;
    for (const json& entry : list) {
      StkItem item;
      item.id = static_cast<int>(items.size()) + 1;
      if (entry.is_string()) {
        item.label = entry.get<std::string>();
      } else {
        item.label = Get<std::string>(entry, "label", "");
        item.id = Get<int>(entry, "id", item.id);
        item.next = Next(entry, where + " item \"" + item.label + "\"", owner + "/" + item.label);
      }
      if (!ids.insert(item.id).second) {
        throw std::runtime_error("stk: " + where + " has item id " + std::to_string(item.id) +
                                 " twice");
      }
      items.push_back(std::move(item));
    }
    return items;
  }

  // The node named by an entry's "next": a name, or a node written in place, which is named
  // `inline_name`.
  std::string Next(const json& entry, const std::string& where, const std::string& inline_name) {
    if (!entry.contains("next") || entry["next"].is_null()) return {};
    const json& next = entry["next"];
    if (next.is_string()) {
      const std::string name = next.get<std::string>();
      wanted_.emplace_back(name, where);
      return name;
    }
    Node(inline_name, next);
    return inline_name;
  }

  void Node(const std::string& name, const json& object) {
    if (!object.is_object()) throw std::runtime_error("stk: node \"" + name + "\" is no object");
    StkNode node;
    int kinds = 0;
    auto kind = [&](const char* key, StkNode::Kind value) {
      if (!object.contains(key)) return;
      ++kinds;
      node.kind = value;
      node.text = object[key].get<std::string>();
    };
    kind("select", StkNode::Kind::Select);
    kind("input", StkNode::Kind::Input);
    kind("display", StkNode::Kind::Display);
    kind("send_sms", StkNode::Kind::SendSms);
    if (kinds != 1) {
      throw std::runtime_error("stk: node \"" + name +
                               "\" needs exactly one of \"select\", \"input\", \"display\", "
                               "\"send_sms\"");
    }
    node.name = Get<std::string>(object, "name", "");
    node.hang = Get<int>(object, "hang", 0);
    if (node.kind == StkNode::Kind::Select) {
      node.items = Items(Get<json>(object, "items", json()), name);
    } else {
      node.next = Next(object, "node \"" + name + "\"", name + "/next");
    }
    node.digits = Get<bool>(object, "digits", false);
    node.hidden = Get<bool>(object, "hidden", false);
    node.min_length = Get<int>(object, "min", 1);
    node.max_length = Get<int>(object, "max", 20);
    node.after_ms = Get<int64_t>(object, "after_ms", 1500);
    if (object.contains("sms")) {
      node.has_sms = true;
      node.sms = ParseMessage(object["sms"]);
      if (node.sms.sender.empty()) node.sms.sender = toolkit_.title;
    }
    if (!toolkit_.nodes.emplace(name, std::move(node)).second) {
      throw std::runtime_error("stk: node \"" + name + "\" is defined twice");
    }
  }

  void CheckNames() const {
    for (const auto& [name, where] : wanted_) {
      if (toolkit_.nodes.count(name) == 0) {
        throw std::runtime_error("stk: " + where + " leads to the unknown node \"" + name + "\"");
      }
    }
  }

 private:
  ToolkitScenario& toolkit_;
  std::vector<std::pair<std::string, std::string>> wanted_;  // node name, where it is named
};

}  // namespace

ToolkitScenario ParseToolkit(const json& section) {
  ToolkitScenario toolkit;
  toolkit.present = true;
  const json menu = Get<json>(section, "menu", json::object());
  toolkit.title = Get<std::string>(menu, "title", "SIM");
  TreeReader reader(toolkit);
  toolkit.menu = reader.Items(Get<json>(menu, "items", json()), "menu");
  const json nodes = Get<json>(section, "nodes", json::object());
  if (!nodes.is_object()) throw std::runtime_error("stk: \"nodes\" must be an object");
  for (const auto& [name, node] : nodes.items()) reader.Node(name, node);
  reader.CheckNames();
  toolkit.announce_delay_ms = Get<int64_t>(section, "announce_delay_ms", 200);
  toolkit.restart_delay_ms = Get<int64_t>(section, "restart_delay_ms", 1000);
  toolkit.stin_errors = Get<int>(section, "stin_errors", 0);
  return toolkit;
}

// --- The toolkit -----------------------------------------------------------------------------

Toolkit::Toolkit(const ToolkitScenario& scenario, Simulator& simulator, SimIo& io)
    : scenario_(scenario),
      simulator_(simulator),
      io_(io),
      stin_errors_left_(scenario.stin_errors) {}

bool Toolkit::Command(const std::string& command) {
  if (!scenario_.present) return false;
  if (command == "AT+CFUN=1") {
    Restart();
    return true;
  }
  const bool stin = command == "AT+STIN?";
  const bool stgi = StartsWith(command, "AT+STGI=");
  const bool stgr = StartsWith(command, "AT+STGR=");
  if (!stin && !stgi && !stgr) return false;
  if (phase_ == Phase::Stalled) {
    io_.Record("STK", {"STALLED", command});
    return true;  // a stalled toolkit answers nothing
  }
  if (phase_ == Phase::Restarting) {
    Refuse(command, "the SIM is restarting");
  } else if (stin) {
    AnswerStin();
  } else if (stgi) {
    AnswerStgi(command.substr(8));
  } else {
    AnswerStgr(command.substr(8), command);
  }
  return true;
}

void Toolkit::AnswerStin() {
  if (stin_errors_left_ > 0) {
    --stin_errors_left_;
    Refuse("AT+STIN?", "stin_errors");
    return;
  }
  const std::string type = std::to_string(last_announced_);
  io_.Record("STK", {"STIN?", type});
  io_.Send("\r\n+STIN: " + type + "\r\n\r\nOK\r\n");
}

void Toolkit::AnswerStgi(const std::string& argument) {
  const int type = SmallNumber(argument);
  if (type == static_cast<int>(Proactive::SetupMenu)) {
    // The main menu stays readable whatever the SIM is doing, as on the phone's screen.
    io_.Record("STK", {"STGI", "0", "menu"});
    io_.Send(SingleBytes("\r\n" + MenuLines() + "\r\nOK\r\n"));
    return;
  }
  const StkNode* node = Current();
  if (node == nullptr || TypeOf(node->kind) != type) {
    Refuse("AT+STGI=" + argument,
           node == nullptr ? "no proactive command pending"
                           : "the pending command is " + std::to_string(TypeOf(node->kind)));
    return;
  }
  io_.Record("STK", {"STGI", argument, current_});
  io_.Send(SingleBytes("\r\n" + NodeLines(*node) + "\r\nOK\r\n"));
}

void Toolkit::AnswerStgr(const std::string& argument, const std::string& command) {
  const std::vector<std::string> parts = SplitAtCommas(argument);
  const int type = SmallNumber(parts[0]);
  const StkNode* node = Current();
  if (type == static_cast<int>(Proactive::SetupMenu)) {
    // A choice from the main menu starts a new session, leaving any unfinished one behind.
    const int id = parts.size() == 3 && parts[1] == "1" ? SmallNumber(parts[2]) : -1;
    for (const StkItem& item : scenario_.menu) {
      if (item.id != id) continue;
      ++generation_;
      values_.clear();
      Choose("menu", item);
      return;
    }
    Refuse(command, "no such main-menu item");
    return;
  }
  if (node == nullptr || TypeOf(node->kind) != type) {
    Refuse(command, node == nullptr
                        ? "no proactive command pending"
                        : "the pending command is " + std::to_string(TypeOf(node->kind)));
    return;
  }
  switch (node->kind) {
    case StkNode::Kind::Select: {
      const int id = parts.size() == 3 && parts[1] == "1" ? SmallNumber(parts[2]) : -1;
      for (const StkItem& item : node->items) {
        if (item.id == id) {
          if (!node->name.empty()) values_[node->name] = item.label;
          Choose(current_, item);
          return;
        }
      }
      Refuse(command, "no such item");
      return;
    }
    case StkNode::Kind::Input:
      if (parts.size() != 2 || parts[1] != "1") {
        Refuse(command, "an input is answered with AT+STGR=3,1");
        return;
      }
      io_.Record("STK", {"PROMPT", current_});
      io_.Send("\r\n> ");
      simulator_.TakeToolkitText();
      return;
    case StkNode::Kind::Display: {
      io_.Record("STK", {"DISPLAYED", current_});
      io_.Send("\r\nOK\r\n");
      const std::string next = node->next;
      if (next.empty()) {
        EndSession();
      } else {
        Enter(next);
      }
      return;
    }
    case StkNode::Kind::SendSms:
      break;
  }
  Refuse(command, "the SIM sends its SMS by itself");
}

void Toolkit::Input(const std::string& text) {
  const StkNode* node = Current();
  if (node == nullptr || node->kind != StkNode::Kind::Input) {
    // Cannot happen while the line only takes text after our own prompt; stay safe anyway.
    Refuse(text, "no input pending");
    return;
  }
  const int length = static_cast<int>(text.size());
  bool digits_only = true;
  for (char c : text) digits_only = digits_only && c >= '0' && c <= '9';
  if (length < node->min_length || length > node->max_length || (node->digits && !digits_only)) {
    Refuse(text, "the input does not fit \"" + node->text + "\"");
    return;
  }
  io_.Record("STK", {"INPUT", current_, text});
  if (!node->name.empty()) values_[node->name] = text;
  io_.Send("\r\nOK\r\n");
  const std::string next = node->next;
  if (next.empty()) {
    EndSession();
  } else {
    Enter(next);
  }
}

void Toolkit::InputCancelled() {
  io_.Record("STK", {"INPUT CANCELLED", current_});
  io_.Send("\r\nOK\r\n");
}

void Toolkit::Restart() {
  ++generation_;
  phase_ = Phase::Restarting;
  current_.clear();
  values_.clear();
  io_.Record("STK", {"RESTART"});
  io_.Send("\r\nOK\r\n");
  const uint64_t generation = generation_;
  io_.After(scenario_.restart_delay_ms, [this, generation] {
    if (generation != generation_) return;
    phase_ = Phase::Idle;
    last_announced_ = static_cast<int>(Proactive::SetupMenu);
    io_.Record("STK", {"ANNOUNCE", "0", "menu"});
    io_.Send("\r\n+STIN: 0\r\n");
  });
}

void Toolkit::Choose(const std::string& where, const StkItem& item) {
  io_.Record("STK", {"SELECT", where, std::to_string(item.id), item.label});
  io_.Send("\r\nOK\r\n");
  if (item.next.empty()) {
    EndSession();
  } else {
    Enter(item.next);
  }
}

void Toolkit::Enter(const std::string& node_name) {
  const StkNode& node = scenario_.nodes.at(node_name);
  current_ = node_name;
  phase_ = Phase::InSession;
  if (hangs_done_[node_name] < node.hang) {
    ++hangs_done_[node_name];
    phase_ = Phase::Stalled;
    io_.Record("STK", {"HANG", node_name});
    return;
  }
  Announce(static_cast<Proactive>(TypeOf(node.kind)), node_name);
}

void Toolkit::EndSession() {
  phase_ = Phase::Idle;
  current_.clear();
  Announce(Proactive::EndOfSession, "");
}

void Toolkit::Announce(Proactive type, const std::string& node_name) {
  const uint64_t generation = generation_;
  io_.After(scenario_.announce_delay_ms, [this, generation, type, node_name] {
    if (generation != generation_) return;
    last_announced_ = static_cast<int>(type);
    const std::string number = std::to_string(last_announced_);
    io_.Record("STK", {"ANNOUNCE", number, node_name});
    io_.Send("\r\n+STIN: " + number + "\r\n");
    if (type != Proactive::SendSms) return;
    // The modem sends the SIM's SMS by itself; the operator answers it later, whatever
    // becomes of the session meanwhile.
    const StkNode& node = scenario_.nodes.at(node_name);
    if (node.has_sms) {
      IncomingMessage message = node.sms;
      message.text = simulator_.Expand(message.text, {}, values_);
      message.sender = simulator_.Expand(message.sender, {}, values_);
      io_.After(message.delay_ms, [this, message] { simulator_.Place(message); });
    }
    io_.After(node.after_ms, [this, generation, next = node.next] {
      if (generation != generation_) return;
      if (next.empty()) {
        EndSession();
      } else {
        Enter(next);
      }
    });
  });
}

void Toolkit::Refuse(const std::string& command, const std::string& why) {
  io_.Record("STK", {"REFUSED", command, why});
  io_.Send("\r\nERROR\r\n");
}

const StkNode* Toolkit::Current() const {
  if (phase_ != Phase::InSession) return nullptr;
  auto found = scenario_.nodes.find(current_);
  return found == scenario_.nodes.end() ? nullptr : &found->second;
}

std::string Toolkit::MenuLines() const {
  return "+STGI: \"" + scenario_.title + "\"\r\n" + ItemLines(scenario_.menu);
}

std::string Toolkit::NodeLines(const StkNode& node) const {
  const std::string text = simulator_.Expand(node.text, {}, values_);
  switch (node.kind) {
    case StkNode::Kind::Select:
      return "+STGI: 0,\"" + text + "\"\r\n" + ItemLines(node.items);
    case StkNode::Kind::Input:
      return "+STGI: " + std::string(node.digits ? "0" : "1") + "," + (node.hidden ? "0" : "1") +
             "," + std::to_string(node.min_length) + "," + std::to_string(node.max_length) +
             ",0,\"" + text + "\"\r\n";
    case StkNode::Kind::Display:
      return "+STGI: 0,\"" + text + "\",1\r\n";
    case StkNode::Kind::SendSms:
      return "+STGI: \"" + text + "\"\r\n";
  }
  return {};
}

const char* ToolkitHelp() {
  return R"(  "stk": {"menu": {"title": "SIM", "items": [<item>]}, "nodes": {"NAME": <node>},
          "announce_delay_ms": 200, "restart_delay_ms": 1000, "stin_errors": 0}
                             a SIM-toolkit menu, WAVECOM style. "+STIN: n" announces the
                             pending proactive command (0 main menu, 6 select item, 3 get
                             input, 1 display text, 9 send SMS, 99 end of session), that long
                             after the response that led to it. AT+STIN? answers the last one
                             announced (0 at start and after a restart; the first
                             "stin_errors" get ERROR). AT+STGI=0 lists the main menu at any
                             time; AT+STGI=n the pending command; AT+STGR=0,1,<id> starts a
                             session from the main menu; AT+STGR=6,1,<id> selects; AT+STGR=3,1
                             answers "\r\n> " and takes the text up to Ctrl-Z (Esc cancels);
                             AT+STGR=1 acknowledges a text shown. "AT+CFUN=1" restarts the
                             toolkit: "OK", then "+STIN: 0" after "restart_delay_ms". A
                             command that does not fit the pending one gets ERROR.
    AT+STGI=0: +STGI: "<title>" then +STGI: <id>,<count>,"<label>",0 per item
    AT+STGI=6: +STGI: 0,"<title>" then the item lines
    AT+STGI=3: +STGI: <0 digits|1 text>,<1 shown|0 hidden>,<min>,<max>,0,"<prompt>"
    AT+STGI=1: +STGI: 0,"<text>",1          AT+STGI=9: +STGI: "<label>"
<item>:     "LABEL" or {"label": "REGULER", "id": <position>, "next": "NAME" | <node>}
                             without "next" the choice ends the session ("+STIN: 99")
<node>:     one of
            {"select": "TITLE", "name": "product", "items": [<item>]}
            {"input": "PROMPT", "name": "destination", "digits": false, "hidden": false,
             "min": 1, "max": 20, "next": ...}      (text outside min..max, or letters in a
                                                     "digits" input, get ERROR)
            {"display": "TEXT", "next": ...}
            {"send_sms": "LABEL", "sms": <message>, "after_ms": 1500, "next": ...}
                             the SIM sends an SMS by itself: "after_ms" after "+STIN: 9"
                             comes the next node or the end of the session; "sms" is the
                             operator's answer, placed "delay_ms" after "+STIN: 9" ("from"
                             defaults to the menu's title)
            any node may carry "hang": N: the first N times the walk reaches it the
            toolkit stalls (no "+STIN:", no answer to AT+STIN?/STGI/STGR) until AT+CFUN=1
            "next" names a node of "nodes" or holds one in place; none ends the session.
            A menu without the item the module wants is simply a menu without it.
Placeholders in node texts and in the "sms": {NAME} for each input's text and each
select's chosen label of the session, by the node's "name"; {serial}.
)";
}

}  // namespace tovalink::sim
