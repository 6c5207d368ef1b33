#include "modem/scripted_port.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "core/errors.h"

namespace tovalink {

// The delivery thread: takes chunks in order and hands them to the receive handler.
struct ScriptedPort::Delivery {
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<std::string> queue;
  uint64_t queued = 0;     // chunks ever queued
  uint64_t delivered = 0;  // chunks ever delivered
  bool stopping = false;

  std::mutex handler_mutex;  // held while a handler runs
  ReceiveHandler receive_handler;
  LineHandler line_handler;

  std::thread thread;

  Delivery() : thread([this] { Run(); }) {}

  ~Delivery() {
    {
      std::lock_guard lock(mutex);
      stopping = true;
    }
    changed.notify_all();
    thread.join();
  }

  uint64_t Queue(std::string bytes) {
    std::lock_guard lock(mutex);
    queue.push_back(std::move(bytes));
    changed.notify_all();
    return ++queued;
  }

  void WaitDelivered(uint64_t ticket) {
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return delivered >= ticket || stopping; });
  }

  // For scheduled chunks, which wait while the clock is held: a handler that reads the same
  // clock cannot finish until the sleep returns, so the wait gives up after a while rather
  // than hang the test.
  void WaitDeliveredFor(uint64_t ticket, std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex);
    changed.wait_for(lock, limit, [&] { return delivered >= ticket || stopping; });
  }

  void Run() {
    std::unique_lock lock(mutex);
    for (;;) {
      changed.wait(lock, [&] { return stopping || !queue.empty(); });
      if (queue.empty()) return;
      std::string bytes = std::move(queue.front());
      queue.pop_front();
      lock.unlock();
      {
        std::lock_guard handler_lock(handler_mutex);
        if (receive_handler) receive_handler(bytes);
      }
      lock.lock();
      ++delivered;
      changed.notify_all();
    }
  }
};

ScriptedPort::ScriptedPort(VirtualClock& clock)
    : clock_(clock), delivery_(std::make_shared<Delivery>()) {}

ScriptedPort::~ScriptedPort() = default;

void ScriptedPort::On(const std::string& prefix, Answer answer) {
  std::lock_guard lock(mutex_);
  rules_.push_back(Rule{prefix, std::move(answer), 0});
}

void ScriptedPort::Clear() {
  std::lock_guard lock(mutex_);
  rules_.clear();
}

void ScriptedPort::SetSilent(bool silent) {
  std::lock_guard lock(mutex_);
  silent_ = silent;
}

void ScriptedPort::SetFailWrites(bool fail) {
  std::lock_guard lock(mutex_);
  fail_writes_ = fail;
}

void ScriptedPort::SetGone(bool gone) {
  std::lock_guard lock(mutex_);
  gone_ = gone;
}

bool ScriptedPort::Gone() const {
  std::lock_guard lock(mutex_);
  return gone_;
}

void ScriptedPort::SetFailOpen(bool fail) {
  std::lock_guard lock(mutex_);
  fail_open_ = fail;
}

void ScriptedPort::SetDropEvery(int n) {
  std::lock_guard lock(mutex_);
  drop_every_ = n;
}

void ScriptedPort::Push(const std::string& bytes) {
  delivery_->WaitDelivered(delivery_->Queue(bytes));
}

void ScriptedPort::PushAsync(const std::string& bytes) { delivery_->Queue(bytes); }

void ScriptedPort::Drain() {
  uint64_t ticket;
  {
    std::lock_guard lock(delivery_->mutex);
    ticket = delivery_->queued;
  }
  delivery_->WaitDelivered(ticket);
}

void ScriptedPort::RaiseLine(LineEvent event) {
  std::lock_guard lock(delivery_->handler_mutex);
  if (delivery_->line_handler) delivery_->line_handler(event);
}

std::vector<std::string> ScriptedPort::Written() const {
  std::lock_guard lock(mutex_);
  return written_;
}

std::vector<std::string> ScriptedPort::Written(const std::string& prefix) const {
  std::vector<std::string> found;
  for (const std::string& write : Written()) {
    if (write.rfind(prefix, 0) == 0) found.push_back(write);
  }
  return found;
}

std::string ScriptedPort::LastPath() const {
  std::lock_guard lock(mutex_);
  return last_path_;
}

SerialSettings ScriptedPort::LastSettings() const {
  std::lock_guard lock(mutex_);
  return last_settings_;
}

void ScriptedPort::Open(const std::string& path, const SerialSettings& settings) {
  std::lock_guard lock(mutex_);
  last_path_ = path;
  last_settings_ = settings;
  if (fail_open_) throw PortError("cannot open " + path);
  if (open_) throw PortError("port already open: " + path);
  open_ = true;
}

void ScriptedPort::Close() {
  std::lock_guard lock(mutex_);
  open_ = false;
}

bool ScriptedPort::IsOpen() const {
  std::lock_guard lock(mutex_);
  return open_;
}

void ScriptedPort::Write(const std::string& bytes) {
  std::vector<Chunk> chunks;
  {
    std::lock_guard lock(mutex_);
    if (!open_) throw PortError("port not open");
    if (fail_writes_) throw PortError("write failed");
    if (gone_) throw PortError("port no longer usable");
    written_.push_back(bytes);
    if (silent_) return;
    Rule* chosen = nullptr;
    for (auto rule = rules_.rbegin(); rule != rules_.rend(); ++rule) {
      const bool spent = rule->answer.times > 0 && rule->used >= rule->answer.times;
      if (!spent && bytes.compare(0, rule->prefix.size(), rule->prefix) == 0) {
        chosen = &*rule;
        break;
      }
    }
    if (chosen == nullptr) return;
    ++chosen->used;
    const Answer& answer = chosen->answer;
    std::string text;
    for (char c : answer.text) {
      ++answered_bytes_;
      if (drop_every_ > 0 && answered_bytes_ % static_cast<uint64_t>(drop_every_) == 0) continue;
      text += c;
    }
    const size_t size =
        answer.chunk_size == 0 ? std::max<size_t>(text.size(), 1) : answer.chunk_size;
    for (size_t at = 0; at < text.size(); at += size) {
      chunks.push_back(
          Chunk{at == 0 ? answer.delay_ms : answer.chunk_gap_ms, text.substr(at, size)});
    }
  }
  // Each chunk is due a while after the previous one; the action that delivers it runs on
  // the thread whose sleep passes that moment and waits until the handler has taken it.
  std::weak_ptr<Delivery> weak = delivery_;
  int64_t due = 0;
  for (Chunk& chunk : chunks) {
    due += chunk.delay_ms;
    clock_.After(due, [weak, bytes = std::move(chunk.bytes)] {
      if (auto delivery = weak.lock()) {
        delivery->WaitDeliveredFor(delivery->Queue(bytes), std::chrono::seconds(2));
      }
    });
  }
}

void ScriptedPort::SetReceiveHandler(ReceiveHandler handler) {
  std::lock_guard lock(delivery_->handler_mutex);
  delivery_->receive_handler = std::move(handler);
}

void ScriptedPort::SetLineHandler(LineHandler handler) {
  std::lock_guard lock(delivery_->handler_mutex);
  delivery_->line_handler = std::move(handler);
}

}  // namespace tovalink
