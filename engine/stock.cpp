#include "engine/stock.h"

#include "settle/reply_text.h"
#include "store/text.h"

namespace tovalink {

std::string NthField(const std::string& text, int n) {
  std::string field;
  int separators = 0;
  for (const char c : text) {
    if (c == ',' || c == '.') {
      if (++separators > n) break;
    } else if (separators == n) {
      field += c;
    }
  }
  return field;
}

bool ParseStock(Form& form, const std::string& reply) {
  if (reply.find("Stok") == std::string::npos && reply.find("Stock") == std::string::npos) {
    return false;
  }
  std::string text = reply;
  const size_t simpati = UpperAscii(text).find("SIMPATI");
  if (simpati != std::string::npos) text.erase(simpati, 7);
  static const char* const kNames[] = {"V5", "V10", "V15", "V20", "V25", "V50", "V100"};
  for (int n = 0; n <= 12; ++n) {
    const std::string field = Trim(NthField(text, n));
    const size_t anda = field.find("Anda");
    const size_t start = anda == std::string::npos ? 0 : anda + 4;
    const size_t equals = field.find('=');
    if (equals == std::string::npos || equals <= start) continue;
    const std::string name = Trim(field.substr(start, equals - start));
    for (const char* known : kNames) {
      if (name == known) form.SetStock("S" + name.substr(1), DigitsOnly(field.substr(equals + 1)));
    }
  }
  return true;
}

}  // namespace tovalink
