#include "sms/gsm_hex.h"

namespace tovalink {

std::string HexOctet(int value) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  const int low = value & 0xFF;
  return {kDigits[low >> 4], kDigits[low & 0x0F]};
}

}  // namespace tovalink
