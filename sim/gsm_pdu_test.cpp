#include "sim/gsm_pdu.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace tovalink::gsmpdu {
namespace {

int Octet(const std::string& hex, size_t at) {
  return std::stoi(hex.substr(at * 2, 2), nullptr, 16);
}

// Rebuilds an SMS-DELIVER's user data as the SMS-SUBMIT a phone would send to `destination`
// (an international number), so the two halves of the codec check each other.
std::string SubmitFromDeliver(const std::string& deliver, const std::string& destination_hex,
                              int destination_digits) {
  size_t at = 1 + static_cast<size_t>(Octet(deliver, 0));
  const int first = Octet(deliver, at++);
  const int sender_digits = Octet(deliver, at++);
  at += 1 + static_cast<size_t>((sender_digits + 1) / 2);
  const std::string pid_dcs = deliver.substr(at * 2, 4);
  at += 2 + 7;  // protocol, coding, time stamp
  char head[16];
  std::snprintf(head, sizeof head, "00%02X00%02X91", (first & 0x40) | 0x01, destination_digits);
  return head + destination_hex + pid_dcs + deliver.substr(at * 2);
}

TEST(GsmPdu, DeliverMatchesAnIndependentVector) {
  // "hellohello" from 27838890001 through the centre 27381000015, stamped 99-03-29 15:16:59.
  DeliverOptions options;
  options.service_centre = "27381000015";
  options.timestamp = "990329151659";
  options.timezone_quarters = 8;
  EXPECT_EQ(EncodeDeliver("27838890001", "hellohello", Coding::Gsm7, options),
            std::vector<std::string>{
                "07917283010010F5040B917238880900F10000993092516195800AE8329BFD4697D9EC37"});
}

TEST(GsmPdu, DecodesAnIndependentSubmitVector) {
  const Submit submit = DecodeSubmit("0011000B916407281553F80000AA0AE8329BFD4697D9EC37");
  EXPECT_EQ(submit.number, "+46708251358");
  EXPECT_EQ(submit.text, "hellohello");
  EXPECT_EQ(submit.coding, Coding::Gsm7);
  EXPECT_FALSE(submit.has_concatenation);
  EXPECT_EQ(TpduLength("0011000B916407281553F80000AA0AE8329BFD4697D9EC37"), 23);
}

TEST(GsmPdu, RoundTripsTextsThroughDeliverAndSubmit) {
  struct Case {
    const char* name;
    std::string text;
    Coding coding;
    size_t parts;
  };
  const std::string long_text(200, 'x');
  const Case cases[] = {
      {"plain", "Trx 0812345 SUKSES SN:123", Coding::Gsm7, 1},
      {"default alphabet beyond ASCII", "\xC3\xA9\xC3\xA8 @ \xC2\xA3 \xC3\x9F \xCE\x94",
       Coding::Gsm7, 1},
      {"extension table", "\xE2\x82\xAC [x] {y} ~|^\\", Coding::Gsm7, 1},
      {"long 7-bit text in parts", long_text, Coding::Gsm7, 2},
      {"UCS2", "Saldo \xD0\x96 \xE2\x82\xAC 10.000", Coding::Ucs2, 1},
      {"long UCS2 in parts", std::string(100, 'u'), Coding::Ucs2, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DeliverOptions options;
    options.reference = 42;
    const auto pdus = EncodeDeliver("6281234567", c.text, c.coding, options);
    ASSERT_EQ(pdus.size(), c.parts);
    std::string joined;
    for (size_t n = 0; n < pdus.size(); ++n) {
      const Submit submit = DecodeSubmit(SubmitFromDeliver(pdus[n], "2618214365F7", 11));
      EXPECT_EQ(submit.number, "+62811234567");
      EXPECT_EQ(submit.coding, c.coding);
      EXPECT_EQ(submit.has_concatenation, c.parts > 1);
      if (c.parts > 1) {
        EXPECT_EQ(submit.reference, 42);
        EXPECT_EQ(submit.total, static_cast<int>(c.parts));
        EXPECT_EQ(submit.sequence, static_cast<int>(n) + 1);
      }
      joined += submit.text;
    }
    EXPECT_EQ(joined, c.text);
  }
}

TEST(GsmPdu, PartsCarryTheConcatenationHeaderAndKeepEscapesWhole) {
  const auto pdus = EncodeDeliver("6281234567", std::string(152, 'a') + "\xE2\x82\xAC" + "b",
                                  Coding::Gsm7, DeliverOptions{7, true});
  ASSERT_EQ(pdus.size(), 2u);
  // Part one: UDHI set, 7 header septets + 152 text septets, header 05 00 03 07 02 01.
  const std::string& first = pdus[0];
  const size_t after_smsc = 2 + 2 * static_cast<size_t>(Octet(first, 0));
  EXPECT_EQ(first.substr(after_smsc, 2), "44");
  const size_t udl = first.find("050003070201") - 2;
  EXPECT_EQ(first.substr(udl, 2), "9F");  // 159 septets: the euro sign went to part two
  EXPECT_NE(pdus[1].find("050003070202"), std::string::npos);
  EXPECT_EQ(DecodeGsm7(EncodeGsm7("\xE2\x82\xAC")), "\xE2\x82\xAC");
  EXPECT_EQ(EncodeGsm7("\xE2\x82\xAC").size(), 2u);
}

TEST(GsmPdu, AlphanumericSenderAndCharactersOutsideTheAlphabet) {
  const auto pdus = EncodeDeliver("M-Tronik", "\xE4\xB8\xAD", Coding::Gsm7, DeliverOptions{});
  ASSERT_EQ(pdus.size(), 1u);
  EXPECT_NE(pdus[0].find("0ED0CD1655FE76A7D7"), std::string::npos);  // 14 semi-octets, D0
  EXPECT_EQ(DecodeGsm7(EncodeGsm7("\xE4\xB8\xAD")), "?");
}

TEST(GsmPdu, MalformedSubmitsAreRefused) {
  for (const char* bad : {"", "0", "00", "0004", "0011000B916407281553F80000AA0AE832",
                          "0011000B916407281553F80000AA0AE8329BFD4697D9EC3G",
                          "0004000B916407281553F80000AA0AE8329BFD4697D9EC37"}) {
    EXPECT_THROW(DecodeSubmit(bad), std::runtime_error) << bad;
  }
}

}  // namespace
}  // namespace tovalink::gsmpdu
