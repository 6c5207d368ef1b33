#pragma once
// Module control: START, STOP, the two-second supervision tick and AbortModule, the small
// remote-control protocol on the module's row in modulaktif.
//
// Threads: Start, Stop and Tick run on the user-interface thread; AbortModule on whichever
// thread reports a fatal error (mostly the worker). Only the first of STOP and AbortModule
// acts: after it the application is ending and nothing more is written.
//
// A lost database connection does not end the module: START turns on the reconnection of
// the database (store/database.h), the worker waits for the connection while the tick's
// statements fail quietly (the heartbeat resumes with the connection), and the first
// status-bar panel says "Database terputus: " and the library's text when it goes and
// "Database tersambung kembali setelah " and the time away when it is back. STOP and
// AbortModule give the sale in hand its outcome before the program ends
// (Worker::CloseSaleInHand).
//
// Never held up by the database: the tick's, STOP's and AbortModule's statements run on a
// thread of their own (app/errands.h), and the thread that asked waits for them a bounded
// time: a tick skips its turn while the last one is still out, and STOP and AbortModule end
// the program within kEndWaitMs even when the server stalls. What they could not write then
// is named in the first status-bar panel; the sale journal gives the sale in hand its outcome
// at the next start.

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "app/errands.h"
#include "core/app_end.h"
#include "core/clock.h"
#include "core/form.h"
#include "engine/worker.h"
#include "modem/exchange.h"
#include "modem/serial_port.h"
#include "store/database.h"

namespace tovalink {

// Exit statuses of the program.
inline constexpr int kExitStopped = 0;     // STOP, a remote stop, or the worker's stop branch
inline constexpr int kExitAborted = 1;     // AbortModule
inline constexpr int kExitRefused = 3;     // START refused (more than eight modules, or a
                                           // setting the module cannot work with)

inline constexpr int kTickMs = 2000;
// How long the tick waits for its statements before it leaves them to finish alone.
inline constexpr int kTickWaitMs = 1000;
// How long STOP and AbortModule wait for the module's row and the sale in hand to be written.
inline constexpr int kEndWaitMs = 3000;

// Why the module's settings cannot work, "" when they can: a waiting time that is no whole
// number of seconds, a PIN with a character its commands cannot carry.
std::string SettingsFault(const Form& form);

class ModuleControl {
 public:
  // `working_folder`: where the module keeps its sale journal (the front ends: the current
  // folder, which the service sets to the module's own).
  ModuleControl(Form& form, Database& db, Clock& clock, SerialPort& port, AppEnd& app_end,
                std::string working_folder);
  ~ModuleControl();  // ends and joins a worker left running (tests)
  ModuleControl(const ModuleControl&) = delete;
  ModuleControl& operator=(const ModuleControl&) = delete;

  enum class StartResult { Running, Refused, Aborted };
  StartResult Start();
  void Stop();
  // One supervision tick; the front end calls it every kTickMs while TimerOn(). A failing
  // statement leaves the module running and the next tick tries again; a lost connection is
  // shown by the connection's observer, any other failure in the first status-bar panel, once
  // until a tick succeeds again or the failure changes.
  void Tick();
  bool TimerOn() const { return timer_on_.load(); }
  void AbortModule(const std::string& message, const std::string& port);

  bool Ended() const { return ended_.load(); }
  Worker* worker() { return worker_.get(); }

 private:
  // Returns false when the application is already ending.
  bool BeginEnd();
  std::string Heartbeat() const;
  // What a tick's statements found, for the user-interface thread to act on.
  struct TickFinding {
    bool remote_stop = false;
    std::string failure;  // a refused statement's text; "" when the tick went through
    bool lost = false;    // the connection is away (its observer says so)
  };
  void TickStatements(TickFinding& finding);
  void ActOn(const TickFinding& finding);
  // Runs the end's statements (the row, the sale in hand) on the errands' thread and waits
  // at most kEndWaitMs; names in the first panel what could not be written in that time.
  void WriteEnd(const std::function<void()>& statements);

  Form& form_;
  Database& db_;
  Clock& clock_;
  SerialPort& port_;
  AppEnd& app_end_;
  const std::string working_folder_;
  Exchange exchange_;
  std::unique_ptr<SaleJournal> journal_;
  std::unique_ptr<Worker> worker_;
  std::atomic<bool> timer_on_{false};
  std::atomic<bool> ended_{false};
  std::string tick_failure_;  // the failure the first panel shows; user-interface thread only
  std::mutex late_mutex_;
  std::shared_ptr<TickFinding> late_tick_;  // GUARDED_BY(late_mutex_): a tick left to finish
  // Last, so that its thread has ended before the members its jobs use go away.
  Errands errands_;
};

}  // namespace tovalink
