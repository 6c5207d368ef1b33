#include "app/journal_log.h"

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <cstring>

#include "sms/cp1252.h"

namespace tovalink {

namespace {

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// What the first status-bar panel says, by how its texts begin. A text not listed is a
// notice: the panel is where the module tells its state.
struct PanelText {
  const char* begins;
  LogPriority priority;
};
constexpr std::array<PanelText, 8> kFirstPanel = {{
    {"Database terputus", LogPriority::Error},
    {"Status modul tidak tertulis", LogPriority::Error},
    {"ERRINSERT", LogPriority::Error},
    {"ERROR", LogPriority::Error},
    {"Indeks belum ada", LogPriority::Warning},
    {"Pengawasan modul gagal", LogPriority::Warning},
    {"Gangguan koneksi", LogPriority::Warning},
    {"Database tersambung kembali", LogPriority::Notice},
}};

LogPriority FirstPanelPriority(const std::string& text) {
  if (text.empty()) return LogPriority::Debug;  // the panel cleared
  // "Transaksi N tanpa status: ...": a sale left taken without an outcome.
  if (StartsWith(text, "Transaksi ") && text.find(" tanpa status") != std::string::npos) {
    return LogPriority::Error;
  }
  for (const PanelText& entry : kFirstPanel) {
    if (StartsWith(text, entry.begins)) return entry.priority;
  }
  return LogPriority::Notice;
}

// The bytes Windows-1252 leaves unassigned, shown as escapes like the control bytes.
bool Unassigned(unsigned char byte) {
  return byte == 0x81 || byte == 0x8D || byte == 0x8F || byte == 0x90 || byte == 0x9D;
}

}  // namespace

std::optional<LogPriority> PriorityOf(const FormChange& change) {
  switch (change.what) {
    case FormDisplay::Message:
      return StartsWith(change.text, "Peringatan") ? LogPriority::Warning : LogPriority::Error;
    case FormDisplay::StatusPanel:
      return change.index == 0 ? FirstPanelPriority(change.text) : LogPriority::Debug;
    case FormDisplay::Memo1:
      if (change.text == "80FULL") return LogPriority::Warning;
      if (change.text == "RLSDCHANGE") return LogPriority::Info;
      return LogPriority::Debug;
    case FormDisplay::Stock:
      return LogPriority::Info;
    case FormDisplay::Msaldo:
    case FormDisplay::Gmk:
    case FormDisplay::Method:
      return LogPriority::Debug;
    case FormDisplay::Log: {
      const int value = change.index;
      if (value <= static_cast<int>(LogPriority::Error)) return LogPriority::Error;
      if (value >= static_cast<int>(LogPriority::Debug)) return LogPriority::Debug;
      return static_cast<LogPriority>(value);
    }
    case FormDisplay::Buttons:
      return std::nullopt;
  }
  return std::nullopt;
}

std::string LineText(const FormChange& change) {
  switch (change.what) {
    case FormDisplay::Msaldo:
      return "msaldo: " + change.text;
    case FormDisplay::StatusPanel:
      return "status" + std::to_string(change.index) + ": " + change.text;
    case FormDisplay::Memo1:
      return "memo1: " + change.text;
    case FormDisplay::Stock:
      return "stock " + change.name + ": " + change.text;
    case FormDisplay::Gmk:
      return "gmk: " + change.text;
    case FormDisplay::Method:
      return "cmethod: " + change.text;
    case FormDisplay::Message:
      return "message: " + change.text;
    case FormDisplay::Buttons:
      return {};
    case FormDisplay::Log:
      return change.text;
  }
  return change.text;
}

const char* LogPriorityName(LogPriority priority) {
  switch (priority) {
    case LogPriority::Error:
      return "error";
    case LogPriority::Warning:
      return "warning";
    case LogPriority::Notice:
      return "notice";
    case LogPriority::Info:
      return "info";
    case LogPriority::Debug:
      return "debug";
  }
  return "notice";
}

std::optional<LogPriority> ParseLogLevel(std::string_view text) {
  std::string lower;
  for (const char c : text) lower += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  static constexpr std::array<std::pair<const char*, LogPriority>, 12> kNames = {{
      {"error", LogPriority::Error},
      {"err", LogPriority::Error},
      {"3", LogPriority::Error},
      {"warning", LogPriority::Warning},
      {"warn", LogPriority::Warning},
      {"4", LogPriority::Warning},
      {"notice", LogPriority::Notice},
      {"5", LogPriority::Notice},
      {"info", LogPriority::Info},
      {"6", LogPriority::Info},
      {"debug", LogPriority::Debug},
      {"7", LogPriority::Debug},
  }};
  for (const auto& [name, priority] : kNames) {
    if (lower == name) return priority;
  }
  return std::nullopt;
}

std::string JournalText(std::string_view text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (byte < 0x20 || byte == 0x7F || Unassigned(byte)) {
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    } else if (byte >= 0x80) {
      out += Cp1252ToUtf8(std::string(1, c));
    } else {
      out += c;
    }
  }
  return out;
}

LogStyle StandardErrorStyle() {
  const char* stream = std::getenv("JOURNAL_STREAM");
  if (stream == nullptr) return LogStyle::Plain;
  struct stat info {};
  if (fstat(STDERR_FILENO, &info) != 0) return LogStyle::Plain;
  const std::string mine = std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino);
  return mine == stream ? LogStyle::Journal : LogStyle::Plain;
}

JournalLog::JournalLog(std::ostream& out, Clock& clock, LogPriority level, LogStyle style)
    : out_(out), clock_(clock), level_(level), style_(style) {}

void JournalLog::Show(const FormChange& change) {
  const std::optional<LogPriority> priority = PriorityOf(change);
  if (!priority || !Shows(*priority)) return;
  Write(*priority, LineText(change));
}

void JournalLog::Write(LogPriority priority, std::string_view text) {
  if (!Shows(priority)) return;
  std::string line;
  if (style_ == LogStyle::Journal) {
    line = "<" + std::to_string(static_cast<int>(priority)) + ">";
  } else {
    // One reading of the clock per line, so that a line written at midnight cannot carry one
    // day's date with the next day's time.
    const LocalDateTime now = clock_.Local();
    line = Clock::FormatDate(now) + " " + Clock::FormatTime(now) + " " + LogPriorityName(priority) +
           " ";
  }
  line += JournalText(text);
  line += '\n';
  // One insertion per line: standard error flushes after each, so lines of several threads
  // never mix.
  std::lock_guard lock(mutex_);
  out_ << line;
}

}  // namespace tovalink
