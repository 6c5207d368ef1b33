#pragma once
// --suggest-rule: a `settinggetsn` row proposed from one reply and the sale it answers, and
// checked with the module's own decision before it is shown. Reads only: the technician runs
// the INSERT it prints.
//
// The row is taken from the reply's words: `tipepesan` from its success or failure wording
// (or as the technician says), `awalmsisdn` the text just before the destination (a marker of
// that type the table already has, when one reads the destination), `awalsn` and `akhirsn`
// around the serial number (given, or the longest number that is no destination, amount or
// date), `katajumlah` before a count equal to the sale's `jumlah`, and `pesanproduk` and
// `pesansuksesgagal` the shortest whole words of the reply that keep the product's and the
// outcome's replies apart from the other products' and the other outcome's rules.
//
// The checks run the decision over the table with the row added (nothing is written):
//   - the reply settles the sale with that outcome and serial number, and no rule of the
//     table settles it first;
//   - the other replies of its wording logged on the sale's day (its --unmatched group)
//     settle their open sales of the product, and no sale of another product;
//   - every other reply logged that day that the row could touch settles as it did before.
// Database errors reach the caller.

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "settle/rule_check.h"
#include "store/database.h"

namespace tovalink {

struct SuggestRequest {
  std::string reply;      // as the log holds it; made safe as a module makes an SMS text
  int64_t idx = 0;        // the sale it answers
  std::string sn;         // the serial number, "" to find it
  std::string tipepesan;  // "SUKSES" or "GAGAL" to force the outcome, "" to read it
};

struct Suggestion {
  std::string reply;  // as a module sees it
  // The sale.
  int64_t idx = 0;
  std::string idproduk;
  std::string barcode;
  std::string tanggal;
  std::string status;
  int64_t jumlah = 0;

  // Why no row could be proposed; empty when one was.
  std::string refusal;
  RuleRow rule;
  std::string sn;  // the serial number the row takes
  // Why each column holds what it holds: (column, reason), in the table's column order.
  std::vector<std::pair<std::string, std::string>> reasons;
  std::vector<RuleCheck> checks;
  std::string insert;  // the INSERT statement
  // The decision over the table with the row added, in the words of --explain-reply, and the
  // destination that --explain-reply is given for the same steps.
  std::vector<std::string> explanation;
  std::string explain_destination;

  bool Proposed() const { return refusal.empty(); }
  // Proposed, and every check passed.
  bool Ready() const;
};

Suggestion SuggestRule(Database& db, const SuggestRequest& request);

// The INSERT statement of a row: texts between single quotes, or as hexadecimal literals
// when they hold bytes beyond ASCII, so that the bytes stored are the reply's whatever the
// client's character set.
std::string InsertStatement(const RuleRow& rule);

// The INSERT as it is offered: the statement when the row is ready, otherwise the statement
// commented out below a line that says why.
std::string OfferedInsert(const Suggestion& suggestion);

// The proposal as a technician reads it: the sale, the row with a reason for each column, the
// checks, the INSERT (commented out unless every check passed) and the explanation. Single
// bytes; control bytes written as \xNN. `program` names the tool in the hints.
void PrintSuggestion(const Suggestion& suggestion, const std::string& program, std::ostream& out);

}  // namespace tovalink
