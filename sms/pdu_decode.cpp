#include "sms/pdu_decode.h"

#include <array>
#include <stdexcept>
#include <string_view>

#include "sms/gsm_hex.h"
#include "store/text.h"

namespace tovalink {
namespace {

// Septet value to Windows-1252 byte. The default alphabet, except where a single-byte text
// cannot hold the character (the Greek capitals and a few Latin letters get a look-alike)
// and for line ends, which become spaces so that a reply stays on one line.
constexpr std::array<unsigned char, 128> kDecodeTable = {
    0x40, 0xA3, 0x24, 0xA5, 0xE8, 0xE9, 0xF9, 0xEC,  // @ £ $ ¥ è é ù ì
    0xF2, 0xE7, 0x20, 0xD8, 0xF8, 0x20, 0xC5, 0xE5,  // ò ç (LF) Ø ø (CR) Å å
    0xC6, 0x5F, 0xD5, 0xCD, 0xC3, 0xD0, 0xD0, 0xD0,  // Δ _ Φ Γ Λ Ω Π Ψ
    0xD0, 0xD0, 0xD0, 0x20, 0xD0, 0xD0, 0xDF, 0xC9,  // Σ Θ Ξ (ESC) Æ æ ß É
    0x20, 0x21, 0x22, 0x23, 0xA4, 0x25, 0x26, 0x27,  //   ! " # ¤ % & '
    0x28, 0x29, 0x2A, 0x2B, 0x2C, 0x2D, 0x2E, 0x2F,  // ( ) * + , - . /
    0x30, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37,  // 0 - 7
    0x38, 0x39, 0x3A, 0x3B, 0x3C, 0x3D, 0x3E, 0x3F,  // 8 9 : ; < = > ?
    0x5F, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47,  // ¡ A - G
    0x48, 0x49, 0x4A, 0x4B, 0x4C, 0x4D, 0x4E, 0x4F,  // H - O
    0x50, 0x51, 0x52, 0x53, 0x54, 0x55, 0x56, 0x57,  // P - W
    0x58, 0x59, 0x5A, 0xC4, 0xD6, 0x4E, 0xDC, 0xA7,  // X Y Z Ä Ö Ñ Ü §
    0xA8, 0x61, 0x62, 0x63, 0x64, 0x65, 0x66, 0x67,  // ¿ a - g
    0x68, 0x69, 0x6A, 0x6B, 0x6C, 0x6D, 0x6E, 0x6F,  // h - o
    0x70, 0x71, 0x72, 0x73, 0x74, 0x75, 0x76, 0x77,  // p - w
    0x78, 0x79, 0x7A, 0xE4, 0xF6, 0x6E, 0xFC, 0x61,  // x y z ä ö ñ ü à
};

constexpr int kEscape = 27;

// The character of an escape followed by `partner` (not 0). A partner outside the extension
// table shows as its own default-alphabet character, as a phone shows it.
char EscapedCharacter(int partner) {
  switch (partner) {
    case 20: return '^';
    case 40: return '{';
    case 41: return '}';
    case 47: return '\\';
    case 60: return '[';
    case 61: return '~';
    case 62: return ']';
    case 101: return static_cast<char>(0xE8);  // è stands where the euro sign cannot be shown
    default: return static_cast<char>(kDecodeTable[static_cast<size_t>(partner & 0x7F)]);
  }
}

// The characters of `text` from the 1-based `position` on, at most `count`, clipped at its
// end (empty when it begins past the end).
std::string Field(const std::string& text, size_t position, size_t count) {
  if (position < 1 || position > text.size()) return "";
  return text.substr(position - 1, count);
}

// A length field: one or two hexadecimal digits. Anything else ends the decoding.
int LengthField(const std::string& text, size_t position) {
  const std::string field = Field(text, position, 2);
  if (field.empty()) throw std::runtime_error("PDU ends before a length field");
  int value = 0;
  for (const char c : field) {
    const int digit = HexDigitValue(c);
    if (digit < 0) throw std::runtime_error("length field is not hexadecimal");
    value = value * 16 + digit;
  }
  return value;
}

std::string RemoveFiller(const std::string& digits) {
  std::string result;
  for (const char c : digits) {
    if (c != 'F' && c != 'f') result += c;
  }
  return result;
}

// The sender from its type of address and its semi-octets (2 + b2 characters).
std::string SenderFromAddress(const std::string& field) {
  if (field.empty()) return "";
  if (field.size() < 2) throw std::runtime_error("PDU ends within the sender's type of address");
  const std::string digits = field.substr(2);
  std::string sender;
  size_t pair = 0;
  if (field[0] == '9') {
    // International: every semi-octet pair swapped back into number order.
  } else {
    // National or other: the operator's numbers are kept as "62" + the number without its
    // first digit; the first pair contributes its first character only.
    sender = "62";
    if (!digits.empty()) sender += digits[0];
    pair = 1;
  }
  for (; pair * 2 < digits.size(); ++pair) {
    const size_t at = pair * 2;
    if (at + 1 < digits.size()) sender += digits[at + 1];
    sender += digits[at];
  }
  return RemoveFiller(sender);
}

struct DecodedText {
  std::string text;
  std::vector<int> header_values;
  bool writes_multipart = false;
  bool multipart = false;
};

DecodedText DecodeUcs2(const std::string& user_data) {
  DecodedText result;
  for (size_t at = 0; at + 4 <= user_data.size(); at += 4) {
    int value = 0;
    for (size_t k = 0; k < 4; ++k) {
      const int digit = HexDigitValue(user_data[at + k]);
      if (digit < 0) {
        value = 0;
        break;
      }
      value = value * 16 + digit;
    }
    result.text += static_cast<char>(value & 0xFF);
  }
  return result;
}

DecodedText DecodeSeptets(const std::string& user_data) {
  DecodedText result;
  result.writes_multipart = true;
  result.multipart = user_data.size() > 5 && user_data.compare(0, 2, "05") == 0 &&
                     user_data.compare(2, 2, "00") == 0;

  const size_t n = user_data.size() / 2;
  std::vector<unsigned char> octets(n);
  for (size_t j = 0; j < n; ++j) {
    const int high = HexDigitValue(user_data[2 * j]);
    const int low = HexDigitValue(user_data[2 * j + 1]);
    octets[j] = (high < 0 || low < 0) ? 0 : static_cast<unsigned char>(high * 16 + low);
  }
  // As many septets as octets: the user data was filled up to UDL octets, which holds the
  // UDL septets; the bits beyond them are ignored. Septet i is the 7 bits from bit 7 * i of
  // the octet stream, least significant first; they never reach past the last octet.
  std::vector<int> septets(n);
  for (size_t i = 0; i < n; ++i) {
    const size_t first_bit = 7 * i;
    const size_t at = first_bit / 8;
    const unsigned shift = first_bit % 8;
    unsigned bits = octets[at] >> shift;
    if (at + 1 < n) bits |= static_cast<unsigned>(octets[at + 1]) << (8 - shift);
    septets[i] = static_cast<int>(bits & 0x7F);
  }

  // Every septet stands for one character, except the partner of an escape, which stands for
  // none ('\0' below: no character of the table is NUL). Escapes are resolved from the end.
  std::string characters(n, '\0');
  for (size_t back = n; back-- > 0;) {
    const int septet = septets[back];
    if (septet == kEscape) {
      if (back + 1 < n && septets[back + 1] != 0) {
        characters[back + 1] = '\0';
        characters[back] = EscapedCharacter(septets[back + 1]);
      } else {
        characters[back] = ' ';  // an escape with nothing to extend shows as a space
      }
    } else {
      characters[back] = static_cast<char>(kDecodeTable[static_cast<size_t>(septet)]);
    }
  }

  // Walking from the end, the first septet below 5 of a multi-part message is taken for the
  // end of its header (the header's sequence septet); it and everything before it are header.
  size_t text_begin = 0;
  if (result.multipart) {
    for (size_t back = n; back-- > 0;) {
      if (septets[back] < 5) {
        text_begin = back + 1;
        for (size_t header = back + 1; header-- > 0;) {
          result.header_values.push_back(septets[header]);
        }
        break;
      }
    }
  }
  result.text.reserve(n - text_begin);
  for (size_t i = text_begin; i < n; ++i) {
    if (characters[i] != '\0') result.text += characters[i];
  }
  return result;
}

}  // namespace

bool DecodePdu(const std::string& header_line, const std::string& pdu_line, DecodedPdu& out) {
  try {
    const std::vector<std::string> words = SplitText(header_line, " ");
    std::string index;
    if (words.size() >= 2) {
      const std::vector<std::string> fields = SplitText(words[1], ",");
      if (!fields.empty()) index = fields[0];
    }

    // The PDU without the leading character; positions below are 1-based in it.
    const std::string pdu = pdu_line.empty() ? std::string() : pdu_line.substr(1);
    const size_t a = static_cast<size_t>(LengthField(pdu, 1));
    const size_t b = static_cast<size_t>(LengthField(pdu, 2 * a + 5));
    const size_t b2 = (b % 2 == 0) ? b : b + 1;
    const std::string address = Field(pdu, 2 * a + 7, 2 + b2);
    const std::string coding = Field(pdu, 2 * a + b2 + 11, 2);
    const size_t udl = static_cast<size_t>(LengthField(pdu, 2 * a + b2 + 27));
    std::string user_data = Field(pdu, 2 * a + b2 + 29, std::string::npos);
    if (user_data.size() < 2 * udl) user_data.append(2 * udl - user_data.size(), '0');

    std::string sender = SenderFromAddress(address);

    const DecodedText decoded = coding == "08" ? DecodeUcs2(user_data) : DecodeSeptets(user_data);
    out.header_values = decoded.header_values;
    out.header_count = static_cast<int>(decoded.header_values.size());
    if (decoded.writes_multipart) out.multipart = decoded.multipart;

    // The alphanumeric address of the operator's M-TRONIK service, as the rule above reads it.
    if (sender == "62C6155E677A7D") sender = "M-Tronik";
    out.index = index;
    if (sender.compare(0, 5, "62962") == 0 || sender == "629") {
      sender = "62962";
    } else if (sender.compare(0, 2, "62") == 0) {
      sender = "0" + sender.substr(2);
    }
    out.sender = sender;

    out.text = SqlSafe(decoded.text);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace tovalink
