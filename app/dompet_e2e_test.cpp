// Wallet (DOMPET) modules as programs: tovalinkd beside its own dbsetting.txt, the real
// database and the simulated modem on a pseudo-terminal, on the real clock.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "sim/sim_harness.h"
#include "testsupport/process.h"
#include "testsupport/test_database.h"

namespace tovalink {
namespace {

class DompetEndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    program_ = CopyProgram(TOVALINKD_PATH, folder_.path());
    WriteSettingsFile(folder_.path(), t.Name());
  }

  void TearDown() override {
    if (module_ && module_->Running()) {
      module_->Signal(SIGTERM);
      EXPECT_EQ(module_->Wait(5000), 0) << module_->Err();
    }
  }

  // Module "D1" on COM7 with PIN 1234, its product "D5" worth `denom`, one sale of it to
  // `destination`, and a modem that plays `scenario`; then the module is started.
  void Start(const std::string& method, const std::string& modem, const std::string& scenario,
             const std::string& denom = "5", const std::string& destination = "081234567802") {
    t.Run(
        "INSERT INTO modulaktif (namamodul, comm, caradial, tipemodem, metodetrx, pin,"
        " waktutunggu, autorun) VALUES ('D1', '7', 'DOMPET', '" +
        modem + "', '" + method +
        "', '1234', '5', 1);"
        "INSERT INTO produk (idproduk, denom) VALUES ('D5', " +
        denom +
        ");"
        "INSERT INTO penjualanproduk (modem, idproduk, barcode, tanggal, jumlah) VALUES"
        " ('D1', 'D5', '" +
        destination + "', CURDATE(), 1);");
    SimOptions options;
    options.port = 7;
    options.scenario_json = scenario;
    sim_ = std::make_unique<SimHarness>(options);
    module_ = std::make_unique<RunningProgram>(
        std::vector<std::string>{program_, "namamodul=D1#comm=7#pin=1234"},
        std::map<std::string, std::string>{{"MYSQL_UNIX_PORT", TestDatabase::Socket()},
                                           {"TOVALINK_PORT_DIR", sim_->Dir()}});
  }

  // The demo's wallet rules: the success texts of the example SIM, and its failures.
  void Rules() {
    t.Run(
        "INSERT INTO settinggetsn (idproduk, tipepesan, awalmsisdn, awalsn, akhirsn,"
        " pesanproduk, pesansuksesgagal) VALUES"
        " ('D5', 'SUKSES', 'ke ', 'SN ', '.', 'Transfer pulsa', 'BERHASIL'),"
        " ('D5', 'GAGAL', 'ke ', '', '', 'sibuk', 'gagal try2x');");
  }

  static std::string DemoScenario() {
    std::ifstream in(DOMPET_SCENARIO_PATH);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  // Polls a query until it gives `expected` or the time is up; returns the last value.
  std::string WaitForValue(const std::string& query, const std::string& expected,
                           int timeout_ms = 60000) {
    return t.WaitForValue(query, expected, timeout_ms);
  }

  // The transcript lines of one kind, each as its fields joined by "|".
  std::vector<std::string> Lines(const std::string& kind) {
    std::vector<std::string> lines;
    for (const TranscriptLine& line : sim_->Transcript()) {
      if (line.kind != kind) continue;
      std::string joined;
      for (const std::string& field : line.fields) joined += (joined.empty() ? "" : "|") + field;
      lines.push_back(joined);
    }
    return lines;
  }

  // Whether the module received `command` (a transcript RX line that begins with it).
  size_t Received(const std::string& command) {
    size_t count = 0;
    for (const TranscriptLine& line : sim_->Transcript()) {
      if (line.kind == "RX" && line.text().rfind(command, 0) == 0) ++count;
    }
    return count;
  }

  TestDatabase t;
  TempFolder folder_;
  std::string program_;
  std::unique_ptr<SimHarness> sim_;
  std::unique_ptr<RunningProgram> module_;
};

TEST_F(DompetEndToEndTest, Dial151ThroughThePinPromptOnTheDemoSim) {
  Rules();
  Start("DIAL151", "WAVECOM", DemoScenario());
  ASSERT_EQ(WaitForValue("SELECT status FROM penjualanproduk", "SUKSES"), "SUKSES")
      << module_->Err();
  EXPECT_EQ(t.Value("SELECT sn FROM penjualanproduk"), "100000000001");
  EXPECT_EQ(t.Value("SELECT pengirim FROM logtrxsms"), "*151*1*1*3*2*081234567802*1#");
  EXPECT_EQ(t.Value("SELECT LEFT(pesan, 49) FROM logtrxsms"),
            "ke 081234567802:  +CUSD: 1,Transfer pulsa ke 0812");
  EXPECT_EQ(Lines("DIAL"), std::vector<std::string>{"*151*1*1*3*2*081234567802*1#"});
  // Let a cycle pass: a success asks for no balance.
  EXPECT_TRUE(sim_->WaitFor("RX", "AT+CPMS=\"SM\"", 10000));
  EXPECT_TRUE(Lines("SMS").empty());
}

TEST_F(DompetEndToEndTest, Dial151WithoutPromptTriesTwiceFailsAndAsksTheBalance) {
  Rules();
  Start("DIAL151", "WAVECOM", R"json({
    "dial_rules": [{"code": "\\*151\\*1\\*1\\*3\\*2\\*(\\d+)\\*1#", "ack": "\r\nOK\r\n",
                    "delay_ms": 300, "state": 1, "ussd": "Maaf, layanan sedang sibuk"}],
    "sms_rules": [{"to": "461", "text": "^BALANCE$",
                   "sms": {"from": "461", "store": "listed", "delay_ms": 1000,
                           "text": "Sisa saldo dompet Rp 3.740.000"}}],
    "stk": {"menu": {"items": ["Info"]}}})json");
  ASSERT_EQ(WaitForValue("SELECT status FROM penjualanproduk", "GAGAL"), "GAGAL") << module_->Err();
  EXPECT_EQ(t.Value("SELECT respond FROM penjualanproduk"),
            "gagal try2x ke 081234567802:  OK    +CUSD: 1,Maaf, layanan sedang sibuk,15  ");
  EXPECT_EQ(Lines("DIAL").size(), 2u);
  EXPECT_EQ(Received("AT+CFUN=1;"), 2u);
  ASSERT_TRUE(sim_->WaitFor("SMS", "461", 15000)) << module_->Err();
  EXPECT_EQ(Lines("SMS"), std::vector<std::string>{"461|BALANCE"});
  EXPECT_EQ(WaitForValue("SELECT COUNT(*) FROM logtrxsms WHERE pengirim='461'", "1"), "1");
}

TEST_F(DompetEndToEndTest, XlTunaiRefusesAnAmountItCannotCarryWithoutDialling) {
  Start("DIALXLTUNAI", "WAVECOM", "", "20000");
  EXPECT_EQ(WaitForValue("SELECT respond FROM penjualanproduk",
                         "DENOM 20000 TIDAK DAPAT MELAKUKAN XLTUNAI"),
            "DENOM 20000 TIDAK DAPAT MELAKUKAN XLTUNAI")
      << module_->Err();
  EXPECT_TRUE(sim_->WaitFor("RX", "AT+CPMS=\"SM\"", 10000));
  EXPECT_EQ(t.Dump("SELECT flag, status FROM penjualanproduk"), "1|");
  EXPECT_TRUE(Lines("DIAL").empty());
  EXPECT_TRUE(Lines("SMS").empty());
}

TEST_F(DompetEndToEndTest, XlTunaiDialsItsMenuAndSettlesTheAnswer) {
  Rules();
  Start("DIALXLTUNAI", "WAVECOM", R"json({"dial_rules": [
    {"code": "\\*123\\*120\\*2\\*2\\*(\\d+)\\*2\\*1\\*1234\\*1#", "delay_ms": 300,
     "ussd": "Transfer pulsa ke {1} BERHASIL. SN {serial}. Ketik PIN baru"}]})json",
        "50000");
  ASSERT_EQ(WaitForValue("SELECT status FROM penjualanproduk", "SUKSES"), "SUKSES")
      << module_->Err();
  EXPECT_EQ(t.Dump("SELECT pengirim, LEFT(pesan, 19) FROM logtrxsms"),
            "*123*120*2*2*081234567802*2*1*1234*1#|\r\n+CUSD: 0,Transfer");
  EXPECT_EQ(t.Value("SELECT sn FROM penjualanproduk"), "100000000001");
}

TEST_F(DompetEndToEndTest, Dial101IsSettledByTheOperatorsSms) {
  Rules();
  t.Run("UPDATE produk SET denom=10;");
  Start("DIAL101", "WAVECOM", DemoScenario(), "10");
  ASSERT_EQ(WaitForValue("SELECT status FROM penjualanproduk", "SUKSES"), "SUKSES")
      << module_->Err();
  EXPECT_EQ(Lines("DIAL"), std::vector<std::string>{"*101*10*081234567802*1234#"});
  // The wallet's alphanumeric sender comes out of its packed characters as they are.
  EXPECT_EQ(t.Value("SELECT pesan FROM logtrxsms"),
            "Transfer pulsa 10 ke 081234567802 BERHASIL. SN 100000000001. Sisa saldo Rp "
            "3.740.000");
  EXPECT_EQ(Received("AT+CUSD=2"), 1u);
  // Settled by the sale's own reading, so no balance is asked.
  EXPECT_TRUE(sim_->WaitFor("RX", "AT+CPMS=\"SM\"", 10000));
  EXPECT_TRUE(Lines("SMS").empty());
}

TEST_F(DompetEndToEndTest, TransfPulsaThroughTheDemoSimsMenu) {
  Rules();
  Start("MENU", "WAVECOM", DemoScenario(), "25");
  ASSERT_EQ(WaitForValue("SELECT status FROM penjualanproduk", "SUKSES"), "SUKSES")
      << module_->Err();
  EXPECT_EQ(t.Value("SELECT respond FROM penjualanproduk"),
            "Transfer pulsa 25K ke 081234567802 BERHASIL. SN 100000000001. Sisa saldo Rp "
            "3.735.000");
  std::vector<std::string> chosen;
  for (const std::string& event : Lines("STK")) {
    if (event.rfind("SELECT|", 0) == 0) chosen.push_back(event);
  }
  EXPECT_EQ(chosen, (std::vector<std::string>{"SELECT|menu|2|TRANSF PULSA",
                                              "SELECT|cara|1|Kirim sekarang",
                                              "SELECT|nominal|5|25K"}));
  EXPECT_TRUE(sim_->WaitFor("RX", "AT+CPMS=\"SM\"", 10000));
  EXPECT_TRUE(Lines("SMS").empty());
}

TEST_F(DompetEndToEndTest, SiemensPressesTheProductsKeysEmptyPieceIncluded) {
  Rules();
  t.Run("INSERT INTO macroeditorc55 VALUES ('D5', 'hptujuan~~pin');");
  Start("MENU", "SIEMENS", R"json({"key_rules": [{"keys": "(\\d{7})",
    "sms": {"from": "DOMPET", "store": "listed", "delay_ms": 3000,
            "text": "Transfer pulsa ke {1} gagal, saldo kurang"}}],
    "sms_rules": [{"to": "461", "text": "^BALANCE$",
                   "sms": {"from": "461", "store": "listed", "delay_ms": 500,
                           "text": "Sisa saldo dompet Rp 0"}}]})json",
        "5", "0812345");
  ASSERT_EQ(WaitForValue("SELECT status FROM penjualanproduk", "PENDING"), "PENDING")
      << module_->Err();
  EXPECT_EQ(t.Value("SELECT respond FROM penjualanproduk"),
            "Transfer pulsa ke 0812345 gagal, saldo kurang");
  EXPECT_EQ(Lines("KEYS"), (std::vector<std::string>{"0812345", "", "1234"}));
  ASSERT_TRUE(sim_->WaitFor("SMS", "461", 15000)) << module_->Err();
}

}  // namespace
}  // namespace tovalink
