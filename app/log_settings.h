#pragma once
// What a module writes beside its work, as its environment chooses (a service takes it from
// the module's settings file, /etc/tovalink/NAME.conf):
//
//   TOVALINK_LOG_LEVEL   the journal's level: error, warning, notice (the default), info or
//                        debug (the AT dialogue and every display)
//   TOVALINK_TRACE       the field trace: unset or empty, NAME.trace in the working folder;
//                        a folder, NAME.trace in it; "off", no trace; any other text, the file
//   TOVALINK_TRACE_SIZE  the size of each of the trace's two files in bytes, with K or M for
//                        kibi- and mebibytes (default 8M; 64K to 1024M)
//
// A value that cannot be used never keeps a module from selling: the default applies and the
// problem is named, for the journal's first lines.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/journal_log.h"
#include "modem/tracing_port.h"

namespace tovalink {

inline constexpr int64_t kDefaultTraceBytes = 8 * 1024 * 1024;

struct LogSettings {
  LogPriority level = kDefaultLogLevel;
  std::string trace;  // TOVALINK_TRACE as given
  int64_t trace_bytes = kDefaultTraceBytes;
  std::vector<std::string> problems;  // one sentence for each value that could not be used
};

// `environment` is getenv, or a test's table; it returns nullptr for an unset name.
using EnvironmentFn = std::function<const char*(const char* name)>;
LogSettings ReadLogSettings(const EnvironmentFn& environment);

// The trace of module `module` as the settings place it ("" path: none).
TraceSettings TraceSettingsFor(const LogSettings& settings, const std::string& module);

// A module's trace file name: its name with every character other than a letter, a digit,
// "_", "-" and "." written as "_" (and a leading "." too), then ".trace".
std::string TraceFileName(const std::string& module);

}  // namespace tovalink
