#include "sms/pdu_encode.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tovalink {
namespace {

TEST(EncodePduTest, SingleMessageFieldByField) {
  EXPECT_EQ(EncodePdu("0812", "Hello", 1),
            std::vector<std::string>{"00" "31" "00" "04" "81" "8021" "00" "00" "AA" "05"
                                     "C8329BFD06"});
}

TEST(EncodePduTest, Destinations) {
  struct Case {
    std::string destination;
    std::string address;  // length, type, semi-octets
  };
  const std::vector<Case> cases = {
      {"0812", "04818021"},
      {"081", "038180F1"},
      {"+62812", "05812618F2"},
      {" \t0812\r\n", "04818021"},
      {"", "0081"},
  };
  for (const Case& c : cases) {
    const std::vector<std::string> pdus = EncodePdu(c.destination, "A", 1);
    ASSERT_EQ(pdus.size(), 1u);
    EXPECT_EQ(pdus[0].substr(6, c.address.size()), c.address) << c.destination;
  }
}

TEST(EncodePduTest, PartCountAndHeaders) {
  EXPECT_TRUE(EncodePdu("0812", "", 7).empty());

  const std::vector<std::string> single = EncodePdu("0812", std::string(160, 'a'), 7);
  ASSERT_EQ(single.size(), 1u);
  EXPECT_EQ(single[0].substr(0, 24), "003100048180210000AAA0" + std::string("E1"));

  const std::vector<std::string> two = EncodePdu("0812", std::string(161, 'a'), 7);
  ASSERT_EQ(two.size(), 2u);
  // 152 + 8 and 9 + 8 septets, each after the header with reference, total and sequence.
  EXPECT_EQ(two[0].substr(0, 36), "007100048180210000AA" "A0" "0608040007" "0201");
  EXPECT_EQ(two[1].substr(0, 36), "007100048180210000AA" "11" "0608040007" "0202");
  EXPECT_EQ(two[1].size(), 36 + 2 * ((9 * 7 + 7) / 8));

  const std::vector<std::string> three = EncodePdu("0812", std::string(305, 'a'), 300);
  ASSERT_EQ(three.size(), 3u);
  EXPECT_EQ(three[2].substr(20, 16), "09" "060804002C" "0303");  // reference 300 keeps 0x2C
}

TEST(EncodePduTest, TextToSeptets) {
  struct Case {
    const char* name;
    std::string text;
    std::vector<int> septets;
  };
  const std::vector<Case> cases = {
      {"brace is an escape sequence", "{", {27, 40}},
      {"every extension character", "^{}\\[~]|\x80",
       {27, 20, 27, 40, 27, 41, 27, 47, 27, 60, 27, 61, 27, 62, 27, 64, 27, 101}},
      {"u grave and E acute are not in the table", "a\xF9\xC9" "b", {97, 98}},
      {"u acute and E circumflex stand for them", "\xFA\xCA", {6, 31}},
      {"bullet is the first of the Greek positions", "\x95", {16}},
      {"CR LF stays two septets", "a\r\nb", {97, 13, 10, 98}},
      {"characters outside the table are dropped", "x\xE7\x80y", {120, 27, 101, 121}},
      {"a raw escape takes the next byte as it is", "\x1B" "A", {27, 65}},
  };
  for (const Case& c : cases) EXPECT_EQ(TextToSeptets(c.text), c.septets) << c.name;
}

TEST(EncodePduTest, BraceGivesUserDataLengthTwo) {
  EXPECT_EQ(EncodePdu("0812", "{", 1)[0], "003100048180210000AA02" "1B14");
}

TEST(EncodePduTest, PackingFillsTheLastOctetWithZeros) {
  EXPECT_EQ(PackSeptets({}), "");
  EXPECT_EQ(PackSeptets({104, 101, 108, 108, 111, 104, 101, 108, 108, 111}),
            "E8329BFD4697D9EC37");
  EXPECT_EQ(PackSeptets({49, 50, 51, 52, 53, 54, 55}), "31D98C56B3DD00");
  EXPECT_EQ(PackSeptets({49, 50, 51, 52, 53, 54, 55, 56}), "31D98C56B3DD70");
}

TEST(EncodePduTest, UserDataLengthKeepsItsLowEightBits) {
  // 160 braces are one part of 320 septets; 320 written in two hex digits is 0x40.
  const std::vector<std::string> pdus = EncodePdu("0812", std::string(160, '{'), 1);
  ASSERT_EQ(pdus.size(), 1u);
  EXPECT_EQ(pdus[0].substr(20, 2), "40");
  EXPECT_EQ(pdus[0].size(), 22u + 2 * 280);
}

}  // namespace
}  // namespace tovalink
