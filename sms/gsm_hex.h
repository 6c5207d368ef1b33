#pragma once
// Hexadecimal reading and writing shared by the PDU decoder and encoder.

#include <string>
#include <string_view>

namespace tovalink {

// The value of one hexadecimal digit, -1 for any other character. Lower-case digits are read
// like upper-case ones: modems write upper case, but a technician pasting a PDU may not.
// Inline: the decoder reads every digit of every PDU through it.
inline int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Two upper-case hexadecimal digits of the number's low 8 bits.
std::string HexOctet(int value);

}  // namespace tovalink
