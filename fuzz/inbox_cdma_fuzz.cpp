// ReadInboxCdma on any listing. What must hold: it never throws and never reads past a piece
// (AddressSanitizer watches the reads); each message comes from a "+CMGL:" piece whose index
// is a whole number; its text holds no quote, is no longer than its length field allows and
// is a piece of the listing.

#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "sms/inbox.h"
#include "store/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tovalink;
  using fuzz::Require;
  const std::string listing(reinterpret_cast<const char*>(data), size);
  const std::vector<ReceivedMessage> messages = ReadInboxCdma(listing);

  // Pieces are counted once the "\r\nOK" lines are out, as the reader counts them: taking
  // one out may bring "+" and "CMGL:" together.
  const std::string cleaned = ReplaceAll(listing, "\r\nOK", "");
  size_t pieces = 0;
  for (size_t at = cleaned.find("+CMGL:"); at != std::string::npos;
       at = cleaned.find("+CMGL:", at + 1)) {
    ++pieces;
  }
  Require(messages.size() <= pieces, "at most one message per +CMGL: piece");
  for (const ReceivedMessage& message : messages) {
    Require(message.text.find_first_of("\"'") == std::string::npos, "no quote in the text",
            message.text);
    Require(message.text.size() <= 0xFFFF && message.text.size() <= listing.size(),
            "text no longer than its length field and the listing", message.text);
    Require(message.sender.size() <= 0xFF && message.sender.size() <= listing.size(),
            "sender no longer than its length field", message.sender);
  }
  return 0;
}
