#include <vector>

#include "engine/channels.h"
#include "engine/supplier.h"
#include "settle/settle_reply.h"
#include "sms/send_sms.h"
#include "store/text.h"

namespace tovalink {

void CheckBalance(Module& module, const std::string& module_name, const std::string& provider_type,
                  const std::string& pin) {
  Database& db = module.db;
  Form& form = module.form;
  Rows request = db.OpenSql("SELECT ceksaldo,lokasifile FROM modulaktif WHERE namamodul=\"" +
                            db.Escape(module_name) + "\" AND ceksaldo<>0");
  if (request.Count() == 0) return;
  const int64_t code = request.Int("ceksaldo");
  const std::vector<std::string> parameters = SplitText(request.Text("lokasifile"), "~");

  std::string balance_method, balance_format, deposit_method, deposit_format, register_method,
      register_format, sms_center;
  Rows host = db.OpenSql(
      "SELECT metodeceksaldo,formatceksaldo,metodedep,formatdep,metodereg,formatreg,smscenter "
      "FROM hostserver WHERE idserver=\"" +
      db.Escape(provider_type) + "\"");
  if (host.Count() > 0) {
    balance_method = host.Text(0);
    balance_format = host.Text(1);
    deposit_method = host.Text(2);
    deposit_format = host.Text(3);
    register_method = host.Text(4);
    register_format = host.Text(5);
    sms_center = host.Text(6);
  }
  // The request runs once, whatever its outcome.
  db.ExecSql("UPDATE modulaktif set ceksaldo=0 WHERE namamodul=\"" + db.Escape(module_name) + "\"");

  auto piece = [&](size_t index, const std::string& placeholder) {
    return index < parameters.size() ? parameters[index] : placeholder;
  };
  auto send = [&](const std::string& method, std::string text) {
    if (method == "MENUMACRO") text = ReplaceAll(text, "pin", pin);
    SendByMethod(module, module_name, method, text, sms_center);
  };

  switch (code) {
    case 1:
      if (provider_type == "MKIOS") {
        std::string reply;
        module.exchange.SendAT("ATD*776*" + pin + "#" + form.DialSuffix + "\r", 20,
                               form.DialReplyEnd, "ERROR", reply);
        LogExchange(module, module_name, "*776*", CleanReply(reply));
        return;
      }
      if (provider_type == "DOMPET") {
        SendSms(module.exchange, "461", "BALANCE");
      } else {
        std::string text = balance_format;
        if (balance_method == "SMS") text = ReplaceFirstNoCase(text, "<pin>", pin);
        send(balance_method, text);
      }
      CollectReplies(module, module_name, kNoSaleInHand);
      return;
    case 2: {
      std::string text = ReplaceFirstNoCase(register_format, "<idoutlet>", piece(0, "<idoutlet>"));
      text = ReplaceFirstNoCase(text, "<msisdn>", piece(1, "<msisdn>"));
      text = ReplaceFirstNoCase(text, "<rebate>", piece(2, "<rebate>"));
      text = ReplaceFirstNoCase(text, "<pin>", pin);
      send(register_method, text);
      CollectReplies(module, module_name, kNoSaleInHand);
      return;
    }
    case 3: {
      std::string text = ReplaceFirstNoCase(deposit_format, "<nominal>", piece(0, "<nominal>"));
      text = ReplaceFirstNoCase(text, "<pin>", pin);
      send(deposit_method, text);
      form.SetMsaldo(CollectReplies(module, module_name, kNoSaleInHand).listing);
      return;
    }
    default:
      return;
  }
}

}  // namespace tovalink
