#pragma once
// The worker: initialises the modem, then runs cycles until it is asked to end. Each cycle
// takes the module's pending sales and hands each to the channel of the provider type, lists
// and clears the modem's message store (logging and settling every message) and runs the
// balance check.
//
// Threads: Start() runs the engine on a thread of its own, the only user of the modem while
// the module runs. RequestEnd() may be called from any thread (AbortModule, STOP): the worker
// then takes no further sale and writes nothing more once it reaches its next check.

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

#include "engine/module.h"
#include "sms/inbox.h"

namespace tovalink {

// The characters of the trimmed product id before its first digit.
std::string ProductPrefix(const std::string& product_id);

// Whether a channel for the provider type is built into this program.
bool ChannelAvailable(const std::string& provider_type);

class Worker {
 public:
  explicit Worker(Module module);
  ~Worker();  // asks the worker to end and waits for its thread
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;

  void Start();
  void RequestEnd();
  // Waits for the worker's thread to end.
  void Join();

  // The body of the thread, public for tests that run the engine on their own thread.
  void Run();

 private:
  bool Starting();
  bool ReadStockAtStart();
  void Cycle();
  void TakeSales();
  bool InboxPhase();
  void SettleListed(const std::vector<ReceivedMessage>& messages, bool first_pass);
  bool Ending() const { return end_requested_.load(); }

  Module module_;
  std::string module_name_;
  std::string port_text_;
  int step_number_ = 0;
  int sale_counter_ = 0;
  std::mutex end_mutex_;  // held by RequestEnd and by the stop branch's write
  std::atomic<bool> end_requested_{false};
  std::thread thread_;
};

}  // namespace tovalink
