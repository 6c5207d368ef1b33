#include "settle/reply_match.h"

#include <limits>

#include "settle/reply_text.h"

namespace tovalink {

std::optional<ReplyNumber> FindReplyNumber(std::string_view reply, std::string_view awalmsisdn,
                                           std::string_view destination) {
  std::string raw;
  if (awalmsisdn.empty()) {
    raw = destination;
  } else {
    size_t found = 0;
    if (!Occurs(reply, awalmsisdn, &found)) return std::nullopt;
    raw = TakeDigits(reply.substr(found + awalmsisdn.size()));
  }
  if (raw.empty()) return std::nullopt;
  std::string prefixed = raw[0] == '0' ? raw : "0" + raw;
  return ReplyNumber{std::move(raw), std::move(prefixed)};
}

int64_t ReplyCount(std::string_view reply, std::string_view katajumlah) {
  size_t found = 0;
  if (!Occurs(reply, katajumlah, &found)) return 0;
  const size_t after = found + katajumlah.size() + 1;
  if (after >= reply.size()) return 0;
  const std::string digits = TakeDigits(reply.substr(after));
  if (digits.empty()) return 0;
  int64_t value = 0;
  for (const char c : digits) {
    value = value * 10 + (c - '0');
    if (value > std::numeric_limits<int32_t>::max()) return 0;
  }
  return value;
}

std::string RuleMismatch(const ReplyRule& rule, std::string_view reply, int64_t jumlah) {
  std::string why;
  auto add = [&why](const std::string& reason) { why += (why.empty() ? "" : ", ") + reason; };
  if (!Occurs(reply, rule.pesansuksesgagal)) add("pesansuksesgagal not in reply");
  if (!Occurs(reply, rule.pesanproduk)) add("pesanproduk not in reply");
  const int64_t count = ReplyCount(reply, rule.katajumlah);
  if (count != 0 && count != jumlah) {
    add("count " + std::to_string(count) + " != jumlah " + std::to_string(jumlah));
  }
  return why;
}

std::string SerialNumber(const ReplyRule& rule, std::string_view reply) {
  return TakeBetween(reply, rule.awalsn, rule.akhirsn);
}

bool IsSaleInHand(const ReplyNumber& number, std::string_view destination, int64_t jumlah,
                  int expected_count) {
  return (destination == number.prefixed || destination == number.raw) && jumlah == expected_count;
}

}  // namespace tovalink
