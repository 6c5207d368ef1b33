#include "store/sale_row.h"

namespace tovalink::sale_row {

namespace {

std::string Where(int64_t idx) { return " WHERE idx=" + std::to_string(idx); }

// The guard of the outcomes of a sale cut off: a row that is taken and has no status yet.
std::string WhereStillOpen(int64_t idx) {
  return Where(idx) + " AND flag=1 AND status=\"\"";
}

}  // namespace

std::string Take(int64_t idx) { return "UPDATE penjualanproduk SET flag=1" + Where(idx) + " AND flag=0"; }

std::string Begin(int64_t idx, const LocalDateTime& now, Spacing spacing) {
  return "UPDATE penjualanproduk SET flag=1,tglwaktuproses='" + Clock::FormatDate(now) + " " +
         Clock::FormatTime(now) + "'" + (spacing == Spacing::TwoSpaces ? " " : "") + Where(idx);
}

std::string Pending(const Database& db, int64_t idx, std::string_view respond) {
  return "UPDATE penjualanproduk SET respond=\"" + db.Escape(respond) + "\",status=\"PENDING\"" +
         Where(idx);
}

std::string Respond(const Database& db, int64_t idx, std::string_view respond) {
  return "UPDATE penjualanproduk SET respond=\"" + db.Escape(respond) + "\"" + Where(idx);
}

std::string MenuMissing(const Database& db, int64_t idx, std::string_view menu_name) {
  return "UPDATE penjualanproduk SET respond=\"MENU " + db.Escape(menu_name) + " tidak ADA \"" +
         Where(idx);
}

std::string DenomRefused(const Database& db, int64_t idx, std::string_view nominal) {
  return "UPDATE penjualanproduk set respond=\"DENOM " + db.Escape(nominal) +
         " TIDAK DAPAT MELAKUKAN XLTUNAI\"" + Where(idx);
}

std::string SettledFailed(const Database& db, int64_t idx, std::string_view reply) {
  return "UPDATE penjualanproduk SET status=\"GAGAL\",respond=\"" + db.Escape(reply) + "\"" +
         Where(idx);
}

std::string SettledSucceeded(const Database& db, int64_t idx, std::string_view reply,
                             std::string_view sn) {
  const std::string escaped_sn = db.Escape(sn);
  return "UPDATE penjualanproduk SET " + std::string("status=\"SUKSES\",") +
         (sn.empty() ? "" : "sn=\"" + escaped_sn + "\",") + "respond=\"" + db.Escape(reply) +
         "\",sn_token=\"" + escaped_sn + "\"" + Where(idx);
}

std::string DialSucceeded(const Database& db, int64_t idx, std::string_view reply,
                          std::string_view sn) {
  return "UPDATE penjualanproduk SET respond=\"" + db.Escape(reply) +
         "\",status=\"SUKSES\",sn_token=\"" + db.Escape(sn) + "\"" + Where(idx);
}

std::string StockJudged(int64_t idx, StockVerdict verdict) {
  return std::string("UPDATE penjualanproduk SET status=\"") +
         (verdict == StockVerdict::Sold ? "SUKSES" : "GAGAL") + "\"" + Where(idx);
}

std::string TakeLost(int64_t idx) {
  return "UPDATE penjualanproduk SET status=\"PENDING\",respond=\"" + std::string(kTakeLostNote) +
         "\"" + Where(idx) + " AND flag=1 AND status=\"\" AND tglwaktuproses IS NULL";
}

std::string NeverSent(const Database& db, int64_t idx, std::string_view respond) {
  return "UPDATE penjualanproduk SET status=\"GAGAL\",respond=\"" + db.Escape(respond) + "\"" +
         WhereStillOpen(idx);
}

std::string LeftWithOperator(const Database& db, int64_t idx, std::string_view note) {
  const std::string escaped = db.Escape(note);
  return "UPDATE penjualanproduk SET status=\"PENDING\",respond=IF(respond IS NULL OR "
         "respond=\"\",\"" +
         escaped + "\",CONCAT(\"" + escaped + " | \",respond))" + WhereStillOpen(idx);
}

std::string Refused(const Database& db, int64_t idx, std::string_view reason) {
  return "UPDATE penjualanproduk SET status=\"GAGAL\",respond=\"" + db.Escape(reason) + "\"" +
         Where(idx);
}

}  // namespace tovalink::sale_row
