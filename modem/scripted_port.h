#pragma once
// A scripted modem for in-process tests: a SerialPort that answers each written command
// through the receive path from a thread of its own, in chunks and after delays on a
// VirtualClock, as a port would. It can go silent, drop bytes, split answers into small
// chunks, fail to open or fail on write.
//
// Timing: an answer chunk due at a virtual moment is handed to the port's delivery thread
// by whichever thread's sleep passes that moment (the waiting worker, usually), which then
// waits until the receive handler has taken it. So on the virtual clock a chunk is always in
// RxBuffer before the sleep that passed its moment returns, and tests stay deterministic while
// the handler still runs on another thread. (A display observer that reads the same virtual
// clock from the handler waits for that sleep; the chunk then arrives up to 2 s of real time
// late, so keep clock readings out of observers in such tests.)

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/clock.h"
#include "modem/serial_port.h"

namespace tovalink {

class ScriptedPort : public SerialPort {
 public:
  struct Chunk {
    int64_t delay_ms = 0;  // after the write (first chunk) or after the previous chunk
    std::string bytes;
  };

  struct Answer {
    std::string text;
    int64_t delay_ms = 0;      // before the first byte
    size_t chunk_size = 0;     // 0: the whole text at once
    int64_t chunk_gap_ms = 0;  // between chunks
    int times = 0;             // how many writes it answers; 0: every one
  };

  explicit ScriptedPort(VirtualClock& clock);
  ~ScriptedPort() override;
  ScriptedPort(const ScriptedPort&) = delete;
  ScriptedPort& operator=(const ScriptedPort&) = delete;

  // A write that begins with `prefix` gets `answer`. The rule added last wins among those
  // that match; writes without a matching rule get no answer at all.
  void On(const std::string& prefix, Answer answer);
  void On(const std::string& prefix, const std::string& text) { On(prefix, Answer{text}); }
  void Clear();

  // Faults.
  void SetSilent(bool silent);    // answers nothing
  void SetFailWrites(bool fail);  // Write throws PortError
  void SetFailOpen(bool fail);    // Open throws PortError
  void SetDropEvery(int n);       // drops every n-th answered byte (0: none)
  void SetGone(bool gone);        // the device went away: Gone(), and Write throws PortError

  // Delivers bytes now, as the modem sending unasked. Push waits until the handler has taken
  // them; PushAsync queues them and returns at once (they still arrive in order).
  void Push(const std::string& bytes);
  void PushAsync(const std::string& bytes);
  // Blocks until everything queued has been delivered.
  void Drain();
  void RaiseLine(LineEvent event);

  // Everything written so far, one entry per Write.
  std::vector<std::string> Written() const;
  // The writes that begin with `prefix`, in order.
  std::vector<std::string> Written(const std::string& prefix) const;
  std::string LastPath() const;
  SerialSettings LastSettings() const;

  void Open(const std::string& path, const SerialSettings& settings) override;
  void Close() override;
  bool IsOpen() const override;
  bool Gone() const override;
  void Write(const std::string& bytes) override;
  void SetReceiveHandler(ReceiveHandler handler) override;
  void SetLineHandler(LineHandler handler) override;

 private:
  struct Delivery;  // the delivery thread and its queue, shared with scheduled actions
  struct Rule {
    std::string prefix;
    Answer answer;
    int used = 0;
  };

  VirtualClock& clock_;
  std::shared_ptr<Delivery> delivery_;

  mutable std::mutex mutex_;  // guards everything below
  std::vector<Rule> rules_;
  std::vector<std::string> written_;
  std::string last_path_;
  SerialSettings last_settings_;
  bool open_ = false;
  bool silent_ = false;
  bool fail_writes_ = false;
  bool gone_ = false;
  bool fail_open_ = false;
  int drop_every_ = 0;
  uint64_t answered_bytes_ = 0;
};

}  // namespace tovalink
