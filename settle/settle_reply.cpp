#include "settle/settle_reply.h"

#include <limits>
#include <utility>

#include "settle/reply_text.h"

namespace tovalink {

namespace {

// The count a reply mentions after the rule's `katajumlah`: the character right after the
// marker is skipped (it is the separator, such as a space or a colon), then the digits are
// read as a 32-bit integer. No marker, no digits, or digits beyond 32 bits give 0.
int64_t ReplyCount(const std::string& reply, const std::string& katajumlah) {
  size_t found = 0;
  if (!Occurs(reply, katajumlah, &found)) return 0;
  const size_t after = found + katajumlah.size() + 1;
  if (after >= reply.size()) return 0;
  const std::string digits = TakeDigits(std::string_view(reply).substr(after));
  if (digits.empty()) return 0;
  int64_t value = 0;
  for (const char c : digits) {
    value = value * 10 + (c - '0');
    if (value > std::numeric_limits<int32_t>::max()) return 0;
  }
  return value;
}

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

struct Rule {
  std::string awalsn;
  std::string akhirsn;
  std::string pesanproduk;
  std::string pesansuksesgagal;
  std::string katajumlah;
};

// Why a rule does not match the reply for a sale of count `jumlah`; "" when it matches.
std::string RuleMismatch(const Rule& rule, const std::string& reply, int64_t jumlah) {
  std::string why;
  auto add = [&why](const std::string& reason) { why += (why.empty() ? "" : ", ") + reason; };
  if (!Occurs(reply, rule.pesansuksesgagal)) add("pesansuksesgagal not in reply");
  if (!Occurs(reply, rule.pesanproduk)) add("pesanproduk not in reply");
  const int64_t count = ReplyCount(reply, rule.katajumlah);
  if (count != 0 && count != jumlah) {
    add("count " + std::to_string(count) + " != jumlah " + std::to_string(jumlah));
  }
  return why;
}

std::string UpdateStatement(Database& db, const std::string& tipepesan, const std::string& reply,
                            const std::string& sn, int64_t idx) {
  if (tipepesan == "GAGAL") {
    return "UPDATE penjualanproduk SET status=\"GAGAL\",respond=\"" + db.Escape(reply) +
           "\" WHERE idx=" + std::to_string(idx);
  }
  if (tipepesan == "SUKSES") {
    // Without a serial number the sale's `sn` is left as it is; `sn_token` records the
    // (empty) extraction.
    const std::string escaped_sn = db.Escape(sn);
    return "UPDATE penjualanproduk SET " + std::string("status=\"SUKSES\",") +
           (sn.empty() ? "" : "sn=\"" + escaped_sn + "\",") + "respond=\"" + db.Escape(reply) +
           "\",sn_token=\"" + escaped_sn + "\" WHERE idx=" + std::to_string(idx);
  }
  return "";
}

}  // namespace

SettleDecision DecideReply(Database& db, Clock& clock, const std::string& reply,
                           const std::string& destination, int expected_count,
                           TraceMode trace_mode) {
  SettleDecision decision;
  Tracer trace(trace_mode, decision.trace);
  const std::string today = clock.Date();
  trace.Add("reply=" + reply);
  trace.Add("destination=" + destination + " expected_count=" + std::to_string(expected_count) +
            " today=" + today);

  Rows pairs = db.OpenSql(
      "SELECT awalmsisdn,tipepesan FROM settinggetsn  GROUP BY awalmsisdn,tipepesan ORDER BY "
      "tipepesan DESC");
  trace.Add("pairs=" + std::to_string(pairs.Count()));
  for (; !pairs.Eof(); pairs.Next()) {
    const std::string awalmsisdn = pairs.Text("awalmsisdn");
    const std::string tipepesan = pairs.Text("tipepesan");
    trace.Add("pair tipepesan=" + Quoted(tipepesan) + " awalmsisdn=" + Quoted(awalmsisdn));

    std::string raw;
    if (awalmsisdn.empty()) {
      raw = destination;
    } else {
      size_t found = 0;
      if (!Occurs(reply, awalmsisdn, &found)) {
        trace.Add("pair.skip=awalmsisdn not in reply");
        continue;
      }
      raw = TakeDigits(std::string_view(reply).substr(found + awalmsisdn.size()));
    }
    if (raw.empty()) {
      trace.Add("pair.skip=no number");
      continue;
    }
    const std::string prefixed = raw[0] == '0' ? raw : "0" + raw;
    trace.Add("number raw=" + raw + " prefixed=" + prefixed);

    Rows sales = db.OpenSql(
        "SELECT idproduk,idx,idcustomer,nonota,tanggal,waktu,jumlah FROM penjualanproduk WHERE "
        " (barcode=\"" +
        db.Escape(prefixed) + "\" OR barcode=\"" + db.Escape(raw) + "\") and tanggal=\"" +
        db.Escape(today) + "\" " + "AND (status = \"PENDING\" or status = \"\")" +
        " ORDER BY idx DESC");
    trace.Add("sales=" + std::to_string(sales.Count()));
    for (; !sales.Eof(); sales.Next()) {
      const std::string idproduk = sales.Text("idproduk");
      const int64_t idx = sales.Int("idx");
      const int64_t jumlah = sales.Int("jumlah");
      trace.Add("sale idx=" + std::to_string(idx) + " idproduk=" + Quoted(idproduk) +
                " jumlah=" + std::to_string(jumlah));

      Rows rules = db.OpenSql(
          "SELECT awalsn,akhirsn,pesanproduk,pesansuksesgagal,katajumlah FROM settinggetsn "
          "WHERE  tipepesan=\"" +
          db.Escape(tipepesan) + "\" AND idproduk=\"" + db.Escape(idproduk) + "\"");
      trace.Add("rules=" + std::to_string(rules.Count()));
      for (; !rules.Eof(); rules.Next()) {
        const Rule rule{rules.Text("awalsn"), rules.Text("akhirsn"), rules.Text("pesanproduk"),
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
        if (tipepesan == "SUKSES") decision.sn = TakeBetween(reply, rule.awalsn, rule.akhirsn);
        decision.update = UpdateStatement(db, tipepesan, reply, decision.sn, idx);
        const bool sale_in_hand =
            (destination == prefixed || destination == raw) && jumlah == expected_count;
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
