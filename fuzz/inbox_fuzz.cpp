// ReadInbox on any listing. What must hold: it never throws; every message whose header line
// and PDU line decode to a whole-number index comes back, in listing order, with the index and
// sender its own decoding gives (so that each is deleted), unless the whole listing is held
// back because its last 7-bit message begins a multi-part message; a message that is no part
// of a multi-part message keeps its own text; joining only moves texts (the total never
// grows) and every text stays safe for a statement.

#include <cstdint>
#include <string>
#include <vector>

#include "core/clock.h"
#include "fuzz/fuzz_support.h"
#include "sms/inbox.h"
#include "sms/pdu_decode.h"
#include "store/text.h"

namespace tovalink::fuzz {
namespace {

struct Listed {
  int index = 0;
  std::string sender;
  std::string text;
  int header_count = 0;
};

// The messages of the listing one by one, as each header line and its PDU line decode alone;
// `last_multipart` says whether the last decoding (a 7-bit one, or a UCS2 one after it) began
// a multi-part message.
std::vector<Listed> DecodeEach(const std::string& listing, bool& last_multipart) {
  const std::vector<std::string> lines = SplitText(listing, "\r");
  std::vector<Listed> listed;
  DecodedPdu decoded;
  last_multipart = false;
  for (size_t k = 0; k + 1 < lines.size(); ++k) {
    const bool header =
        lines[k].find("+CMT") != std::string::npos || lines[k].find("+CMGL:") != std::string::npos;
    if (!header || lines[k + 1].find('+') != std::string::npos) continue;
    decoded.index.clear();
    decoded.sender.clear();
    decoded.text.clear();
    DecodePdu(lines[k], lines[k + 1], decoded);
    last_multipart = decoded.multipart;
    Listed entry;
    if (!ReadWholeNumber(decoded.index, entry.index)) continue;
    entry.sender = decoded.sender;
    entry.text = decoded.text;
    entry.header_count = decoded.header_count;
    listed.push_back(entry);
  }
  return listed;
}

}  // namespace
}  // namespace tovalink::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tovalink;
  using fuzz::Require;
  const std::string listing(reinterpret_cast<const char*>(data), size);
  VirtualClock clock;
  const std::vector<ReceivedMessage> messages = ReadInbox(listing, clock);

  bool last_multipart = false;
  const std::vector<fuzz::Listed> listed = fuzz::DecodeEach(listing, last_multipart);
  if (messages.empty()) {
    Require(listed.empty() || last_multipart, "messages held back only behind a lone part");
    return 0;
  }
  Require(messages.size() == listed.size(), "every listed message comes back");
  size_t listed_bytes = 0;
  size_t returned_bytes = 0;
  for (size_t k = 0; k < messages.size(); ++k) {
    Require(messages[k].index == listed[k].index, "index in listing order");
    Require(messages[k].sender == listed[k].sender, "sender", messages[k].sender);
    Require(messages[k].text.find_first_of("\"'\\/\r\n\x1A") == std::string::npos, "text made safe",
            messages[k].text);
    listed_bytes += listed[k].text.size();
    returned_bytes += messages[k].text.size();
    if (listed[k].header_count < 2) {
      Require(messages[k].text == listed[k].text, "a single message keeps its text",
              messages[k].text, listed[k].text);
    }
  }
  Require(returned_bytes <= listed_bytes, "joining never makes text up");
  return 0;
}
