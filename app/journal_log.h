#pragma once
// tovalinkd's journal: every change of the form's displays, and every line given to
// Form::Log, becomes one line of standard error with a syslog priority; lines below the
// chosen level are dropped before they are formatted.
//
// Priorities: errors are the operator's messages (fatal errors, a refused START, a missing
// dbsetting.txt) and, in the first status-bar panel, a lost server and a row or log entry the
// module could not write; warnings are the operator's messages that begin "Peringatan", the
// missing indexes, a refused heartbeat, the SIM menu's lost connection and an input queue
// that overflows; notices are the server back and any other text of the first panel (and
// what the engine says through Form::Log); the stock boxes and the carrier line are info; the
// AT dialogue (Memo1, the second and third panels) and the other displays are debug.
//
// Two styles: under journald (standard error is the stream $JOURNAL_STREAM names) each line
// is "<N>" and the text, and the journal stamps it; anywhere else (a terminal, a file) each
// line is the local date and time, the priority's name and the text, e.g.
//   2026-03-02 09:30:00 warning status0: Indeks belum ada: ...
// Texts are put on one line: CR, LF and other control bytes as \r, \n and \xNN, and the
// module's Windows-1252 bytes as UTF-8, so the journal stores them as text.
//
// Threads: Show and Write may be called from any thread; each line goes out whole, in one
// insertion under the log's lock.

#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "core/clock.h"
#include "core/form.h"

namespace tovalink {

enum class LogStyle { Journal, Plain };

inline constexpr LogPriority kDefaultLogLevel = LogPriority::Notice;

// The priority of a display change, or nullopt for one that is never logged (the buttons).
std::optional<LogPriority> PriorityOf(const FormChange& change);
// The text of a display change's line: the display's name and its new content ("status0: ",
// "memo1: ", "stock S10: "...), or the bare text of a Form::Log line.
std::string LineText(const FormChange& change);

// "error", "warning", "notice", "info", "debug".
const char* LogPriorityName(LogPriority priority);
// A level as a name above (any letter case; also "err" and "warn") or as its number 3 to 7.
std::optional<LogPriority> ParseLogLevel(std::string_view text);

// A text as one line for the journal (see above).
std::string JournalText(std::string_view text);

// Journal when standard error is the journal's stream ($JOURNAL_STREAM is "device:inode" of
// it, as systemd sets it for a service), otherwise Plain.
LogStyle StandardErrorStyle();

class JournalLog {
 public:
  // `out` and `clock` must outlive the log.
  JournalLog(std::ostream& out, Clock& clock, LogPriority level, LogStyle style);

  // The form's observer: logs the change when its priority is within the level.
  void Show(const FormChange& change);
  // One line of `priority`, when it is within the level.
  void Write(LogPriority priority, std::string_view text);
  bool Shows(LogPriority priority) const { return priority <= level_; }

 private:
  std::ostream& out_;
  Clock& clock_;
  const LogPriority level_;
  const LogStyle style_;
  std::mutex mutex_;  // one line at a time
};

}  // namespace tovalink
