#include <string>

#include "engine/channels.h"
#include "engine/supplier.h"
#include "settle/settle_reply.h"
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

// The macro words are replaced at every occurrence, letter case significant.
std::string FillMacroWords(std::string macro, const Sale& sale) {
  macro = ReplaceAll(macro, "hptujuan", sale.barcode);
  macro = ReplaceAll(macro, "nominal", sale.nominal);
  return ReplaceAll(macro, "pin", sale.pin);
}

}  // namespace

void RunHostFormat(Module& module, const std::string& provider_type, const Sale& sale) {
  Database& db = module.db;
  Form& form = module.form;
  const std::string module_name = form.csumber;
  const std::string idx = std::to_string(sale.idx);
  const LocalDateTime now = module.clock.Local();
  db.ExecSql("UPDATE penjualanproduk SET flag=1,tglwaktuproses='" + Clock::FormatDate(now) + " " +
             Clock::FormatTime(now) + "' WHERE idx=" + idx);

  std::string method, format, sms_center, balance_method, balance_format;
  Rows host = db.OpenSql(
      "SELECT metodetrx,formattrx,smscenter,metodeceksaldo,formatceksaldo FROM hostserver WHERE "
      "idserver=\"" +
      db.Escape(provider_type) + "\"");
  if (host.Count() > 0) {
    method = host.Text(0);
    format = host.Text(1);
    sms_center = host.Text(2);
    balance_method = host.Text(3);
    balance_format = host.Text(4);
  }
  int result = 2;
  const std::string code = HostProductCode(db, provider_type, sale.idproduk);
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

  if (method == "SMS") {
    bool sent = false;
    SendByMethod(module, module_name, method, request, sms_center, &sent);
    if (!sent) LogExchange(module, module_name, sms_center, "FAILED SENT");
  } else if (method == "DIAL") {
    const std::string reply = SendByMethod(module, module_name, method, request, sms_center);
    result = SettleReply(db, module.clock, reply, sale.barcode, 1);
  } else if (method == "MENUMACRO") {
    RunMacro(module, FillMacroWords(ProductMacro(db, sale.idproduk), sale));
  }

  const Collected replies = CollectReplies(module, module_name, sale.barcode);
  if (result == 2) result = replies.result;
  if (result == 2) {
    db.ExecSql("UPDATE penjualanproduk SET respond=\"" + db.Escape(replies.last_text) +
               "\",status=\"PENDING\" WHERE idx=" + idx);
  }

  std::string balance_text;
  if (result != 1) {
    std::string text = balance_format;
    if (balance_method == "SMS") text = ReplaceFirstNoCase(text, "<pin>", sale.pin);
    if (balance_method == "MENUMACRO") text = ReplaceAll(text, "pin", sale.pin);
    SendByMethod(module, module_name, balance_method, text, sms_center);
    balance_text = CollectReplies(module, module_name, kNoSaleInHand).last_text;
  }
  form.SetMsaldo(balance_text);
}

}  // namespace tovalink
