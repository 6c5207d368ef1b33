#include "sms/pdu_decode.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sms/pdu_encode.h"

namespace tovalink {
namespace {

// "Hello" packed, and the fields between the sender and the user-data length: protocol
// identifier, coding scheme and time stamp.
const std::string kHello = "C8329BFD06";
const std::string kGsm7Fields = "00" "00" "62805080010223";
const std::string kUcs2Fields = "00" "08" "62805080010223";

// A PDU line as ReadInbox hands it over: the LF that is left by cutting the listing at CR.
std::string Line(const std::string& pdu) { return "\n" + pdu; }

DecodedPdu Decode(const std::string& pdu, const std::string& header = "+CMGL: 1,1,,0") {
  DecodedPdu out;
  EXPECT_TRUE(DecodePdu(header, Line(pdu), out)) << pdu;
  return out;
}

TEST(DecodePduTest, SenderRules) {
  struct Case {
    const char* name;
    std::string address;  // length, type of address, semi-octets
    std::string sender;
  };
  const std::vector<Case> cases = {
      {"international 62 becomes 0", "0B" "91" "2618325476F7", "0812345677"},
      {"national with leading 0", "07" "81" "802143F5", "0812345"},
      {"national short code loses its first digit", "03" "A1" "21F3", "023"},
      {"operator code prefix", "07" "91" "266912F2", "62962"},
      {"exactly 629", "03" "91" "26F9", "62962"},
      {"foreign international number", "0B" "91" "1032547698F0", "01234567890"},
      {"M-Tronik", "0E" "D0" "CD1655FE76A7D7", "M-Tronik"},
      {"other alphanumeric sender", "08" "D0" "C7F79B0C", "0C7B9C0"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Decode("00" "04" + c.address + kGsm7Fields + "05" + kHello).sender, c.sender)
        << c.name;
  }
}

TEST(DecodePduTest, ServiceCentreLengthMovesEveryField) {
  const std::string tail = "04" "0B" "91" "2618325476F7" + kGsm7Fields + "05" + kHello;
  for (const std::string& smsc : {std::string("00"), std::string("07912618485400F9")}) {
    const DecodedPdu out = Decode(smsc + tail, "+CMGL: 17,1,,24");
    EXPECT_EQ(out.index, "17");
    EXPECT_EQ(out.sender, "0812345677");
    EXPECT_EQ(out.text, "Hello");
    EXPECT_FALSE(out.multipart);
    EXPECT_EQ(out.header_count, 0);
  }
}

TEST(DecodePduTest, IndexIsTheFirstFieldAfterTheSpace) {
  const std::string pdu = "00" "04" "03" "A1" "21F3" + kGsm7Fields + "05" + kHello;
  EXPECT_EQ(Decode(pdu, "\n+CMGL: 3,1,,24").index, "3");
  EXPECT_EQ(Decode(pdu, "+CMT: ,24").index, "");
  EXPECT_EQ(Decode(pdu, "+CMGL:3,1").index, "");
}

TEST(DecodePduTest, Ucs2KeepsTheLowByteOfEachCharacter) {
  const DecodedPdu out =
      Decode("00" "04" "03" "A1" "21F3" + kUcs2Fields + "06" "0048006920AC");
  EXPECT_EQ(out.text, "Hi\xAC");
  EXPECT_TRUE(out.header_values.empty());
  // A group that is not hexadecimal reads as 0; an odd rest of the user data is ignored.
  EXPECT_EQ(Decode("00" "04" "03" "A1" "21F3" + kUcs2Fields + "03" "00410Z4200420").text,
            std::string("A\0B", 3));
}

TEST(DecodePduTest, Ucs2LeavesTheMultipartFlagAsItWas) {
  DecodedPdu out;
  out.multipart = true;
  out.header_values = {1, 2, 3};
  out.header_count = 3;
  ASSERT_TRUE(DecodePdu("+CMGL: 1", Line("00" "04" "03" "A1" "21F3" + kUcs2Fields + "02" "0041"),
                        out));
  EXPECT_TRUE(out.multipart);
  EXPECT_TRUE(out.header_values.empty());
  EXPECT_EQ(out.header_count, 0);
}

// 7-bit texts built from septet values, so that each case says which septets it sends.
std::string Gsm7Pdu(const std::vector<int>& septets) {
  return "00" "04" "03" "A1" "21F3" + kGsm7Fields +
         std::string(1, "0123456789ABCDEF"[(septets.size() >> 4) & 15]) +
         "0123456789ABCDEF"[septets.size() & 15] + PackSeptets(septets);
}

TEST(DecodePduTest, SevenBitCharacters) {
  struct Case {
    const char* name;
    std::vector<int> septets;
    std::string text;
  };
  const std::vector<Case> cases = {
      {"line ends become spaces", {65, 10, 66, 13, 67}, "A B C"},
      {"escape and brace", {27, 40}, "{"},
      {"every extension character", {27, 20, 27, 40, 27, 41, 27, 60, 27, 61, 27, 62, 27, 101},
       "^{}[~]\xE8"},
      {"backslash is cleaned by SqlSafe", {65, 27, 47, 66}, "A B"},
      {"escape with an unknown partner shows the partner", {27, 65, 66}, "AB"},
      {"escape at the very end", {65, 27}, "A "},
      {"escape before the at sign keeps the at sign", {27, 0}, " @"},
      {"characters a single-byte text cannot hold", {16, 18, 19, 20, 21, 26, 28, 29},
       "\xC6\xD5\xCD\xC3\xD0\xD0\xD0\xD0"},
      {"departures from the alphabet", {9, 64, 93, 96, 125, 127}, "\xE7_N\xA8na"},
      {"alphabet kept", {0, 1, 2, 3, 4, 5, 6, 7, 8, 11, 12, 14, 15, 17, 30, 31},
       "@\xA3$\xA5\xE8\xE9\xF9\xEC\xF2\xD8\xF8\xC5\xE5_\xDF\xC9"},
      {"quotes are removed by SqlSafe", {34, 65, 39}, "A"},
  };
  for (const Case& c : cases) {
    const DecodedPdu out = Decode(Gsm7Pdu(c.septets));
    EXPECT_EQ(out.text, c.text) << c.name;
    EXPECT_FALSE(out.multipart) << c.name;
  }
}

TEST(DecodePduTest, ShortUserDataIsFilledWithZeros) {
  // Seven septets announced, five octets present: the missing ones read as at signs.
  EXPECT_EQ(Decode("00" "04" "03" "A1" "21F3" + kGsm7Fields + "07" + kHello).text, "Hello@@");
}

// User data of a part with the usual header 05 00 03 ref total seq, one fill bit, and text.
std::string MultipartPdu(int reference, int total, int sequence, const std::vector<int>& text) {
  std::vector<int> septets = {5, 0, 12, (reference & 15) * 8, reference / 16 + 16 * (total & 7),
                              total / 8 + 32 * (sequence & 3), sequence / 4};
  septets.insert(septets.end(), text.begin(), text.end());
  return Gsm7Pdu(septets);
}

TEST(DecodePduTest, MultipartHeaderValuesComeLastFirst) {
  const std::string pdu = MultipartPdu(0xA7, 2, 1, {72, 105});
  // The packed user data begins with the header octets as they travel.
  ASSERT_NE(pdu.find("050003A70201"), std::string::npos) << pdu;
  const DecodedPdu out = Decode(pdu);
  EXPECT_TRUE(out.multipart);
  EXPECT_EQ(out.text, "Hi");
  EXPECT_EQ(out.header_values, (std::vector<int>{0, 32, 10 + 16 * 2, 8 * 7, 12, 0, 5}));
  EXPECT_EQ(out.header_count, 7);
}

TEST(DecodePduTest, MultipartTextKeepsEscapesAndStopsAtLowSeptets) {
  EXPECT_EQ(Decode(MultipartPdu(1, 2, 2, {65, 27, 40, 66})).text, "A{B");
  // A character below 5 (here "$") is taken for the end of the header.
  const DecodedPdu out = Decode(MultipartPdu(1, 2, 2, {65, 2, 66, 67}));
  EXPECT_EQ(out.text, "BC");
  EXPECT_EQ(out.header_count, 9);
}

TEST(DecodePduTest, FailureLeavesTheOutputsItHasNotReached) {
  DecodedPdu out;
  out.index = "old index";
  out.sender = "old sender";
  out.text = "old text";
  out.header_values = {9};
  out.header_count = 1;
  out.multipart = true;
  for (const std::string& pdu : {std::string("00040B9"), std::string("00"), std::string(),
                                 std::string("0004XX"), std::string("00040391")}) {
    EXPECT_FALSE(DecodePdu("+CMGL: 4,1,,0", Line(pdu), out)) << pdu;
    EXPECT_EQ(out.index, "old index");
    EXPECT_EQ(out.sender, "old sender");
    EXPECT_EQ(out.text, "old text");
    EXPECT_EQ(out.header_values, std::vector<int>{9});
    EXPECT_EQ(out.header_count, 1);
    EXPECT_TRUE(out.multipart);
  }
  EXPECT_FALSE(DecodePdu("+CMGL: 4,1,,0", "", out));
}

TEST(DecodePduTest, CutOrCorruptedPdusAreReadSafely) {
  // Every cut and every single-character corruption of a multi-part PDU returns normally;
  // a cut before the user-data length is a failure, a later cut a shorter text.
  const std::string pdu =
      "07912618485400F9" + MultipartPdu(3, 2, 1, {72, 105, 27, 40, 33}).substr(2);
  for (size_t length = 0; length <= pdu.size(); ++length) {
    DecodedPdu out;
    const bool complete = DecodePdu("+CMGL: 1,1,,0", Line(pdu.substr(0, length)), out);
    // The user-data length begins at character 45 (one hexadecimal digit already reads).
    EXPECT_EQ(complete, length >= 45) << length;
  }
  for (size_t at = 0; at < pdu.size(); ++at) {
    for (const char c : {'0', 'F', 'G', '\x1B'}) {
      std::string corrupted = pdu;
      corrupted[at] = c;
      DecodedPdu out;
      DecodePdu("+CMGL: 1,1,,0", Line(corrupted), out);
    }
  }
}

TEST(DecodePduTest, LowerCaseHexReadsLikeUpperCase) {
  const DecodedPdu out = Decode("00040b912618325476f70000628050800102230" "5c8329bfd06");
  EXPECT_EQ(out.text, "Hello");
  EXPECT_EQ(out.sender, "0812345677");
}

}  // namespace
}  // namespace tovalink
