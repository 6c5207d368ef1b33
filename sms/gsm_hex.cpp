#include "sms/gsm_hex.h"

namespace tovalink {

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::string HexOctet(int value) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  const int low = value & 0xFF;
  return {kDigits[low >> 4], kDigits[low & 0x0F]};
}

}  // namespace tovalink
