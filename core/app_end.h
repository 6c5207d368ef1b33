#pragma once
// The one service through which STOP and AbortModule end the program.

#include <atomic>
#include <functional>
#include <string>

namespace tovalink {

// AbortModule as the lower rooms see it: records a fatal error (message) for every module on
// the port (port text) and ends the application. Module control provides it.
using AbortModuleFn = std::function<void(const std::string& message, const std::string& port)>;

class AppEnd {
 public:
  virtual ~AppEnd() = default;
  // Ends the application with the given exit status. The real one does not return and does
  // not wait for the worker; a test double records the end and returns.
  virtual void EndApplication(int exit_status) = 0;
};

// Flushes standard error and ends the process at once, from whichever thread calls it.
class ProcessEnd : public AppEnd {
 public:
  void EndApplication(int exit_status) override;
};

// Records the end so that tests can check the rows written before it.
class RecordingEnd : public AppEnd {
 public:
  void EndApplication(int exit_status) override {
    status_.store(exit_status);
    ended_.store(true);
  }
  bool Ended() const { return ended_.load(); }
  int Status() const { return status_.load(); }

 private:
  std::atomic<bool> ended_{false};
  std::atomic<int> status_{0};
};

}  // namespace tovalink
