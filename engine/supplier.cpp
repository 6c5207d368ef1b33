#include "engine/supplier.h"

#include <stdexcept>

#include "settle/settle_reply.h"
#include "sms/inbox.h"
#include "sms/send_sms.h"
#include "store/text.h"

namespace tovalink {

std::string ReplaceFirstNoCase(const std::string& text, const std::string& placeholder,
                               const std::string& value) {
  if (placeholder.empty()) return text;
  const size_t found = UpperAscii(text).find(UpperAscii(placeholder));
  if (found == std::string::npos) return text;
  return text.substr(0, found) + value + text.substr(found + placeholder.size());
}

void RunMacro(Module& module, const std::string& macro) {
  for (const std::string& piece : SplitText(macro, "~")) {
    if (!piece.empty()) module.exchange.PressKeys(piece);
    module.clock.SleepMs(500);
  }
}

std::string SendByMethod(Module& module, const std::string& module_name, const std::string& method,
                         const std::string& text, const std::string& sms_number, bool* sms_sent) {
  if (method == "SMS") {
    const bool sent = SendSms(module.exchange, sms_number, text);
    if (sms_sent != nullptr) *sms_sent = sent;
  } else if (method == "DIAL") {
    const std::string command = "ATD" + text;
    std::string reply;
    module.exchange.SendAT(command + module.form.DialSuffix + "\r", 30, module.form.DialReplyEnd,
                           "ERROR", reply);
    reply = CleanReply(reply);
    LogExchange(module, module_name, command, reply);
    return reply;
  } else if (method == "MENUMACRO") {
    RunMacro(module, text);
  }
  return {};
}

Collected CollectReplies(Module& module, const std::string& module_name,
                         const std::string& destination) {
  int waiting = 0;
  if (!ReadWholeNumber(module.form.etunggu, waiting)) {
    throw std::runtime_error("waktutunggu \"" + module.form.etunggu + "\" is not a whole number");
  }
  Collected collected;
  std::string ignored;
  module.exchange.SendAT("AT+CMGF=0\r", waiting, "CMT", "ERROR", ignored);
  module.exchange.SendAT("AT+CMGL=4\r", 10, "OK\r\n", "ERROR", collected.listing);
  for (const ReceivedMessage& message : ReadInbox(collected.listing, module.clock)) {
    collected.last_text = message.text;
    if (message.sender.rfind("62962", 0) != 0) {
      LogExchange(module, module_name, message.sender, message.text);
      const int result = SettleReply(module.db, module.clock, message.text, destination, 1);
      if (collected.result == 2) collected.result = result;
    }
    module.exchange.SendAT("AT+CMGD=" + std::to_string(message.index) + "\r", 1, "OK\r\n",
                           "ERROR", ignored);
  }
  return collected;
}

}  // namespace tovalink
