#include "engine/dompet.h"

#include <stdexcept>

#include "engine/reply_reading.h"
#include "sms/send_sms.h"

namespace tovalink {

namespace {

class DompetChannel : public Channel {
 public:
  SaleKind KindOf(const std::string&) const override { return SaleKind::Wallet(); }

  void RunSale(Module&, const Sale&) override {
    // The table of channels keeps DOMPET modules from starting until the wallet sale is here.
    throw std::logic_error("the DOMPET sale is not built into this program");
  }

  // The wallet's balance is asked of the operator's balance service by SMS.
  void RequestBalance(Module& module, const HostBalance&) override {
    SendSms(module.exchange, "461", "BALANCE");
    CollectReplies(module, ReplyOptions{});
  }
};

}  // namespace

std::unique_ptr<Channel> MakeDompetChannel() { return std::make_unique<DompetChannel>(); }

}  // namespace tovalink
