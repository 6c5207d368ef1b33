#include "engine/requests.h"

#include <vector>

#include "engine/reply_reading.h"
#include "engine/supplier.h"
#include "store/text.h"

namespace tovalink {

void CheckBalance(Module& module, Channel& channel, const std::string& provider_type) {
  Database& db = module.db;
  Rows request = db.OpenSql("SELECT ceksaldo,lokasifile FROM modulaktif WHERE namamodul=\"" +
                            db.Escape(module.name) + "\" AND ceksaldo<>0");
  if (request.Count() == 0) return;
  const int64_t code = request.Int("ceksaldo");
  const std::vector<std::string> parameters = SplitText(request.Text("lokasifile"), "~");

  Channel::HostBalance balance;
  std::string deposit_method, deposit_format, register_method, register_format;
  Rows host = db.OpenSql(
      "SELECT metodeceksaldo,formatceksaldo,metodedep,formatdep,metodereg,formatreg,smscenter "
      "FROM hostserver WHERE idserver=\"" +
      db.Escape(provider_type) + "\"");
  if (host.Count() > 0) {
    balance.method = host.Text(0);
    balance.format = host.Text(1);
    deposit_method = host.Text(2);
    deposit_format = host.Text(3);
    register_method = host.Text(4);
    register_format = host.Text(5);
    balance.sms_center = host.Text(6);
  }
  // The request runs once, whatever its outcome.
  db.ExecSql("UPDATE modulaktif set ceksaldo=0 WHERE namamodul=\"" + db.Escape(module.name) +
             "\"");

  // A placeholder whose parameter is missing stays as it was written.
  auto fill = [&](const std::string& text, size_t index, const std::string& placeholder) {
    return index < parameters.size() ? ReplaceFirstNoCase(text, placeholder, parameters[index])
                                     : text;
  };
  auto send = [&](const std::string& method, std::string text) {
    if (method == "MENUMACRO") text = ReplaceAll(text, "pin", module.form.epin);
    SendByMethod(module, method, text, balance.sms_center);
  };

  switch (code) {
    case 1:
      channel.RequestBalance(module, balance);
      return;
    case 2: {
      std::string text = fill(register_format, 0, "<idoutlet>");
      text = fill(text, 1, "<msisdn>");
      text = fill(text, 2, "<rebate>");
      text = ReplaceFirstNoCase(text, "<pin>", module.form.epin);
      send(register_method, text);
      CollectReplies(module, ReplyOptions{});
      return;
    }
    case 3: {
      std::string text = fill(deposit_format, 0, "<nominal>");
      text = ReplaceFirstNoCase(text, "<pin>", module.form.epin);
      send(deposit_method, text);
      module.form.SetMsaldo(CollectReplies(module, ReplyOptions{}).listing);
      return;
    }
    default:
      return;
  }
}

}  // namespace tovalink
