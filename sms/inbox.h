#pragma once
// Reading the modem's message listings into received messages, with the joining of the parts
// of a multi-part message, and the diagnostic file that records failures of the joining.

#include <string>
#include <string_view>
#include <vector>

#include "core/clock.h"

namespace tovalink {

// One message of a listing, in listing order.
struct ReceivedMessage {
  int index = 0;       // the storage index in the modem (for "AT+CMGD=")
  std::string sender;  // as DecodePdu gives it, or the CDMA listing's sender field
  // Single bytes; from ReadInbox already made safe by SqlSafe, from ReadInboxCdma without
  // quotes. Empty for a part that was joined into an earlier part of its message: it keeps
  // its index so that deleting every returned index empties the store of the whole message.
  std::string text;
};

// True for a sender that is the operator's own notice service (its number begins with
// "62962"): such messages are not replies to a sale. They are deleted like every other
// message but neither logged nor settled, and never joined as parts of a long message.
bool IsOperatorNotice(std::string_view sender);

// The diagnostic file, in the current directory.
inline constexpr const char* kDiagnosticFile = "debugall.txt";

// Reads the reply to "AT+CMGL=4\r" (PDU mode). Lines that cannot be read are left out
// silently. When the last 7-bit message of the listing begins a multi-part message whose
// other parts are not there yet, nothing is returned, so the parts wait in the store for the
// next reading. A failure of the joining ends the joining and is recorded in debugall.txt
// with the time of `clock`; the result then holds what was built so far. Never throws.
std::vector<ReceivedMessage> ReadInbox(const std::string& listing, Clock& clock);

// Reads the reply of a CDMA phone to "AT+CMGL=0;\r" or "AT+CMGL=1;\r".
std::vector<ReceivedMessage> ReadInboxCdma(const std::string& listing);

// The decimal text of `number` with "0" in front up to `width` characters.
std::string ZeroPad(int number, int width);

// True, with the value, when `text` is a whole number: leading spaces, an optional sign and
// decimal digits that fit an int.
bool ReadWholeNumber(const std::string& text, int& value);

}  // namespace tovalink
