#include "sms/cp1252.h"

#include <cstdint>

namespace tovalink {
namespace {

// Unicode code points of the Windows-1252 bytes 0x80 to 0x9F (0: not assigned).
constexpr uint16_t kHighControls[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

uint32_t CodePointOf(unsigned char byte) {
  if (byte >= 0x80 && byte < 0xA0) {
    const uint16_t mapped = kHighControls[byte - 0x80];
    return mapped != 0 ? mapped : byte;
  }
  return byte;
}

void AppendUtf8(std::string& out, uint32_t code_point) {
  if (code_point < 0x80) {
    out += static_cast<char>(code_point);
  } else if (code_point < 0x800) {
    out += static_cast<char>(0xC0 | (code_point >> 6));
    out += static_cast<char>(0x80 | (code_point & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (code_point >> 12));
    out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code_point & 0x3F));
  }
}

}  // namespace

std::string Cp1252ToUtf8(const std::string& text) {
  std::string out;
  for (const char c : text) AppendUtf8(out, CodePointOf(static_cast<unsigned char>(c)));
  return out;
}

// A code point without a Windows-1252 byte becomes "?", as does a broken UTF-8 sequence.
std::string Utf8ToCp1252(const std::string& text) {
  std::string out;
  size_t at = 0;
  while (at < text.size()) {
    const unsigned char lead = static_cast<unsigned char>(text[at]);
    size_t extra = 0;
    uint32_t code_point = lead;
    if (lead >= 0xF0 && lead < 0xF8) {
      extra = 3;
      code_point = lead & 0x07;
    } else if (lead >= 0xE0) {
      extra = 2;
      code_point = lead & 0x0F;
    } else if (lead >= 0xC0) {
      extra = 1;
      code_point = lead & 0x1F;
    } else if (lead >= 0x80) {
      extra = 99;  // a continuation byte without its lead
    }
    bool broken = extra == 99 || at + extra >= text.size();
    for (size_t k = 1; !broken && k <= extra; ++k) {
      const unsigned char next = static_cast<unsigned char>(text[at + k]);
      if ((next & 0xC0) != 0x80) broken = true;
      code_point = (code_point << 6) | (next & 0x3F);
    }
    if (broken) {
      out += '?';
      ++at;
      continue;
    }
    at += extra + 1;
    char byte = '?';
    const bool unassigned =
        code_point >= 0x80 && code_point < 0xA0 && kHighControls[code_point - 0x80] == 0;
    if (code_point < 0x80 || (code_point >= 0xA0 && code_point < 0x100) || unassigned) {
      byte = static_cast<char>(code_point);
    } else {
      for (int k = 0; k < 32; ++k) {
        if (kHighControls[k] != 0 && kHighControls[k] == code_point) {
          byte = static_cast<char>(0x80 + k);
        }
      }
    }
    out += byte;
  }
  return out;
}

}  // namespace tovalink
