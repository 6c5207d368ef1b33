#include "settle/rule_check.h"

#include <algorithm>

#include "settle/reply_match.h"
#include "settle/reply_text.h"
#include "settle/settle_reply.h"
#include "store/text.h"

namespace tovalink {

std::string Quote(const std::string& text) { return "\"" + text + "\""; }

std::string RuleText(const RuleRow& rule) {
  return "(" + rule.idproduk + ", " + rule.tipepesan + ", awalmsisdn " + Quote(rule.awalmsisdn) +
         ", pesanproduk " + Quote(rule.pesanproduk) + ", pesansuksesgagal " +
         Quote(rule.pesansuksesgagal) + ", awalsn " + Quote(rule.awalsn) + ", akhirsn " +
         Quote(rule.akhirsn) + ", katajumlah " + Quote(rule.katajumlah) + ")";
}

namespace {

class Checks {
 public:
  explicit Checks(std::vector<RuleCheck>& checks) : checks_(checks) {}
  void Pass(const std::string& text) { checks_.push_back({true, text}); }
  void Fail(const std::string& text) { checks_.push_back({false, text}); }

 private:
  std::vector<RuleCheck>& checks_;
};

std::string Quoted(Database& db, const std::string& value) {
  return "\"" + db.Escape(value) + "\"";
}

// The table with the proposed row added after its own rows, under the table's name, so that
// the module's statements read it as they read the table (with the table's collation).
std::string RulesWith(Database& db, const RuleRow& rule) {
  return std::string("(SELECT ") + kRuleColumns + " FROM settinggetsn UNION ALL SELECT " +
         Quoted(db, rule.idproduk) + "," + Quoted(db, rule.tipepesan) + "," +
         Quoted(db, rule.awalmsisdn) + "," + Quoted(db, rule.awalsn) + "," +
         Quoted(db, rule.akhirsn) + "," + Quoted(db, rule.pesanproduk) + "," +
         Quoted(db, rule.pesansuksesgagal) + "," + Quoted(db, rule.katajumlah) +
         ") AS settinggetsn";
}

// The rule a decision matched, and the marker pair through which it was found (a rule is read
// by product and type, so the pair need not be the row's own).
std::string MatchText(const SettleDecision& decision) {
  return "(" + decision.idproduk + ", " + decision.tipepesan + ", pesanproduk " +
         Quote(decision.rule.pesanproduk) + ", pesansuksesgagal " +
         Quote(decision.rule.pesansuksesgagal) + ", awalsn " + Quote(decision.rule.awalsn) +
         ", akhirsn " + Quote(decision.rule.akhirsn) + ", katajumlah " +
         Quote(decision.rule.katajumlah) + ") found through the marker " +
         Quote(decision.awalmsisdn);
}

RuleRow MatchedRule(const SettleDecision& decision) {
  return {decision.idproduk,
          decision.tipepesan,
          decision.awalmsisdn,
          decision.rule.awalsn,
          decision.rule.akhirsn,
          decision.rule.pesanproduk,
          decision.rule.pesansuksesgagal,
          decision.rule.katajumlah};
}

// Whether the decision matched `rule`: rules are read by product and type, not by marker
// pair, so a row with the same product, type and texts is the same rule to the settlement.
bool MatchedThisRule(const SettleDecision& decision, const RuleRow& rule) {
  return decision.matched && UpperAscii(decision.idproduk) == UpperAscii(rule.idproduk) &&
         decision.tipepesan == rule.tipepesan && decision.rule.awalsn == rule.awalsn &&
         decision.rule.akhirsn == rule.akhirsn && decision.rule.pesanproduk == rule.pesanproduk &&
         decision.rule.pesansuksesgagal == rule.pesansuksesgagal &&
         decision.rule.katajumlah == rule.katajumlah;
}

std::string Outcome(const SettleDecision& decision) {
  if (!decision.matched) return "settles no sale";
  if (decision.tipepesan != "SUKSES" && decision.tipepesan != "GAGAL") {
    return "is stopped by rule " + MatchText(decision) + " without a write";
  }
  std::string text = "settles sale " + std::to_string(decision.idx) + " (" + decision.idproduk +
                     ") as " + decision.tipepesan;
  if (decision.tipepesan == "SUKSES") {
    text += decision.sn.empty() ? " without a serial number" : " with SN " + Quote(decision.sn);
  }
  return text;
}

bool SameOutcome(const SettleDecision& a, const SettleDecision& b) {
  if (a.matched != b.matched) return false;
  if (!a.matched) return true;
  return a.idx == b.idx && a.tipepesan == b.tipepesan && a.sn == b.sn &&
         MatchedRule(a) == MatchedRule(b);
}

std::string Count(size_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

void CheckGroup(Database& db, const RuleUnderCheck& in, const std::string& with_rule,
                Checks& checks) {
  if (in.group.empty()) {
    checks.Pass("no other reply of its wording settled no sale on " + in.tanggal);
    return;
  }
  if (in.rule.awalmsisdn.empty()) {
    checks.Pass(Count(in.group.size(), "other reply", "other replies") +
                " of its wording not checked: without the destination in the text they settle only "
                "as the sale in hand");
    return;
  }
  std::vector<std::string> settled;
  size_t failures = 0;
  for (const LoggedReply* reply : in.group) {
    ReplyRows rows(db, reply->tanggal, with_rule);
    const SettleDecision decision = DecideReplyFrom(db, rows, reply->pesan, kNoSaleInHand, 0);
    const bool own_open =
        std::find(in.own_product.begin(), in.own_product.end(), reply) != in.own_product.end();
    const std::string quoted = Quote(reply->pesan);
    if (decision.matched && MatchedThisRule(decision, in.rule)) {
      settled.push_back(std::to_string(decision.idx));
    } else if (decision.matched) {
      ++failures;
      checks.Fail("the reply " + quoted + " of its wording " + Outcome(decision) + " by rule " +
                  MatchText(decision) + " once the proposal's marker finds its number");
    } else if (own_open) {
      ++failures;
      checks.Fail("the reply " + quoted + " of its wording, for an open sale of " +
                  in.rule.idproduk + ", still settles no sale");
    }
  }
  if (failures == 0) {
    // The first few sales, and how many more.
    constexpr size_t kShown = 10;
    std::string list;
    for (size_t i = 0; i < settled.size() && i < kShown; ++i) {
      list += (list.empty() ? "" : ", ") + settled[i];
    }
    if (settled.size() > kShown)
      list += " and " + std::to_string(settled.size() - kShown) + " more";
    std::string text = Count(in.group.size(), "other reply", "other replies") +
                       " of its wording on " + in.tanggal + ": ";
    if (settled.empty()) {
      text += in.group.size() == 1 ? "it answers" : "they answer";
      text += " no open sale of " + in.rule.idproduk;
    } else {
      text += "the rule settles " + std::string(settled.size() == 1 ? "sale " : "sales ") + list;
      if (settled.size() < in.group.size()) {
        text += " (the others answer no open sale of " + in.rule.idproduk + ")";
      }
    }
    checks.Pass(text);
  }
}

// Every other reply of the day that the row could change: one its texts match, or, when
// its marker is a new pair, one in which that marker finds a number.
void CheckOtherReplies(Database& db, const RuleUnderCheck& in, const std::string& with_rule,
                       Checks& checks) {
  const RuleRow& rule = in.rule;
  size_t compared = 0;
  size_t changed = 0;
  for (const LoggedReply& reply : *in.day_replies) {
    if (reply.fate == ReplyFate::SetAside || reply.pesan == in.reply) continue;
    if (std::find(in.group.begin(), in.group.end(), &reply) != in.group.end()) continue;
    const bool texts_match =
        Occurs(reply.pesan, rule.pesanproduk) && Occurs(reply.pesan, rule.pesansuksesgagal);
    const bool pair_reads = in.new_pair && !rule.awalmsisdn.empty() &&
                            FindReplyNumber(reply.pesan, rule.awalmsisdn, kNoSaleInHand);
    if (!texts_match && !pair_reads) continue;
    ++compared;
    ReplyRows before_rows(db, reply.tanggal, "settinggetsn", "");
    ReplyRows after_rows(db, reply.tanggal, with_rule, "");
    const SettleDecision before = DecideReplyFrom(db, before_rows, reply.pesan, kNoSaleInHand, 0);
    const SettleDecision after = DecideReplyFrom(db, after_rows, reply.pesan, kNoSaleInHand, 0);
    if (SameOutcome(before, after)) continue;
    ++changed;
    checks.Fail("the reply " + Quote(reply.pesan) + " of " + reply.tanggal + " " + reply.jam + " " +
                Outcome(before) + (before.matched ? " by rule " + MatchText(before) : "") +
                "; with the proposal it " + Outcome(after) +
                (after.matched ? " by rule " + MatchText(after) : ""));
  }
  if (changed == 0) {
    checks.Pass(compared == 0 ? "no other reply of " + in.tanggal + " is touched by the rule"
                              : Count(compared, "other reply", "other replies") + " of " +
                                    in.tanggal + " that the rule could touch " +
                                    (compared == 1 ? "settles" : "settle") + " as before");
  }
}

}  // namespace

CheckedRule CheckRule(Database& db, const RuleUnderCheck& in) {
  CheckedRule out;
  Checks checks{out.checks};
  const RuleRow& rule = in.rule;
  const std::string with_rule = RulesWith(db, rule);
  const bool in_hand = rule.awalmsisdn.empty();
  out.explain_destination = in_hand ? in.barcode : kNoSaleInHand;

  // The reply itself, on the sale's day, with the sale taken as open.
  ReplyRows rows(
      db, in.tanggal, with_rule,
      "AND (status = \"PENDING\" or status = \"\" or idx=" + std::to_string(in.idx) + ")");
  const SettleDecision decision =
      DecideReplyFrom(db, rows, in.reply, out.explain_destination, in_hand ? 1 : 0, TraceMode::kOn);
  out.explanation = decision.trace;
  std::string wanted = "sale " + std::to_string(in.idx) + " as " + rule.tipepesan;
  if (rule.tipepesan == "SUKSES") {
    wanted += in.sn.empty() ? " without a serial number" : " with SN " + Quote(in.sn);
  }
  if (!decision.matched) {
    checks.Fail("the reply settles no sale with the rule added (see the explanation below)");
  } else if (!MatchedThisRule(decision, rule)) {
    checks.Fail("rule " + MatchText(decision) + " takes the reply first: it " + Outcome(decision) +
                ", so the proposal is shadowed");
  } else if (decision.idx != in.idx) {
    checks.Fail("the reply " + Outcome(decision) +
                ", a newer open sale of the same number that day, not sale " +
                std::to_string(in.idx));
  } else if (decision.sn != in.sn) {
    checks.Fail("the rule takes the serial number " + Quote(decision.sn) + ", not " + Quote(in.sn));
  } else {
    checks.Pass("the reply settles " + wanted + ", and no rule of the table takes it first");
  }
  CheckGroup(db, in, with_rule, checks);
  CheckOtherReplies(db, in, with_rule, checks);
  return out;
}

}  // namespace tovalink
