#include "sms/pdu_encode.h"

#include <array>
#include <utility>

#include "sms/gsm_hex.h"
#include "store/text.h"

namespace tovalink {
namespace {

// Position = septet value. The default alphabet in Windows-1252; characters a single-byte text
// cannot hold stand as 0x95, so that "•" is sent as the Greek capital delta. Positions 6 and 31
// hold "ú" and "Ê" (sent as "ù" and "É").
constexpr std::array<unsigned char, 128> kEncodeTable = {
    0x40, 0xA3, 0x24, 0xA5, 0xE8, 0xE9, 0xFA, 0xEC,  // @ £ $ ¥ è é ú ì
    0xF2, 0xC7, 0x0A, 0xD8, 0xF8, 0x0D, 0xC5, 0xE5,  // ò Ç LF Ø ø CR Å å
    0x95, 0x5F, 0x95, 0x95, 0x95, 0x95, 0x95, 0x95,  // • _ • • • • • •
    0x95, 0x95, 0x95, 0x95, 0xC6, 0xE6, 0xDF, 0xCA,  // • • • • Æ æ ß Ê
    0x20, 0x21, 0x22, 0x23, 0xA4, 0x25, 0x26, 0x27,  //   ! " # ¤ % & '
    0x28, 0x29, 0x2A, 0x2B, 0x2C, 0x2D, 0x2E, 0x2F,  // ( ) * + , - . /
    0x30, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37,  // 0 - 7
    0x38, 0x39, 0x3A, 0x3B, 0x3C, 0x3D, 0x3E, 0x3F,  // 8 9 : ; < = > ?
    0xA1, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47,  // ¡ A - G
    0x48, 0x49, 0x4A, 0x4B, 0x4C, 0x4D, 0x4E, 0x4F,  // H - O
    0x50, 0x51, 0x52, 0x53, 0x54, 0x55, 0x56, 0x57,  // P - W
    0x58, 0x59, 0x5A, 0xC4, 0xD6, 0xD1, 0xDC, 0xA7,  // X Y Z Ä Ö Ñ Ü §
    0xBF, 0x61, 0x62, 0x63, 0x64, 0x65, 0x66, 0x67,  // ¿ a - g
    0x68, 0x69, 0x6A, 0x6B, 0x6C, 0x6D, 0x6E, 0x6F,  // h - o
    0x70, 0x71, 0x72, 0x73, 0x74, 0x75, 0x76, 0x77,  // p - w
    0x78, 0x79, 0x7A, 0xE4, 0xF6, 0xF1, 0xFC, 0xE0,  // x y z ä ö ñ ü à
};

constexpr char kEscape = '\x1B';

// Characters of the extension table and the code that follows the escape.
const std::array<std::pair<char, char>, 9> kEscapeSequences = {{
    {'^', '\x14'},
    {'{', '('},
    {'}', ')'},
    {'\\', '/'},
    {'[', '<'},
    {'~', '='},
    {']', '>'},
    {'|', '@'},
    {'\x80', 'e'},  // the euro sign
}};

constexpr size_t kSinglePartLimit = 160;
constexpr size_t kPartLength = 152;

// The destination as semi-octets: digit pairs swapped, "F" completing an odd count.
std::string SemiOctets(const std::string& digits) {
  std::string result;
  for (size_t at = 0; at < digits.size(); at += 2) {
    result += at + 1 < digits.size() ? digits[at + 1] : 'F';
    result += digits[at];
  }
  return result;
}

std::string BuildPdu(const std::string& destination, const std::string& piece,
                     const std::string& header) {
  const std::vector<int> septets = TextToSeptets(piece);
  const int user_data_length = static_cast<int>(septets.size()) + (header.empty() ? 0 : 8);
  std::string pdu = "00";
  pdu += header.empty() ? "31" : "71";
  pdu += "00";
  pdu += HexOctet(static_cast<int>(destination.size()));
  pdu += "81";
  pdu += SemiOctets(destination);
  pdu += "00";  // protocol identifier
  pdu += "00";  // 7-bit default alphabet
  pdu += "AA";  // four days
  pdu += HexOctet(user_data_length);
  pdu += header;
  pdu += PackSeptets(septets);
  return pdu;
}

}  // namespace

std::vector<int> TextToSeptets(const std::string& text) {
  std::string escaped = text;
  for (const auto& [character, code] : kEscapeSequences) {
    escaped = ReplaceAll(escaped, std::string(1, character), std::string{kEscape, code});
  }
  std::vector<int> septets;
  char previous = '\0';
  for (const char c : escaped) {
    if (c == kEscape || previous == kEscape) {
      septets.push_back(static_cast<unsigned char>(c));
    } else {
      for (size_t position = 0; position < kEncodeTable.size(); ++position) {
        if (kEncodeTable[position] == static_cast<unsigned char>(c)) {
          septets.push_back(static_cast<int>(position));
          break;
        }
      }
    }
    previous = c;
  }
  return septets;
}

std::string PackSeptets(const std::vector<int>& septets) {
  std::string result;
  unsigned int bits = 0;  // pending bits, least significant first
  int pending = 0;
  for (const int septet : septets) {
    // A septet holds 7 bits; a raw byte that followed an escape keeps only those.
    bits |= (static_cast<unsigned int>(septet) & 0x7F) << pending;
    pending += 7;
    while (pending >= 8) {
      result += HexOctet(static_cast<int>(bits & 0xFF));
      bits >>= 8;
      pending -= 8;
    }
  }
  if (pending > 0) result += HexOctet(static_cast<int>(bits & 0xFF));
  return result;
}

std::vector<std::string> EncodePdu(const std::string& destination, const std::string& text,
                                   int reference) {
  std::string number = Trim(destination);
  if (!number.empty() && number[0] == '+') number.erase(0, 1);

  std::vector<std::string> pdus;
  if (text.empty()) return pdus;
  if (text.size() <= kSinglePartLimit) {
    pdus.push_back(BuildPdu(number, text, ""));
    return pdus;
  }
  const size_t parts = (text.size() + kPartLength - 1) / kPartLength;
  for (size_t part = 1; part <= parts; ++part) {
    const std::string header = "06080400" + HexOctet(reference) +
                               HexOctet(static_cast<int>(parts)) +
                               HexOctet(static_cast<int>(part));
    pdus.push_back(BuildPdu(number, text.substr((part - 1) * kPartLength, kPartLength), header));
  }
  return pdus;
}

}  // namespace tovalink
