#include "sim/gsm_pdu.h"

#include <algorithm>
#include <cstddef>
#include <stdexcept>

namespace tovalink::gsmpdu {

namespace {

// The default alphabet, septet value -> character (UTF-8). 0x1B is the escape to the
// extension table.
// clang-format off
const char* const kDefault[128] = {
    "@",  "\xC2\xA3", "$",  "\xC2\xA5", "\xC3\xA8", "\xC3\xA9", "\xC3\xB9", "\xC3\xAC",
    "\xC3\xB2", "\xC3\x87", "\n", "\xC3\x98", "\xC3\xB8", "\r", "\xC3\x85", "\xC3\xA5",
    "\xCE\x94", "_", "\xCE\xA6", "\xCE\x93", "\xCE\x9B", "\xCE\xA9", "\xCE\xA0", "\xCE\xA8",
    "\xCE\xA3", "\xCE\x98", "\xCE\x9E", "", "\xC3\x86", "\xC3\xA6", "\xC3\x9F", "\xC3\x89",
    " ", "!", "\"", "#", "\xC2\xA4", "%", "&", "'", "(", ")", "*", "+", ",", "-", ".", "/",
    "0", "1", "2", "3", "4", "5", "6", "7", "8", "9", ":", ";", "<", "=", ">", "?",
    "\xC2\xA1", "A", "B", "C", "D", "E", "F", "G", "H", "I", "J", "K", "L", "M", "N", "O",
    "P", "Q", "R", "S", "T", "U", "V", "W", "X", "Y", "Z", "\xC3\x84", "\xC3\x96", "\xC3\x91",
    "\xC3\x9C", "\xC2\xA7",
    "\xC2\xBF", "a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k", "l", "m", "n", "o",
    "p", "q", "r", "s", "t", "u", "v", "w", "x", "y", "z", "\xC3\xA4", "\xC3\xB6", "\xC3\xB1",
    "\xC3\xBC", "\xC3\xA0",
};
// clang-format on

struct Extension {
  uint8_t septet;
  const char* character;
};
const Extension kExtension[] = {
    {0x0A, "\f"}, {0x14, "^"}, {0x28, "{"}, {0x29, "}"}, {0x2F, "\\"},
    {0x3C, "["},  {0x3D, "~"}, {0x3E, "]"}, {0x40, "|"}, {0x65, "\xE2\x82\xAC"},
};

constexpr uint8_t kEscape = 0x1B;

// UTF-8 -> code points; a broken sequence gives U+FFFD for its first byte.
std::vector<char32_t> CodePoints(const std::string& utf8) {
  std::vector<char32_t> out;
  for (size_t i = 0; i < utf8.size();) {
    const auto byte = static_cast<unsigned char>(utf8[i]);
    const int extra = byte < 0x80           ? 0
                      : (byte >> 5) == 0x6  ? 1
                      : (byte >> 4) == 0xE  ? 2
                      : (byte >> 3) == 0x1E ? 3
                                            : -1;
    if (extra < 0 || i + static_cast<size_t>(extra) >= utf8.size()) {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    char32_t code = extra == 0 ? byte : byte & (0x3F >> extra);
    bool broken = false;
    for (int k = 1; k <= extra; ++k) {
      const auto next = static_cast<unsigned char>(utf8[i + static_cast<size_t>(k)]);
      if ((next & 0xC0) != 0x80) broken = true;
      code = (code << 6) | (next & 0x3F);
    }
    if (broken) {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    out.push_back(code);
    i += static_cast<size_t>(extra) + 1;
  }
  return out;
}

void AppendUtf8(std::string& out, char32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

std::string Utf8Of(char32_t code) {
  std::string out;
  AppendUtf8(out, code);
  return out;
}

const char kHex[] = "0123456789ABCDEF";

std::string Hex(const std::vector<uint8_t>& octets) {
  std::string out;
  for (uint8_t octet : octets) {
    out += kHex[octet >> 4];
    out += kHex[octet & 0xF];
  }
  return out;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  throw std::runtime_error(std::string("not a hexadecimal digit: ") + c);
}

std::vector<uint8_t> Octets(const std::string& hex) {
  if (hex.size() % 2 != 0) throw std::runtime_error("odd number of hexadecimal digits");
  std::vector<uint8_t> out;
  for (size_t i = 0; i < hex.size(); i += 2) {
    out.push_back(static_cast<uint8_t>(HexDigit(hex[i]) * 16 + HexDigit(hex[i + 1])));
  }
  return out;
}

// Semi-octets, low nibble first, "F" filling an odd count.
void AppendSwappedDigits(std::vector<uint8_t>& out, const std::string& digits) {
  for (size_t i = 0; i < digits.size(); i += 2) {
    const int low = digits[i] - '0';
    const int high = i + 1 < digits.size() ? digits[i + 1] - '0' : 0xF;
    out.push_back(static_cast<uint8_t>(high << 4 | low));
  }
}

// Packs 7-bit values behind `skip_bits` bits that the caller has already filled.
void PackSeptets(std::vector<uint8_t>& out, size_t start_octet, int fill_bits,
                 const std::vector<uint8_t>& septets) {
  size_t bit = start_octet * 8 + static_cast<size_t>(fill_bits);
  for (uint8_t septet : septets) {
    for (int k = 0; k < 7; ++k, ++bit) {
      if (bit / 8 >= out.size()) out.push_back(0);
      if ((septet >> k) & 1) out[bit / 8] = static_cast<uint8_t>(out[bit / 8] | (1 << (bit % 8)));
    }
  }
}

std::vector<uint8_t> UnpackSeptets(const std::vector<uint8_t>& octets, size_t start_bit,
                                   size_t count) {
  std::vector<uint8_t> out;
  for (size_t n = 0; n < count; ++n) {
    uint8_t septet = 0;
    for (int k = 0; k < 7; ++k) {
      const size_t bit = start_bit + n * 7 + static_cast<size_t>(k);
      if (bit / 8 >= octets.size()) throw std::runtime_error("user data shorter than its length");
      if ((octets[bit / 8] >> (bit % 8)) & 1) septet = static_cast<uint8_t>(septet | (1 << k));
    }
    out.push_back(septet);
  }
  return out;
}

std::vector<uint16_t> Utf16(const std::string& utf8) {
  std::vector<uint16_t> out;
  for (char32_t code : CodePoints(utf8)) {
    if (code >= 0x10000) {
      code -= 0x10000;
      out.push_back(static_cast<uint16_t>(0xD800 | (code >> 10)));
      out.push_back(static_cast<uint16_t>(0xDC00 | (code & 0x3FF)));
    } else {
      out.push_back(static_cast<uint16_t>(code));
    }
  }
  return out;
}

std::string FromUtf16(const std::vector<uint16_t>& units) {
  std::string out;
  for (size_t i = 0; i < units.size(); ++i) {
    char32_t code = units[i];
    if (code >= 0xD800 && code < 0xDC00 && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
        units[i + 1] < 0xE000) {
      code = 0x10000 + ((code - 0xD800) << 10) + (units[i + 1] - 0xDC00);
      ++i;
    }
    AppendUtf8(out, code);
  }
  return out;
}

// Where the septets of a 7-bit user data with a header of `header_octets` (its length octet
// included) begin, and how many septets the header takes.
int FillBits(size_t header_octets) { return static_cast<int>((7 - header_octets * 8 % 7) % 7); }
size_t HeaderSeptets(size_t header_octets) { return (header_octets * 8 + 6) / 7; }

// The parts of a text: septet groups (7-bit) or UTF-16 groups (UCS2), not cutting an escape
// pair or a surrogate pair.
template <typename Unit, typename Starts>
std::vector<std::vector<Unit>> Cut(const std::vector<Unit>& units, size_t size, Starts pair_start) {
  std::vector<std::vector<Unit>> parts;
  size_t at = 0;
  while (at < units.size()) {
    size_t end = std::min(units.size(), at + size);
    if (end < units.size() && end > at + 1 && pair_start(units[end - 1])) --end;
    parts.emplace_back(units.begin() + static_cast<std::ptrdiff_t>(at),
                       units.begin() + static_cast<std::ptrdiff_t>(end));
    at = end;
  }
  if (parts.empty()) parts.emplace_back();
  return parts;
}

std::vector<uint8_t> Address(const std::string& address, bool for_service_centre) {
  std::vector<uint8_t> out;
  std::string digits = address;
  uint8_t type = 0x81;
  if (!digits.empty() && digits[0] == '+') {
    digits.erase(0, 1);
    type = 0x91;
  } else if (for_service_centre || (!digits.empty() && digits[0] != '0')) {
    type = 0x91;
  }
  bool numeric = !digits.empty();
  for (char c : digits) numeric = numeric && c >= '0' && c <= '9';
  if (for_service_centre) {
    out.push_back(static_cast<uint8_t>(1 + (digits.size() + 1) / 2));
    out.push_back(type);
    AppendSwappedDigits(out, digits);
    return out;
  }
  if (!numeric) {
    // An alphanumeric sender, such as an operator's name.
    const std::vector<uint8_t> septets = EncodeGsm7(address);
    std::vector<uint8_t> packed;
    PackSeptets(packed, 0, 0, septets);
    out.push_back(static_cast<uint8_t>((septets.size() * 7 + 3) / 4));
    out.push_back(0xD0);
    out.insert(out.end(), packed.begin(), packed.end());
    return out;
  }
  out.push_back(static_cast<uint8_t>(digits.size()));
  out.push_back(type);
  AppendSwappedDigits(out, digits);
  return out;
}

std::string SwappedDigits(const std::vector<uint8_t>& octets, size_t from, size_t count) {
  std::string out;
  for (size_t n = 0; n < count; ++n) {
    const uint8_t octet = octets[from + n / 2];
    const int nibble = n % 2 == 0 ? octet & 0xF : octet >> 4;
    out += nibble < 10 ? static_cast<char>('0' + nibble) : "*#abc"[std::min(nibble - 10, 4)];
  }
  return out;
}

}  // namespace

std::vector<uint8_t> EncodeGsm7(const std::string& utf8) {
  std::vector<uint8_t> out;
  for (char32_t code : CodePoints(utf8)) {
    const std::string character = Utf8Of(code);
    bool found = false;
    for (int septet = 0; septet < 128 && !found; ++septet) {
      if (septet != kEscape && character == kDefault[septet]) {
        out.push_back(static_cast<uint8_t>(septet));
        found = true;
      }
    }
    for (const Extension& extension : kExtension) {
      if (!found && character == extension.character) {
        out.push_back(kEscape);
        out.push_back(extension.septet);
        found = true;
      }
    }
    if (!found) out.push_back('?');
  }
  return out;
}

std::string DecodeGsm7(const std::vector<uint8_t>& septets) {
  std::string out;
  for (size_t i = 0; i < septets.size(); ++i) {
    const uint8_t septet = septets[i] & 0x7F;
    if (septet != kEscape) {
      out += kDefault[septet];
      continue;
    }
    if (i + 1 == septets.size()) break;  // a dangling escape stands for nothing
    const uint8_t next = septets[++i] & 0x7F;
    bool found = false;
    for (const Extension& extension : kExtension) {
      if (extension.septet == next) {
        out += extension.character;
        found = true;
      }
    }
    // An unknown extension shows the default character, as receivers do.
    if (!found) out += next == kEscape ? " " : kDefault[next];
  }
  return out;
}

std::vector<std::string> EncodeDeliver(const std::string& sender, const std::string& text,
                                       Coding coding, const DeliverOptions& options) {
  // Each part's user data, already encoded, with its own length value.
  struct Part {
    std::vector<uint8_t> septets;  // 7-bit
    std::vector<uint8_t> octets;   // UCS2 or 8-bit
  };
  std::vector<Part> parts;
  bool multipart = options.force_multipart;
  if (coding == Coding::Gsm7) {
    const std::vector<uint8_t> septets = EncodeGsm7(text);
    multipart = multipart || septets.size() > 160;
    const size_t size = options.part_size > 0 ? static_cast<size_t>(options.part_size)
                        : multipart           ? 153
                                              : 160;
    for (auto& group : Cut(septets, size, [](uint8_t s) { return s == kEscape; })) {
      parts.push_back(Part{group, {}});
    }
  } else if (coding == Coding::Ucs2) {
    const std::vector<uint16_t> units = Utf16(text);
    multipart = multipart || units.size() > 70;
    const size_t size = options.part_size > 0 ? static_cast<size_t>(options.part_size)
                        : multipart           ? 67
                                              : 70;
    for (auto& group : Cut(units, size, [](uint16_t u) { return u >= 0xD800 && u < 0xDC00; })) {
      Part part;
      for (uint16_t unit : group) {
        part.octets.push_back(static_cast<uint8_t>(unit >> 8));
        part.octets.push_back(static_cast<uint8_t>(unit & 0xFF));
      }
      parts.push_back(part);
    }
  } else {
    std::vector<uint8_t> bytes(text.begin(), text.end());
    multipart = multipart || bytes.size() > 140;
    const size_t size = options.part_size > 0 ? static_cast<size_t>(options.part_size)
                        : multipart           ? 134
                                              : 140;
    for (auto& group : Cut(bytes, size, [](uint8_t) { return false; })) {
      parts.push_back(Part{{}, group});
    }
  }
  if (parts.size() > 255) throw std::runtime_error("text too long for one message");

  std::vector<std::string> pdus;
  for (size_t n = 0; n < parts.size(); ++n) {
    std::vector<uint8_t> pdu;
    if (options.service_centre.empty()) {
      pdu.push_back(0);
    } else {
      const auto smsc = Address(options.service_centre, true);
      pdu.insert(pdu.end(), smsc.begin(), smsc.end());
    }
    // SMS-DELIVER, no more messages to send, and the header flag for a part.
    pdu.push_back(static_cast<uint8_t>(0x04 | (multipart ? 0x40 : 0)));
    const auto address = Address(sender, false);
    pdu.insert(pdu.end(), address.begin(), address.end());
    pdu.push_back(0x00);  // protocol identifier
    pdu.push_back(coding == Coding::Gsm7 ? 0x00 : coding == Coding::Ucs2 ? 0x08 : 0x04);
    std::string stamp = options.timestamp;
    stamp.resize(12, '0');
    AppendSwappedDigits(pdu, stamp);
    const std::string zone = std::to_string(options.timezone_quarters % 100 + 100).substr(1);
    AppendSwappedDigits(pdu, zone);

    std::vector<uint8_t> header;
    if (multipart) {
      header = {0x05,
                0x00,
                0x03,
                static_cast<uint8_t>(options.reference & 0xFF),
                static_cast<uint8_t>(parts.size()),
                static_cast<uint8_t>(n + 1)};
    }
    const Part& part = parts[n];
    if (coding == Coding::Gsm7) {
      const size_t header_septets = header.empty() ? 0 : HeaderSeptets(header.size());
      pdu.push_back(static_cast<uint8_t>(header_septets + part.septets.size()));
      std::vector<uint8_t> data = header;
      PackSeptets(data, header.size(), header.empty() ? 0 : FillBits(header.size()), part.septets);
      pdu.insert(pdu.end(), data.begin(), data.end());
    } else {
      pdu.push_back(static_cast<uint8_t>(header.size() + part.octets.size()));
      pdu.insert(pdu.end(), header.begin(), header.end());
      pdu.insert(pdu.end(), part.octets.begin(), part.octets.end());
    }
    pdus.push_back(Hex(pdu));
  }
  return pdus;
}

int TpduLength(const std::string& hex) {
  const std::vector<uint8_t> octets = Octets(hex);
  if (octets.empty() || octets[0] + 1u > octets.size()) throw std::runtime_error("no TPDU");
  return static_cast<int>(octets.size() - 1 - octets[0]);
}

Submit DecodeSubmit(const std::string& hex) {
  const std::vector<uint8_t> octets = Octets(hex);
  size_t at = 0;
  auto need = [&](size_t count) {
    if (at + count > octets.size()) throw std::runtime_error("PDU ends too soon");
  };
  need(1);
  at += 1 + octets[0];  // service-centre part
  need(3);
  const uint8_t first = octets[at++];
  if ((first & 0x03) != 0x01) throw std::runtime_error("not an SMS-SUBMIT");
  Submit submit;
  submit.message_reference = octets[at++];
  const size_t digits = octets[at++];
  need(1);
  submit.number_type = octets[at++];
  const size_t address_octets = (digits + 1) / 2;
  need(address_octets);
  if ((submit.number_type & 0x70) == 0x50) {
    submit.number = DecodeGsm7(UnpackSeptets(octets, at * 8, digits * 4 / 7));
  } else {
    submit.number = SwappedDigits(octets, at, digits);
    if ((submit.number_type & 0x70) == 0x10) submit.number = "+" + submit.number;
  }
  at += address_octets;
  need(2);
  ++at;  // protocol identifier
  const uint8_t dcs = octets[at++];
  const int validity = (first >> 3) & 0x03;
  at += validity == 0x02 ? 1 : validity == 0 ? 0 : 7;
  need(1);
  const size_t length = octets[at++];

  if ((dcs & 0xC0) == 0x00) {
    const int alphabet = (dcs >> 2) & 0x03;
    submit.coding = alphabet == 2 ? Coding::Ucs2 : alphabet == 1 ? Coding::Eight : Coding::Gsm7;
  } else if ((dcs & 0xF0) == 0xF0) {
    submit.coding = (dcs & 0x04) != 0 ? Coding::Eight : Coding::Gsm7;
  } else if ((dcs & 0xF0) == 0xE0) {
    submit.coding = Coding::Ucs2;
  }

  size_t header_octets = 0;
  if ((first & 0x40) != 0) {
    need(1);
    header_octets = octets[at] + 1u;
    need(header_octets);
    for (size_t ie = at + 1; ie + 1 < at + header_octets;) {
      const uint8_t id = octets[ie];
      const uint8_t size = octets[ie + 1];
      if (ie + 2 + size > at + header_octets) throw std::runtime_error("broken user-data header");
      if (id == 0x00 && size == 3) {
        submit.has_concatenation = true;
        submit.reference = octets[ie + 2];
        submit.total = octets[ie + 3];
        submit.sequence = octets[ie + 4];
      } else if (id == 0x08 && size == 4) {
        submit.has_concatenation = true;
        submit.reference = octets[ie + 2] << 8 | octets[ie + 3];
        submit.total = octets[ie + 4];
        submit.sequence = octets[ie + 5];
      }
      ie += 2u + size;
    }
  }

  if (submit.coding == Coding::Gsm7) {
    const size_t header_septets = header_octets == 0 ? 0 : HeaderSeptets(header_octets);
    if (length < header_septets) throw std::runtime_error("user-data length too small");
    const size_t start_bit = at * 8 + header_octets * 8 +
                             static_cast<size_t>(header_octets == 0 ? 0 : FillBits(header_octets));
    submit.text = DecodeGsm7(UnpackSeptets(octets, start_bit, length - header_septets));
    return submit;
  }
  need(length);
  if (length < header_octets) throw std::runtime_error("user-data length too small");
  const std::vector<uint8_t> data(octets.begin() + static_cast<std::ptrdiff_t>(at + header_octets),
                                  octets.begin() + static_cast<std::ptrdiff_t>(at + length));
  if (submit.coding == Coding::Ucs2) {
    std::vector<uint16_t> units;
    for (size_t i = 0; i + 1 < data.size(); i += 2) {
      units.push_back(static_cast<uint16_t>(data[i] << 8 | data[i + 1]));
    }
    submit.text = FromUtf16(units);
  } else {
    for (uint8_t byte : data) AppendUtf8(submit.text, byte);
  }
  return submit;
}

}  // namespace tovalink::gsmpdu
