#pragma once
// Checking a settinggetsn row with the module's own decision before a technician adds it:
// the decision runs over the table with the row added (a derived table under the table's
// name, so that the server compares the texts as it does for the module), and nothing is
// written. Used by --suggest-rule; database errors reach the caller.

#include <cstdint>
#include <string>
#include <vector>

#include "settle/unmatched.h"
#include "store/database.h"

namespace tovalink {

// The columns of settinggetsn that the settlement reads, in the table's order.
inline constexpr const char* kRuleColumns =
    "idproduk,tipepesan,awalmsisdn,awalsn,akhirsn,pesanproduk,pesansuksesgagal,katajumlah";

// One settinggetsn row.
struct RuleRow {
  std::string idproduk;
  std::string tipepesan;
  std::string awalmsisdn;
  std::string awalsn;
  std::string akhirsn;
  std::string pesanproduk;
  std::string pesansuksesgagal;
  std::string katajumlah;

  bool operator==(const RuleRow&) const = default;
};

struct RuleCheck {
  bool ok = false;
  std::string text;
};

// A row, the reply and the sale it is written for, and the replies of the sale's day.
struct RuleUnderCheck {
  RuleRow rule;
  std::string reply;
  int64_t idx = 0;
  std::string barcode;
  std::string tanggal;
  std::string sn;        // the serial number the reply must settle the sale with
  bool new_pair = true;  // the row's awalmsisdn is no marker of its type in the table yet
  // The replies of the reply's wording that settled no sale that day, and of those the ones
  // that probably answer an open sale of the row's product; all pointing into day_replies.
  std::vector<const LoggedReply*> group;
  std::vector<const LoggedReply*> own_product;
  const std::vector<LoggedReply>* day_replies = nullptr;
};

struct CheckedRule {
  // The reply's own check (it settles the sale with the row, and no rule takes it first),
  // then the replies of its wording, then the other replies the row could change.
  std::vector<RuleCheck> checks;
  // The decision on the reply with the row added, as --explain-reply words it, and the
  // destination --explain-reply needs for the same steps.
  std::vector<std::string> explanation;
  std::string explain_destination;
};

CheckedRule CheckRule(Database& db, const RuleUnderCheck& input);

// A row as the checks name it, and a text in double quotes.
std::string RuleText(const RuleRow& rule);
std::string Quote(const std::string& text);

}  // namespace tovalink
