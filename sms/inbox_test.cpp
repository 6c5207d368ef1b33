#include "sms/inbox.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/clock.h"
#include "sim/gsm_pdu.h"
#include "sms/gsm_hex.h"
#include "sms/pdu_encode.h"
#include "sms/text_file.h"

namespace tovalink {
namespace {

struct Listed {
  int index;
  std::string pdu;
};

// A PDU-mode listing as the modem answers "AT+CMGL=4\r", with CR LF line ends.
std::string Listing(const std::vector<Listed>& messages) {
  std::string listing = "AT+CMGL=4\r\r\n";
  for (const Listed& m : messages) {
    listing += "+CMGL: " + std::to_string(m.index) + ",1,," +
               std::to_string(gsmpdu::TpduLength(m.pdu)) + "\r\n" + m.pdu + "\r\n";
  }
  return listing + "\r\nOK\r\n";
}

std::string Single(const std::string& sender, const std::string& text) {
  return gsmpdu::EncodeDeliver(sender, text, gsmpdu::Coding::Gsm7).at(0);
}

// The parts of a message cut into pieces of `part_size` characters.
std::vector<std::string> Parts(const std::string& sender, const std::string& text, int reference,
                               int part_size) {
  gsmpdu::DeliverOptions options;
  options.reference = reference;
  options.force_multipart = true;
  options.part_size = part_size;
  return gsmpdu::EncodeDeliver(sender, text, gsmpdu::Coding::Gsm7, options);
}

std::string Texts(const std::vector<ReceivedMessage>& messages) {
  std::string out;
  for (const ReceivedMessage& m : messages) {
    out += std::to_string(m.index) + "|" + m.sender + "|" + m.text + "\n";
  }
  return out;
}

// Runs each test in a fresh current directory, where ReadInbox writes debugall.txt.
class InboxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = std::filesystem::current_path();
    char pattern[] = "/tmp/sms_inbox_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    std::filesystem::current_path(dir_);
  }
  void TearDown() override {
    std::filesystem::current_path(previous_);
    std::filesystem::remove_all(dir_);
  }
  static std::string FileText(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  VirtualClock clock_;
  std::filesystem::path previous_;
  std::filesystem::path dir_;
};

TEST_F(InboxTest, SingleMessages) {
  const std::string listing = Listing({{7, Single("+6281234567", "Saldo Rp 10.000")},
                                       {9, Single("08777", "Trx ok")}});
  EXPECT_EQ(Texts(ReadInbox(listing, clock_)),
            "7|081234567|Saldo Rp 10.000\n"
            "9|08777|Trx ok\n");
  EXPECT_FALSE(std::filesystem::exists(kDiagnosticFile));
}

TEST_F(InboxTest, EmptyOrHeaderlessListings) {
  EXPECT_TRUE(ReadInbox("", clock_).empty());
  EXPECT_TRUE(ReadInbox("AT+CMGL=4\r\r\nOK\r\n", clock_).empty());
  // A header line that is the last line, or whose next line holds a "+", is no message.
  EXPECT_TRUE(ReadInbox("+CMGL: 1,1,,5", clock_).empty());
}

TEST_F(InboxTest, TwoPartsJoinInEitherOrder) {
  const std::vector<std::string> parts = Parts("+6281234567", "Part one. Part two.", 33, 10);
  ASSERT_EQ(parts.size(), 2u);
  EXPECT_EQ(Texts(ReadInbox(Listing({{1, parts[0]}, {2, parts[1]}}), clock_)),
            "1|081234567|Part one. Part two.\n"
            "2|081234567|\n");
  EXPECT_EQ(Texts(ReadInbox(Listing({{1, parts[1]}, {2, parts[0]}}), clock_)),
            "1|081234567|Part one. Part two.\n"
            "2|081234567|\n");
}

TEST_F(InboxTest, LonePartWaitsForTheRest) {
  const std::vector<std::string> parts = Parts("+6281234567", "Part one. Part two.", 33, 10);
  EXPECT_TRUE(ReadInbox(Listing({{1, Single("0812", "hi")}, {4, parts[0]}}), clock_).empty());
  // Followed by an ordinary message, the lone part is returned with its own text.
  EXPECT_EQ(Texts(ReadInbox(Listing({{4, parts[0]}, {5, Single("0812", "hi")}}), clock_)),
            "4|081234567|Part one. \n"
            "5|0812|hi\n");
}

TEST_F(InboxTest, NewMessageNotificationInsideAListing) {
  // The notification takes the place of a header: its index is the quoted store name, so
  // that message is left out, and so is the message whose PDU line it displaced.
  const std::string listing = "\r\n+CMGL: 1,1,,20\r\n+CMTI: \"SM\",2\r\n" +
                              Single("0812", "lost") + "\r\n+CMGL: 3,1,,20\r\n" +
                              Single("0813", "kept") + "\r\n\r\nOK\r\n";
  EXPECT_EQ(Texts(ReadInbox(listing, clock_)), "3|0813|kept\n");
}

TEST_F(InboxTest, OperatorCodeSenderIsNeverJoined) {
  const std::vector<std::string> parts = Parts("+62962555", "Promo one. Promo two.", 9, 11);
  const std::string listing =
      Listing({{1, parts[0]}, {2, parts[1]}, {3, Single("+6281234567", "ok")}});
  EXPECT_EQ(Texts(ReadInbox(listing, clock_)),
            "1|62962|Promo one. \n"
            "2|62962|Promo two.\n"
            "3|081234567|ok\n");
}

TEST_F(InboxTest, PartsOfAnotherMessageNeverFillAGap) {
  // Message 1 has all fifteen parts; message 2 lacks its fourteenth. The gap stays empty.
  const std::vector<std::string> first = Parts("+6281234567", "abcdefghijklmno", 1, 1);
  std::vector<std::string> second = Parts("+6281234567", "ABCDEFGHIJKLMNO", 2, 1);
  second.erase(second.begin() + 13);
  std::vector<Listed> listed;
  for (const std::string& pdu : first) listed.push_back({static_cast<int>(listed.size()) + 1, pdu});
  for (const std::string& pdu : second) listed.push_back({static_cast<int>(listed.size()) + 1, pdu});
  const std::vector<ReceivedMessage> messages = ReadInbox(Listing(listed), clock_);
  ASSERT_EQ(messages.size(), 29u);
  EXPECT_EQ(messages[0].text, "abcdefghijklmno");
  EXPECT_EQ(messages[15].text, "ABCDEFGHIJKLMO");
}

TEST_F(InboxTest, PartsJoinOnlyWithTheirOwnMessage) {
  // Two senders that happen to use the same reference.
  const std::vector<std::string> first = Parts("+6281111111", "Part one. Part two.", 9, 10);
  const std::vector<std::string> second = Parts("+6282222222", "Else one. Else two.", 9, 10);
  EXPECT_EQ(Texts(ReadInbox(Listing({{1, first[0]}, {2, second[0]}, {3, first[1]},
                                     {4, second[1]}}),
                            clock_)),
            "1|081111111|Part one. Part two.\n"
            "2|082222222|Else one. Else two.\n"
            "3|081111111|\n"
            "4|082222222|\n");

  // Header values whose digits read alike when run together: reference 37 of eight parts
  // gives 2 and 40, reference 128 of nine parts 24 and 0, each followed by 12, 0, 5.
  std::vector<Listed> listed;
  for (const std::string& pdu : Parts("+6281111111", "abcdefgh", 37, 1)) {
    listed.push_back({static_cast<int>(listed.size()) + 1, pdu});
  }
  for (const std::string& pdu : Parts("+6281111111", "ABCDEFGHI", 128, 1)) {
    listed.push_back({static_cast<int>(listed.size()) + 1, pdu});
  }
  const std::vector<ReceivedMessage> messages = ReadInbox(Listing(listed), clock_);
  ASSERT_EQ(messages.size(), 17u);
  EXPECT_EQ(messages[0].text, "abcdefgh");
  EXPECT_EQ(messages[8].text, "ABCDEFGHI");
}

// A 7-bit PDU whose user data is the given septets.
std::string SeptetPdu(const std::vector<int>& septets) {
  return "00" "04" "04" "81" "8021" "00" "00" "62805080010223" + HexOctet(static_cast<int>(septets.size())) +
         PackSeptets(septets);
}

TEST_F(InboxTest, PartBeyondTheSlotTableIsKeptAndRecorded) {
  // Header values 1, 120, 12, 0, 5: part value 1120, slot 34 of a table of 31.
  const std::string odd = SeptetPdu({5, 0, 12, 120, 1, 65, 66});
  const std::string listing = Listing({{4, odd}, {5, Single("0812", "next")}});
  EXPECT_EQ(Texts(ReadInbox(listing, clock_)),
            "4|0812|AB\n"
            "5|0812|next\n");
  const std::string record =
      "10:00:00 Receive Err:part at index 4 lies beyond the slot table; kept as its own "
      "message\r\n";
  // The first record creates the file; later ones are appended with a line end of their own.
  EXPECT_EQ(FileText(kDiagnosticFile), record);
  ReadInbox(listing, clock_);
  EXPECT_EQ(FileText(kDiagnosticFile), record + record + "\r\n");
}

TEST_F(InboxTest, TextFiles) {
  EXPECT_FALSE(AppendFileText("new.txt", "first"));
  EXPECT_EQ(FileText("new.txt"), "first");
  EXPECT_TRUE(AppendFileText("new.txt", "second"));
  EXPECT_EQ(FileText("new.txt"), "firstsecond\r\n");
  EXPECT_TRUE(WriteFileText("new.txt", "over"));
  EXPECT_EQ(FileText("new.txt"), "over");
  EXPECT_FALSE(WriteFileText("missing/dir.txt", "x"));
  EXPECT_FALSE(AppendFileText("missing/dir.txt", "x"));
}

TEST(ZeroPadTest, PadsToTheWidth) {
  EXPECT_EQ(ZeroPad(5, 2), "05");
  EXPECT_EQ(ZeroPad(32, 2), "32");
  EXPECT_EQ(ZeroPad(100, 2), "100");
  EXPECT_EQ(ZeroPad(0, 2), "00");
}

TEST(ReadWholeNumberTest, Forms) {
  int value = -1;
  EXPECT_TRUE(ReadWholeNumber("12", value));
  EXPECT_EQ(value, 12);
  EXPECT_TRUE(ReadWholeNumber("  +7", value));
  EXPECT_EQ(value, 7);
  EXPECT_TRUE(ReadWholeNumber("-3", value));
  EXPECT_EQ(value, -3);
  for (const char* text : {"", " ", "+", "\"SM\"", "1a", "3 ", "99999999999"}) {
    EXPECT_FALSE(ReadWholeNumber(text, value)) << text;
  }
}

TEST(ReadInboxCdmaTest, Listing) {
  const std::string listing =
      "AT+CMGL=1;\r\r\n"
      "+CMGL: 3,\"REC READ\"\r\n"
      "0A0812345678260105100000000007He'l\"lo\r\n\r\n"
      "+CMGL: 4,\"REC READ\"\r\n"
      "050877726010510000000000AHello\r\nthere trailing\r\nignored\r\n"
      "+CMGL: x,\"REC READ\"\r\n"
      "0A0812345678260105100000000002no\r\n"
      "+CMGL: 6\r\n"
      "\r\nOK\r\n";
  EXPECT_EQ(Texts(ReadInboxCdma(listing)),
            "3|0812345678|Hello\n"
            "4|08777|Hellothere\n"
            "6||\n");
  EXPECT_TRUE(ReadInboxCdma("").empty());
}

}  // namespace
}  // namespace tovalink
