// The wallet (DOMPET) channel, in process: a scripted modem on the virtual clock and the real
// database.
#include "engine/dompet.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>

#include "engine/sim_module_fixture.h"
#include "testsupport/listing.h"
#include "testsupport/module_fixture.h"

namespace tovalink {
namespace {

TEST(DompetCodeTest, PinPromptWordings) {
  struct Case {
    const char* reply;
    size_t position;
  };
  for (const Case& c : {Case{"Silakan masukkan PIN", 14}, Case{"Masukan PIN", 5},
                        Case{"\r\n+CUSD: 1,\"MASUKKAN pin Anda\",15\r\n", 18}, Case{"Ketik PIN", 0},
                        Case{"masukkanPIN", 0}, Case{"", 0}}) {
    EXPECT_EQ(PinPromptPosition(c.reply), c.position) << c.reply;
  }
}

class DompetTest : public ModuleFixture {
 protected:
  DompetTest() {
    form.ctipeprov = "DOMPET";
    t.Run(
        "INSERT INTO penjualanproduk (modem, idproduk, barcode, tanggal, jumlah, flag) VALUES"
        " ('M1', 'D5', '0812', '2026-03-02', 1, 1);");
  }

  // A rule that settles the wallet's success texts, and one for its failures.
  void Rules(const std::string& awalmsisdn = "ke ") {
    t.Run(
        "INSERT INTO settinggetsn (idproduk, tipepesan, awalmsisdn, awalsn, akhirsn,"
        " pesanproduk, pesansuksesgagal) VALUES ('D5', 'SUKSES', '" +
        awalmsisdn + "', 'SN ', '.', 'Transfer pulsa', 'BERHASIL'), ('D5', 'GAGAL', '" +
        awalmsisdn + "', '', '', 'ke', 'gagal');");
  }

  void Run(const std::string& method, const std::string& nominal = "5") {
    form.cmethod = method;
    Sale sale;
    sale.idproduk = "D5";
    sale.barcode = "0812";
    sale.pin = "1234";
    sale.idx = 1;
    sale.nominal = nominal;
    sale.kind = SaleKind::Wallet();
    sale.jumlah = 1;
    wallet->RunSale(module, InHand(sale));
  }

  // The commands written after the sale was taken, the SMS submissions' PDUs left out.
  std::vector<std::string> Commands() {
    std::vector<std::string> commands;
    for (const std::string& write : port.Written()) {
      if (write.rfind("00", 0) != 0) commands.push_back(write);
    }
    return commands;
  }

  std::unique_ptr<Channel> wallet = MakeChannel("DOMPET");
};

TEST_F(DompetTest, CodesByMethodAmountAndModem) {
  struct Case {
    const char* method;
    const char* modem;
    const char* nominal;
    const char* command;  // the first dial or USSD request
  };
  for (const Case& c : {
           Case{"DIAL101", "WAVECOM", "10", "ATD*101*10*0812*1234#\r"},
           Case{"DIAL101", "SIEMENS", "10", "ATD*101*10*0812*1234#;\r"},
           Case{"DIALXLTUNAI", "WAVECOM", "25000", "ATD*123*120*2*2*0812*1*1*1234*1#\r"},
           Case{"DIALXLTUNAI", "SIEMENS", "50000", "ATD*123*120*2*2*0812*2*1*1234*1#;\r"},
           Case{"DIALXLTUNAI", "OTHER", "100000", "ATD*123*120*2*2*0812*3*1*1234*1#\r"},
           Case{"DIAL151", "WAVECOM", "1", "AT+CUSD=1,*151*1*1*3*1*0812*1#\r"},
           Case{"DIAL151", "WAVECOM", "5", "AT+CUSD=1,*151*1*1*3*2*0812*1#\r"},
           Case{"DIAL151", "SIEMENS", "10", "AT+CUSD=1,*151*1*1*3*3*0812*1#\r"},
           Case{"DIAL151", "WAVECOM", "25", "AT+CUSD=1,*151*1*1*3*4*0812*1#\r"},
           Case{"DIAL151", "WAVECOM", "50", "AT+CUSD=1,*151*1*1*3*5*0812*1#\r"},
           Case{"DIAL151", "WAVECOM", "100", "AT+CUSD=1,*151*1*1*3*6*0812*1#\r"},
           Case{"DIAL151", "WAVECOM", "20", "AT+CUSD=1,*151*1*1*3\r"},
           Case{"DIAL151", "WAVECOM", "25000", "AT+CUSD=1,*151*1*1*3\r"},
       }) {
    SCOPED_TRACE(std::string(c.method) + " " + c.modem + " " + c.nominal);
    UseModem(c.modem);
    port.Clear();
    port.On("AT", "\r\nOK\r\n");
    const size_t before = port.Written().size();
    Run(c.method, c.nominal);
    ASSERT_GT(port.Written().size(), before);
    EXPECT_EQ(port.Written()[before], c.command);
  }
}

TEST_F(DompetTest, Dial101ReplyWithQuoteAndBackslashEndsPendingIntact) {
  // The USSD answer quotes its text; the operator's SMS never comes.
  port.On("ATD", "\r\nOK\r\n\r\n+CUSD: 0,\"Permintaan \\\"Anda\\\" diproses \\\",15\r\n");
  port.On("AT+CMGL=4", ScriptedPort::Answer{MessageListing({{"461", "Saldo Rp 9.000"}})});
  port.On("AT+CMGL=4", ScriptedPort::Answer{"\r\nOK\r\n", 0, 0, 0, 1});
  db.StartStatementLog();
  Run("DIAL101", "10");
  EXPECT_EQ(Commands(), (std::vector<std::string>{
                            "ATD*101*10*0812*1234#\r", "AT+CUSD=2\r",
                            // listed at once, since the dial waited for the SMS
                            "AT+CMGL=4\r",
                            // the balance request, its wait, its listing
                            "AT+CMGS=17\r", "AT+CMGF=0\r", "AT+CMGL=4\r", "AT+CMGD=1\r"}));
  const std::vector<std::string> statements = db.TakeStatementLog();
  ASSERT_GE(statements.size(), 2u);
  EXPECT_EQ(statements[0],
            "UPDATE penjualanproduk SET flag=1,tglwaktuproses='2026-03-02 09:30:00' WHERE idx=1");
  EXPECT_EQ(statements[1],
            "UPDATE penjualanproduk SET respond=\" OK  +CUSD: 0,Permintaan  Anda  diproses  ,15 "
            "\",status=\"PENDING\" WHERE idx=1");
  EXPECT_EQ(t.Dump("SELECT status, respond FROM penjualanproduk"),
            "PENDING| OK  +CUSD: 0,Permintaan  Anda  diproses  ,15 ");
  EXPECT_EQ(SubmittedTexts(), std::vector<std::string>{"BALANCE"});
  EXPECT_EQ(form.Msaldo(), "Saldo Rp 9.000");
  EXPECT_EQ(t.Dump("SELECT pengirim, pesan FROM logtrxsms"), "461|Saldo Rp 9.000");
}

TEST_F(DompetTest, XlTunaiRefusesAnAmountItCannotCarry) {
  db.StartStatementLog();
  Run("DIALXLTUNAI", "20000");
  EXPECT_EQ(db.TakeStatementLog(),
            (std::vector<std::string>{
                "UPDATE penjualanproduk SET flag=1,tglwaktuproses='2026-03-02 09:30:00' WHERE "
                "idx=1",
                "UPDATE penjualanproduk set respond=\"DENOM 20000 TIDAK DAPAT MELAKUKAN XLTUNAI\" "
                "WHERE idx=1"}));
  EXPECT_TRUE(port.Written().empty());
  EXPECT_EQ(t.Dump("SELECT status FROM penjualanproduk"), "");
}

TEST_F(DompetTest, XlTunaiDialReplyIsShownLoggedWithoutQuotesAndSettled) {
  Rules("");
  const std::string reply = "\r\n+CUSD: 0,\"Transfer pulsa 'XL' BERHASIL SN 77.\",15\r\nPIN";
  port.On("ATD", reply);
  Run("DIALXLTUNAI", "25000");
  EXPECT_EQ(Commands(),
            (std::vector<std::string>{"ATD*123*120*2*2*0812*1*1*1234*1#\r", "AT+CMGL=4\r"}));
  EXPECT_EQ(
      t.Dump("SELECT pengirim, pesan FROM logtrxsms"),
      "*123*120*2*2*0812*1*1*1234*1#|\r\n+CUSD: 0,Transfer pulsa XL BERHASIL SN 77.,15\r\nPIN");
  EXPECT_EQ(t.Dump("SELECT status, sn FROM penjualanproduk"), "SUKSES|77");
  // A success asks for no balance and empties the balance box.
  EXPECT_TRUE(SubmittedTexts().empty());
  EXPECT_EQ(form.Msaldo(), "");
}

TEST_F(DompetTest, XlTunaiTextWithBackslashEndsPendingIntact) {
  port.On("ATD", "\r\n+CUSD: 0,\"Gangguan C:\\\",15\r\nPIN");
  Run("DIALXLTUNAI", "50000");
  EXPECT_EQ(t.Dump("SELECT status, respond FROM penjualanproduk"),
            "PENDING|\r\n+CUSD: 0,Gangguan C:\\,15\r\nPIN");
  EXPECT_EQ(t.Dump("SELECT pesan FROM logtrxsms ORDER BY idlog LIMIT 1"),
            "\r\n+CUSD: 0,Gangguan C:\\,15\r\nPIN");
}

class Dial151Test : public DompetTest {
 protected:
  static constexpr const char* kCode = "AT+CUSD=1,*151*1*1*3*2*0812*1#\r";
  static constexpr const char* kPrompt =
      "\r\nOK\r\n\r\n+CUSD: 1,\"Transfer ke 0812. Silakan masukkan PIN\",15\r\n";
  static constexpr const char* kMenu = "\r\nOK\r\n\r\n+CUSD: 1,\"Menu: 1.Transfer 2.Info\",15\r\n";

  Dial151Test() {
    Rules();
    port.On("AT+CUSD=2", "\r\nOK\r\n\r\n+CUSD: 2\r\n");
    port.On("AT+CFUN=1;", "\r\nOK\r\n\r\n+STIN: 0\r\n");
    port.On("AT+CUSD=1,1234",
            "\r\n+CUSD: 0,\"Transfer pulsa ke 0812 BERHASIL. SN 555. 'Sisa' C:\\x/y\",15\r\n");
    form.SetObserver([this](const FormChange& change) {
      if (change.what == FormDisplay::Msaldo) shown.push_back(change.text);
    });
  }

  std::vector<std::string> shown;  // every text of the balance box, in order
};

TEST_F(Dial151Test, PinPromptIsAnsweredAndTheAnswerSettlesTheSale) {
  port.On("AT+CUSD=1,*151", kPrompt);
  Run("DIAL151");
  EXPECT_EQ(Commands(),
            (std::vector<std::string>{kCode, "AT+CUSD=1,1234\r", "AT+CUSD=2\r", "AT+CMGL=4\r"}));
  const std::string text =
      "ke 0812:  +CUSD: 0,Transfer pulsa ke 0812 BERHASIL. SN 555. Sisa C: x y,15  ";
  EXPECT_EQ(t.Dump("SELECT pengirim, pesan FROM logtrxsms"), "*151*1*1*3*2*0812*1#|" + text);
  EXPECT_EQ(t.Dump("SELECT status, sn, respond FROM penjualanproduk"), "SUKSES|555|" + text);
  EXPECT_TRUE(SubmittedTexts().empty());
  ASSERT_GE(shown.size(), 3u);
  EXPECT_EQ(shown[0], std::string(kPrompt) + "->50");
  EXPECT_EQ(shown[1], text.substr(8));
  EXPECT_EQ(form.Msaldo(), "");
}

TEST_F(Dial151Test, PromptMissedTwiceIsSettledAsFailedAndTheBalanceAsked) {
  port.On("AT+CUSD=1,*151", kMenu);
  port.On("AT+CMGL=4", ScriptedPort::Answer{MessageListing({{"461", "Saldo Rp 9.000"}})});
  port.On("AT+CMGL=4", ScriptedPort::Answer{"\r\nOK\r\n", 0, 0, 0, 1});
  Run("DIAL151");
  const std::vector<std::string> reset = {"AT+CUSD=2\r", "AT+CFUN=1;\r", "ATE0\r", "AT+CUSD=1\r"};
  std::vector<std::string> expected = {kCode};
  expected.insert(expected.end(), reset.begin(), reset.end());
  expected.push_back(kCode);
  expected.insert(expected.end(), reset.begin(), reset.end());
  for (const char* command :
       {"AT+CMGL=4\r", "AT+CMGS=17\r", "AT+CMGF=0\r", "AT+CMGL=4\r", "AT+CMGD=1\r"}) {
    expected.push_back(command);
  }
  EXPECT_EQ(Commands(), expected);
  const std::string text = "gagal try2x ke 0812:  OK    +CUSD: 1,Menu: 1.Transfer 2.Info,15  ";
  EXPECT_EQ(t.Dump("SELECT pengirim, pesan FROM logtrxsms ORDER BY idlog"),
            "*151*1*1*3*2*0812*1#|" + text + "\n461|Saldo Rp 9.000");
  EXPECT_EQ(t.Dump("SELECT status, respond FROM penjualanproduk"), "GAGAL|" + text);
  EXPECT_EQ(SubmittedTexts(), std::vector<std::string>{"BALANCE"});
  EXPECT_EQ(form.Msaldo(), "Saldo Rp 9.000");
  EXPECT_EQ(shown[0], std::string(kMenu) + "->0");
}

TEST_F(Dial151Test, PromptOnTheSecondTryClosesAwaitingTheColon) {
  port.On("AT+CUSD=1,*151", kPrompt);
  port.On("AT+CUSD=1,*151", ScriptedPort::Answer{kMenu, 0, 0, 0, 1});
  // A close answered without "+CUSD:" waits the whole waiting time (2 s) in the second try.
  port.On("AT+CUSD=2", "\r\nOK\r\n\r\n+CUSD");
  const int64_t start = clock.NowMs();
  Run("DIAL151");
  EXPECT_EQ(Commands(),
            (std::vector<std::string>{kCode, "AT+CUSD=2\r", "AT+CFUN=1;\r", "ATE0\r", "AT+CUSD=1\r",
                                      kCode, "AT+CUSD=1,1234\r", "AT+CUSD=2\r", "AT+CMGL=4\r"}));
  EXPECT_GE(clock.NowMs() - start, 2 * 2000);
  EXPECT_EQ(t.Dump("SELECT status, sn FROM penjualanproduk"), "SUKSES|555");
}

TEST_F(Dial151Test, EndingModuleTakesNoFurtherStep) {
  std::atomic<bool> ending{false};
  module.end_requested = &ending;
  port.On("AT+CUSD=1,*151", ScriptedPort::Answer{kPrompt, 500});
  clock.After(100, [&] { ending = true; });
  db.StartStatementLog();
  Run("DIAL151");
  EXPECT_EQ(Commands(), std::vector<std::string>{kCode});
  EXPECT_EQ(db.TakeStatementLog().size(), 1u);  // the take, nothing after it
}

TEST_F(DompetTest, KeypadMacroPressesEveryPieceThenWaitsForTheReply) {
  UseModem("SIEMENS");
  t.Run("INSERT INTO macroeditorc55 VALUES ('D5', '*858#~~hptujuan~nominal~pin');");
  Run("TRANSFER", "5");
  EXPECT_EQ(Commands(), (std::vector<std::string>{
                            "AT+CKPD=\"*858#\";\r", "AT+CKPD=\"\";\r", "AT+CKPD=\"0812\";\r",
                            "AT+CKPD=\"5\";\r", "AT+CKPD=\"1234\";\r", "AT+CMGF=0\r", "AT+CMGL=4\r",
                            "AT+CMGS=17\r", "AT+CMGF=0\r", "AT+CMGL=4\r"}));
  EXPECT_EQ(t.Dump("SELECT status, respond FROM penjualanproduk"), "PENDING|");
}

TEST_F(DompetTest, RepliesAreSettledEvenWhenTheirLogFails) {
  Rules();
  UseModem("SIEMENS");
  port.On("AT+CMGL=4", ScriptedPort::Answer{
                           MessageListing({{"6281299", "Transfer pulsa ke 0812 BERHASIL. SN 91."}}),
                           0, 0, 0, 1});
  t.Run("DROP TABLE logtrxsms;");
  Run("TRANSFER");
  EXPECT_EQ(form.StatusPanel(0), "ERRINSERT logtrxsms");
  EXPECT_EQ(t.Dump("SELECT status, sn FROM penjualanproduk"), "SUKSES|91");
  EXPECT_EQ(port.Written("AT+CMGD="), std::vector<std::string>{"AT+CMGD=1\r"});
  EXPECT_TRUE(SubmittedTexts().empty());
}

TEST_F(DompetTest, FirstSettlingReplyDecidesAndAFailureAsksTheBalance) {
  Rules();
  t.Run(
      "INSERT INTO penjualanproduk (modem, idproduk, barcode, tanggal, jumlah, status) VALUES"
      " ('M2', 'D5', '0899', '2026-03-02', 1, 'PENDING');");
  port.On("AT+CMGL=4", ScriptedPort::Answer{MessageListing({{"461", "Saldo Rp 1"}})});
  port.On("AT+CMGL=4", ScriptedPort::Answer{
                           MessageListing({{"6281299", "Transfer pulsa ke 0899 BERHASIL. SN 1."},
                                           {"6281299", "Transfer ke 0812 gagal"},
                                           {"6281299", "Transfer pulsa ke 0812 BERHASIL. SN 2."},
                                           {"62962", "Promo 'hemat'"}}),
                           0, 0, 0, 1});
  Run("DIAL101");
  EXPECT_EQ(t.Dump("SELECT barcode, status, sn FROM penjualanproduk ORDER BY idx"),
            "0812|GAGAL|\n0899|SUKSES|1");
  EXPECT_EQ(t.Value("SELECT COUNT(*) FROM logtrxsms WHERE pengirim='62962'"), "0");
  EXPECT_EQ(port.Written("AT+CMGD=").size(), 5u);
  EXPECT_EQ(SubmittedTexts(), std::vector<std::string>{"BALANCE"});
  EXPECT_EQ(form.Msaldo(), "Saldo Rp 1");
}

// The "TRANSF PULSA" menu of the example wallet SIM, over the simulated modem.
class TransfPulsaTest : public SimModuleFixture {
 protected:
  TransfPulsaTest() {
    form.cmethod = "TRANSFER";
    t.Run("INSERT INTO penjualanproduk (modem, idproduk, barcode, tanggal, jumlah, flag) VALUES"
          " ('M1', 'D5', '081234567804', '2026-03-02', 1, 1);"
          "INSERT INTO settinggetsn (idproduk, tipepesan, awalmsisdn, awalsn, akhirsn,"
          " pesanproduk, pesansuksesgagal) VALUES"
          " ('D5', 'SUKSES', 'ke ', 'SN ', '.', 'Transfer pulsa', 'BERHASIL');");
  }

  static nlohmann::json ExampleSim() {
    return nlohmann::json::parse(SourceFile("schema/dompet-scenario.json"));
  }

  void Run(const std::string& nominal) {
    Sale sale;
    sale.idproduk = "D5";
    sale.barcode = "081234567804";
    sale.pin = "1234";
    sale.idx = 1;
    sale.nominal = nominal;
    sale.kind = SaleKind::Wallet();
    sale.jumlah = 1;
    MakeChannel("DOMPET")->RunSale(*module, InHand(sale));
  }

  // The label of each item chosen in the nominal list.
  std::vector<std::string> NominalsChosen() const {
    std::vector<std::string> chosen;
    for (const std::string& event : ToolkitEvents()) {
      if (event.rfind("SELECT|nominal|", 0) == 0) chosen.push_back(event.substr(event.rfind('|') + 1));
    }
    return chosen;
  }
};

TEST_F(TransfPulsaTest, SaleThroughTheMenuIsSettledByTheSimsAnswer) {
  Start(ExampleSim().dump());
  Run("25");
  EXPECT_TRUE(aborted.empty());
  EXPECT_EQ(NominalsChosen(), std::vector<std::string>{"25K"});
  EXPECT_EQ(t.Dump("SELECT status, sn FROM penjualanproduk"), "SUKSES|100000000001");
  EXPECT_EQ(t.Dump("SELECT pesan FROM logtrxsms"),
            "Transfer pulsa 25K ke 081234567804 BERHASIL. SN 100000000001. Sisa saldo Rp "
            "3.735.000");
  // After the walk: the wait for the SIM's answer, its listing and deletion; no balance.
  const std::vector<std::string> written = Written();
  const auto poll = std::find(written.begin(), written.end(), "AT+STGI=9\r");
  ASSERT_NE(poll, written.end());
  EXPECT_EQ(std::vector<std::string>(poll + 1, written.end()),
            (std::vector<std::string>{"AT+CMGF=0\r", "AT+CMGL=4\r", "AT+CMGD=1\r"}));
  EXPECT_EQ(form.Msaldo(), "");
}

TEST_F(TransfPulsaTest, NominalItemIsTheFirstLineHoldingItsName) {
  nlohmann::json sim = ExampleSim();
  nlohmann::json& items = sim["stk"]["nodes"]["nominal"]["items"];
  items = nlohmann::json::array();
  for (const char* label : {"10K", "15K", "5K", "25K", "100K"}) {
    items.push_back({{"label", label}, {"next", "konfirmasi"}});
  }
  struct Case {
    const char* nominal;
    std::vector<std::string> chosen;
    const char* status_and_respond;
  };
  for (const Case& c : {
           Case{"5", {"15K"}, "SUKSES|Transfer pulsa 15K"},  // "5k" is in "15K"
           Case{"10", {"10K"}, "SUKSES|Transfer pulsa 10K"},
           Case{"100", {"100K"}, "SUKSES|Transfer pulsa 100K"},
           Case{"7", {}, "|MENU 7k tidak ADA "},  // left to the operator, status unchanged
       }) {
    SCOPED_TRACE(c.nominal);
    t.Run("UPDATE penjualanproduk SET status='', respond=NULL, sn='';");
    Start(sim.dump());
    Run(c.nominal);
    EXPECT_EQ(NominalsChosen(), c.chosen);
    EXPECT_EQ(t.Value("SELECT CONCAT(status, '|', SUBSTRING_INDEX(respond, ' ke ', 1)) FROM penjualanproduk"),
              c.status_and_respond);
    EXPECT_TRUE(port->Written("AT+CMGS").empty());  // no balance request either way
  }
}

TEST_F(TransfPulsaTest, SimWithoutTheMenuEndsTheModule) {
  nlohmann::json sim = ExampleSim();
  sim["stk"]["menu"]["items"][1]["label"] = "TRANSFER KUOTA";
  Start(sim.dump());
  Run("25");
  EXPECT_EQ(aborted, std::vector<std::string>{"Tidak ada Menu TRANSF PULSA:5"});
  EXPECT_EQ(t.Dump("SELECT status, respond FROM penjualanproduk"), "|MENU TRANSF PULSA tidak ADA ");
  EXPECT_EQ(Written().back(), "AT+STGI=0\r");
}

}  // namespace
}  // namespace tovalink
