#include "engine/sale_in_hand.h"

#include <exception>

namespace tovalink {

namespace {

std::string SaleName(int64_t idx) { return "Transaksi " + std::to_string(idx); }

}  // namespace

std::string NeverSentNote(std::string_view why) {
  return "TIDAK TERKIRIM: " + std::string(why) + " sebelum transaksi dikirim ke operator";
}

std::string WithOperatorNote(std::string_view why, std::string_view sent_at) {
  return "CEK DULU: " + std::string(why) + " saat transaksi di operator (dikirim " +
         std::string(sent_at) + ")";
}

SaleInHand::SaleInHand(Module& module, SaleJournal& journal, Sale sale)
    : module_(module), journal_(journal), sale_(std::move(sale)) {}

std::string SaleInHand::Now() const {
  const LocalDateTime now = module_.clock.Local();
  return Clock::FormatDate(now) + " " + Clock::FormatTime(now);
}

bool SaleInHand::Take(const std::function<TakeAnswer()>& take) {
  std::lock_guard lock(mutex_);
  // A module that ended before the take takes nothing.
  if (stage_ != Stage::Untaken) return false;
  journal_.Taking(sale_.idx, Now());
  stage_ = Stage::Taking;
  const TakeAnswer answer = take();
  switch (answer) {
    case TakeAnswer::Taken:
      stage_ = Stage::InHand;
      module_.form.Log(LogPriority::Notice, SaleName(sale_.idx) + " diambil: " + sale_.idproduk +
                                                " ke " + sale_.barcode);
      return true;
    case TakeAnswer::NotTaken:
      stage_ = Stage::Ended;
      RecordEnd("NOTTAKEN");
      return false;
    case TakeAnswer::AnswerLost:
      // Nobody can say whether this program took it: it is not sent from here.
      module_.db.ExecSql(sale_row::TakeLost(sale_.idx));
      stage_ = Stage::Ended;
      RecordEnd("PENDING");
      module_.form.Log(LogPriority::Warning,
                       SaleName(sale_.idx) + " PENDING: " + sale_row::kTakeLostNote);
      return false;
  }
  return false;
}

void SaleInHand::Begin(sale_row::Spacing spacing) {
  module_.db.ExecSql(sale_row::Begin(sale_.idx, module_.clock.Local(), spacing));
}

bool SaleInHand::Cross() {
  std::lock_guard lock(mutex_);
  if (stage_ != Stage::InHand || module_.Ending() || module_.exchange.Stopped()) return false;
  if (crossed_) return true;
  const std::string now = Now();
  journal_.Sending(sale_.idx, now);
  crossed_ = true;
  crossed_at_ = now;
  return true;
}

bool SaleInHand::Crossed() const {
  std::lock_guard lock(mutex_);
  return crossed_;
}

bool SaleInHand::HasOutcome() const {
  std::lock_guard lock(mutex_);
  return stage_ == Stage::Ended;
}

void SaleInHand::RecordEnd(std::string_view word) {
  try {
    journal_.Ended(sale_.idx, word);
  } catch (const std::exception& error) {
    // The row has its outcome; the next start finds the sale open in the journal and leaves
    // the row as it is (its outcomes only change a row without a status).
    module_.form.SetStatusPanel(0, error.what());
    module_.form.Log(LogPriority::Error, error.what());
  }
}

bool SaleInHand::End(const std::string& statement, std::string_view word,
                     const std::string& notice, bool from_channel) {
  Stage before;
  {
    std::lock_guard lock(mutex_);
    if (stage_ != Stage::InHand && stage_ != Stage::Taking) return false;
    // A module that is ending writes nothing more of its own accord; the cut-off is the one
    // outcome left to write.
    if (from_channel && module_.Ending()) return false;
    before = stage_;
    stage_ = Stage::Closing;
  }
  try {
    module_.db.ExecSql(statement);
  } catch (...) {
    std::lock_guard lock(mutex_);
    stage_ = before;
    throw;
  }
  std::lock_guard lock(mutex_);
  stage_ = Stage::Ended;
  RecordEnd(word);
  module_.form.Log(LogPriority::Notice, SaleName(sale_.idx) + " " + notice);
  return true;
}

bool SaleInHand::Pending(std::string_view respond) {
  return End(sale_row::Pending(module_.db, sale_.idx, respond), "PENDING",
             "PENDING: " + std::string(respond), true);
}

bool SaleInHand::MenuMissing(std::string_view menu_name) {
  return End(sale_row::MenuMissing(module_.db, sale_.idx, menu_name), "MENU",
             "tidak dijual: MENU " + std::string(menu_name) + " tidak ADA", true);
}

bool SaleInHand::DenomRefused() {
  return End(sale_row::DenomRefused(module_.db, sale_.idx, sale_.nominal), "DENOM",
             "tidak dijual: DENOM " + sale_.nominal + " TIDAK DAPAT MELAKUKAN XLTUNAI", true);
}

bool SaleInHand::DialSucceeded(std::string_view reply, std::string_view sn) {
  return End(sale_row::DialSucceeded(module_.db, sale_.idx, reply, sn), "SUKSES",
             "SUKSES SN " + std::string(sn), true);
}

bool SaleInHand::StockJudged(sale_row::StockVerdict verdict) {
  const bool sold = verdict == sale_row::StockVerdict::Sold;
  return End(sale_row::StockJudged(sale_.idx, verdict), sold ? "SUKSES" : "GAGAL",
             sold ? "SUKSES (stok berkurang)" : "GAGAL (stok tetap)", true);
}

bool SaleInHand::Refuse(std::string_view reason) {
  const std::string respond = "DITOLAK: " + std::string(reason);
  return End(sale_row::Refused(module_.db, sale_.idx, respond), "GAGAL", "GAGAL: " + respond,
             true);
}

void SaleInHand::Respond(std::string_view respond) {
  {
    std::lock_guard lock(mutex_);
    if (stage_ != Stage::InHand || module_.Ending()) return;
  }
  module_.db.ExecSql(sale_row::Respond(module_.db, sale_.idx, respond));
}

Settlement SaleInHand::Settle(const std::string& reply) {
  const SettleDecision decision =
      DecideReply(module_.db, module_.clock, reply, sale_.barcode, 1);
  if (!decision.update.empty()) {
    module_.db.ExecSql(decision.update);
    if (decision.idx == sale_.idx) {
      SettledBy(decision);
    } else {
      module_.form.Log(LogPriority::Notice, SaleName(decision.idx) + " " + decision.tipepesan +
                                                (decision.sn.empty() ? "" : " SN " + decision.sn));
    }
  }
  return decision.result;
}

void SaleInHand::SettledBy(const SettleDecision& decision) {
  std::lock_guard lock(mutex_);
  stage_ = Stage::Ended;
  RecordEnd(decision.tipepesan);
  module_.form.Log(LogPriority::Notice, SaleName(sale_.idx) + " " + decision.tipepesan +
                                            (decision.sn.empty() ? "" : " SN " + decision.sn));
}

void SaleInHand::CutOff(std::string_view why) {
  Stage before;
  bool crossed;
  std::string crossed_at;
  {
    std::lock_guard lock(mutex_);
    if (stage_ == Stage::Untaken) {
      // Not taken yet: it never will be.
      stage_ = Stage::Ended;
      return;
    }
    if (stage_ != Stage::InHand && stage_ != Stage::Taking) return;
    before = stage_;
    crossed = crossed_;
    crossed_at = crossed_at_;
    stage_ = Stage::Closing;
  }
  Database& db = module_.db;
  const std::string note = crossed ? WithOperatorNote(why, crossed_at) : NeverSentNote(why);
  try {
    db.ExecSql(crossed ? sale_row::LeftWithOperator(db, sale_.idx, note)
                       : sale_row::NeverSent(db, sale_.idx, note));
  } catch (const std::exception& error) {
    {
      std::lock_guard lock(mutex_);
      stage_ = before;
    }
    // The sale stays taken without a status until the next start gives it one from the
    // journal; the operator must know which sale that is.
    const std::string text =
        SaleName(sale_.idx) + " tanpa status: " + error.what() + " (diselesaikan saat START)";
    module_.form.SetStatusPanel(0, text);
    module_.form.Log(LogPriority::Error, text);
    throw;
  }
  std::lock_guard lock(mutex_);
  stage_ = Stage::Ended;
  RecordEnd(crossed ? "PENDING" : "GAGAL");
  module_.form.Log(LogPriority::Notice,
                   SaleName(sale_.idx) + (crossed ? " PENDING: " : " GAGAL: ") + note);
}

int RecoverOpenSales(Module& module, SaleJournal& journal) {
  Database& db = module.db;
  int given = 0;
  int gagal = 0;
  int pending = 0;
  if (journal.SkippedRecords() > 0) {
    module.form.Log(LogPriority::Warning,
                    "Jurnal transaksi " + journal.Path() + ": " +
                        std::to_string(journal.SkippedRecords()) +
                        " catatan rusak dilewati (catatan terakhir terpotong saat listrik mati?)");
  }
  for (const SaleJournal::OpenSale& sale : journal.OpenSales()) {
    const bool crossed = sale.sent_at.has_value();
    const std::string why = "modul mati";
    const std::string note = crossed ? WithOperatorNote(why, *sale.sent_at) : NeverSentNote(why);
    const uint64_t changed =
        db.ExecSql(crossed ? sale_row::LeftWithOperator(db, sale.idx, note)
                           : sale_row::NeverSent(db, sale.idx, note));
    journal.Ended(sale.idx, changed > 0 ? (crossed ? "PENDING" : "GAGAL") : "UNCHANGED");
    if (changed == 0) {
      // Its outcome reached the row before the module ended, or the take never did.
      module.form.Log(LogPriority::Notice, SaleName(sale.idx) +
                                               " dari jurnal: baris sudah punya status, dibiarkan");
      continue;
    }
    ++given;
    ++(crossed ? pending : gagal);
    module.form.Log(LogPriority::Warning,
                    SaleName(sale.idx) + (crossed ? " PENDING: " : " GAGAL: ") + note);
  }
  if (given > 0) {
    module.form.SetStatusPanel(0, "Dari jurnal: " + std::to_string(gagal) + " GAGAL (tidak terkirim), " +
                                      std::to_string(pending) + " PENDING (cek dulu)");
  }
  return given;
}

}  // namespace tovalink
