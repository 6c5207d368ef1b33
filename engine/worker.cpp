#include "engine/worker.h"

#include <cmath>
#include <cstdio>

#include "engine/channels.h"
#include "engine/stock.h"
#include "settle/settle_reply.h"
#include "store/products.h"
#include "store/text.h"

namespace tovalink {

namespace {

// "Modem ERROR:" carries the step number, so a failure of a sale can be told apart from one
// of the inbox phase.
constexpr int kSaleCounterWrap = 9999;

bool Answered(const std::string& reply) {
  return reply.find("ERROR") == std::string::npos && !Trim(reply).empty();
}

// A whole denomination is written without separators or fraction.
std::string NominalText(double denomination, int64_t jumlah) {
  if (denomination == 0) return std::to_string(jumlah);
  if (std::floor(denomination) == denomination && std::fabs(denomination) < 1e15) {
    return std::to_string(static_cast<int64_t>(denomination));
  }
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%g", denomination);
  return buffer;
}

}  // namespace

std::string ProductPrefix(const std::string& product_id) {
  const std::string trimmed = Trim(product_id);
  const size_t digit = trimmed.find_first_of("0123456789");
  return digit == std::string::npos ? trimmed : trimmed.substr(0, digit);
}

bool ChannelAvailable(const std::string& provider_type) {
  // The SIM-toolkit, wallet and voucher-stock channels are not built into this program yet;
  // every other provider type is a host server.
  return provider_type != "DOMPET" && provider_type != "MKIOS" && provider_type != "MTRONIK";
}

Worker::Worker(Module module) : module_(std::move(module)) {}

Worker::~Worker() {
  RequestEnd();
  Join();
}

void Worker::Start() { thread_ = std::thread([this] { Run(); }); }

void Worker::RequestEnd() {
  // Once this returns, the stop branch has either written its row already or never will, so
  // STOP's own row ("-") is the last word.
  std::lock_guard lock(end_mutex_);
  end_requested_.store(true);
}

void Worker::Join() {
  if (thread_.joinable()) thread_.join();
}

void Worker::Run() {
  Form& form = module_.form;
  module_name_ = form.csumber;
  port_text_ = form.cport;
  try {
    if (Starting()) {
      while (!Ending()) Cycle();
    }
  } catch (const std::exception& error) {
    // A failing poll, log or settlement statement must not leave a module that looks alive
    // in modulaktif but takes no more sales.
    if (!Ending()) module_.abort_module(std::string("Worker ERROR:") + error.what(), form.cport);
  }
}

bool Worker::Starting() {
  Form& form = module_.form;
  Exchange& exchange = module_.exchange;
  form.AddMsaldoLine("port=" + port_text_);
  std::string reply;
  exchange.SendAT("ATE0\r", 2, "OK\r\n", "ERROR", reply);
  form.AddMsaldoLine("hasil=" + reply + port_text_);
  if (form.StopRequested) return true;  // the cycle's stop branch ends the worker
  if (!Answered(reply)) {
    reply.clear();
    exchange.SendAT("ATE0\r", 2, "OK\r\n", "ERROR", reply);
    form.AddMsaldoLine("ulanghasilat=" + reply);
    if (!Answered(reply)) {
      form.StopRequested = true;
      module_.clock.SleepMs(300);
      module_.abort_module("Modem ERROR COM" + port_text_, port_text_);
      return false;
    }
  }
  if (Ending()) return false;

  struct Command {
    const char* text;
    int timeout;
  };
  static const Command kSiemens[] = {{"AT+CMGF=0\r", 2},
                                     {"AT+CNMI = 1,1,0,2\r", 2},
                                     {"AT+CMEC=2\r", 2},
                                     {"AT+CSMS=0\r", 2}};
  static const Command kWavecom[] = {{"AT+CMGF=0\r", 2},
                                     {"AT+STSF=2,\"5FFFFFFF7F\"\r", 2},
                                     {"AT+STSF=1\r", 5},
                                     {"AT+CNMI=0,1,0,0,0\r", 2},
                                     {"AT+CUSD=1\r", 5}};
  auto run = [&](const auto& commands) {
    for (const Command& command : commands) {
      std::string ignored;
      exchange.SendAT(command.text, command.timeout, "OK\r\n", "ERROR", ignored);
    }
  };
  if (form.cmodem == "SIEMENS") {
    run(kSiemens);
  } else if (form.cmodem != "NOKCDMA_6235") {
    run(kWavecom);
  }
  if (Ending()) return false;
  if (form.cmodem != "NOKCDMA_6235" && form.ProviderType == "MKIOS") return ReadStockAtStart();
  return true;
}

bool Worker::ReadStockAtStart() {
  Form& form = module_.form;
  std::string reply;
  bool read = false;
  for (int attempt = 0; attempt < 8 && !read && !Ending(); ++attempt) {
    module_.exchange.SendAT("ATD*776*" + form.epin + "#" + form.DialSuffix + "\r", 20,
                            form.DialReplyEnd, "ERROR", reply);
    read = ParseStock(form, reply);
    module_.clock.SleepMs(1000);
  }
  if (Ending()) return false;
  LogExchange(module_, module_name_, "*776*", SqlSafe(reply));
  if (!read) {
    module_.abort_module("Error Cek Stok !", form.cport);
    return false;
  }
  return true;
}

void Worker::Cycle() {
  Form& form = module_.form;
  if (form.StopRequested) {
    {
      std::lock_guard lock(end_mutex_);
      if (Ending()) return;
      module_.db.ExecSql("UPDATE modulaktif SET statrun=0,lokasifile=\"\" WHERE namamodul=\"" +
                         module_.db.Escape(module_name_) + "\"");
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
  CheckBalance(module_, module_name_, form.ctipeprov, form.epin);
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
      const std::string provider_type = form.ctipeprov;
      sale.nominal = NominalText(ProductDenom(db, sale.idproduk), sale.jumlah);
      db.ExecSql("UPDATE penjualanproduk SET flag=1 WHERE idx=" + std::to_string(sale.idx));
      if (ChannelAvailable(provider_type)) {
        sale.kind = "S";
        RunHostFormat(module_, provider_type, sale);
      } else {
        // START refuses such a module; reaching this means the type changed under us.
        throw std::runtime_error("provider " + provider_type + " is not built in");
      }
    } catch (const std::exception& error) {
      if (!Ending()) {
        module_.abort_module("Modem ERROR:" + std::to_string(step_number_) + "-" + error.what(),
                             form.cport);
      }
      end_requested_.store(true);
      return;
    }
  }
}

bool Worker::InboxPhase() {
  Form& form = module_.form;
  Exchange& exchange = module_.exchange;
  if (form.cmodem == "NOKCDMA_6235") {
    std::string listing;
    exchange.SendAT("AT+CMGL=0;\r", 50, "OK\r\n", "ERROR", listing);
    SettleListed(ReadInboxCdma(listing), true);
    if (Ending()) return false;
    listing.clear();
    exchange.SendAT("AT+CMGL=1;\r", 50, "OK\r\n", "ERROR", listing);
    SettleListed(ReadInboxCdma(listing), false);
    return !Ending();
  }
  const std::string store = form.UseSimStore ? "\"SM\"" : "\"ME\"";
  form.UseSimStore = !form.UseSimStore;
  std::string ignored;
  exchange.SendAT("AT+CPMS=" + store + "\r", 2, "OK\r\n", "ERROR", ignored);
  std::string listing;
  exchange.SendAT("AT+CMGL=4\r", 10, "OK\r\n", "ERROR", listing);
  // After STOP nothing is sent, so an empty listing says nothing about the modem.
  if (form.StopRequested) return false;
  if (Trim(listing).empty()) {
    listing.clear();
    exchange.SendAT("AT+CMGL=4\r", 10, "OK\r\n", "ERROR", listing);
    if (Trim(listing).empty()) {
      if (!Ending()) module_.abort_module("Modem BLANK COM" + form.cport, form.cport);
      form.StopRequested = true;
      end_requested_.store(true);
      return false;
    }
  }
  step_number_ = 1;
  form.SetMsaldo(listing);
  const std::vector<ReceivedMessage> messages = ReadInbox(listing, module_.clock);
  ++step_number_;
  SettleListed(messages, true);
  return !Ending();
}

void Worker::SettleListed(const std::vector<ReceivedMessage>& messages, bool first_pass) {
  Form& form = module_.form;
  for (const ReceivedMessage& message : messages) {
    if (Ending()) return;
    const bool operator_notice = message.sender.rfind("62962", 0) == 0;
    const bool skipped =
        operator_notice || (first_pass && message.text.find("aaaaaaaaa") != std::string::npos);
    if (!skipped) {
      const std::string text = SqlSafe(message.text);
      LogExchange(module_, module_name_, message.sender, text);
      if (first_pass) form.SetMsaldo("BEF PARSING");
      SettleReply(module_.db, module_.clock, text, kNoSaleInHand, 0);
      if (first_pass) form.SetMsaldo("AF PARSING");
    }
    if (first_pass) ++step_number_;
    std::string ignored;
    module_.exchange.SendAT("AT+CMGD=" + std::to_string(message.index) + "\r", 10, "OK\r\n",
                            "ERROR", ignored);
  }
}

}  // namespace tovalink
