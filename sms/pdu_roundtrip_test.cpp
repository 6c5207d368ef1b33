// Round trips between the module's codec and the simulator's, which was written on its own
// from the GSM layouts: each side checks the other.

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "core/clock.h"
#include "sim/gsm_pdu.h"
#include "sms/cp1252.h"
#include "sms/inbox.h"
#include "sms/pdu_decode.h"
#include "sms/pdu_encode.h"
#include "store/text.h"

namespace tovalink {
namespace {

DecodedPdu DecodeDeliver(const std::string& pdu) {
  DecodedPdu out;
  EXPECT_TRUE(DecodePdu("+CMGL: 1,1,,0", "\n" + pdu, out)) << pdu;
  return out;
}

std::string OnePart(const std::string& sender, const std::string& utf8, gsmpdu::Coding coding) {
  const std::vector<std::string> pdus = gsmpdu::EncodeDeliver(sender, utf8, coding);
  EXPECT_EQ(pdus.size(), 1u);
  return pdus.empty() ? std::string() : pdus[0];
}

// Letters and digits only: no character that the receiving side cleans or takes for the end
// of a multi-part header.
std::string SampleText(size_t length) {
  static const std::string kPool =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789 .,:;!?()*+-=<>%&#";
  std::string text;
  for (size_t k = 0; k < length; ++k) text += kPool[(k * 7) % kPool.size()];
  return text;
}

// The bytes the module shows where the single-byte text cannot hold the GSM character.
const std::map<int, unsigned char> kReceivedDepartures = {
    {9, 0xE7},  {10, 0x20}, {13, 0x20}, {16, 0xC6}, {18, 0xD5}, {19, 0xCD}, {20, 0xC3},
    {21, 0xD0}, {22, 0xD0}, {23, 0xD0}, {24, 0xD0}, {25, 0xD0}, {26, 0xD0}, {28, 0xD0},
    {29, 0xD0}, {64, 0x5F}, {93, 0x4E}, {96, 0xA8}, {125, 0x6E}, {127, 0x61},
};

TEST(PduRoundTripTest, EveryGsmCharacterReceived) {
  std::vector<uint8_t> septets;
  std::string expected;
  for (int v = 0; v < 128; ++v) {
    if (v == 27) continue;
    septets.push_back(static_cast<uint8_t>(v));
    const auto departure = kReceivedDepartures.find(v);
    expected += departure != kReceivedDepartures.end()
                    ? static_cast<char>(departure->second)
                    : Utf8ToCp1252(gsmpdu::DecodeGsm7({static_cast<uint8_t>(v)}))[0];
  }
  const std::string pdu = OnePart("+6281234567", gsmpdu::DecodeGsm7(septets),
                                  gsmpdu::Coding::Gsm7);
  EXPECT_EQ(DecodeDeliver(pdu).text, SqlSafe(expected));
}

TEST(PduRoundTripTest, EscapeCharactersReceived) {
  // "|" and the euro sign are not in the module's table: the partner shows ("_" for 64) and
  // 101 stands for "è".
  const DecodedPdu out = DecodeDeliver(
      OnePart("+6281234567", "^{}\\[~]|\xE2\x82\xAC" "x", gsmpdu::Coding::Gsm7));
  EXPECT_EQ(out.text, "^{} [~]_\xE8x");
}

TEST(PduRoundTripTest, Ucs2Received) {
  EXPECT_EQ(DecodeDeliver(OnePart("+6281234567", "Hi\xE2\x82\xAC\xC3\xA9", gsmpdu::Coding::Ucs2))
                .text,
            "Hi\xAC\xE9");
}

TEST(PduRoundTripTest, SendersReceived) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"+6281234567", "081234567"},   {"+62812345678", "0812345678"},
      {"08123", "08123"},             {"081234", "081234"},
      {"+62962123", "62962"},         {"M-Tronik", "M-Tronik"},
      {"+6598765432", "6598765432"},
  };
  for (const auto& [sender, national] : cases) {
    EXPECT_EQ(DecodeDeliver(OnePart(sender, "ok", gsmpdu::Coding::Gsm7)).sender, national)
        << sender;
  }
}

TEST(PduRoundTripTest, EveryTableCharacterSent) {
  // Each byte of the module's alphabet, sent and read back by the simulator's decoder.
  std::string text;
  for (int byte = 1; byte < 256; ++byte) {
    const char c = static_cast<char>(byte);
    if (c == '\x1B') continue;  // a raw escape would swallow the next byte
    if (!TextToSeptets(std::string(1, c)).empty()) text += c;
  }
  const std::vector<std::string> pdus = EncodePdu("0812", text, 1);
  ASSERT_EQ(pdus.size(), 1u);
  const gsmpdu::Submit submit = gsmpdu::DecodeSubmit(pdus[0]);
  // ú, Ê and • arrive as the GSM characters at their positions: ù, É and Δ.
  std::string expected = Cp1252ToUtf8(text);
  expected = ReplaceAll(expected, "\xC3\xBA", "\xC3\xB9");
  expected = ReplaceAll(expected, "\xC3\x8A", "\xC3\x89");
  expected = ReplaceAll(expected, "\xE2\x80\xA2", "\xCE\x94");
  EXPECT_EQ(submit.text, expected);
  EXPECT_EQ(submit.number, "0812");
  EXPECT_EQ(submit.number_type, 0x81);
  EXPECT_FALSE(submit.has_concatenation);
}

TEST(PduRoundTripTest, LengthsSent) {
  for (const size_t length : {1u, 7u, 8u, 152u, 153u, 160u, 161u, 300u, 305u}) {
    const std::string text = SampleText(length);
    const std::vector<std::string> pdus = EncodePdu("081234567", text, 42);
    const size_t parts = length <= 160 ? 1 : (length + 151) / 152;
    ASSERT_EQ(pdus.size(), parts) << length;
    std::string joined;
    for (size_t k = 0; k < pdus.size(); ++k) {
      const gsmpdu::Submit submit = gsmpdu::DecodeSubmit(pdus[k]);
      EXPECT_EQ(submit.number, "081234567");
      EXPECT_EQ(submit.has_concatenation, parts > 1) << length;
      if (parts > 1) {
        EXPECT_EQ(submit.reference, 42);
        EXPECT_EQ(submit.total, static_cast<int>(parts));
        EXPECT_EQ(submit.sequence, static_cast<int>(k + 1));
      }
      joined += submit.text;
    }
    EXPECT_EQ(joined, text) << length;
  }
  // Extension characters travel as escape sequences.
  const std::string braces = "{a}[b]~c^\\|\xE2\x82\xAC";
  EXPECT_EQ(gsmpdu::DecodeSubmit(EncodePdu("0812", Utf8ToCp1252(braces), 1)[0]).text, braces);
}

// The simulator's listing of PDUs, as the modem answers "AT+CMGL=4".
std::string Listing(const std::vector<std::string>& pdus, int first_index = 1) {
  std::string listing = "AT+CMGL=4\r\r\n";
  for (size_t k = 0; k < pdus.size(); ++k) {
    listing += "+CMGL: " + std::to_string(first_index + static_cast<int>(k)) + ",1,," +
               std::to_string(gsmpdu::TpduLength(pdus[k])) + "\r\n" + pdus[k] + "\r\n";
  }
  return listing + "\r\nOK\r\n";
}

TEST(PduRoundTripTest, LengthsReceivedAndJoined) {
  VirtualClock clock;
  for (const size_t length : {1u, 7u, 8u, 152u, 153u, 160u, 161u, 300u, 600u}) {
    const std::string text = SampleText(length);
    gsmpdu::DeliverOptions options;
    options.reference = 200;
    const std::vector<std::string> pdus =
        gsmpdu::EncodeDeliver("+6281234567", text, gsmpdu::Coding::Gsm7, options);
    const std::vector<ReceivedMessage> messages = ReadInbox(Listing(pdus), clock);
    ASSERT_EQ(messages.size(), pdus.size()) << length;
    EXPECT_EQ(messages[0].text, text) << length;
    for (size_t k = 1; k < messages.size(); ++k) EXPECT_EQ(messages[k].text, "") << length;
    EXPECT_EQ(messages[0].sender, "081234567");
  }
}

TEST(PduRoundTripTest, ManyPartsJoinedInOrder) {
  // Twelve short parts, listed in reverse: every part lands at its own place.
  VirtualClock clock;
  gsmpdu::DeliverOptions options;
  options.force_multipart = true;
  options.part_size = 1;
  std::vector<std::string> pdus =
      gsmpdu::EncodeDeliver("+6281234567", "ABCDEFGHIJKL", gsmpdu::Coding::Gsm7, options);
  ASSERT_EQ(pdus.size(), 12u);
  const std::vector<std::string> reversed(pdus.rbegin(), pdus.rend());
  const std::vector<ReceivedMessage> messages = ReadInbox(Listing(reversed), clock);
  ASSERT_EQ(messages.size(), 12u);
  EXPECT_EQ(messages[0].text, "ABCDEFGHIJKL");
}

}  // namespace
}  // namespace tovalink
