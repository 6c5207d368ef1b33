#include "engine/worker.h"

#include <pthread.h>

#include <charconv>
#include <cmath>

#include "engine/reply_reading.h"
#include "engine/requests.h"
#include "modem/at_text.h"
#include "store/products.h"
#include "store/sale_row.h"
#include "store/text.h"

namespace tovalink {

namespace {

constexpr int kSaleCounterWrap = 9999;
// How long a statement waiting for the database sleeps between looks (the reconnection's own
// pauses are longer; this only bounds how late a STOP is noticed).
constexpr int64_t kDatabasePauseMs = 500;

bool Answered(const std::string& reply) {
  return reply.find("ERROR") == std::string::npos && !Trim(reply).empty();
}

}  // namespace

std::string NominalText(double denomination, int64_t jumlah) {
  if (denomination == 0) return std::to_string(jumlah);
  if (std::floor(denomination) == denomination && std::fabs(denomination) < 1e15) {
    return std::to_string(static_cast<int64_t>(denomination));
  }
  char buffer[400];
  const auto written =
      std::to_chars(buffer, buffer + sizeof buffer, denomination, std::chars_format::fixed);
  return std::string(buffer, written.ptr);
}

Worker::Worker(Module module, std::unique_ptr<Channel> channel, SaleJournal& journal)
    : module_(std::move(module)), channel_(std::move(channel)), journal_(journal) {
  module_.end_requested = &end_requested_;
}

Worker::~Worker() {
  RequestEnd();
  Join();
}

void Worker::Start() { thread_ = std::thread([this] { Run(); }); }

void Worker::RequestEnd() {
  std::lock_guard lock(end_mutex_);
  end_requested_.store(true);
}

void Worker::Join() {
  if (thread_.joinable()) thread_.join();
}

void Worker::Run() {
  pthread_setname_np(pthread_self(), "worker");  // as top -H and the benchmark show it
  // Every statement of the engine waits for a lost connection to come back.
  ConnectionWait wait(module_.db, [this] { return PauseForDatabase(); });
  try {
    RecoverOpenSales(module_, journal_);
    if (Ending()) return;
    if (Starting()) {
      while (!Ending()) Cycle();
    }
  } catch (const std::exception& error) {
    if (Ending()) return;
    // A statement that stopped waiting for the database because STOP came ends the module as
    // STOP would have.
    if (dynamic_cast<const ConnectionLost*>(&error) != nullptr && module_.form.StopRequested) {
      EndOnStop();
      return;
    }
    // A failing poll, log or settlement statement must not leave a module that looks alive
    // in modulaktif but takes no more sales.
    module_.abort_module(std::string("Worker ERROR:") + error.what(), module_.port);
  }
}

bool Worker::PauseForDatabase() {
  if (Ending() || module_.form.StopRequested) return false;
  module_.clock.SleepMs(kDatabasePauseMs);
  return !Ending() && !module_.form.StopRequested;
}

void Worker::EndOnStop() {
  {
    std::lock_guard lock(end_mutex_);
    if (Ending()) return;
    try {
      module_.db.ExecSql("UPDATE modulaktif SET statrun=0,lokasifile=\"\" WHERE namamodul=\"" +
                         module_.db.Escape(module_.name) + "\"");
    } catch (const ConnectionLost& error) {
      // The server is away: the row keeps statrun 1 and a heartbeat that no longer advances.
      // The module ends all the same, and says so.
      module_.form.SetStatusPanel(0, std::string(kRowNotWritten) + error.what());
    }
    end_requested_.store(true);
  }
  module_.app_end.EndApplication(0);
}

void Worker::CloseSaleInHand(const std::string& why) {
  std::shared_ptr<SaleInHand> sale;
  {
    std::lock_guard lock(sale_mutex_);
    sale = sale_in_hand_;
  }
  if (sale) sale->CutOff(why);
}

bool Worker::Starting() {
  Form& form = module_.form;
  Exchange& exchange = module_.exchange;
  form.AddMsaldoLine("port=" + module_.port);
  std::string reply;
  exchange.SendAT("ATE0\r", 2, "OK\r\n", "ERROR", reply);
  form.AddMsaldoLine("hasil=" + reply + module_.port);
  if (form.StopRequested) return true;  // the cycle's stop branch ends the worker
  if (!Answered(reply)) {
    reply.clear();
    exchange.SendAT("ATE0\r", 2, "OK\r\n", "ERROR", reply);
    form.AddMsaldoLine("ulanghasilat=" + reply);
    if (!Answered(reply)) {
      form.StopRequested = true;
      module_.clock.SleepMs(300);
      module_.abort_module("Modem ERROR COM" + module_.port, module_.port);
      return false;
    }
  }
  if (Ending()) return false;
  for (const AtCommand& command : module_.modem.initialisation) {
    std::string ignored;
    exchange.SendAT(command.text, command.timeout_seconds, "OK\r\n", "ERROR", ignored);
  }
  if (Ending()) return false;
  return channel_->AtWorkerStart(module_) && !Ending();
}

void Worker::Cycle() {
  Form& form = module_.form;
  if (form.StopRequested) {
    EndOnStop();
    return;
  }
  TakeSales();
  if (Ending()) return;
  // The cycle's waits of 200 ms and then 1000 ms, slept as one: nothing happens between them,
  // and an idle module wakes once less per cycle.
  module_.clock.SleepMs(200 + 1000);
  if (!InboxPhase() || Ending()) return;
  CheckBalance(module_, *channel_, form.ctipeprov);
}

void Worker::TakeSales() {
  Form& form = module_.form;
  Database& db = module_.db;
  sale_counter_ = 0;
  Rows sales = db.OpenSql("SELECT * FROM penjualanproduk WHERE modem=\"" + db.Escape(form.csumber) +
                          "\" AND flag=0");
  // STOP is honoured between two sales: a sale taken after it would find the modem silent.
  for (; !sales.Eof() && !Ending() && !form.StopRequested; sales.Next()) {
    try {
      HandleSale(sales);
    } catch (const std::exception& error) {
      // A statement that stopped waiting for the database because the module is ending.
      const bool given_up = dynamic_cast<const ConnectionLost*>(&error) != nullptr &&
                            (Ending() || form.StopRequested);
      std::shared_ptr<SaleInHand> sale;
      {
        std::lock_guard lock(sale_mutex_);
        sale = sale_in_hand_;
      }
      if (!given_up && !Ending()) {
        // AbortModule gives the sale in hand its outcome (CloseSaleInHand) before it ends the
        // program.
        module_.abort_module(
            "Modem ERROR:" + std::to_string(step_number_) + "-" + error.what(), module_.port);
      }
      if (sale && !given_up) {
        try {
          sale->CutOff("modul berhenti karena error");
        } catch (const std::exception&) {
          // The server is away: the journal gives the sale its outcome at the next start.
        }
      }
      {
        std::lock_guard lock(sale_mutex_);
        sale_in_hand_.reset();
      }
      if (!given_up) end_requested_.store(true);
      return;
    }
    std::lock_guard lock(sale_mutex_);
    sale_in_hand_.reset();
  }
}

namespace {

// Why the values of a sale row cannot be used, "" when they can: the sale is then ended
// "GAGAL" with it and nothing is sent. A value the cashier software left NULL or wrote badly
// must end its own sale, not the module (which its service would only restart into the same
// row).
std::string SaleFault(const Rows& sales, Database& db, Sale& sale) {
  if (sales.IsNull("jumlah")) return "jumlah kosong";
  try {
    sale.jumlah = sales.Int("jumlah");
  } catch (const ConversionError&) {
    return "jumlah " + QuotedForReason(sales.Text("jumlah")) + " bukan angka";
  }
  if (Trim(sale.idproduk).empty()) return "produk kosong";
  if (const std::string fault = DestinationFault(sale.barcode); !fault.empty()) {
    return "nomor tujuan " + (sale.barcode.empty() ? "" : QuotedForReason(sale.barcode) + " ") +
           fault;
  }
  double denomination = 0;
  try {
    denomination = ProductDenom(db, sale.idproduk);
  } catch (const ConversionError&) {
    return "denom produk " + QuotedForReason(sale.idproduk) + " bukan angka";
  }
  sale.nominal = NominalText(denomination, sale.jumlah);
  return "";
}

}  // namespace

void Worker::HandleSale(const Rows& sales) {
  Form& form = module_.form;
  Database& db = module_.db;
  if (++sale_counter_ == kSaleCounterWrap) sale_counter_ = 0;
  form.SetMsaldo(std::to_string(sale_counter_));
  Sale sale;
  sale.idx = sales.Int("idx");
  sale.idproduk = sales.Text("idproduk");
  sale.barcode = sales.Text("barcode");
  sale.tanggal = sales.Text("tanggal");
  sale.waktu = sales.Text("waktu");
  sale.pin = form.epin;
  sale.kind = channel_->KindOf(sale.idproduk);
  const std::string fault = SaleFault(sales, db, sale);

  auto in_hand = std::make_shared<SaleInHand>(module_, journal_, sale);
  {
    // In hand from before its take, so that STOP meets it whatever the take's moment.
    std::lock_guard lock(sale_mutex_);
    sale_in_hand_ = in_hand;
  }
  if (!in_hand->Take([&] { return TakeSale(sale.idx); })) return;
  if (!fault.empty()) {
    in_hand->Refuse(fault);
    return;
  }
  channel_->RunSale(module_, *in_hand);
  if (in_hand->HasOutcome()) return;
  // The channel was cut off (STOP, a fatal error) or returned without an outcome; STOP and
  // AbortModule close the sale themselves, and this makes sure of it.
  const char* why = !Ending()               ? "transaksi berakhir tanpa hasil"
                    : form.StopRequested ? kStoppedWhy
                                            : "modul berhenti karena error";
  try {
    in_hand->CutOff(why);
  } catch (const ConnectionLost&) {
    // The server is away while the module ends: the journal gives the sale its outcome at the
    // next start.
    if (!Ending()) throw;
  }
}

SaleInHand::TakeAnswer Worker::TakeSale(int64_t idx) {
  Database& db = module_.db;
  const std::string where = " WHERE idx=" + std::to_string(idx);
  for (;;) {
    try {
      const uint64_t changed = db.ExecSql(sale_row::Take(idx), IfConnectionLost::Raise);
      return changed == 1 ? SaleInHand::TakeAnswer::Taken : SaleInHand::TakeAnswer::NotTaken;
    } catch (const ConnectionLost& lost) {
      if (!db.WaitForConnection()) throw;
      if (lost.fate() == ConnectionLost::Fate::NotSent) continue;
    }
    // The take may have been applied just before the connection dropped, or not at all.
    Rows row = db.OpenSql("SELECT flag FROM penjualanproduk" + where);
    if (row.Count() == 0) return SaleInHand::TakeAnswer::NotTaken;
    if (row.Text("flag") == "0") continue;  // not applied, and nobody else has it: take it now
    // Taken, by this program or by another one of the same name.
    return SaleInHand::TakeAnswer::AnswerLost;
  }
}

bool Worker::InboxPhase() {
  Form& form = module_.form;
  Exchange& exchange = module_.exchange;
  // The first pass of every listing: the inbox pass settles any of today's open sales (no
  // sale in hand, so the count 0 never makes one "in hand") and leaves fillers unread.
  ReplyOptions first_pass;
  first_pass.expected_count = 0;
  first_pass.cleaning = TextCleaning::SqlSafe;
  first_pass.filler = FillerMessages::Skip;
  first_pass.parsing = ParsingDisplay::Shown;
  first_pass.delete_timeout_seconds = 10;

  if (module_.modem.inbox == InboxListing::CdmaTwoPasses) {
    std::string listing;
    exchange.SendAT("AT+CMGL=0;\r", 50, "OK\r\n", "ERROR", listing);
    step_number_ += static_cast<int>(ReadReplies(module_, ReadInboxCdma(listing), first_pass).messages);
    if (Ending()) return false;
    ReplyOptions second_pass = first_pass;
    second_pass.filler = FillerMessages::Read;
    second_pass.parsing = ParsingDisplay::Hidden;
    listing.clear();
    exchange.SendAT("AT+CMGL=1;\r", 50, "OK\r\n", "ERROR", listing);
    ReadReplies(module_, ReadInboxCdma(listing), second_pass);
    return !Ending();
  }
  const std::string store = form.UseSimStore ? "\"SM\"" : "\"ME\"";
  form.UseSimStore = !form.UseSimStore;
  std::string ignored;
  exchange.SendAT("AT+CPMS=" + store + "\r", 2, "OK\r\n", "ERROR", ignored);
  std::string listing = ListMessages(module_);
  // After STOP nothing is sent, so an empty listing says nothing about the modem.
  if (form.StopRequested) return false;
  if (Trim(listing).empty()) {
    listing = ListMessages(module_);
    if (Trim(listing).empty()) {
      if (!Ending()) module_.abort_module("Modem BLANK COM" + module_.port, module_.port);
      form.StopRequested = true;
      end_requested_.store(true);
      return false;
    }
  }
  step_number_ = 1;
  form.SetMsaldo(listing);
  const std::vector<ReceivedMessage> messages = ReadInbox(listing, module_.clock);
  ++step_number_;
  step_number_ += static_cast<int>(ReadReplies(module_, messages, first_pass).messages);
  return !Ending();
}

}  // namespace tovalink
