#include "modem/at_text.h"

namespace tovalink {

std::string CommandTextFault(std::string_view text) {
  for (const char c : text) {
    switch (c) {
      case '\r':
        return "berisi CR";
      case '\n':
        return "berisi LF";
      case '\x1A':
        return "berisi Ctrl-Z";
      case '\x1B':
        return "berisi ESC";
      case '\0':
        return "berisi NUL";
      default:
        break;
    }
  }
  return "";
}

std::string KeyStringFault(std::string_view text) {
  std::string fault = CommandTextFault(text);
  if (fault.empty() && text.find('"') != std::string_view::npos) fault = "berisi tanda kutip";
  return fault;
}

std::string DestinationFault(std::string_view text) {
  if (text.empty()) return "kosong";
  const std::string_view digits = text.front() == '+' ? text.substr(1) : text;
  if (digits.empty()) return "bukan nomor telepon";
  for (const char c : digits) {
    if (c < '0' || c > '9') return "bukan nomor telepon";
  }
  return "";
}

std::string QuotedForReason(std::string_view text, size_t limit) {
  std::string shown;
  for (size_t i = 0; i < text.size(); ++i) {
    if (shown.size() >= limit) {
      shown += "...";
      break;
    }
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte == '\r') {
      shown += "\\r";
    } else if (byte == '\n') {
      shown += "\\n";
    } else if (byte < ' ' || byte == 0x7F) {
      static const char kHex[] = "0123456789ABCDEF";
      shown += "\\x";
      shown += kHex[byte >> 4];
      shown += kHex[byte & 15];
    } else {
      shown += text[i];
    }
  }
  return "\"" + shown + "\"";
}

}  // namespace tovalink
