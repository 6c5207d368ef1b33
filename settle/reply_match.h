#pragma once
// The parts of reply settlement that depend on the reply text alone: the number a marker pair
// reads, the count a rule reads, a rule's tests and the serial number. DecideReply composes
// them with the rows it reads from `settinggetsn` and `penjualanproduk`.
//
// Pure functions over single-byte texts: no database, no clock, no state; any thread may call
// them.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tovalink {

// The destination number a reply names, as found (`raw`) and with "0" in front unless it
// already begins with "0" (`prefixed`); a sale is looked up by either form in `barcode`.
struct ReplyNumber {
  std::string raw;
  std::string prefixed;
};

// The number that the marker pair `awalmsisdn` reads from `reply`: the run of digits after the
// marker's first occurrence (letter case of A to Z ignored, leading spaces and control
// characters skipped), or `destination` itself when the marker is empty. Nothing when the
// marker does not occur or no digit follows it, or the marker and the destination are both
// empty.
std::optional<ReplyNumber> FindReplyNumber(std::string_view reply, std::string_view awalmsisdn,
                                           std::string_view destination);

// The columns of a `settinggetsn` rule that the decision tests a reply with.
struct ReplyRule {
  std::string awalsn;
  std::string akhirsn;
  std::string pesanproduk;
  std::string pesansuksesgagal;
  std::string katajumlah;
};

// The count a reply mentions after the rule's `katajumlah`: the byte right after the marker is
// skipped (it is the separator, such as a space or a colon), then the digits are read as a
// 32-bit integer. No marker, no digits, or digits beyond 32 bits give 0.
int64_t ReplyCount(std::string_view reply, std::string_view katajumlah);

// Why `rule` does not match `reply` for a sale of count `jumlah`, as the rule tester shows it
// ("pesansuksesgagal not in reply", "pesanproduk not in reply", "count N != jumlah M", joined
// by ", "); empty when the rule matches: both wordings occur and the reply's count is 0 or
// the sale's.
std::string RuleMismatch(const ReplyRule& rule, std::string_view reply, int64_t jumlah);

// The serial number a matching "SUKSES" rule takes from the reply: TakeBetween of its
// `awalsn` and `akhirsn`.
std::string SerialNumber(const ReplyRule& rule, std::string_view reply);

// True when a matched sale of count `jumlah`, found by `number`, is the sale in hand: the
// channel's `destination` is one of the number's forms and the count is the expected one.
bool IsSaleInHand(const ReplyNumber& number, std::string_view destination, int64_t jumlah,
                  int expected_count);

}  // namespace tovalink
