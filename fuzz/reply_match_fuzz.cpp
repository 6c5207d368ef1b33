// The settlement decision's text-only parts on any reply and any rule: the number a marker
// pair reads, the count, the rule's tests and the serial number, each checked against what
// must hold and against a plain search written here.
//
// Input fields: reply, awalmsisdn, destination, awalsn, akhirsn, pesanproduk,
// pesansuksesgagal, katajumlah, the sale's count (first byte).

#include <cstdint>
#include <limits>
#include <optional>
#include <string>

#include "fuzz/fuzz_support.h"
#include "settle/reply_match.h"

namespace tovalink::fuzz {
namespace {

void CheckNumber(const std::string& reply, const std::string& marker,
                 const std::string& destination) {
  const std::optional<ReplyNumber> number = FindReplyNumber(reply, marker, destination);
  if (marker.empty()) {
    Require(number.has_value() == !destination.empty(), "an empty marker takes the destination");
    if (number) Require(number->raw == destination, "raw is the destination", number->raw);
  } else {
    const size_t found = FindFolded(reply, marker);
    size_t at = found == std::string::npos ? reply.size() : found + marker.size();
    while (at < reply.size() && IsBlank(reply[at])) ++at;
    size_t end = at;
    while (end < reply.size() && IsDigit(reply[end])) ++end;
    const bool digits_follow = found != std::string::npos && end > at;
    Require(number.has_value() == digits_follow, "a number exactly when digits follow the marker",
            reply, marker);
    if (number) {
      Require(number->raw == reply.substr(at, end - at), "raw is the run of digits", number->raw,
              reply);
    }
  }
  if (number) {
    const std::string& raw = number->raw;
    Require(number->prefixed == (raw[0] == '0' ? raw : "0" + raw), "prefixed form",
            number->prefixed);
    Require(IsSaleInHand(*number, raw, 1, 1) && IsSaleInHand(*number, number->prefixed, 1, 1),
            "either form is the sale in hand");
    Require(!IsSaleInHand(*number, raw, 2, 1), "another count is not the sale in hand");
  }
}

// The count as the rule reads it, written out step by step.
int64_t ExpectedCount(const std::string& reply, const std::string& marker) {
  const size_t found = FindFolded(reply, marker);
  if (found == std::string::npos) return 0;
  size_t at = found + marker.size() + 1;  // the byte after the marker is skipped
  while (at < reply.size() && IsBlank(reply[at])) ++at;
  int64_t value = 0;
  size_t digits = 0;
  for (; at < reply.size() && IsDigit(reply[at]); ++at, ++digits) {
    value = value * 10 + (reply[at] - '0');
    if (value > std::numeric_limits<int32_t>::max()) return 0;
  }
  return digits == 0 ? 0 : value;
}

void CheckRule(const std::string& reply, const ReplyRule& rule, int jumlah) {
  const int64_t count = ReplyCount(reply, rule.katajumlah);
  Require(count == ExpectedCount(reply, rule.katajumlah), "the count after katajumlah", reply,
          rule.katajumlah);
  const bool matches = FindFolded(reply, rule.pesansuksesgagal) != std::string::npos &&
                       FindFolded(reply, rule.pesanproduk) != std::string::npos &&
                       (count == 0 || count == jumlah);
  Require(RuleMismatch(rule, reply, jumlah).empty() == matches, "the rule's tests", reply);

  const std::string sn = SerialNumber(rule, reply);
  Require(sn.size() <= reply.size(), "a serial number no longer than the reply", sn);
  if (!sn.empty()) {
    Require(reply.find(sn) != std::string::npos, "the serial number is taken from the reply", sn,
            reply);
    Require(FindFolded(reply, rule.awalsn) != std::string::npos, "awalsn occurs", rule.awalsn);
    Require(!IsBlank(sn.front()), "no leading blank", sn);
    Require(FindFolded(sn, rule.akhirsn) == std::string::npos, "cut before akhirsn", sn,
            rule.akhirsn);
  }
}

}  // namespace
}  // namespace tovalink::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tovalink;
  fuzz::Fields fields(data, size);
  const std::string reply = fields.Next();
  const std::string marker = fields.Next();
  const std::string destination = fields.Next();
  ReplyRule rule;
  rule.awalsn = fields.Next();
  rule.akhirsn = fields.Next();
  rule.pesanproduk = fields.Next();
  rule.pesansuksesgagal = fields.Next();
  rule.katajumlah = fields.Next();
  const int jumlah = fields.NextSmall();
  fuzz::CheckNumber(reply, marker, destination);
  fuzz::CheckRule(reply, rule, jumlah);
  return 0;
}
