// The module's own walks, with its commands, tokens and timeouts, over its own exchange,
// against the example scenarios of schema/: what the module will meet in the demo and in the
// end-to-end tests.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/mkios.h"
#include "sim/exchange_fixture.h"
#include "sms/send_sms.h"

namespace tovalink::sim {
namespace {

// The module's commands, tokens and timeouts for the toolkit, over its own exchange.
class WalkTest : public ExchangeFixture {
 protected:
  // The set-up commands, AT+STIN? and the main menu; returns the menu.
  std::string OpenMenu(int timeout) {
    for (const char* command : {"AT+CMGF=0\r", "AT+WIND=15\r", "AT+STSF=1\r"}) {
      Expect(command, timeout);
    }
    Expect("AT+STIN?\r", timeout);
    return Expect("AT+STGI=0\r", timeout);
  }
  void Type(const std::string& text, const std::string& ok, int timeout) {
    Expect("AT+STGI=3\r", timeout);
    Expect("AT+STGR=3,1\r", timeout, ">");
    Expect(text + "\x1A", 2, ok);
  }
  // The toolkit poll; returns its passes, the last current text in `current`.
  int Poll(std::string& current) {
    for (int pass = 1; pass <= 10; ++pass) {
      const std::string digits = Digits(Send("AT+STIN?\r", 10, "+STIN:", "xxxx"));
      if (digits.empty()) return pass;
      current = Send("AT+STGI=" + digits + "\r", 10, "+STIN:", "ERROR");
      if (current.find("99") != std::string::npos) return pass;
    }
    return 10;
  }
};

TEST_F(WalkTest, TheExampleSimCarriesAnMtronikSaleAndItsBalanceWalk) {
  Start(ReadExample("mtronik-scenario.json"));
  const int64_t start = clock.NowMs();
  const std::string menu = OpenMenu(10);
  ASSERT_NE(menu.find("M-TRONIK"), std::string::npos);
  Expect("AT+STGR=0,1,1\r", 10, "STIN");
  Expect("AT+STGI=6\r", 10);
  Expect("AT+STGR=6,1,1\r", 10, "STIN");
  clock.SleepMs(100);
  Type("081234567801", "+STIN: 6", 10);
  Expect("AT+STGI=6\r", 10);
  Expect("AT+STGR=6,1,6\r", 10, "STIN");
  Type("10000", "+STIN: 6", 10);
  const std::string item = ItemNumber(Expect("AT+STGI=6\r", 10), "REGULER");
  EXPECT_EQ(item, "1");
  Expect("AT+STGR=6,1," + item + "\r", 10, "STIN");
  Expect("AT+STGI=3\r", 10);
  Expect("AT+STGR=3,1\r", 10, ">");
  Expect("1234\x1A", 10, "STIN");
  EXPECT_NE(Expect("AT+STGI=1\r", 10).find("Isi REGULER Rp 10000 ke 081234567801"),
            std::string::npos);
  Expect("AT+STGR=1\r", 10, "+STIN: 9");
  std::string current;
  EXPECT_EQ(Poll(current), 1);
  EXPECT_NE(current.find("+STIN: 99"), std::string::npos);
  // The reading: the operator's SMS is announced while the module waits for it.
  Expect("AT+CMGF=0\r", 20, "CMT");
  EXPECT_NE(Expect("AT+CMGL=4\r", 10).find("+CMGL: 1,0,,"), std::string::npos);
  EXPECT_EQ(port->Store("ME").at(1).text,
            "Isi Pulsa 10000 ke 081234567801 BERHASIL. SN: 100000000001. Sisa saldo Rp "
            "1.240.000");
  EXPECT_LT(clock.NowMs() - start, 10000);

  // The balance walk: M-TRONIK, item 3, item 1 twice, the PIN.
  ASSERT_NE(OpenMenu(10).find("M-TRONIK"), std::string::npos);
  Expect("AT+STGR=0,1,1\r", 10, "STIN");
  Expect("AT+STGI=6\r", 10);
  Expect("AT+STGR=6,1,3\r", 10, "STIN");
  for (int twice = 0; twice < 2; ++twice) {
    Expect("AT+STGI=6\r", 10);
    Expect("AT+STGR=6,1,1\r", 10, "STIN");
  }
  Type("1234", "+STIN", 10);
  EXPECT_EQ(Poll(current), 1);
  Expect("AT+CMGF=0\r", 20, "CMT");
  EXPECT_EQ(port->Store("ME").at(2).text, "Info M-TRONIK: sisa saldo deposit Anda Rp 1.240.000");
  EXPECT_TRUE(aborts.empty());
  const std::vector<std::string> events = ToolkitEvents();
  EXPECT_EQ(std::count(events.begin(), events.end(), "ANNOUNCE 99"), 2);
  EXPECT_EQ(std::count_if(events.begin(), events.end(),
                          [](const std::string& event) { return event.rfind("REFUSED", 0) == 0; }),
            0);
}

TEST_F(WalkTest, RestartsAwaitedAsTheModuleDoes) {
  // Step 2's recovery: "AT+STIN?" answered "ERROR", then "AT+CFUN=1;" awaiting "STIN: 0".
  Start(R"json({"stk": {"stin_errors": 1, "menu": {"items": ["A"]}}})json");
  const std::string error = Send("AT+STIN?\r", 10);
  EXPECT_NE(error.find("ERROR"), std::string::npos);
  Expect("AT+CFUN=1;\r", 15, "STIN: 0", "ERROR");
  EXPECT_EQ(elapsed_ms, 1000);
  Expect("AT+STIN?\r", 10);
}

TEST_F(WalkTest, TheExampleWalletAnswersDial151ThroughThePinPrompt) {
  Start(ReadExample("dompet-scenario.json"));
  std::string reply = Expect("AT+CUSD=1,*151*1*1*3*4*081234567802*1#\r", 20, "PIN", "xxxx");
  EXPECT_NE(reply.find("masukkan PIN"), std::string::npos);  // "kan pin", upper-cased
  reply = Expect("AT+CUSD=1,1234\r", 20, ",15", "xxxx");
  EXPECT_NE(reply.find("Transfer pulsa ke 081234567802 BERHASIL. SN 100000000001."),
            std::string::npos);
  Expect("AT+CUSD=2\r", 20, "+CUSD", "ERROR");
  EXPECT_LE(elapsed_ms, 100);

  // An amount without a menu digit: no prompt, and the module's four reset commands.
  reply = Send("AT+CUSD=1,*151*1*1*3\r", 20, "PIN", "xxxx");
  EXPECT_EQ(reply,
            "\r\nOK\r\n\r\n+CUSD: 1,\"Transfer Pulsa: 1.1rb 2.5rb 3.10rb 4.25rb "
            "5.50rb 6.100rb\",15\r\n");
  Expect("AT+CUSD=2\r", 20, "+CUSD:", "ERROR");
  Expect("AT+CFUN=1;\r", 15, "STIN: 0", "ERROR");
  Expect("ATE0\r", 20);
  Expect("AT+CUSD=1\r", 5);
  EXPECT_TRUE(aborts.empty());
}

TEST_F(WalkTest, TheExampleWalletAnswersDial101WithAnSmsAndTheBalanceRequestToo) {
  Start(ReadExample("dompet-scenario.json"));
  const std::string reply = Expect("ATD*101*10*081234567803*1234#\r", 20, "CMT", "xxxx");
  EXPECT_NE(reply.find("+CUSD: 0,\"Permintaan Anda sedang diproses\",15"), std::string::npos);
  EXPECT_EQ(elapsed_ms, 3000);
  Expect("AT+CUSD=2\r", 20);
  EXPECT_NE(Expect("AT+CMGL=4\r", 10).find("+CMGL: 1,0,,"), std::string::npos);
  EXPECT_EQ(port->Store("ME").at(1).text,
            "Transfer pulsa 10 ke 081234567803 BERHASIL. SN 100000000001. Sisa saldo Rp "
            "3.740.000");
  EXPECT_EQ(port->Store("ME").at(1).sender, "DOMPET");

  // The balance request after a sale that did not succeed: "BALANCE" to 461.
  Expect("AT+CMGF=0\r", 2);
  EXPECT_EQ(SendSms(*exchange, "461", "BALANCE"), SmsResult::Sent);
  Expect("AT+CMGF=0\r", 20, "CMT");
  EXPECT_EQ(port->Store("ME").at(2).text,
            "Sisa saldo dompet pulsa Anda Rp 3.740.000. Terima kasih");
  EXPECT_EQ(port->Store("ME").at(2).sender, "461");
  EXPECT_EQ(port->Lines("SMS"), std::vector<std::string>{"461|BALANCE"});
}

TEST_F(WalkTest, TheExampleWalletSellsThroughItsTransfPulsaMenu) {
  Start(ReadExample("dompet-scenario.json"));
  const std::string item = ItemNumber(OpenMenu(3), "TRANSF PULSA");
  EXPECT_EQ(item, "2");
  Expect("AT+STGR=0,1," + item + "\r", 3, "STIN");
  clock.SleepMs(100);
  Type("081234567804", "+STIN: 6", 3);
  Expect("AT+STGI=6\r", 3);
  Expect("AT+STGR=6,1,1\r", 3, "STIN");
  // Amount 25: "25k" is the fifth item, after "5K", "10K", "15K" and "20K".
  const std::string amount = ItemNumber(Expect("AT+STGI=6\r", 3), "25k");
  EXPECT_EQ(amount, "5");
  Expect("AT+STGR=6,1," + amount + "\r", 3, "STIN");
  Expect("AT+STGI=1\r", 3);
  Expect("AT+STGR=1\r", 3, "STIN");
  Type("1234", "STIN", 3);
  EXPECT_NE(Expect("AT+STGI=1\r", 3).find("Transaksi sedang diproses"), std::string::npos);
  Expect("AT+STGR=1\r", 3, "+STIN: 9");
  std::string current;
  EXPECT_EQ(Poll(current), 1);
  Expect("AT+CMGF=0\r", 20, "CMT");
  EXPECT_EQ(port->Store("ME").at(1).text,
            "Transfer pulsa 25K ke 081234567804 BERHASIL. SN 100000000001. Sisa saldo Rp "
            "3.735.000");
  const std::vector<std::string> events = ToolkitEvents();
  EXPECT_EQ(std::count_if(events.begin(), events.end(),
                          [](const std::string& event) { return event.rfind("REFUSED", 0) == 0; }),
            0);
}

TEST_F(WalkTest, TheExampleStockIsReadAtStartAndJudgesSalesByItsCount) {
  Start(ReadExample("mkios-scenario.json"));
  const std::string end = ",15\r\n";  // a WAVECOM modem's dial reply end
  // The worker's stock check: asked again until the operator answers with a stock reply.
  int asked = 0;
  std::string reply;
  do {
    reply = Expect("ATD*776*1234#\r", 20, end);
    ++asked;
    clock.SleepMs(1000);
  } while (!ParseStock(form, reply) && asked < 8);
  EXPECT_EQ(asked, 2);
  EXPECT_EQ(form.Stock("S10"), "35");
  EXPECT_EQ(form.Stock("S100"), "2");
  EXPECT_EQ(form.Stock("S15"), "-");

  // A sale that says so: the serial number and the new count.
  reply = Expect("ATD*777*081234567805*10*1234#\r", 30, end);
  EXPECT_NE(reply.find("BERHASIL. SN:100000000001. Sisa V10 k=34."), std::string::npos);
  EXPECT_FALSE(ParseStock(form, reply));
  form.SetStock("S10", "34");  // the count after "k=" goes into the sale's box
  // Two sales whose answers decide nothing, judged by the stock before and after: the first
  // went through, the second did not.
  for (const bool went_through : {true, false}) {
    const std::string before = form.Stock("S10");
    reply = Expect("ATD*777*4*081234567806*10*1234#\r", 30, end);
    EXPECT_EQ(reply.find("BERHASIL"), std::string::npos);
    ASSERT_TRUE(ParseStock(form, Expect("ATD*776*1234#\r", 20, end)));
    EXPECT_EQ(form.Stock("S10") != before, went_through) << before;
    clock.SleepMs(2000);
  }
  EXPECT_EQ(
      port->Lines("STOCK"),
      (std::vector<std::string>{"ASK|busy", "ASK|read|V5=120, V10=35, V20=12, V25=8, V50=5, V100=2",
                                "SALE|-|081234567805|V10|success, 34 left",
                                "SALE|4|081234567806|V10|silent, 33 left",
                                "ASK|read|V5=120, V10=33, V20=12, V25=8, V50=5, V100=2",
                                "SALE|4|081234567806|V10|failed, 33 left",
                                "ASK|read|V5=120, V10=33, V20=12, V25=8, V50=5, V100=2"}));
}

}  // namespace
}  // namespace tovalink::sim
