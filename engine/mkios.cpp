#include "engine/mkios.h"

#include <charconv>

#include "settle/reply_text.h"
#include "settle/success_rule.h"
#include "store/text.h"

namespace tovalink {

namespace {

// A whole number after any leading blanks, with nothing after its digits; kMissingCount for
// anything else (the initial "-" of a box, an empty box, a count cut by a thousands point).
int WholeNumber(const std::string& text) {
  size_t at = 0;
  while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) ++at;
  int value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data() + at, end, value);
  if (error != std::errc() || stop != end) return kMissingCount;
  return value;
}

}  // namespace

std::string NthField(const std::string& text, int n) {
  std::string field;
  int separators = 0;
  for (const char c : text) {
    if (c == ',' || c == '.') {
      if (++separators > n) break;
    } else if (separators == n) {
      field += c;
    }
  }
  return field;
}

bool ParseStock(Form& form, const std::string& reply, std::set<std::string>* named) {
  if (reply.find("Stok") == std::string::npos && reply.find("Stock") == std::string::npos) {
    return false;
  }
  std::string text = reply;
  const size_t simpati = UpperAscii(text).find("SIMPATI");
  if (simpati != std::string::npos) text.erase(simpati, 7);
  static const char* const kNames[] = {"V5", "V10", "V15", "V20", "V25", "V50", "V100"};
  for (int n = 0; n <= 12; ++n) {
    const std::string field = Trim(NthField(text, n));
    const size_t anda = field.find("Anda");
    const size_t start = anda == std::string::npos ? 0 : anda + 4;
    const size_t equals = field.find('=');
    if (equals == std::string::npos || equals <= start) continue;
    const std::string name = Trim(field.substr(start, equals - start));
    for (const char* known : kNames) {
      if (name != known) continue;
      const std::string box = "S" + name.substr(1);
      form.SetStock(box, DigitsOnly(field.substr(equals + 1)));
      if (named != nullptr) named->insert(box);
    }
  }
  return true;
}

int StockFromReply(const std::string& reply) {
  size_t at = reply.find("k=");
  if (at == std::string::npos) at = reply.find("K=");
  if (at == std::string::npos) return kMissingCount;
  at += 2;
  const size_t point = reply.find('.', at);
  if (point == std::string::npos) return kMissingCount;
  return WholeNumber(reply.substr(at, point - at));
}

namespace {

// Stock requests before the module gives up on a reading, at start and in a sale alike: the
// operator's busy answers pass within a few requests, and with up to 20 s for an answer and a
// pause after each, eight requests bound a reading to about three minutes.
constexpr int kStockRequests = 8;

std::string StockCommand(const Module& module) {
  return "ATD*776*" + module.form.epin + "#" + module.modem.dial_suffix + "\r";
}

struct StockReading {
  bool read = false;
  std::string reply;             // the last reply, as received; "" when no request was sent
  std::set<std::string> named;   // the boxes the stock reply named
};

// Asks for the stock until the operator answers with a stock reply (which ParseStock puts into
// the boxes), at most kStockRequests times, pausing `pause_ms` after each request. A module
// that is stopping asks no more. The first status-bar panel counts the requests meanwhile.
StockReading ReadStock(Module& module, int64_t pause_ms) {
  StockReading stock;
  for (int request = 1; request <= kStockRequests && !stock.read; ++request) {
    if (module.Ending() || module.exchange.Stopped()) break;
    module.form.SetStatusPanel(
        0, "Cek Stok " + std::to_string(request) + "/" + std::to_string(kStockRequests));
    std::string reply;
    module.exchange.SendAT(StockCommand(module), 20, module.modem.dial_reply_end, "ERROR", reply);
    stock.reply = reply;
    stock.named.clear();
    stock.read = ParseStock(module.form, reply, &stock.named);
    module.clock.SleepMs(pause_ms);
  }
  module.form.SetStatusPanel(0, "");
  return stock;
}

// The dial code of a sale, without the modem's dial suffix. Kinds are compared exactly: a
// lower-case "sid" dials as any other kind.
std::string SaleCommand(const Sale& sale) {
  std::string code = "ATD*777*";
  if (sale.kind.text() == "SID") code += sale.nominal == "5" || sale.nominal == "10" ? "3*" : "4*";
  return code + sale.barcode + "*" + sale.nominal + "*" + sale.pin + "#";
}

// The stock box that keeps the count of a sale's vouchers; "" when none does. A 20 is counted
// in "S20" only for kind "S".
std::string StockBoxOf(const Sale& sale) {
  for (const char* denomination : {"5", "10", "15", "25", "50", "100"}) {
    if (sale.nominal == denomination) return "S" + sale.nominal;
  }
  if (sale.nominal == "20" && sale.kind.text() == "S") return "S20";
  return {};
}

int BoxCount(const Form& form, const std::string& box) {
  return box.empty() ? kMissingCount : WholeNumber(form.Stock(box));
}

class MkiosChannel : public Channel {
 public:
  SaleKind KindOf(const std::string& product_id) const override {
    return SaleKind::ProductPrefixOf(product_id);
  }

  void RunSale(Module& module, SaleInHand& in_hand) override;

  // The stock is read once before the first sale, so that an undecided sale can be judged by
  // it. A CDMA phone dials no stock code.
  bool AtWorkerStart(Module& module) override {
    if (module.modem.family == ModemFamily::NokiaCdma) return true;
    const StockReading stock = ReadStock(module, 1000);
    if (module.Ending()) return false;
    // A STOP before the stock was read is no fault of the stock: the cycle's stop branch ends
    // the worker.
    if (!stock.read && module.exchange.Stopped()) return true;
    LogExchange(module, "*776*", SqlSafe(stock.reply));
    if (!stock.read) {
      module.abort_module("Error Cek Stok !", module.port);
      return false;
    }
    return true;
  }

  // The balance of an MKIOS module is its voucher stock: the reply is logged, not read into
  // the boxes, and no message is collected.
  void RequestBalance(Module& module, const HostBalance&) override {
    std::string reply;
    module.exchange.SendAT(StockCommand(module), 20, module.modem.dial_reply_end, "ERROR", reply);
    LogExchange(module, "*776*", CleanReply(reply));
  }
};

void MkiosChannel::RunSale(Module& module, SaleInHand& in_hand) {
  const Sale& sale = in_hand.sale();
  Form& form = module.form;
  const SuccessWording wording = SuccessRule(module.db, sale.idproduk);
  form.SetMethodBox("ALL_SIMPATI");
  in_hand.Begin(sale_row::Spacing::OneSpace);

  // The operator's answer to the dial is the sale's reply: no SMS is awaited.
  const std::string command = SaleCommand(sale);
  if (!in_hand.Cross()) return;
  std::string received;
  module.exchange.SendAT(command + module.modem.dial_suffix + "\r", 30, module.modem.dial_reply_end,
                         "ERROR", received);
  if (module.Ending()) return;
  const std::string reply = CleanReply(received);
  LogExchange(module, command, reply);
  const std::string serial = TakeBetween(reply, wording.awalsn, wording.akhirsn);
  const std::string box = StockBoxOf(sale);

  std::string balance_text;
  if (!wording.pesansuksesgagal.empty() &&
      reply.find(wording.pesansuksesgagal) != std::string::npos) {
    const int count = StockFromReply(reply);
    if (count != kMissingCount && !box.empty()) form.SetStock(box, std::to_string(count));
    in_hand.DialSucceeded(reply, serial);
  } else {
    // The answer decides nothing: the stock of the sale's vouchers, before and after, does.
    in_hand.Respond(reply);
    const int before = BoxCount(form, box);
    const StockReading stock = ReadStock(module, 2000);
    if (module.Ending()) return;
    balance_text = CleanReply(stock.reply);
    // A box the stock reply did not name still shows the count before: the stock after is
    // unknown, not unchanged.
    const int after = stock.named.count(box) > 0 ? BoxCount(form, box) : kMissingCount;
    // A sale is judged only on two counts that were read; otherwise it stays open for the
    // operator (and for a later SMS) with what the module saw.
    std::string note;
    if (!stock.read) {
      note = "STOK TIDAK TERBACA: " + balance_text;
    } else if (before == kMissingCount || after == kMissingCount) {
      note = "STOK " + (box.empty() ? sale.nominal : box) + " TIDAK DIKETAHUI: " + balance_text;
    }
    if (!note.empty()) {
      in_hand.Pending(note + " | " + reply);
    } else {
      in_hand.StockJudged(after == before ? sale_row::StockVerdict::NotSold
                                          : sale_row::StockVerdict::Sold);
    }
  }
  form.SetMsaldo(balance_text);
  if (!balance_text.empty()) form.Log(LogPriority::Notice, "Saldo: " + balance_text);
}

}  // namespace

std::unique_ptr<Channel> MakeMkiosChannel() { return std::make_unique<MkiosChannel>(); }

}  // namespace tovalink
