#include "modem/tracing_port.h"

#include <unistd.h>

#include <cstdio>

#include "core/errors.h"

namespace tovalink {

namespace {

std::string When(Clock& clock) {
  const LocalDateTime now = clock.Local();
  char millis[8];
  std::snprintf(millis, sizeof millis, ".%03d", now.millisecond % 1000);
  return Clock::FormatDate(now) + " " + Clock::FormatTime(now) + millis;
}

}  // namespace

std::string TraceHeader(const std::string& module) {
  return "# Tovalink field trace, format " + std::to_string(kTraceFormatVersion) +
         " (modemsim --help describes it; modemsim --replay plays it back)\n"
         "# module " +
         module + ", program version " TOVALINK_VERSION ", process " + std::to_string(::getpid()) +
         "\n"
         "# columns: local time, milliseconds since the trace began, event, fields\n";
}

TracingPort::TracingPort(SerialPort& real, Clock& clock, std::function<TraceSettings()> settings,
                         ProblemFn problem)
    : real_(real),
      clock_(clock),
      settings_(std::move(settings)),
      problem_(std::move(problem)),
      origin_ms_(clock.MonotonicMs()) {
  // Bytes arrive whether or not anybody listens; the trace keeps them all.
  real_.SetReceiveHandler([this](const std::string& bytes) { Record(TraceKind::Read, {bytes}); });
}

TracingPort::~TracingPort() {
  real_.SetReceiveHandler({});
  real_.SetLineHandler({});
}

void TracingPort::Record(TraceKind kind, std::vector<std::string> fields) const {
  TraceFile* file;
  {
    std::lock_guard lock(file_mutex_);
    file = file_.get();
  }
  if (file == nullptr) return;
  const TraceEvent event{When(clock_), clock_.MonotonicMs() - origin_ms_, kind, std::move(fields)};
  const std::string error = file->Append(FormatTraceLine(event));
  if (error.empty()) {
    if (failing_.exchange(false) && problem_) problem_("Trace written again: " + file->path());
  } else if (!failing_.exchange(true) && problem_) {
    problem_("Trace not written: " + error);
  }
}

void TracingPort::Open(const std::string& path, const SerialSettings& settings) {
  {
    std::lock_guard lock(file_mutex_);
    if (!file_ && settings_) {
      TraceSettings trace = settings_();
      settings_ = nullptr;  // asked once: a module's name does not change while it runs
      if (!trace.path.empty()) {
        file_ = std::make_unique<TraceFile>(trace.path, trace.max_bytes, TraceHeader(trace.module));
      }
    }
  }
  try {
    real_.Open(path, settings);
  } catch (const PortError& error) {
    Record(TraceKind::OpenFailed, {path, error.what()});
    throw;
  }
  gone_recorded_ = false;
  Record(TraceKind::Open, {path, std::to_string(settings.baud), settings.handshake});
}

void TracingPort::Close() {
  const bool was_open = real_.IsOpen();
  real_.Close();
  if (was_open) Record(TraceKind::Close, {});
}

bool TracingPort::Gone() const {
  const bool gone = real_.Gone();
  if (gone && !gone_recorded_.exchange(true)) Record(TraceKind::Gone, {});
  return gone;
}

void TracingPort::Write(const std::string& bytes) {
  Record(TraceKind::Write, {bytes});
  try {
    real_.Write(bytes);
  } catch (const std::exception& error) {
    Record(TraceKind::WriteFailed, {error.what()});
    throw;
  }
}

void TracingPort::SetReceiveHandler(ReceiveHandler handler) {
  real_.SetReceiveHandler([this, handler = std::move(handler)](const std::string& bytes) {
    Record(TraceKind::Read, {bytes});
    if (handler) handler(bytes);
  });
}

void TracingPort::SetLineHandler(LineHandler handler) {
  real_.SetLineHandler([this, handler = std::move(handler)](LineEvent event) {
    Record(TraceKind::Line, {event == LineEvent::CarrierDetectChanged ? "RLSDCHANGE" : "80FULL"});
    if (handler) handler(event);
  });
}

std::string TracingPort::TracePath() const {
  std::lock_guard lock(file_mutex_);
  return file_ ? file_->path() : std::string();
}

}  // namespace tovalink
