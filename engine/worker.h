#pragma once
// The worker: initialises the modem, then runs cycles until it is asked to end. Each cycle
// takes the module's pending sales and hands each to the module's channel, lists and clears
// the modem's message store (logging and settling every message) and runs the supplier
// requests.
//
// Threads: Start() runs the engine on a thread of its own, the only user of the modem while
// the module runs. RequestEnd() may be called from any thread (AbortModule, STOP): the worker
// then takes no further sale and writes nothing more once it reaches its next check.
//
// Taking a sale: "UPDATE penjualanproduk SET flag=1 WHERE idx=N AND flag=0", and the sale is
// executed only when that changed its row. Another program running the same module name (a
// second PC, a restart racing the old process) then never executes the same sale.
//
// A lost database connection does not end the module. The worker's statements wait for the
// connection to come back (store/database.h: at once, then 1 s doubling to 30 s) and are
// repeated; meanwhile no sale is taken, the modem stays open, and the first status-bar
// panel says so. For the sale in hand this means:
//   - before its take: nothing is taken; the sale is polled again.
//   - the take itself is never repeated blindly: if the connection dropped under it, the
//     take may or may not have been applied. Back on line, the worker reads the row: still
//     untaken, it takes it again; taken and not begun by any channel (no tglwaktuproses, no
//     status), it cannot tell whether this program or another one of the same name took
//     it, so it does not execute it and marks it "PENDING" with a note that it was not sent,
//     for the operator to check and enter again. No sale is executed twice.
//   - after the take: the channel's statements wait and are repeated (they write fixed
//     values, or a log row: see database.h), so the sale goes on where it was, is executed
//     once and settled by its reply; a reply is deleted from the modem only after its log
//     and settlement statements succeeded.
// A statement given up because the module is ending (STOP, AbortModule) ends the module as
// it was going to end.
//
// Every sale taken ends with a visible outcome, also when the module ends under it: STOP
// and AbortModule close the sale in hand (CloseSaleInHand) before the program ends. When
// the server is away at that moment, neither the module's row nor the sale can be written;
// the first status-bar panel (tovalinkd's log) then names what was left as it was.

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
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

// What the first status-bar panel says, before the server's text, when a module ends and its
// row could not be written: the row still shows it running, with a heartbeat that no longer
// advances.
inline constexpr const char* kRowNotWritten = "Status modul tidak tertulis: ";

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

  // How the module ends while a sale may be in hand.
  enum class SaleEnd { Stopped, Aborted };
  // Gives the sale in hand, if any, its outcome before the module ends, with `note` in
  // `respond`: "GAGAL" when nothing of it reached the modem and the worker is not going on
  // (AbortModule on the worker thread), otherwise "PENDING" (its request may have gone; a
  // reply still settles it, and an empty `respond` gets the note). A sale already settled
  // keeps its outcome. Any thread; at most once per sale. Database errors reach the caller,
  // and the first status-bar panel names the sale left without a status.
  void CloseSaleInHand(SaleEnd end, const std::string& note);

  // The body of the thread, public for tests that run the engine on their own thread.
  void Run();

 private:
  enum class Take { Taken, NotTaken };

  bool Starting();
  void Cycle();
  void TakeSales();
  // The conditional take of one sale, resolving a take that the connection dropped under.
  Take TakeSale(int64_t idx);
  bool InboxPhase();
  bool Ending() const { return end_requested_.load(); }
  // The pause of a statement that waits for the database: false once the module is ending.
  bool PauseForDatabase();
  void EndOnStop();

  struct SaleInHand {
    int64_t idx = 0;
    uint64_t commands_at_take = 0;  // Exchange::CommandsWritten() right after the take
  };

  Module module_;
  std::unique_ptr<Channel> channel_;
  int step_number_ = 0;
  int sale_counter_ = 0;
  std::mutex end_mutex_;  // held by RequestEnd and by the stop branch's write
  std::atomic<bool> end_requested_{false};
  std::thread thread_;
  std::atomic<std::thread::id> engine_thread_;  // the thread running Run()
  std::mutex sale_mutex_;
  std::optional<SaleInHand> sale_in_hand_;  // GUARDED_BY(sale_mutex_)
};

}  // namespace tovalink
