#include "settle/settle_reply.h"

#include <utility>

#include "settle/reply_match.h"
#include "settle/reply_text.h"
#include "store/sale_row.h"

namespace tovalink {

namespace {

std::string Quoted(const std::string& value) { return "\"" + value + "\""; }

class Tracer {
 public:
  Tracer(TraceMode mode, std::vector<std::string>& lines)
      : on_(mode == TraceMode::kOn), lines_(lines) {}
  bool on() const { return on_; }
  void Add(std::string line) {
    if (on_) lines_.push_back(std::move(line));
  }

 private:
  bool on_;
  std::vector<std::string>& lines_;
};

std::string UpdateStatement(Database& db, const std::string& tipepesan, const std::string& reply,
                            const std::string& sn, int64_t idx) {
  if (tipepesan == "GAGAL") return sale_row::SettledFailed(db, idx, reply);
  if (tipepesan == "SUKSES") return sale_row::SettledSucceeded(db, idx, reply, sn);
  return "";
}

}  // namespace

ReplyRows::ReplyRows(Database& db, std::string day, std::string rules_from,
                     std::string sales_condition)
    : db_(db),
      day_(std::move(day)),
      rules_from_(std::move(rules_from)),
      sales_condition_(std::move(sales_condition)) {}

Rows ReplyRows::Pairs() {
  return db_.OpenSql("SELECT awalmsisdn,tipepesan FROM " + rules_from_ +
                     "  GROUP BY awalmsisdn,tipepesan ORDER BY tipepesan DESC");
}

Rows ReplyRows::Sales(const ReplyNumber& number) {
  return db_.OpenSql(
      "SELECT idproduk,idx,idcustomer,nonota,tanggal,waktu,jumlah FROM penjualanproduk WHERE "
      " (barcode=\"" +
      db_.Escape(number.prefixed) + "\" OR barcode=\"" + db_.Escape(number.raw) +
      "\") and tanggal=\"" + db_.Escape(day_) + "\" " + sales_condition_ + " ORDER BY idx DESC");
}

Rows ReplyRows::Rules(const std::string& tipepesan, const std::string& idproduk) {
  return db_.OpenSql("SELECT awalsn,akhirsn,pesanproduk,pesansuksesgagal,katajumlah FROM " +
                     rules_from_ + " WHERE  tipepesan=\"" + db_.Escape(tipepesan) +
                     "\" AND idproduk=\"" + db_.Escape(idproduk) + "\"");
}

SettleDecision DecideReply(Database& db, Clock& clock, const std::string& reply,
                           const std::string& destination, int expected_count,
                           TraceMode trace_mode) {
  ReplyRows rows(db, clock.Date());
  return DecideReplyFrom(db, rows, reply, destination, expected_count, trace_mode);
}

SettleDecision DecideReplyFrom(Database& db, ReplyRows& rows, const std::string& reply,
                               const std::string& destination, int expected_count,
                               TraceMode trace_mode) {
  SettleDecision decision;
  Tracer trace(trace_mode, decision.trace);
  const std::string& today = rows.Day();
  trace.Add("reply=" + reply);
  trace.Add("destination=" + destination + " expected_count=" + std::to_string(expected_count) +
            " today=" + today);

  Rows pairs = rows.Pairs();
  trace.Add("pairs=" + std::to_string(pairs.Count()));
  for (; !pairs.Eof(); pairs.Next()) {
    const std::string awalmsisdn = pairs.Text("awalmsisdn");
    const std::string tipepesan = pairs.Text("tipepesan");
    trace.Add("pair tipepesan=" + Quoted(tipepesan) + " awalmsisdn=" + Quoted(awalmsisdn));

    const std::optional<ReplyNumber> number = FindReplyNumber(reply, awalmsisdn, destination);
    if (!number) {
      if (trace.on()) {
        const bool marker_missing = !awalmsisdn.empty() && !Occurs(reply, awalmsisdn);
        trace.Add(marker_missing ? "pair.skip=awalmsisdn not in reply" : "pair.skip=no number");
      }
      continue;
    }
    const std::string& raw = number->raw;
    const std::string& prefixed = number->prefixed;
    trace.Add("number raw=" + raw + " prefixed=" + prefixed);

    Rows sales = rows.Sales(*number);
    trace.Add("sales=" + std::to_string(sales.Count()));
    for (; !sales.Eof(); sales.Next()) {
      const std::string idproduk = sales.Text("idproduk");
      const int64_t idx = sales.Int("idx");
      const int64_t jumlah = sales.Int("jumlah");
      trace.Add("sale idx=" + std::to_string(idx) + " idproduk=" + Quoted(idproduk) +
                " jumlah=" + std::to_string(jumlah));

      Rows rules = rows.Rules(tipepesan, idproduk);
      trace.Add("rules=" + std::to_string(rules.Count()));
      for (; !rules.Eof(); rules.Next()) {
        const ReplyRule rule{rules.Text("awalsn"), rules.Text("akhirsn"), rules.Text("pesanproduk"),
                             rules.Text("pesansuksesgagal"), rules.Text("katajumlah")};
        if (trace.on()) {
          trace.Add("rule pesansuksesgagal=" + Quoted(rule.pesansuksesgagal) + " pesanproduk=" +
                    Quoted(rule.pesanproduk) + " katajumlah=" + Quoted(rule.katajumlah) +
                    " awalsn=" + Quoted(rule.awalsn) + " akhirsn=" + Quoted(rule.akhirsn));
        }
        const std::string mismatch = RuleMismatch(rule, reply, jumlah);
        if (!mismatch.empty()) {
          trace.Add("rule.fail=" + mismatch);
          continue;
        }

        decision.matched = true;
        decision.tipepesan = tipepesan;
        decision.awalmsisdn = awalmsisdn;
        decision.raw_number = raw;
        decision.prefixed_number = prefixed;
        decision.idx = idx;
        decision.idproduk = idproduk;
        decision.jumlah = jumlah;
        decision.rule = rule;
        if (tipepesan == "SUKSES") decision.sn = SerialNumber(rule, reply);
        decision.update = UpdateStatement(db, tipepesan, reply, decision.sn, idx);
        const bool sale_in_hand = IsSaleInHand(*number, destination, jumlah, expected_count);
        if (sale_in_hand && tipepesan == "GAGAL") decision.result = Settlement::Failed;
        if (sale_in_hand && tipepesan == "SUKSES") decision.result = Settlement::Succeeded;

        std::string match = "match=" + tipepesan + " idx=" + std::to_string(idx);
        if (tipepesan == "SUKSES") {
          match += " sn=" + decision.sn;
        } else if (tipepesan != "GAGAL") {
          match += " write=none";
        }
        trace.Add(match);
        if (!decision.update.empty()) trace.Add("update=" + decision.update);
        trace.Add("result=" + std::to_string(static_cast<int>(decision.result)));
        return decision;
      }
    }
  }
  trace.Add("match=none");
  trace.Add("result=" + std::to_string(static_cast<int>(decision.result)));
  return decision;
}

Settlement SettleReply(Database& db, Clock& clock, const std::string& reply,
                const std::string& destination, int expected_count) {
  const SettleDecision decision = DecideReply(db, clock, reply, destination, expected_count);
  if (!decision.update.empty()) db.ExecSql(decision.update);
  return decision.result;
}

}  // namespace tovalink
