#pragma once
// The AT exchange: SendAT writes one command to the modem and collects what comes back until
// a token, a timeout or ten seconds of silence; the receive handler gathers the characters on
// the port's reader thread. PressKeys drives the keypad. One exchange runs at a time.
//
// Threads: SendAT and PressKeys run on the worker thread (the only caller while the module
// runs). The receive handler runs on the port's reader thread. Waiting, RxBuffer, ReplyEnd and
// ReplyError are guarded by the exchange mutex; the handler's append-and-test and every look
// of the waiting loop are made under it, so no character is lost and tokens are tested on a
// consistent buffer. The handler wakes the waiting SendAT when it sees a token, so an
// exchange ends when its answer arrives; the deadlines and the silence rule are still looked
// at every 100 ms poll, and "Slow Debug" keeps its 1500 ms polls without waking early, for a
// person watching. Every sleep and reading of the time goes through the Clock.
//
// Lifetime: the port, form and clock must outlive the Exchange. The constructor installs the
// receive and line handlers on the port; the destructor removes them.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "core/app_end.h"
#include "core/clock.h"
#include "core/form.h"
#include "modem/serial_port.h"

namespace tovalink {

class Exchange {
 public:
  // `abort_module` is called with (message, port text) when an exchange fails and `cport` is
  // not empty.
  Exchange(SerialPort& port, Form& form, Clock& clock, AbortModuleFn abort_module);
  ~Exchange();
  Exchange(const Exchange&) = delete;
  Exchange& operator=(const Exchange&) = delete;

  // Sends `command` unchanged (callers end it with "\r") and waits. On return `reply` holds
  // every character received since the exchange began, NUL bytes removed. While
  // StopRequested is set nothing is sent and `reply` is left as it was; on a failure of the
  // port the module is aborted with "Error ATCOMMAND " + command and `reply` is left as it
  // was. Empty tokens never match.
  void SendAT(const std::string& command, int timeout_seconds, const std::string& success_token,
              const std::string& error_token, std::string& reply);

  // How many commands SendAT has written to the port, counting a write that failed (part of
  // it may still have reached the modem). Any thread may read it.
  uint64_t CommandsWritten() const { return commands_written_.load(); }

  // True while the module is stopped (StopRequested): SendAT then sends nothing.
  bool Stopped() const { return form_.StopRequested; }

  // "AT+CKPD=\"" + keys + "\";\r" with timeout 1, then 500 ms for every key.
  void PressKeys(const std::string& keys);

  // The receive handler, installed on the port; public so tests can feed it directly.
  void Received(const std::string& bytes);
  // The line-status traces "RLSDCHANGE" and "80FULL" in Memo1.
  void LineStatus(LineEvent event);

  // The exchange state, shared by SendAT and the receive handler.
  struct State {
    bool Waiting = false;    // true from the start of an exchange until a token was seen
    std::string RxBuffer;    // every character received since the exchange began
    std::string ReplyEnd;    // success token of the current exchange
    std::string ReplyError;  // error token of the current exchange
  };
  // A copy taken under the exchange mutex, for tests and diagnostics.
  State Snapshot() const;

 private:
  SerialPort& port_;
  Form& form_;
  Clock& clock_;
  AbortModuleFn abort_module_;

  mutable std::mutex mutex_;
  State state_;  // guarded by mutex_
  // Notified by the receive handler when it ends the wait (Waiting turned false).
  std::condition_variable token_seen_;
  std::atomic<uint64_t> commands_written_{0};
};

}  // namespace tovalink
