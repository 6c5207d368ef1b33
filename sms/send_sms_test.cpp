#include "sms/send_sms.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/clock.h"
#include "core/form.h"
#include "modem/exchange.h"
#include "modem/scripted_port.h"
#include "sim/gsm_pdu.h"

namespace tovalink {
namespace {

const std::string kPrompt = "\r\n> ";
const std::string kAccepted = "\r\n+CMGS: 12\r\n\r\nOK\r\n";

// A modem on the virtual clock that prompts for every PDU and accepts it.
class SendSmsTest : public ::testing::Test {
 protected:
  SendSmsTest() : port_(clock_), exchange_(port_, form_, clock_, [this](auto&&...) { ++aborts_; }) {
    form_.StopRequested = false;
    form_.cport = "3";
    port_.Open("COM3", SerialSettings{});
    port_.On("AT+CMGS=", kPrompt);
    port_.On("00", ScriptedPort::Answer{kAccepted, 300});
  }

  // The PDUs written, each checked to follow its "AT+CMGS=" with the right length.
  std::vector<gsmpdu::Submit> Submitted() {
    std::vector<gsmpdu::Submit> submits;
    const std::vector<std::string> written = port_.Written();
    EXPECT_EQ(written.size() % 2, 0u);
    for (size_t k = 0; k + 1 < written.size(); k += 2) {
      const std::string pdu = written[k + 1].substr(0, written[k + 1].size() - 1);
      EXPECT_EQ(written[k + 1].back(), '\x1A');
      EXPECT_EQ(written[k], "AT+CMGS=" + std::to_string(gsmpdu::TpduLength(pdu)) + "\r");
      submits.push_back(gsmpdu::DecodeSubmit(pdu));
    }
    return submits;
  }

  VirtualClock clock_;
  ScriptedPort port_;
  Form form_;
  Exchange exchange_;
  int aborts_ = 0;
};

TEST_F(SendSmsTest, NationalFormOfTheNumber) {
  EXPECT_EQ(SendSms(exchange_, "+62 812 3456 789", "Cek saldo"), SmsResult::Sent);
  const std::vector<gsmpdu::Submit> submits = Submitted();
  ASSERT_EQ(submits.size(), 1u);
  EXPECT_EQ(submits[0].number, "08123456789");
  EXPECT_EQ(submits[0].number_type, 0x81);
  EXPECT_EQ(submits[0].text, "Cek saldo");
}

TEST_F(SendSmsTest, UnusableNumberOrEmptyTextSendsNothing) {
  EXPECT_EQ(SendSms(exchange_, "0812-345", "x"), SmsResult::Failed);
  EXPECT_EQ(SendSms(exchange_, "+65812345", "x"), SmsResult::Failed);
  EXPECT_EQ(SendSms(exchange_, "0812345", ""), SmsResult::Sent);
  EXPECT_TRUE(port_.Written().empty());
}

TEST_F(SendSmsTest, LineEndsTravelAsSingleCarriageReturns) {
  EXPECT_EQ(SendSms(exchange_, "0812", "Baris 1\r\nBaris 2\r\n"), SmsResult::Sent);
  const std::vector<gsmpdu::Submit> submits = Submitted();
  ASSERT_EQ(submits.size(), 1u);
  EXPECT_EQ(submits[0].text, "Baris 1\rBaris 2\r");
}

TEST_F(SendSmsTest, LongTextsGetOneReferenceEachAndNeverTheSameTwiceInARow) {
  const std::string text(200, 'x');
  ASSERT_EQ(SendSms(exchange_, "0812", text), SmsResult::Sent);
  ASSERT_EQ(SendSms(exchange_, "0812", text), SmsResult::Sent);
  const std::vector<gsmpdu::Submit> submits = Submitted();
  ASSERT_EQ(submits.size(), 4u);
  for (size_t k = 0; k < 4; ++k) {
    EXPECT_TRUE(submits[k].has_concatenation);
    EXPECT_EQ(submits[k].total, 2);
    EXPECT_EQ(submits[k].sequence, static_cast<int>(k % 2 + 1));
    EXPECT_GE(submits[k].reference, 1);
    EXPECT_LE(submits[k].reference, 79);
  }
  EXPECT_EQ(submits[0].reference, submits[1].reference);
  EXPECT_EQ(submits[2].reference, submits[3].reference);
  EXPECT_NE(submits[0].reference, submits[2].reference);
  EXPECT_EQ(submits[0].text + submits[1].text, text);
}

TEST(ConcatenationReferenceTest, StaysInRangeAndNeverRepeatsAtOnce) {
  int previous = NextConcatenationReference();
  for (int k = 0; k < 2000; ++k) {
    const int reference = NextConcatenationReference();
    ASSERT_GE(reference, 1);
    ASSERT_LE(reference, 79);
    ASSERT_NE(reference, previous);
    previous = reference;
  }
}

TEST_F(SendSmsTest, OnlyAConfirmedLastPartCountsAsSent) {
  struct Case {
    const char* name;
    std::string last_reply;  // "" : no answer at all
    bool sent;
  };
  const std::vector<Case> cases = {
      {"confirmed", kAccepted, true},
      {"OK alone", "\r\nOK\r\n", true},
      {"error", "\r\n+CMS ERROR: 500\r\n", false},
      {"no answer", "", false},
      {"stray text only", "\r\n+CSQ: 20,0\r\n", false},
  };
  for (const Case& c : cases) {
    port_.Clear();
    port_.On("AT+CMGS=", kPrompt);
    if (!c.last_reply.empty()) port_.On("00", c.last_reply);
    // The first part is refused (this rule wins once); only the last part's answer decides.
    port_.On("00", ScriptedPort::Answer{"\r\nERROR\r\n", 0, 0, 0, 1});
    EXPECT_EQ(SendSms(exchange_, "0812", std::string(200, 'y')) == SmsResult::Sent, c.sent)
        << c.name;
  }
  EXPECT_EQ(aborts_, 0);
}

TEST_F(SendSmsTest, NothingIsSentWhileTheModuleIsStopped) {
  form_.StopRequested = true;
  EXPECT_EQ(SendSms(exchange_, "0812", "x"), SmsResult::Stopped);
  EXPECT_TRUE(port_.Written().empty());
}

}  // namespace
}  // namespace tovalink
