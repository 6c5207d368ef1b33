#pragma once
// The worker: initialises the modem, then runs cycles until it is asked to end. Each cycle
// takes the module's pending sales and hands each to the module's channel, lists and clears
// the modem's message store (logging and settling every message) and runs the supplier
// requests.
//
// Threads: Start() runs the engine on a thread of its own, the only user of the modem while
// the module runs. RequestEnd() may be called from any thread (AbortModule, STOP): the worker
// then takes no further sale and writes nothing more once it reaches its next check.

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/channel.h"
#include "engine/module.h"
#include "sms/inbox.h"

namespace tovalink {

// The nominal text of a sale: the product's denomination, or the sale's jumlah when that is
// 0. A whole number is written without separators or fraction; a fraction as a plain decimal
// with "." and as many digits as it needs (never in exponent form).
std::string NominalText(double denomination, int64_t jumlah);

class Worker {
 public:
  Worker(Module module, std::unique_ptr<Channel> channel);
  ~Worker();  // asks the worker to end and waits for its thread
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;

  void Start();
  // Once this returns, the worker's stop branch has either written its row already or never
  // will, so STOP's own row is the last word.
  void RequestEnd();
  bool EndRequested() const { return end_requested_.load(); }
  // Waits for the worker's thread to end.
  void Join();

  // The body of the thread, public for tests that run the engine on their own thread.
  void Run();

 private:
  bool Starting();
  void Cycle();
  void TakeSales();
  bool InboxPhase();
  bool Ending() const { return end_requested_.load(); }

  Module module_;
  std::unique_ptr<Channel> channel_;
  int step_number_ = 0;
  int sale_counter_ = 0;
  std::mutex end_mutex_;  // held by RequestEnd and by the stop branch's write
  std::atomic<bool> end_requested_{false};
  std::thread thread_;
};

}  // namespace tovalink
