#include "modem/trace_format.h"

#include <array>
#include <cstdio>

namespace tovalink {

namespace {

struct KindInfo {
  TraceKind kind;
  const char* name;
  size_t fields;  // how many fields the event carries at least
};

constexpr std::array<KindInfo, 8> kKinds = {{
    {TraceKind::Open, "OPEN", 3},
    {TraceKind::OpenFailed, "OPENFAIL", 2},
    {TraceKind::Close, "CLOSE", 0},
    {TraceKind::Write, "WRITE", 1},
    {TraceKind::WriteFailed, "WRITEFAIL", 1},
    {TraceKind::Read, "READ", 1},
    {TraceKind::Line, "LINE", 1},
    {TraceKind::Gone, "GONE", 0},
}};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// "yyyy-mm-dd hh:mm:ss.mmm": digits where the pattern has them, its punctuation elsewhere.
bool IsTimestamp(std::string_view text) {
  static constexpr std::string_view kPattern = "0000-00-00 00:00:00.000";
  if (text.size() != kPattern.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (kPattern[i] == '0' ? !IsDigit(text[i]) : text[i] != kPattern[i]) return false;
  }
  return true;
}

}  // namespace

const std::string& TraceEvent::bytes() const {
  static const std::string kNone;
  return fields.empty() ? kNone : fields[0];
}

const char* TraceKindName(TraceKind kind) {
  for (const KindInfo& info : kKinds) {
    if (info.kind == kind) return info.name;
  }
  return "?";
}

std::string EscapeTraceField(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 4);
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      default:
        if (byte < 0x20 || byte >= 0x7F) {
          char hex[5];
          std::snprintf(hex, sizeof hex, "\\x%02X", byte);
          out += hex;
        } else {
          out += c;
        }
    }
  }
  return out;
}

std::string UnescapeTraceField(std::string_view field) {
  std::string out;
  out.reserve(field.size());
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] != '\\' || i + 1 == field.size()) {
      out += field[i];
      continue;
    }
    const char next = field[i + 1];
    if (next == '\\' || next == 't' || next == 'r' || next == 'n') {
      out += next == '\\' ? '\\' : next == 't' ? '\t' : next == 'r' ? '\r' : '\n';
      ++i;
    } else if (next == 'x' && i + 3 < field.size() && HexValue(field[i + 2]) >= 0 &&
               HexValue(field[i + 3]) >= 0) {
      out += static_cast<char>(HexValue(field[i + 2]) * 16 + HexValue(field[i + 3]));
      i += 3;
    } else {
      out += '\\';
    }
  }
  return out;
}

std::string FormatTraceLine(const TraceEvent& event) {
  std::string line =
      event.when + "\t" + std::to_string(event.ms) + "\t" + TraceKindName(event.kind);
  for (const std::string& field : event.fields) {
    line += '\t';
    line += EscapeTraceField(field);
  }
  line += '\n';
  return line;
}

std::optional<TraceEvent> ParseTraceLine(std::string_view line) {
  if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
  if (line.empty() || line.front() == '#') return std::nullopt;
  std::vector<std::string_view> columns;
  for (size_t at = 0;;) {
    const size_t tab = line.find('\t', at);
    columns.push_back(
        line.substr(at, tab == std::string_view::npos ? std::string_view::npos : tab - at));
    if (tab == std::string_view::npos) break;
    at = tab + 1;
  }
  if (columns.size() < 3 || !IsTimestamp(columns[0])) return std::nullopt;
  const std::string_view ms = columns[1];
  if (ms.empty() || ms.size() > 15) return std::nullopt;
  int64_t value = 0;
  for (const char c : ms) {
    if (!IsDigit(c)) return std::nullopt;
    value = value * 10 + (c - '0');
  }
  for (const KindInfo& info : kKinds) {
    if (columns[2] != info.name) continue;
    if (columns.size() - 3 < info.fields) return std::nullopt;
    TraceEvent event;
    event.when = std::string(columns[0]);
    event.ms = value;
    event.kind = info.kind;
    for (size_t n = 3; n < columns.size(); ++n)
      event.fields.push_back(UnescapeTraceField(columns[n]));
    return event;
  }
  return std::nullopt;
}

Trace ReadTrace(std::istream& in) {
  Trace trace;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line.front() == '#') continue;
    if (std::optional<TraceEvent> event = ParseTraceLine(line)) {
      trace.events.push_back(std::move(*event));
    } else {
      ++trace.unreadable;
    }
  }
  return trace;
}

std::optional<int> CompareTraceTime(std::string_view when, std::string_view time) {
  static constexpr std::string_view kWhole = "0000-00-00 00:00:00";
  auto fits = [&](std::string_view pattern) {
    if (time.size() > pattern.size()) return false;
    for (size_t i = 0; i < time.size(); ++i) {
      if (pattern[i] == '0' ? !IsDigit(time[i]) : time[i] != pattern[i]) return false;
    }
    return true;
  };
  size_t offset = 0;
  if ((time.size() == 5 || time.size() == 8) && fits(kWhole.substr(11))) {
    offset = 11;  // the time of day in "yyyy-mm-dd hh:mm:ss.mmm"
  } else if (!((time.size() == 10 || time.size() == 16 || time.size() == 19) && fits(kWhole))) {
    return std::nullopt;
  }
  if (when.size() < offset + time.size()) return -1;
  const int order = when.substr(offset, time.size()).compare(time);
  return order < 0 ? -1 : order > 0 ? 1 : 0;
}

std::string TraceExchange::Reply() const {
  std::string reply;
  for (const TraceEvent& event : after) {
    if (event.kind == TraceKind::Read) reply += event.bytes();
  }
  return reply;
}

TraceDialogue DialogueOf(const std::vector<TraceEvent>& events) {
  TraceDialogue dialogue;
  for (const TraceEvent& event : events) {
    if (event.kind == TraceKind::Write) {
      dialogue.exchanges.push_back({event, {}});
    } else if (dialogue.exchanges.empty()) {
      dialogue.before_first_write.push_back(event);
    } else {
      dialogue.exchanges.back().after.push_back(event);
    }
  }
  return dialogue;
}

}  // namespace tovalink
