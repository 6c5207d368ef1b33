#include "engine/mkios.h"

#include <stdexcept>

#include "settle/reply_text.h"
#include "store/text.h"

namespace tovalink {

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

bool ParseStock(Form& form, const std::string& reply) {
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
      if (name == known) form.SetStock("S" + name.substr(1), DigitsOnly(field.substr(equals + 1)));
    }
  }
  return true;
}

namespace {

class MkiosChannel : public Channel {
 public:
  SaleKind KindOf(const std::string& product_id) const override {
    return SaleKind::ProductPrefixOf(product_id);
  }

  void RunSale(Module&, const Sale&) override {
    // The table of channels keeps MKIOS modules from starting until the voucher sale is here.
    throw std::logic_error("the MKIOS sale is not built into this program");
  }

  // The stock is read once before the first sale, so that an undecided sale can be judged by
  // it. A CDMA phone dials no stock code.
  bool AtWorkerStart(Module& module) override {
    if (module.modem.family == ModemFamily::NokiaCdma) return true;
    Form& form = module.form;
    std::string reply;
    bool read = false;
    for (int attempt = 0; attempt < kStockAttempts && !read && !module.Ending(); ++attempt) {
      module.exchange.SendAT(StockCommand(module), 20, module.modem.dial_reply_end, "ERROR",
                             reply);
      read = ParseStock(form, reply);
      module.clock.SleepMs(1000);
    }
    if (module.Ending()) return false;
    LogExchange(module, "*776*", SqlSafe(reply));
    if (!read) {
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

 private:
  static constexpr int kStockAttempts = 8;

  static std::string StockCommand(Module& module) {
    return "ATD*776*" + module.form.epin + "#" + module.modem.dial_suffix + "\r";
  }
};

}  // namespace

std::unique_ptr<Channel> MakeMkiosChannel() { return std::make_unique<MkiosChannel>(); }

}  // namespace tovalink
