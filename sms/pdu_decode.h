#pragma once
// Decoding of one received message of a PDU-mode listing (an SMS-DELIVER in hexadecimal)
// into its storage index, its sender in national form and its text, plus what the inbox
// reader needs to join the parts of a multi-part message.

#include <string>
#include <vector>

namespace tovalink {

// The outputs of DecodePdu. The caller owns them and decides what they hold before a call:
// a decoding that fails part-way leaves the outputs it has not reached as they were.
struct DecodedPdu {
  std::string index;   // the storage index exactly as the header line writes it
  std::string sender;  // national form, "62962", "M-Tronik", or what the address makes
  std::string text;    // single bytes (Windows-1252), already made safe by SqlSafe
  // The septets of a multi-part header, found by scanning the 7-bit text from its end, in
  // the order found (last septet first); empty for a UCS2 message.
  std::vector<int> header_values;
  int header_count = 0;
  // Set by the 7-bit path when the user data begins with the octets 05 00; a UCS2 message
  // leaves it as it was.
  bool multipart = false;
};

// Decodes the pair of listing lines `header_line` (the "+CMGL:" or "+CMT" line) and
// `pdu_line` (one leading character, usually the LF left by cutting the listing at CR,
// followed by the PDU in hexadecimal). Never throws. Outputs are written in this order:
// header values, header count and multi-part flag; then index and sender; then text. A
// failure stops there and leaves the rest untouched. Returns true when every output was
// written. Pure: keeps no state between calls.
bool DecodePdu(const std::string& header_line, const std::string& pdu_line, DecodedPdu& out);

}  // namespace tovalink
