// The field trace on any text, as modemsim --replay and pdutool read a trace sent in from an
// outlet. What must hold: reading never throws; every event read comes back the same from
// the line it is written as, and that line is one line of printable text; an event's
// fields are what the writer would write (no count below its kind's); the dialogue keeps
// every event, each command once, in order; and a time a person gives is compared without
// reading past either text.

#include <cstdint>
#include <sstream>
#include <string>

#include "fuzz/fuzz_support.h"
#include "modem/trace_format.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tovalink;
  using fuzz::Require;
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::istringstream in(text);
  const Trace trace = ReadTrace(in);

  for (const TraceEvent& event : trace.events) {
    const std::string line = FormatTraceLine(event);
    Require(line.back() == '\n', "a written event ends its line", line);
    for (size_t i = 0; i + 1 < line.size(); ++i) {
      const auto byte = static_cast<unsigned char>(line[i]);
      Require(line[i] == '\t' || (byte >= 0x20 && byte < 0x7F), "a written line is printable",
              line);
    }
    const std::optional<TraceEvent> again = ParseTraceLine(line);
    Require(again.has_value() && *again == event, "an event comes back from its line", line);
    for (const std::string& field : event.fields) {
      Require(UnescapeTraceField(EscapeTraceField(field)) == field, "a field comes back", field);
    }
  }

  const TraceDialogue dialogue = DialogueOf(trace.events);
  size_t events = dialogue.before_first_write.size();
  size_t writes = 0;
  for (const TraceExchange& exchange : dialogue.exchanges) {
    Require(exchange.write.kind == TraceKind::Write, "each exchange begins with its command");
    events += 1 + exchange.after.size();
    for (const TraceEvent& event : exchange.after) {
      Require(event.kind != TraceKind::Write, "an exchange holds one command");
    }
    std::string reply;
    for (const TraceEvent& event : exchange.after) {
      if (event.kind == TraceKind::Read) reply += event.bytes();
    }
    Require(exchange.Reply() == reply, "the reply is the chunks read");
  }
  for (const TraceEvent& event : trace.events) writes += event.kind == TraceKind::Write;
  Require(events == trace.events.size() && writes == dialogue.exchanges.size(),
          "the dialogue keeps every event");

  // The input's first line as a time a person gives, against every event's time.
  const std::string time = text.substr(0, text.find('\n'));
  if (const std::optional<int> order = CompareTraceTime("", time)) {
    Require(*order == -1, "an empty time is before any time");
    for (const TraceEvent& event : trace.events) {
      const std::optional<int> against = CompareTraceTime(event.when, time);
      Require(against.has_value() && *against >= -1 && *against <= 1, "a time compares", time);
    }
  }
  return 0;
}
