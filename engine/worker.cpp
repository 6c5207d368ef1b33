#include "engine/worker.h"

#include <charconv>
#include <cmath>

#include "engine/reply_reading.h"
#include "engine/requests.h"
#include "store/products.h"
#include "store/text.h"

namespace tovalink {

namespace {

constexpr int kSaleCounterWrap = 9999;

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

Worker::Worker(Module module, std::unique_ptr<Channel> channel)
    : module_(std::move(module)), channel_(std::move(channel)) {
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
  try {
    if (Starting()) {
      while (!Ending()) Cycle();
    }
  } catch (const std::exception& error) {
    // A failing poll, log or settlement statement must not leave a module that looks alive
    // in modulaktif but takes no more sales.
    if (!Ending()) module_.abort_module(std::string("Worker ERROR:") + error.what(), module_.port);
  }
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
    {
      std::lock_guard lock(end_mutex_);
      if (Ending()) return;
      module_.db.ExecSql("UPDATE modulaktif SET statrun=0,lokasifile=\"\" WHERE namamodul=\"" +
                         module_.db.Escape(module_.name) + "\"");
      end_requested_.store(true);
    }
    module_.app_end.EndApplication(0);
    return;
  }
  TakeSales();
  if (Ending()) return;
  module_.clock.SleepMs(200);
  module_.clock.SleepMs(1000);
  if (!InboxPhase() || Ending()) return;
  CheckBalance(module_, *channel_, form.ctipeprov);
}

void Worker::TakeSales() {
  Form& form = module_.form;
  Database& db = module_.db;
  sale_counter_ = 0;
  Rows sales = db.OpenSql("SELECT * FROM penjualanproduk WHERE modem=\"" + db.Escape(form.csumber) +
                          "\" AND flag=0");
  for (; !sales.Eof() && !Ending(); sales.Next()) {
    try {
      if (++sale_counter_ == kSaleCounterWrap) sale_counter_ = 0;
      form.SetMsaldo(std::to_string(sale_counter_));
      Sale sale;
      sale.idx = sales.Int("idx");
      sale.jumlah = sales.Int("jumlah");
      sale.idproduk = sales.Text("idproduk");
      sale.barcode = sales.Text("barcode");
      sale.tanggal = sales.Text("tanggal");
      sale.waktu = sales.Text("waktu");
      sale.pin = form.epin;
      sale.kind = channel_->KindOf(sale.idproduk);
      sale.nominal = NominalText(ProductDenom(db, sale.idproduk), sale.jumlah);
      db.ExecSql("UPDATE penjualanproduk SET flag=1 WHERE idx=" + std::to_string(sale.idx));
      channel_->RunSale(module_, sale);
    } catch (const std::exception& error) {
      if (!Ending()) {
        module_.abort_module(
            "Modem ERROR:" + std::to_string(step_number_) + "-" + error.what(), module_.port);
      }
      end_requested_.store(true);
      return;
    }
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
