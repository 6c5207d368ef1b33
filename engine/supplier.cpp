#include "engine/supplier.h"

#include "modem/at_text.h"
#include "store/text.h"

namespace tovalink {

std::string ReplaceFirstNoCase(const std::string& text, const std::string& placeholder,
                               const std::string& value) {
  if (placeholder.empty()) return text;
  const size_t found = UpperAscii(text).find(UpperAscii(placeholder));
  if (found == std::string::npos) return text;
  return text.substr(0, found) + value + text.substr(found + placeholder.size());
}

std::string FillMacroWords(std::string macro, const Sale& sale) {
  macro = ReplaceAll(macro, "hptujuan", sale.barcode);
  macro = ReplaceAll(macro, "nominal", sale.nominal);
  return ReplaceAll(macro, "pin", sale.pin);
}

void RunMacro(Module& module, const std::string& macro, EmptyKeyPieces empty) {
  for (const std::string& piece : SplitText(macro, "~")) {
    if (!piece.empty() || empty == EmptyKeyPieces::Press) module.exchange.PressKeys(piece);
    module.clock.SleepMs(500);
  }
}

std::string MethodTextFault(const std::string& method, const std::string& text,
                            const std::string& sms_number) {
  if (method == "SMS") {
    if (const std::string fault = DestinationFault(sms_number); !fault.empty()) {
      return "nomor SMS supplier " + QuotedForReason(sms_number) + " " + fault;
    }
    const std::string fault = CommandTextFault(text);
    return fault.empty() ? "" : "teks permintaan " + fault;
  }
  if (method == "DIAL" || method == "MENUMACRO") {
    const std::string fault = KeyStringFault(text);
    return fault.empty() ? "" : (method == "DIAL" ? "kode dial " : "macro ") + fault;
  }
  return "";
}

MethodOutcome SendByMethod(Module& module, const std::string& method, const std::string& text,
                           const std::string& sms_number) {
  MethodOutcome outcome;
  outcome.refused = MethodTextFault(method, text, sms_number);
  if (!outcome.refused.empty()) {
    module.form.SetStatusPanel(0, "Permintaan tidak dikirim: " + outcome.refused);
    return outcome;
  }
  if (method == "SMS") {
    outcome.sms = SendSms(module.exchange, sms_number, text);
  } else if (method == "DIAL") {
    const std::string command = "ATD" + text;
    std::string reply;
    module.exchange.SendAT(command + module.modem.dial_suffix + "\r", 30,
                           module.modem.dial_reply_end, "ERROR", reply);
    outcome.dial_reply = CleanReply(reply);
    LogExchange(module, command, outcome.dial_reply);
  } else if (method == "MENUMACRO") {
    RunMacro(module, text);
  }
  return outcome;
}

}  // namespace tovalink
