#pragma once
// The sale in hand: one sale from its take to its outcome. It is the one place in the running
// module that gives a sale its outcome, and it does so once, whichever way the sale ends: its
// channel's own outcome, a reply that settles it, a bad value, STOP, a fatal error, a lost
// server. It keeps the sale journal (store/sale_journal.h) as it goes, so that a sale the
// process is cut off from (a crash, a power cut, a server that never came back) gets its
// outcome at the next start (RecoverOpenSales).
//
// The statements are the sale's row's (store/sale_row.h). What a channel must do:
//   - Begin() when it begins the sale (the begun mark);
//   - Cross() just before the first command that may make the operator execute the sale (its
//     point of no return), and send that command only when it returns true;
//   - end the sale through one of the outcome members, or let a reply settle it (the reply
//     reading tells the sale).
//
// Threads: the worker runs the sale; CutOff may come from any thread (STOP, AbortModule)
// while the worker is inside any of the members. The take and the record of the sale in hand
// are one step under the sale's lock, so a cut-off either finds the sale taken or not at all;
// the point of no return is crossed under the same lock, so a cut-off either sees it crossed
// (and leaves the sale "PENDING") or keeps it from being crossed (and ends it "GAGAL").

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "engine/module.h"
#include "settle/settle_reply.h"
#include "store/sale_journal.h"
#include "store/sale_row.h"

namespace tovalink {

class SaleInHand {
 public:
  SaleInHand(Module& module, SaleJournal& journal, Sale sale);
  SaleInHand(const SaleInHand&) = delete;
  SaleInHand& operator=(const SaleInHand&) = delete;

  const Sale& sale() const { return sale_; }
  int64_t idx() const { return sale_.idx; }

  // What the take statement said: it changed the row; it changed nothing (taken elsewhere,
  // or gone); or its answer was lost and the row shows the sale taken and never begun.
  enum class TakeAnswer { Taken, NotTaken, AnswerLost };
  // Writes the journal's TAKE, then runs `take` (the conditional take) under the sale's lock.
  // Returns whether the sale is now this module's to execute. A lost answer gives the sale
  // the outcome of sale_row::TakeLost. Errors (the journal, the database) reach the caller;
  // the sale then counts as taken, and CutOff gives it its outcome.
  bool Take(const std::function<TakeAnswer()>& take);

  // The channel's begun mark.
  void Begin(sale_row::Spacing spacing);

  // The point of no return. Records it in the journal and returns true, unless the module is
  // ending or the sale has been given an outcome: then nothing may be sent (false).
  bool Cross();
  bool Crossed() const;

  // Outcomes a channel writes. Each runs its statement unless the sale already has an outcome
  // (or is being given one) or the module is ending; returns whether it wrote.
  bool Pending(std::string_view respond);
  bool MenuMissing(std::string_view menu_name);
  bool DenomRefused();
  bool DialSucceeded(std::string_view reply, std::string_view sn);
  bool StockJudged(sale_row::StockVerdict verdict);
  // A sale that cannot be carried out as its values or its supplier's settings stand:
  // "GAGAL" with the reason ("DITOLAK: " + reason), nothing sent.
  bool Refuse(std::string_view reason);
  // A write that is no outcome (the MKIOS dial answer kept while the stock decides).
  void Respond(std::string_view respond);

  // Settlement of a reply read for this sale: it settles whatever sale it answers, and when
  // that is this one, the sale has its outcome (whatever the count said about the result).
  Settlement Settle(const std::string& reply);
  // Told by the reply reading that settlement wrote this sale's row.
  void SettledBy(const SettleDecision& decision);

  // Gives the sale its outcome from where it got to, unless it has one: "GAGAL" (never sent)
  // before its point of no return, "PENDING" (with the operator) after it. `why` says what
  // ended the sale ("modul di-STOP", the fatal error). Any thread, any number of times; the
  // first that finds the sale open writes. Database errors reach the caller, after the first
  // status-bar panel has named the sale left without a status.
  void CutOff(std::string_view why);

  bool HasOutcome() const;

 private:
  enum class Stage { Untaken, Taking, InHand, Closing, Ended };

  // Runs an outcome's statement once: false when the sale is not open for one.
  bool End(const std::string& statement, std::string_view word, const std::string& notice,
           bool from_channel);
  // REQUIRES: mutex_ held. Marks the sale ended in the journal; a journal that cannot be
  // written is shown, not raised: the row has its outcome.
  void RecordEnd(std::string_view word);
  std::string Now() const;

  Module& module_;
  SaleJournal& journal_;
  const Sale sale_;
  mutable std::mutex mutex_;
  Stage stage_ = Stage::Untaken;  // GUARDED_BY(mutex_)
  bool crossed_ = false;          // GUARDED_BY(mutex_)
  std::string crossed_at_;        // GUARDED_BY(mutex_)
};

// At START, before the first poll: every sale the journal shows taken without an outcome
// gets one, "GAGAL" when it never crossed its point of no return, "PENDING" when it did (with
// when), each named in the journal of the module (log) and the first status-bar panel. Only
// rows still taken without a status change. Returns how many sales it gave an outcome.
int RecoverOpenSales(Module& module, SaleJournal& journal);

// The respond texts of a sale cut off, which the operator reads.
std::string NeverSentNote(std::string_view why);
std::string WithOperatorNote(std::string_view why, std::string_view sent_at);

}  // namespace tovalink
