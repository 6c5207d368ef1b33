#pragma once
// Reply settlement: an operator's reply text (an SMS from the modem's store or a USSD answer)
// is matched to one of today's open sales in `penjualanproduk` by the rules of
// `settinggetsn`, its serial number is extracted, and the outcome is written into the sale.
//
// The work is split in two: DecideReply only reads (the marker pairs, the candidate sales,
// the rules) and says what would happen; SettleReply runs the decision and then its single
// write. The rule tester calls DecideReply alone.
//
// Called on the worker thread (the channel procedures and the inbox pass) or, for the
// operator's tools, on the user-interface thread; the connection lock serialises the
// statements. Database errors (and a sale whose `jumlah` does not read as a number) are not
// handled here: they reach the caller.

#include <cstdint>
#include <string>
#include <vector>

#include "core/clock.h"
#include "settle/reply_match.h"
#include "store/database.h"

namespace tovalink {

// The destination that stands for "no sale in hand": passed by the inbox pass, the balance
// checks and the operator's test of a sample text.
inline constexpr const char* kNoSaleInHand = "xxxxxx";

// What a reply did to the sale in hand: settled it as "GAGAL" or as "SUKSES", or anything
// else (no rule matched, a rule matched another sale, a rule of another type matched). The
// values are the ones the rule tester prints.
enum class Settlement { Failed = 0, Succeeded = 1, NotSettled = 2 };

// A channel keeps the first result that settled the sale in hand: `kept` takes `next` while it
// is still NotSettled.
inline void KeepFirst(Settlement& kept, Settlement next) {
  if (kept == Settlement::NotSettled) kept = next;
}

enum class TraceMode { kOff, kOn };

// What a reply settles, as decided from the rows read. When `matched` is false nothing is
// written. When it is true, `tipepesan` is the matching rule's type; `update` holds the one
// statement to run ("" for a type other than "SUKSES" or "GAGAL", which ends the search
// without writing anything).
struct SettleDecision {
  bool matched = false;
  std::string tipepesan;
  std::string awalmsisdn;
  std::string raw_number;       // the number as found in the reply (or the destination)
  std::string prefixed_number;  // the same with "0" in front unless it begins with "0"
  int64_t idx = 0;
  std::string idproduk;
  int64_t jumlah = 0;
  ReplyRule rule;  // the matching rule's texts
  std::string sn;
  std::string update;
  Settlement result = Settlement::NotSettled;
  // With TraceMode::kOn: the steps taken, as "key=value" lines (see ExplainReply).
  std::vector<std::string> trace;
};

// The rows a decision reads: the marker pairs, the candidate sales of a number and the rules of
// a type and product. The module reads the table and today's open sales; the rule tools read
// the table with a proposed rule added (a derived table named settinggetsn, `rules_from`),
// and the sales of another day or of any status (`sales_condition`), with the same
// statements otherwise, so that the server compares the texts as it does for the module.
class ReplyRows {
 public:
  // The module's condition on a candidate sale: open.
  static constexpr const char* kOpenSales = "AND (status = \"PENDING\" or status = \"\")";

  ReplyRows(Database& db, std::string day, std::string rules_from = "settinggetsn",
            std::string sales_condition = kOpenSales);
  const std::string& Day() const { return day_; }
  Rows Pairs();
  Rows Sales(const ReplyNumber& number);
  Rows Rules(const std::string& tipepesan, const std::string& idproduk);

 private:
  Database& db_;
  std::string day_;
  std::string rules_from_;
  std::string sales_condition_;
};

// Decides what `reply` settles from the rows `rows` reads, reading only (the statement in
// `update` is built on `db`'s escaping). DecideReply below is this on the module's rows.
SettleDecision DecideReplyFrom(Database& db, ReplyRows& rows, const std::string& reply,
                               const std::string& destination, int expected_count,
                               TraceMode trace = TraceMode::kOff);

// Decides what `reply` settles, reading only.
//   reply           the reply text, already cleaned by its source (SqlSafe or CleanReply);
//                   it is written into `respond` as given.
//   destination     the destination number (`barcode`) of the sale in hand, or kNoSaleInHand.
//   expected_count  the count the sale in hand must have for the result to be 0 or 1: 1 from
//                   a channel procedure and from the balance checks, 0 from the inbox pass.
// Marker pairs are tried "SUKSES" before "GAGAL", candidate sales (today's, status "" or
// "PENDING", any module) newest first; the first matching rule ends the whole search.
SettleDecision DecideReply(Database& db, Clock& clock, const std::string& reply,
                           const std::string& destination, int expected_count,
                           TraceMode trace = TraceMode::kOff);

// Decides as DecideReply and writes the outcome into the matched sale. Returns Failed or
// Succeeded when the reply settled the sale in hand (its number and its count), NotSettled
// otherwise. A reply settles at most one sale.
Settlement SettleReply(Database& db, Clock& clock, const std::string& reply,
                const std::string& destination, int expected_count);

}  // namespace tovalink
