#pragma once
// Sending one text to one number through the modem in PDU mode ("AT+CMGF=0" must be in
// force): one "AT+CMGS=" exchange and one PDU exchange per part.

#include <string>

#include "modem/exchange.h"

namespace tovalink {

enum class SmsResult {
  Sent,     // the modem confirmed the last part, or the text was empty (nothing to send)
  Failed,   // an unusable number (nothing sent), an error reply or no answer to the last part
  Stopped,  // the module is stopping: the exchange sent nothing, so nothing can be told
};

// Sends `text` to `number` through `exchange`, on the worker thread. Spaces are removed from
// the number and "+62" becomes "0"; a number with any other character than a digit sends
// nothing and fails. Each CR LF of the text is sent as one CR. The last part counts as
// confirmed with "+CMGS" or "OK" and no "ERROR" in its reply.
SmsResult SendSms(Exchange& exchange, const std::string& number, const std::string& text);

// The reference of the next concatenated message: 1 to 79, from one generator seeded once
// per process, and never the same as the reference drawn just before it, so that the parts
// of two long messages sent close together are never joined by the phone. Thread-safe.
int NextConcatenationReference();

}  // namespace tovalink
