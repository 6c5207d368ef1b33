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
// The sale's life (store/sale_row.h) has one owner in the running module: each sale taken is
// a SaleInHand (engine/sale_in_hand.h), from the journal's TAKE before its take to its one
// outcome, whichever way it ends. The take is conditional ("... SET flag=1 WHERE idx=N AND
// flag=0") and the sale is executed only when it changed the row, so another program running
// the same module name never executes the same sale. At start, before the first poll, the sales
// the journal shows taken without an outcome (a crash, a power cut) get theirs.
//
// A sale whose own values cannot be used (no jumlah, no destination or product, a destination
// that is no phone number, a product whose denomination is no number) is taken and ended
// "GAGAL" with the reason, nothing sent; the module goes on with the next sale.
//
// A lost database connection does not end the module. The worker's statements wait for the
// connection to come back (store/database.h) and are repeated; meanwhile no sale is taken,
// the modem stays open, and the first status-bar panel says so. For the sale in hand:
//   - before its take: nothing is taken; the sale is polled again.
//   - the take itself is never repeated blindly: if the connection dropped under it, the
//     take may or may not have been applied. Back on line, the worker reads the row: still
//     untaken, it takes it again; taken and not begun by any channel, it cannot tell whether
//     this program or another one of the same name took it, so it does not execute it and
//     marks it "PENDING" with a note that it was not sent (sale_row::TakeLost).
//   - after the take: the channel's statements wait and are repeated (they write fixed
//     values, or a log row: see database.h), so the sale goes on where it was, is executed
//     once and settled by its reply; a reply is deleted from the modem only after its log
//     and settlement statements succeeded.
// A statement given up because the module is ending (STOP, AbortModule) ends the module as
// it was going to end; the sale in hand then gets its outcome from STOP or AbortModule
// (CloseSaleInHand), or, when the server is away, from the journal at the next start.

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/channel.h"
#include "engine/module.h"
#include "engine/sale_in_hand.h"
#include "sms/inbox.h"
#include "store/sale_journal.h"

namespace tovalink {

// The nominal text of a sale: the product's denomination, or the sale's jumlah when that is
// 0. A whole number is written without separators or fraction; a fraction as a plain decimal
// with "." and as many digits as it needs (never in exponent form).
std::string NominalText(double denomination, int64_t jumlah);

// What the first status-bar panel says, before the server's text, when a module ends and its
// row could not be written: the row still shows it running, with a heartbeat that no longer
// advances.
inline constexpr const char* kRowNotWritten = "Status modul tidak tertulis: ";

// What ended a sale that STOP met in hand, as its respond says it.
inline constexpr const char* kStoppedWhy = "modul di-STOP";

class Worker {
 public:
  // The journal outlives the worker.
  Worker(Module module, std::unique_ptr<Channel> channel, SaleJournal& journal);
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

  // Gives the sale in hand, if any, its outcome before the module ends (SaleInHand::CutOff):
  // "GAGAL" when it never crossed its point of no return, "PENDING" when it did; `why` says
  // what ended it. Any thread; a sale that has its outcome keeps it. Database errors reach the
  // caller, and the first status-bar panel names the sale left without a status (the journal
  // gives it one at the next start).
  void CloseSaleInHand(const std::string& why);

  // The body of the thread, public for tests that run the engine on their own thread.
  void Run();

 private:
  bool Starting();
  void Cycle();
  void TakeSales();
  // One row of the poll: its values checked, taken, and executed or refused.
  void HandleSale(const Rows& sales);
  // The conditional take of one sale, resolving a take that the connection dropped under.
  SaleInHand::TakeAnswer TakeSale(int64_t idx);
  bool InboxPhase();
  bool Ending() const { return end_requested_.load(); }
  // The pause of a statement that waits for the database: false once the module is ending.
  bool PauseForDatabase();
  void EndOnStop();

  Module module_;
  std::unique_ptr<Channel> channel_;
  SaleJournal& journal_;
  int step_number_ = 0;
  int sale_counter_ = 0;
  std::mutex end_mutex_;  // held by RequestEnd and by the stop branch's write
  std::atomic<bool> end_requested_{false};
  std::thread thread_;
  std::mutex sale_mutex_;
  std::shared_ptr<SaleInHand> sale_in_hand_;  // GUARDED_BY(sale_mutex_)
};

}  // namespace tovalink
