#pragma once
// The field trace's recorder: a SerialPort that forwards everything to the real one and
// writes each event to the trace file (modem/trace_format.h gives the format) with its time:
// opens and closes, every write as the module made it, every chunk received as the reader
// delivered it, the line events and the device going away. The exchange above it sees the
// same port it would see without the trace.
//
// A trace that cannot be written never stops the module: the trouble is told to `problem`
// once, and once more when the trace is written again.
//
// Threads: as SerialPort. Writes are recorded on the writing thread before the bytes go out
// (so the echo is always recorded after its command), received chunks on the reader thread
// before the receive handler sees them. Recording costs one write(2) of one line.
// Lifetime: `real` and `clock` must outlive the port.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "core/clock.h"
#include "modem/serial_port.h"
#include "modem/trace_file.h"
#include "modem/trace_format.h"

namespace tovalink {

struct TraceSettings {
  std::string path;                     // the trace file; "" records nothing
  int64_t max_bytes = 8 * 1024 * 1024;  // each of the two files
  std::string module;                   // named in the header
};

class TracingPort : public SerialPort {
 public:
  using ProblemFn = std::function<void(const std::string& text)>;
  // `settings` is asked for when the port is first opened: a front end learns the module's
  // name only at START.
  TracingPort(SerialPort& real, Clock& clock, std::function<TraceSettings()> settings,
              ProblemFn problem);
  ~TracingPort() override;
  TracingPort(const TracingPort&) = delete;
  TracingPort& operator=(const TracingPort&) = delete;

  void Open(const std::string& path, const SerialSettings& settings) override;
  void Close() override;
  bool IsOpen() const override { return real_.IsOpen(); }
  bool Gone() const override;
  void Write(const std::string& bytes) override;
  void SetReceiveHandler(ReceiveHandler handler) override;
  void SetLineHandler(LineHandler handler) override;

  // The trace file in use, "" before the first open or without a trace.
  std::string TracePath() const;

 private:
  void Record(TraceKind kind, std::vector<std::string> fields) const;

  SerialPort& real_;
  Clock& clock_;
  std::function<TraceSettings()> settings_;
  ProblemFn problem_;
  const int64_t origin_ms_;

  mutable std::mutex file_mutex_;  // guards file_ (set once, at the first open)
  std::unique_ptr<TraceFile> file_;
  mutable std::atomic<bool> failing_{false};
  mutable std::atomic<bool> gone_recorded_{false};
};

// The header of a trace file of `module`.
std::string TraceHeader(const std::string& module);

}  // namespace tovalink
