#include "modem/exchange.h"

#include <algorithm>

#include "core/errors.h"

namespace tovalink {

namespace {

constexpr int64_t kPollMs = 100;
constexpr int64_t kSlowPollMs = 1500;
constexpr int64_t kSilenceMs = 10'000;
constexpr int64_t kKeyPressMs = 500;

bool Contains(const std::string& text, const std::string& token) {
  return !token.empty() && text.find(token) != std::string::npos;
}

// Deadlines are compared at whole seconds: the wait ends at the first poll whose second is
// later than the deadline's second. They are measured on the monotonic reading, so a wait
// past midnight lasts its full length and a step of the wall clock changes nothing.
int64_t WholeSecond(int64_t ms) { return ms >= 0 ? ms / 1000 : (ms - 999) / 1000; }

}  // namespace

Exchange::Exchange(SerialPort& port, Form& form, Clock& clock, AbortModuleFn abort_module)
    : port_(port), form_(form), clock_(clock), abort_module_(std::move(abort_module)) {
  port_.SetReceiveHandler([this](const std::string& bytes) { Received(bytes); });
  port_.SetLineHandler([this](LineEvent event) { LineStatus(event); });
}

Exchange::~Exchange() {
  port_.SetReceiveHandler({});
  port_.SetLineHandler({});
}

void Exchange::Received(const std::string& bytes) {
  try {
    std::string shown;
    bool ended = false;
    {
      std::lock_guard lock(mutex_);
      // A NUL from a noisy line is nobody's character: dropped as it comes, it cannot hide a
      // token it falls into.
      for (char c : bytes) {
        if (c != '\0') state_.RxBuffer += c;
      }
      if (state_.Waiting && (Contains(state_.RxBuffer, state_.ReplyEnd) ||
                             Contains(state_.RxBuffer, state_.ReplyError))) {
        state_.Waiting = false;
        ended = true;
      }
      shown = state_.RxBuffer;
    }
    // The waiting SendAT takes its reply now rather than at its next poll.
    if (ended) token_seen_.notify_one();
    form_.SetStatusPanel(2, shown);
  } catch (...) {
    // A failure here costs at most the characters of this notification.
  }
}

void Exchange::LineStatus(LineEvent event) {
  try {
    switch (event) {
      case LineEvent::CarrierDetectChanged:
        form_.AppendMemo1("RLSDCHANGE");
        break;
      case LineEvent::InputAlmostFull:
        form_.AppendMemo1("80FULL");
        break;
    }
  } catch (...) {
  }
}

Exchange::State Exchange::Snapshot() const {
  std::lock_guard lock(mutex_);
  return state_;
}

void Exchange::SendAT(const std::string& command, int timeout_seconds,
                      const std::string& success_token, const std::string& error_token,
                      std::string& reply) {
  {
    std::lock_guard lock(mutex_);
    state_.Waiting = true;
    state_.RxBuffer.clear();
    state_.ReplyEnd = success_token;
    state_.ReplyError = error_token;
  }
  if (form_.StopRequested) return;

  try {
    form_.AppendMemo1("START " + command);
    form_.SetStatusPanel(1, command);
    form_.SetStatusPanel(2, "");

    const int64_t start = clock_.MonotonicMs();
    const int64_t reply_deadline = WholeSecond(start + int64_t{timeout_seconds} * 1000);
    const int64_t silence_deadline = WholeSecond(start + kSilenceMs);

    commands_written_.fetch_add(1);
    port_.Write(command);

    for (;;) {
      if (form_.cslow) {
        {
          std::lock_guard lock(mutex_);
          if (!state_.Waiting) break;
        }
        // Slow Debug: the reply is taken up at the poll, never earlier, so that a person can
        // follow the dialogue on the status bar.
        clock_.SleepMs(kSlowPollMs);
      } else {
        // A token that came with the write, or before this wait began, ends it at once.
        std::unique_lock lock(mutex_);
        if (clock_.WaitForMs(lock, token_seen_, kPollMs, [this] { return !state_.Waiting; })) {
          break;
        }
      }
      // A modem that went away under the exchange will not answer it: the command in flight
      // is the one that failed, not whichever comes next.
      if (port_.Gone()) throw PortError("port no longer usable");
      bool empty;
      {
        std::lock_guard lock(mutex_);
        std::string& buffer = state_.RxBuffer;
        buffer.erase(std::remove(buffer.begin(), buffer.end(), '\0'), buffer.end());
        empty = buffer.empty();
      }
      const int64_t now = WholeSecond(clock_.MonotonicMs());
      if (empty && now > silence_deadline) break;
      if (now > reply_deadline) break;
    }

    std::lock_guard lock(mutex_);
    // Characters may have come in since the last poll cleaned the buffer; the reply never
    // holds NULs.
    std::string& buffer = state_.RxBuffer;
    buffer.erase(std::remove(buffer.begin(), buffer.end(), '\0'), buffer.end());
    reply = buffer;
  } catch (...) {
    if (!form_.cport.empty()) abort_module_("Error ATCOMMAND " + command, form_.cport);
  }
}

void Exchange::PressKeys(const std::string& keys) {
  std::string reply;
  SendAT("AT+CKPD=\"" + keys + "\";\r", 1, "OK\r\n", "ERROR", reply);
  if (!keys.empty()) clock_.SleepMs(kKeyPressMs * static_cast<int64_t>(keys.size()));
}

}  // namespace tovalink
