#pragma once
// What the module's behaviour depends on in the modem type (the text of `cmodem`), decided
// once at START: the commands that prepare the modem, how dial and USSD replies end, and how
// the message store is listed. Nothing else compares the modem type's text.

#include <string>
#include <vector>

namespace tovalink {

enum class ModemFamily {
  Wavecom,    // "WAVECOM": SIM-toolkit commands, dial replies end with ",15\r\n"
  Siemens,    // "SIEMENS": keypad macros, dial commands end with ";"
  NokiaCdma,  // "NOKCDMA_6235": a CDMA phone with its own listings and no initialisation
  Other,      // any other text: prepared as a WAVECOM modem, dial replies end with "OK"
};

// How the worker lists the modem's messages.
enum class InboxListing {
  PduStores,      // "AT+CMGL=4" in PDU mode, the modem's and the SIM's store in turn
  CdmaTwoPasses,  // "AT+CMGL=0;" then "AT+CMGL=1;" in the phone's text listing
};

struct AtCommand {
  std::string text;  // sent as is, ended by "\r"
  int timeout_seconds = 2;
};

struct ModemProfile {
  ModemFamily family = ModemFamily::Other;
  // Sent once at worker start, each awaiting "OK\r\n" or "ERROR"; replies are not examined.
  std::vector<AtCommand> initialisation;
  std::string dial_suffix;     // `DialSuffix`: after every dialled code, before "\r"
  std::string dial_reply_end;  // `DialReplyEnd`: the token that ends a dial or USSD reply
  InboxListing inbox = InboxListing::PduStores;
};

// The profile of a modem type, compared exactly (letter case significant).
ModemProfile ModemProfileFor(const std::string& modem_type);

}  // namespace tovalink
