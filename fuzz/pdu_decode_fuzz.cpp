// DecodePdu on any pair of listing lines. The input is a listing fragment: the header line,
// then from the first line end on the PDU line (which begins with that line end, as ReadInbox
// hands it over).
//
// What must hold: it never throws; a failed decoding leaves every output as it was; a
// decoded text is made safe for a statement and is never longer than the PDU line could
// carry; the index is the header line's first field after its first space.

#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "sms/pdu_decode.h"

namespace tovalink::fuzz {
namespace {

DecodedPdu Sentinel() {
  DecodedPdu out;
  out.index = "index before";
  out.sender = "sender before";
  out.text = "text before";
  out.header_values = {99};
  out.header_count = 99;
  out.multipart = true;
  return out;
}

bool Same(const DecodedPdu& a, const DecodedPdu& b) {
  return a.index == b.index && a.sender == b.sender && a.text == b.text &&
         a.header_values == b.header_values && a.header_count == b.header_count &&
         a.multipart == b.multipart;
}

std::string ExpectedIndex(const std::string& header_line) {
  const size_t space = header_line.find(' ');
  if (space == std::string::npos) return "";
  std::string word = header_line.substr(space + 1);
  word = word.substr(0, word.find(' '));
  return word.substr(0, word.find(','));
}

}  // namespace
}  // namespace tovalink::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tovalink;
  using fuzz::Require;
  const std::string input(reinterpret_cast<const char*>(data), size);
  const size_t line_end = input.find('\n');
  const std::string header_line = input.substr(0, line_end);
  const std::string pdu_line = line_end == std::string::npos ? "" : input.substr(line_end);

  DecodedPdu out = fuzz::Sentinel();
  const bool decoded = DecodePdu(header_line, pdu_line, out);
  DecodedPdu again = fuzz::Sentinel();
  Require(DecodePdu(header_line, pdu_line, again) == decoded && fuzz::Same(out, again),
          "the same lines decode the same way");
  if (!decoded) {
    Require(fuzz::Same(out, fuzz::Sentinel()), "a failed decoding writes nothing", input);
    return 0;
  }
  Require(out.header_count == static_cast<int>(out.header_values.size()), "header count");
  Require(out.index == fuzz::ExpectedIndex(header_line), "index", header_line, out.index);
  Require(out.text.find_first_of("\"'\\/\r\n\x1A") == std::string::npos, "text made safe",
          out.text);
  // At most one byte per octet of user data, and the user data is at most the rest of the
  // line or the 255 septets its length can announce.
  const size_t octets = (pdu_line.size() > 510 ? pdu_line.size() : 510) / 2;
  Require(out.text.size() <= octets, "text no longer than the PDU carries", out.text);
  for (const int value : out.header_values) Require(value >= 0 && value < 128, "septet values");
  return 0;
}
