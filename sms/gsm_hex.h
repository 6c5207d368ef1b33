#pragma once
// Hexadecimal reading and writing shared by the PDU decoder and encoder.

#include <string>
#include <string_view>

namespace tovalink {

// The value of one hexadecimal digit, -1 for any other character. Lower-case digits are read
// like upper-case ones: modems write upper case, but a technician pasting a PDU may not.
int HexDigitValue(char c);

// Two upper-case hexadecimal digits of the number's low 8 bits.
std::string HexOctet(int value);

}  // namespace tovalink
