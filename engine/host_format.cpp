// The host-format channel: a module whose provider type names a row of `hostserver`, which
// says as data how a sale reaches that supplier (an SMS to its number, a dial code or a
// keypad macro) and how its balance is asked for.
#include <memory>
#include <string>

#include "engine/channel.h"
#include "engine/reply_reading.h"
#include "engine/supplier.h"
#include "store/products.h"
#include "store/text.h"

namespace tovalink {

namespace {

std::string HostProductCode(Database& db, const std::string& host_id,
                            const std::string& product_id) {
  Rows rows = db.OpenSql("SELECT idprodukhost FROM hostproduk WHERE idproduk=\"" +
                         db.Escape(product_id) + "\" AND idserver=\"" + db.Escape(host_id) + "\"");
  return rows.Count() > 0 ? rows.Text(0) : std::string();
}

class HostFormatChannel : public Channel {
 public:
  explicit HostFormatChannel(std::string host_id) : host_id_(std::move(host_id)) {}

  SaleKind KindOf(const std::string&) const override { return SaleKind::HostServer(); }
  void RunSale(Module& module, SaleInHand& in_hand) override;

 private:
  std::string host_id_;
};

void HostFormatChannel::RunSale(Module& module, SaleInHand& in_hand) {
  const Sale& sale = in_hand.sale();
  Database& db = module.db;
  in_hand.Begin(sale_row::Spacing::OneSpace);

  std::string method, format, sms_center, balance_method, balance_format;
  Rows host = db.OpenSql(
      "SELECT metodetrx,formattrx,smscenter,metodeceksaldo,formatceksaldo FROM hostserver WHERE "
      "idserver=\"" +
      db.Escape(host_id_) + "\"");
  if (host.Count() > 0) {
    method = host.Text(0);
    format = host.Text(1);
    sms_center = host.Text(2);
    balance_method = host.Text(3);
    balance_format = host.Text(4);
  }
  Settlement result = Settlement::NotSettled;
  const std::string code = HostProductCode(db, host_id_, sale.idproduk);
  std::string request = ReplaceFirstNoCase(format, "<hptujuan>", sale.barcode);
  request = ReplaceFirstNoCase(request, "<kode>", code);
  request = ReplaceFirstNoCase(request, "<pin>", sale.pin);
  if (!code.empty() && code[0] == '~') {
    // The product's code carries a whole request format of its own.
    request = Trim(code.substr(1));
    request = ReplaceFirstNoCase(request, "<jumlah>", std::to_string(sale.jumlah));
    request = ReplaceFirstNoCase(request, "<tujuan>", sale.barcode);
    request = ReplaceFirstNoCase(request, "<pin>", sale.pin);
  }

  // A sale macro is the product's, not the host's format.
  const std::string sent = method == "MENUMACRO"
                               ? FillMacroWords(ProductMacro(db, sale.idproduk), sale)
                               : request;
  if (const std::string fault = MethodTextFault(method, sent, sms_center); !fault.empty()) {
    in_hand.Refuse(fault);
    return;
  }
  const bool sends = method == "SMS" || method == "DIAL" || method == "MENUMACRO";
  if (sends && !in_hand.Cross()) return;
  if (method == "SMS") {
    // A module that is stopping sends nothing; that is not the supplier refusing the sale.
    if (SendByMethod(module, method, sent, sms_center).sms == SmsResult::Failed) {
      LogExchange(module, sms_center, "FAILED SENT");
    }
  } else if (method == "DIAL") {
    const std::string reply = SendByMethod(module, method, sent, sms_center).dial_reply;
    result = in_hand.Settle(reply);
  } else if (method == "MENUMACRO") {
    RunMacro(module, sent);
  }

  ReplyOptions replies;
  replies.in_hand = &in_hand;
  const ReplyReading reading = CollectReplies(module, replies);
  KeepFirst(result, reading.result);
  if (result == Settlement::NotSettled) in_hand.Pending(reading.last_text);

  std::string balance_text;
  if (result != Settlement::Succeeded) {
    std::string text = balance_format;
    if (balance_method == "SMS") text = ReplaceFirstNoCase(text, "<pin>", sale.pin);
    if (balance_method == "MENUMACRO") text = ReplaceAll(text, "pin", sale.pin);
    SendByMethod(module, balance_method, text, sms_center);
    balance_text = CollectReplies(module, ReplyOptions{}).last_text;
  }
  module.form.SetMsaldo(balance_text);
  if (!balance_text.empty()) module.form.Log(LogPriority::Notice, "Saldo: " + balance_text);
}

}  // namespace

std::unique_ptr<Channel> MakeHostFormatChannel(const std::string& host_id) {
  return std::make_unique<HostFormatChannel>(host_id);
}

}  // namespace tovalink
