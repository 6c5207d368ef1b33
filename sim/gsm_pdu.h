#pragma once
// The simulator's own SMS PDU codec, written from the GSM text-message layouts (SMS-DELIVER
// and SMS-SUBMIT, the 7-bit default alphabet with its extension table, UCS2). It is kept
// apart from the module's codec on purpose: each checks the other in tests.
//
// API (all texts UTF-8, all PDUs upper-case hexadecimal with the service-centre part first):
//   EncodeDeliver(sender, text, coding, options) -> one SMS-DELIVER PDU per part; a text too
//       long for one part is cut into parts that carry the header 05 00 03 ref total seq.
//   DecodeSubmit(hex) -> the destination number, the text and the concatenation header of an
//       SMS-SUBMIT PDU as the module sends it; throws std::runtime_error when malformed.
//   TpduLength(hex) -> the octets after the service-centre part (the "length" of AT+CMGS and
//       of a +CMGL line).
//   EncodeGsm7 / DecodeGsm7 -> text <-> septet values; characters outside the alphabet
//       become "?".

#include <cstdint>
#include <string>
#include <vector>

namespace tovalink::gsmpdu {

// Eight is the 8-bit data coding: each octet one byte of the text (read as Latin-1).
enum class Coding { Gsm7, Ucs2, Eight };

struct DeliverOptions {
  // Concatenation reference for a multi-part message (0..255).
  int reference = 1;
  // Cut into parts even when the text would fit into one (the parts' limit stays the same).
  bool force_multipart = false;
  // Characters per part for a multi-part message; 0: the largest that fits (153 septets or
  // 67 UCS2 characters).
  int part_size = 0;
  // Service centre number ("" gives the SMSC length "00"), in international form.
  std::string service_centre = "6281100000";
  // Service-centre time stamp, "yymmddhhmmss" and a time zone in quarter hours.
  std::string timestamp = "260105100000";
  int timezone_quarters = 28;
};

std::vector<std::string> EncodeDeliver(const std::string& sender, const std::string& text,
                                       Coding coding, const DeliverOptions& options = {});

struct Submit {
  std::string number;   // as in the PDU, a leading "+" for international type
  int number_type = 0;  // type of address octet, 0x81 national/unknown, 0x91 international
  std::string text;     // UTF-8
  Coding coding = Coding::Gsm7;
  bool has_concatenation = false;
  int reference = 0, total = 0, sequence = 0;
  int message_reference = 0;
};

Submit DecodeSubmit(const std::string& hex);

int TpduLength(const std::string& hex);

std::vector<uint8_t> EncodeGsm7(const std::string& utf8);
std::string DecodeGsm7(const std::vector<uint8_t>& septets);

}  // namespace tovalink::gsmpdu
