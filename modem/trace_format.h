#pragma once
// The field trace: the module's whole dialogue with its modem, one line per event, in a text
// that a person reads with less and grep and that modemsim --replay and pdutool read back.
//
//   # lines that begin with "#" are comments (each file begins with a header of them)
//   <yyyy-mm-dd hh:mm:ss.mmm>\t<ms>\t<EVENT>[\t<field>...]
//
// The first column is the local wall clock when the event happened, for a person. The second
// counts milliseconds on the monotonic clock from the moment the module began its trace: the
// delays between events are exact across a step of the wall clock and across the rotation
// of the file. The events and their fields:
//
//   OPEN      device, baud rate, handshake   the port was opened (START)
//   OPENFAIL  device, error                  the port could not be opened
//   CLOSE                                    the port was closed (STOP, a fatal error)
//   WRITE     bytes                          one write to the modem, as the module made it
//   WRITEFAIL error                          the write before it failed
//   READ      bytes                          one chunk of bytes received from the modem
//   LINE      RLSDCHANGE or 80FULL           the carrier line changed, the input queue filled
//   GONE                                     the device went away under the module
//
// Fields escape "\" as "\\", tab, CR and LF as "\t", "\r" and "\n", and every other byte
// outside printable ASCII as "\xNN" (upper-case hex), so a line never holds a raw control
// byte and the bytes come back exactly.
//
// Pure functions over text; safe on any thread.

#include <cstdint>
#include <istream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tovalink {

// The version written in each file's header; a reader refuses nothing, but a person can tell.
inline constexpr int kTraceFormatVersion = 1;

enum class TraceKind { Open, OpenFailed, Close, Write, WriteFailed, Read, Line, Gone };

struct TraceEvent {
  std::string when;  // "yyyy-mm-dd hh:mm:ss.mmm", local wall clock
  int64_t ms = 0;    // monotonic milliseconds since the trace began
  TraceKind kind = TraceKind::Read;
  std::vector<std::string> fields;  // unescaped

  // The first field, or "": the bytes of WRITE and READ.
  const std::string& bytes() const;
  bool operator==(const TraceEvent&) const = default;
};

const char* TraceKindName(TraceKind kind);

std::string EscapeTraceField(std::string_view bytes);
// The inverse of EscapeTraceField. A backslash that starts no escape is kept as it stands.
std::string UnescapeTraceField(std::string_view field);

// One line, ended by "\n".
std::string FormatTraceLine(const TraceEvent& event);
// The event of one line (with or without its "\n"); nullopt for a comment, a blank line or a
// line that is not an event (a cut last line, another file).
std::optional<TraceEvent> ParseTraceLine(std::string_view line);

struct Trace {
  std::vector<TraceEvent> events;
  size_t unreadable = 0;  // lines that were neither comments nor events
};
Trace ReadTrace(std::istream& in);

// How an event's time `when` stands to a time a person gives: "hh:mm" or "hh:mm:ss" (a time
// of day, whatever the date) or "yyyy-mm-dd", "yyyy-mm-dd hh:mm" or "yyyy-mm-dd hh:mm:ss".
// Negative when `when` is earlier, 0 when it falls within (10:15:42 is within "10:15"),
// positive when later; nullopt when `time` is none of those forms.
std::optional<int> CompareTraceTime(std::string_view when, std::string_view time);

// One command and what followed it until the next: what the modem answered (and anything it
// sent unasked meanwhile), with the line events and the close in between.
struct TraceExchange {
  TraceEvent write;
  std::vector<TraceEvent> after;
  // The READ bytes of `after`, joined: the reply as SendAT collected it (and what came late).
  std::string Reply() const;
};

struct TraceDialogue {
  std::vector<TraceEvent> before_first_write;  // the open, bytes that came before any command
  std::vector<TraceExchange> exchanges;
};
TraceDialogue DialogueOf(const std::vector<TraceEvent>& events);

}  // namespace tovalink
