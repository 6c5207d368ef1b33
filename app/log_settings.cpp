#include "app/log_settings.h"

#include <sys/stat.h>

namespace tovalink {

namespace {

constexpr int64_t kKibi = 1024;
constexpr int64_t kMinTraceBytes = 64 * kKibi;
constexpr int64_t kMaxTraceBytes = 1024 * kKibi * kKibi;

// "8M", "512K", "100000": bytes, or -1.
int64_t ReadSize(const std::string& text) {
  if (text.empty() || text.size() > 12) return -1;
  int64_t unit = 1;
  std::string digits = text;
  const char last = digits.back();
  if (last == 'K' || last == 'k') unit = kKibi;
  if (last == 'M' || last == 'm') unit = kKibi * kKibi;
  if (unit != 1) digits.pop_back();
  if (digits.empty()) return -1;
  int64_t value = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c - '0');
  }
  return value * unit;
}

bool IsFolder(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

LogSettings ReadLogSettings(const EnvironmentFn& environment) {
  LogSettings settings;
  auto value = [&](const char* name) {
    const char* text = environment(name);
    return text == nullptr ? std::string() : std::string(text);
  };
  if (const std::string level = value("TOVALINK_LOG_LEVEL"); !level.empty()) {
    if (const std::optional<LogPriority> parsed = ParseLogLevel(level)) {
      settings.level = *parsed;
    } else {
      settings.problems.push_back("TOVALINK_LOG_LEVEL=" + level +
                                  " is not a level (error, warning, notice, info, debug); " +
                                  LogPriorityName(kDefaultLogLevel) + " is used");
    }
  }
  settings.trace = value("TOVALINK_TRACE");
  if (const std::string size = value("TOVALINK_TRACE_SIZE"); !size.empty()) {
    const int64_t bytes = ReadSize(size);
    if (bytes >= kMinTraceBytes && bytes <= kMaxTraceBytes) {
      settings.trace_bytes = bytes;
    } else {
      settings.problems.push_back("TOVALINK_TRACE_SIZE=" + size +
                                  " is not a size from 64K to 1024M; 8M is used");
    }
  }
  return settings;
}

TraceSettings TraceSettingsFor(const LogSettings& settings, const std::string& module) {
  TraceSettings trace;
  trace.max_bytes = settings.trace_bytes;
  trace.module = module;
  if (settings.trace == "off") return trace;
  if (settings.trace.empty()) {
    trace.path = TraceFileName(module);
  } else if (IsFolder(settings.trace)) {
    trace.path = settings.trace + "/" + TraceFileName(module);
  } else {
    trace.path = settings.trace;
  }
  return trace;
}

std::string TraceFileName(const std::string& module) {
  std::string name;
  for (const char c : module) {
    const bool kept = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                      c == '_' || c == '-' || (c == '.' && !name.empty());
    name += kept ? c : '_';
  }
  if (name.empty()) name = "module";
  return name + ".trace";
}

}  // namespace tovalink
