#pragma once
// What the host-format channel, the supplier requests and the SIM channels share: filling
// placeholders, keypad macros, and sending a request text by a host server's method.

#include <string>

#include "engine/module.h"
#include "sms/send_sms.h"

namespace tovalink {

// Replaces the first occurrence of `placeholder`, letters matched without regard to case.
std::string ReplaceFirstNoCase(const std::string& text, const std::string& placeholder,
                               const std::string& value);

// Fills the macro words of a keypad macro at every occurrence, letter case significant, in
// this order: "hptujuan" (destination), "nominal", "pin".
std::string FillMacroWords(std::string macro, const Sale& sale);

// Whether an empty piece of a macro (two "~" in a row) is still pressed, as an empty key
// string, or only waited for.
enum class EmptyKeyPieces { Skip, Press };

// A keypad macro: each "~" ends a piece; pieces are pressed in order with PressKeys, and each
// piece, empty or not, is followed by a 500 ms pause.
void RunMacro(Module& module, const std::string& macro, EmptyKeyPieces empty = EmptyKeyPieces::Skip);

struct MethodOutcome {
  SmsResult sms = SmsResult::Sent;  // "SMS": what SendSms said; otherwise Sent
  std::string dial_reply;           // "DIAL": the cleaned reply; otherwise ""
  std::string refused;              // why nothing was sent (MethodTextFault); "" when sent
};

// Why `text` cannot be sent by `method`, "" when it can: a text with a control character that
// would end or cut its command (and, for a dial or a keypad macro, a double quote), or an SMS
// number that is no phone number. The texts come from the outlet's tables and requests.
std::string MethodTextFault(const std::string& method, const std::string& text,
                            const std::string& sms_number);

// Sends `text` by `method` ("SMS" to `sms_number`, "DIAL", "MENUMACRO"; letter case
// significant, anything else sends nothing). A dial is logged with its cleaned reply. A text
// that MethodTextFault refuses is not sent: the first status-bar panel says why.
MethodOutcome SendByMethod(Module& module, const std::string& method, const std::string& text,
                           const std::string& sms_number);

}  // namespace tovalink
