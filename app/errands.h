#pragma once
// A thread of its own for module control's statements (the heartbeat, the remote-stop check,
// STOP's and AbortModule's rows), so that the thread that asks for one waits only as long as
// it chooses. The database connection is shared with the worker under one lock, and a
// server that stalls (it answers nothing, and refuses nothing) holds a statement for up to
// the connection's read timeout: STOP, SIGTERM and the supervision tick must not wait that
// long, or a service manager kills the module before STOP has written anything.
//
// Jobs run one at a time, in the order they were given. A job that the caller stopped
// waiting for goes on alone; its outcome is dropped.
//
// Threads: Run and Busy may be called from any thread; the destructor waits for the job in
// hand (a job ends within the connection's timeouts).

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace tovalink {

class Errands {
 public:
  Errands();
  ~Errands();
  Errands(const Errands&) = delete;
  Errands& operator=(const Errands&) = delete;

  // Runs `job` after the jobs before it and waits up to `wait_ms` (real time) for it. True
  // when it finished within the wait; an exception it raised is raised again here. False
  // when it is still waiting or running.
  bool Run(std::function<void()> job, int64_t wait_ms);
  // True while a job waits or runs.
  bool Busy() const;

 private:
  struct Task {
    std::function<void()> job;
    bool done = false;            // GUARDED_BY(Errands::mutex_)
    std::exception_ptr failure;   // GUARDED_BY(Errands::mutex_)
  };
  void Loop();

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::shared_ptr<Task>> tasks_;  // GUARDED_BY(mutex_): the first is running
  bool ending_ = false;                      // GUARDED_BY(mutex_)
  std::thread thread_;
};

}  // namespace tovalink
