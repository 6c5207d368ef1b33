#include "settle/reply_text.h"

#include "store/text.h"

namespace tovalink {

namespace {
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
}  // namespace

bool Occurs(std::string_view text, std::string_view needle, size_t* position) {
  if (needle.empty()) return false;
  // ASCII upper-casing keeps every byte in place, so a position found in the upper-cased
  // text is the position in the original.
  const size_t found = UpperAscii(text).find(UpperAscii(needle));
  if (found == std::string::npos) return false;
  if (position != nullptr) *position = found;
  return true;
}

std::string TakeBetween(std::string_view text, std::string_view start, std::string_view end) {
  size_t found = 0;
  if (!Occurs(text, start, &found)) return "";
  std::string part = Trim(text.substr(found + start.size()));
  size_t end_found = 0;
  if (Occurs(part, end, &end_found)) part.resize(end_found);
  return part;
}

std::string TakeDigits(std::string_view text) {
  const std::string trimmed = Trim(text);
  size_t length = 0;
  while (length < trimmed.size() && IsDigit(trimmed[length])) ++length;
  return trimmed.substr(0, length);
}

std::string DigitsOnly(std::string_view text) {
  std::string digits;
  for (const char c : text) {
    if (IsDigit(c)) digits += c;
  }
  return digits;
}

}  // namespace tovalink
