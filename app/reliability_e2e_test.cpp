// The module under faults and load, end to end, on the fixture of app/reliability_fixture.h:
// the database going away, two processes of one module, least privilege, hostile texts.
#include <gtest/gtest.h>
#include <signal.h>

#include <nlohmann/json.hpp>

#include "app/reliability_fixture.h"
#include "modem/serial_port.h"

namespace tovalink {
namespace {

// A host-server module selling by SMS, settling from the replies and the inbox pass, with a
// deposit request, then stopped, then ended on a fatal error, and the technician's --status:
// all as a database user that has exactly the rights of schema/grants.sql.
TEST_F(OutletTest, ModuleRunsWithTheDocumentedGrantsAlone) {
  const std::string user = t.ModuleUser("rahasia");
  WriteSettingsFile(folder_.path(), t.Name(), user, "rahasia");
  t.Run(
      "INSERT INTO modulaktif (namamodul, comm, caradial, tipemodem, pin, waktutunggu, autorun,"
      " ceksaldo, lokasifile) VALUES ('M1', '7', 'HOSTA', 'WAVECOM', '1234', '2', 1, 3, '50000');"
      "INSERT INTO produk (idproduk, denom) VALUES ('X10', 10000);"
      "INSERT INTO hostserver (idserver, metodetrx, formattrx, smscenter, metodeceksaldo,"
      " formatceksaldo, metodedep, formatdep) VALUES ('HOSTA', 'SMS', '<kode>.<hptujuan>.<pin>',"
      " '08111000111', 'SMS', 'SAL.<pin>', 'SMS', 'DEP.<nominal>.<pin>');"
      "INSERT INTO hostproduk VALUES ('X10', 'HOSTA', 'P10');"
      "INSERT INTO settinggetsn (idproduk, tipepesan, awalmsisdn, awalsn, akhirsn, pesanproduk,"
      " pesansuksesgagal) VALUES ('X10', 'SUKSES', ' ke ', 'SN: ', '. Saldo', 'Isi P10', 'SUKSES'),"
      " ('X10', 'GAGAL', ' ke ', '', '', 'Isi P10', 'GAGAL');"
      "INSERT INTO penjualanproduk (modem, flag, idproduk, barcode, tanggal, jumlah, status)"
      " VALUES ('M1', 0, 'X10', '081200000001', CURDATE(), 1, ''),"
      " ('M1', 0, 'X10', '081200000002', CURDATE(), 1, ''),"
      " ('M1', 0, 'X10', '081200000003', CURDATE(), 1, ''),"
      " ('OTHER', 1, 'X10', '081200000004', CURDATE(), 1, 'PENDING');");
  SimHarness& sim = StartSim(R"({"messages": [
      {"store": "SM", "from": "6281299990000",
       "text": "SUKSES Isi P10 ke 81200000004 SN: 44-55. Saldo 1"}],
    "sms_rules": [
      {"to": "08111000111", "text": "^P10\\.(081200000001)\\.",
       "sms": {"text": "SUKSES Isi P10 ke {1} SN: 5566. Saldo 9", "delay_ms": 300, "store": "ME"}},
      {"to": "08111000111", "text": "^P10\\.(081200000002)\\.",
       "sms": {"text": "GAGAL Isi P10 ke {1} nomor salah", "delay_ms": 300, "store": "ME"}},
      {"to": "08111000111", "text": "^(SAL|DEP)\\.",
       "sms": {"text": "Saldo anda 90000", "delay_ms": 200, "store": "ME"}}]})");
  auto module = StartModule("namamodul=M1#comm=7#pin=1234", sim);
  EXPECT_EQ(WaitForValue("SELECT COUNT(*) FROM penjualanproduk WHERE status IN"
                         " ('SUKSES','GAGAL','PENDING') AND modem='M1'",
                         "3", 60000),
            "3")
      << module->Err();
  EXPECT_EQ(WaitForValue("SELECT status FROM penjualanproduk WHERE modem='OTHER'", "SUKSES"),
            "SUKSES");
  EXPECT_TRUE(sim.WaitFor("SMS", "08111000111", 100));
  EXPECT_EQ(WaitForValue("SELECT ceksaldo FROM modulaktif", "0"), "0");
  module->Signal(SIGTERM);
  EXPECT_EQ(module->Wait(10000), 0) << module->Err();
  EXPECT_EQ(t.Dump("SELECT barcode, status, sn FROM penjualanproduk ORDER BY idx"),
            "081200000001|SUKSES|5566\n081200000002|GAGAL|\n081200000003|PENDING|\n"
            "081200000004|SUKSES|44-55");
  EXPECT_EQ(t.Dump("SELECT lokasifile, statrun, autorun FROM modulaktif"), "-|0|0");
  EXPECT_EQ(module->Err().find("denied"), std::string::npos) << module->Err();
  const std::vector<std::string> requests = Requests();
  EXPECT_NE(std::find(requests.begin(), requests.end(), "08111000111|DEP.50000.1234"),
            requests.end());
  sim.Stop();
  Audit({"08111000111|SAL.1234"});

  // A fatal error is recorded with the same rights: the port is held by another program.
  t.Run("UPDATE modulaktif SET autorun=1;");
  SimHarness& held_sim = StartSim("");
  TermiosPort holder;
  holder.Open(held_sim.PortPath(), SerialSettings{});
  auto held = StartModule("namamodul=M1#comm=7#pin=1234", held_sim);
  EXPECT_EQ(held->Wait(10000), 1) << held->Err();
  EXPECT_EQ(t.Dump("SELECT lokasifile, statrun, autorun FROM modulaktif"),
            "Error Access com 7|0|2");

  // The technician's screen reads what it needs.
  const ProgramResult status = RunProgram({program_, "--status"}, {{"MYSQL_UNIX_PORT", socket_}});
  EXPECT_EQ(status.err.find("denied"), std::string::npos) << status.err;
  EXPECT_NE(status.out.find("Error Access com 7"), std::string::npos) << status.out;
  t.Run("DROP USER '" + user + "'@'localhost';");
}

// How many lines of a module's standard error hold `text`.
int CountLines(const std::string& err, const std::string& text) {
  int count = 0;
  for (size_t at = err.find(text); at != std::string::npos; at = err.find(text, at + 1)) ++count;
  return count;
}

// The restarts of the server run on a server of the test's own, so that the other tests of a
// parallel run keep theirs.
class DatabaseRestartTest : public OutletTest {
 protected:
  static void SetUpTestSuite() { server_ = std::make_unique<ThrowawayServer>(); }
  static void TearDownTestSuite() { server_.reset(); }
  DatabaseRestartTest() : OutletTest(server_->Socket()) {}

  // Stops the server, keeps it down for `down_ms` and starts it again; the test's own
  // connections are opened again.
  void RestartServer(int down_ms) {
    server_->Stop();
    std::this_thread::sleep_for(std::chrono::milliseconds(down_ms));
    server_->Start();
    t.Reconnect();
  }

  // The module's heartbeat moves on again.
  void ExpectHeartbeat() {
    const std::string waktu = t.Value("SELECT waktu FROM modulaktif");
    EXPECT_EQ(
        t.WaitForValue("SELECT statrun=1 AND waktu<>'" + waktu + "' FROM modulaktif", "1", 5000),
        "1");
  }

  // The loss and the return, each said once in the first status-bar panel.
  static void ExpectLossAndReturnShownOnce(const std::string& err) {
    EXPECT_EQ(CountLines(err, "status0: Database terputus: "), 1) << err;
    EXPECT_EQ(CountLines(err, "status0: Database tersambung kembali setelah "), 1) << err;
  }

  // Module M1 on `sim`, once the first of its sales is settled (nullptr if it is not).
  std::unique_ptr<RunningProgram> StartWithASettledSale(const SimHarness& sim) {
    AddHostModule();
    AddSales("M1", 1, 1);
    auto module = StartModule("namamodul=M1#comm=7#pin=1234", sim);
    const std::string status = WaitForValue("SELECT status FROM penjualanproduk", "SUKSES");
    EXPECT_EQ(status, "SUKSES") << module->Err();
    return status == "SUKSES" ? std::move(module) : nullptr;
  }

  static inline std::unique_ptr<ThrowawayServer> server_;
};

TEST_F(DatabaseRestartTest, ModuleOutlivesARestartBetweenSales) {
  SimHarness& sim = StartSim(HostScenario());
  auto module = StartWithASettledSale(sim);
  ASSERT_TRUE(module);

  RestartServer(3000);
  AddSales("M1", 2, 1);
  EXPECT_EQ(
      WaitForValue("SELECT COUNT(*) FROM penjualanproduk WHERE status='SUKSES' AND sn<>''", "2"),
      "2")
      << module->Err();
  ExpectHeartbeat();
  EXPECT_TRUE(module->Running()) << module->Err();
  module->Signal(SIGTERM);
  EXPECT_EQ(module->Wait(10000), 0) << module->Err();
  ExpectLossAndReturnShownOnce(module->Err());
  EXPECT_EQ(t.Dump("SELECT lokasifile, statrun, autorun FROM modulaktif"), "-|0|0");
  sim.Stop();
  Audit();
}

// The server goes away after the sale's SMS went out, and its reply comes while it is away:
// the module keeps the reply in the modem until its log row and its settlement are written.
TEST_F(DatabaseRestartTest, SaleInHandIsSettledOnceAfterARestart) {
  AddHostModule("M1", 20);
  AddSales("M1", 1, 1);
  SimHarness& sim = StartSim(HostScenario(1000));
  auto module = StartModule("namamodul=M1#comm=7#pin=1234", sim);
  ASSERT_TRUE(sim.WaitFor("SMS", "08111000111", 20000)) << module->Err();

  RestartServer(4000);
  EXPECT_EQ(WaitForValue("SELECT status FROM penjualanproduk", "SUKSES", 40000), "SUKSES")
      << module->Err();
  EXPECT_NE(t.Value("SELECT sn FROM penjualanproduk"), "");
  EXPECT_EQ(t.Value("SELECT COUNT(*) FROM logtrxsms WHERE pesan LIKE 'SUKSES Isi P10 ke%'"), "1");
  ExpectHeartbeat();
  EXPECT_TRUE(module->Running()) << module->Err();
  module->Signal(SIGTERM);
  EXPECT_EQ(module->Wait(10000), 0) << module->Err();
  ExpectLossAndReturnShownOnce(module->Err());
  sim.Stop();
  Audit();
}

// STOP while the server is away: the module does not wait for it and ends within moments; its
// row keeps the last heartbeat, whose time no longer advances, and the log says so.
TEST_F(DatabaseRestartTest, StopWhileTheServerIsAwayEndsTheModule) {
  SimHarness& sim = StartSim(HostScenario());
  auto module = StartWithASettledSale(sim);
  ASSERT_TRUE(module);
  server_->Stop();
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  module->Signal(SIGTERM);
  EXPECT_EQ(module->Wait(5000), 0) << module->Err();
  EXPECT_EQ(CountLines(module->Err(), "status0: Database terputus: "), 1) << module->Err();
  EXPECT_EQ(CountLines(module->Err(), "status0: Status modul tidak tertulis: "), 1)
      << module->Err();
  server_->Start();
  t.Reconnect();
  EXPECT_EQ(t.Value("SELECT statrun FROM modulaktif"), "1");
  sim.Stop();
  Audit();
}

// An operator starts the module on a second PC against the same database: the two processes
// share the sales between them, and no sale goes out from both.
TEST_F(OutletTest, TwoProcessesOfOneModuleExecuteEachSaleOnce) {
  constexpr int kSales = 12;
  AddHostModule();
  AddSales("M1", 1, kSales);
  SimHarness& first_sim = StartSim(HostScenario());
  SimHarness& second_sim = StartSim(HostScenario());
  // The second PC has its own copy of the program and its own working folder.
  TempFolder second_pc;
  CopyProgram(TOVALINKD_PATH, second_pc.path());
  WriteSettingsFile(second_pc.path(), t.Name());
  auto first = StartModule("namamodul=M1#comm=7#pin=1234", first_sim);
  auto second = StartModule("namamodul=M1#comm=7#pin=1234", second_sim, second_pc.path());
  EXPECT_EQ(WaitForValue("SELECT COUNT(*) FROM penjualanproduk WHERE status='SUKSES'",
                         std::to_string(kSales), 60000),
            std::to_string(kSales))
      << first->Err() << second->Err();
  for (RunningProgram* module : {first.get(), second.get()}) {
    module->Signal(SIGTERM);
    EXPECT_EQ(module->Wait(10000), 0) << module->Err();
  }
  first_sim.Stop();
  second_sim.Stop();
  EXPECT_EQ(Requests().size(), static_cast<size_t>(kSales));
  Audit();
}

// The bytes of a Windows-1252 text as the characters of a JSON scenario (U+0000 to U+00FF).
std::string Latin1ToUtf8(const std::string& text) {
  std::string utf8;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      utf8 += c;
    } else {
      utf8 += static_cast<char>(0xC0 | (byte >> 6));
      utf8 += static_cast<char>(0x80 | (byte & 0x3F));
    }
  }
  return utf8;
}

// Texts that would break or change a statement that is not built with care: quotes,
// backslashes, a statement of their own, control and high bytes (no NUL: a C text ends there).
const std::vector<std::string> kHostileTexts = {
    "O'Brien \"kutip\" ganda",
    "back\\slash \\' \\\" ujung\\",
    "'; DROP TABLE penjualanproduk; -- ",
    "\" OR \"1\"=\"1",
    "bytes \x01\x02\t\x1b\x7f \xa0\xe9\xff",
    "persen % garis _ dan `backtick`",
};

// Hostile texts in every field that reaches a statement: the module's name, the product's
// name, a deposit request's parameter, SMS texts in the modem's store, the operator's SMS
// reply and its dial reply. Two modules run side by side: one selling by SMS, one by dial code.
TEST_F(OutletTest, HostileTextsAreStoredIntactAndBreakNoStatement) {
  const std::string sms_module = "M'1\"\\ sms";
  const std::string dial_module = "M'2\"\\ dial";
  const std::string product = "X'1\"\\0";
  const std::string deposit = "50'0\"00";
  const std::string serial = "7'7\"7\\7";
  const std::string dial_serial = "8'8\"8\\8";
  Database& db = t.db();
  auto quoted = [&](const std::string& text) { return "\"" + db.Escape(text) + "\""; };
  const std::string modules = "(" + quoted(sms_module) + ", 'HOSTA', 3, " + quoted(deposit) +
                              "), (" + quoted(dial_module) + ", 'HOSTD', 0, '')";
  t.Run("INSERT INTO modulaktif (namamodul, caradial, ceksaldo, lokasifile) VALUES " + modules +
        ";");
  t.Run(
      "UPDATE modulaktif SET comm='7', tipemodem='WAVECOM', pin='1234', waktutunggu='3',"
      " autorun=1;"
      "INSERT INTO hostserver (idserver, metodetrx, formattrx, smscenter, metodeceksaldo,"
      " formatceksaldo, metodedep, formatdep) VALUES ('HOSTA', 'SMS', '<kode>.<hptujuan>.<pin>',"
      " '08111000111', 'SMS', 'SAL.<pin>', 'SMS', 'DEP.<nominal>.<pin>'),"
      " ('HOSTD', 'DIAL', '*555*<hptujuan>#', '', 'SMS', 'SAL.<pin>', '', '');");
  t.Run("INSERT INTO produk (idproduk, denom) VALUES (" + quoted(product) + ", 10000);");
  t.Run("INSERT INTO hostproduk VALUES (" + quoted(product) + ", 'HOSTA', 'P10'), (" +
        quoted(product) + ", 'HOSTD', 'D10');");
  t.Run(
      "INSERT INTO settinggetsn (idproduk, tipepesan, awalmsisdn, awalsn, akhirsn,"
      " pesanproduk, pesansuksesgagal) VALUES (" +
      quoted(product) + ", 'SUKSES', ' ke ', 'SN: ', '. Saldo', 'Isi P10', 'SUKSES');");
  for (const auto& [module, destination] :
       {std::pair{sms_module, "081200000001"}, std::pair{dial_module, "081200000002"}}) {
    t.Run(
        "INSERT INTO penjualanproduk (modem, flag, idproduk, barcode, tanggal, jumlah, status)"
        " VALUES (" +
        quoted(module) + ", 0, " + quoted(product) + ", '" + destination + "', CURDATE(), 1, '');");
  }

  nlohmann::json sms_scenario = nlohmann::json::parse(R"({"messages": [], "sms_rules": [
      {"to": "08111000111", "text": "^P10\\.(081200000001)\\.",
       "sms": {"delay_ms": 300, "store": "ME", "coding": "ucs2"}},
      {"to": "08111000111", "text": "^(DEP\\..*)$",
       "sms": {"text": "Terima {1}", "delay_ms": 200, "store": "ME", "coding": "ucs2"}},
      {"to": "08111000111", "text": "^SAL\\.",
       "sms": {"text": "Saldo anda 90000", "delay_ms": 200, "store": "ME"}}]})");
  sms_scenario["sms_rules"][0]["sms"]["text"] =
      Latin1ToUtf8("SUKSES Isi P10 ke {1} SN: " + serial + ". Saldo 9");
  for (size_t i = 0; i < kHostileTexts.size(); ++i) {
    sms_scenario["messages"].push_back({{"store", "SM"},
                                        {"from", "62812999900" + std::to_string(10 + i)},
                                        {"text", Latin1ToUtf8(kHostileTexts[i])},
                                        {"coding", "ucs2"}});
  }
  // A sender's name with quotes; the module reads an alphanumeric sender as the digits of
  // its octets, which the log row must hold all the same.
  sms_scenario["messages"].push_back(
      {{"store", "SM"}, {"from", "Toko'\"A\""}, {"text", "pengirim aneh"}});
  const std::string dial_reply =
      "SUKSES Isi P10 ke 081200000002 SN: " + dial_serial + ". Saldo 9 " + kHostileTexts[1];
  nlohmann::json dial_scenario = {{"dial_rules",
                                   {{{"code", "\\*555\\*081200000002#"},
                                     {"delay_ms", 300},
                                     {"reply", "\r\n+CUSD: 0,\"" + Latin1ToUtf8(dial_reply)},
                                     {"end", "\",15\r\n"}}}}};

  SimHarness& sms_sim = StartSim(sms_scenario.dump());
  SimHarness& dial_sim = StartSim(dial_scenario.dump());
  auto sms = StartModule("namamodul=" + sms_module + "#comm=7#pin=1234", sms_sim);
  auto dial = StartModule("namamodul=" + dial_module + "#comm=7#pin=1234", dial_sim);
  EXPECT_EQ(WaitForValue("SELECT COUNT(*) FROM penjualanproduk WHERE status='SUKSES'", "2"), "2")
      << sms->Err() << dial->Err();
  EXPECT_EQ(WaitForValue("SELECT SUM(ceksaldo) FROM modulaktif", "0"), "0") << sms->Err();
  EXPECT_TRUE(sms_sim.WaitFor("SMS", "08111000111", 100));
  EXPECT_EQ(WaitForValue("SELECT COUNT(*) FROM logtrxsms WHERE pesan LIKE 'Terima DEP.%'", "1"),
            "1");
  EXPECT_EQ(WaitForValue("SELECT COUNT(*) FROM logtrxsms WHERE pengirim LIKE '%999900%'",
                         std::to_string(kHostileTexts.size())),
            std::to_string(kHostileTexts.size()))
      << sms->Err();
  // The two replies, the hostile texts and the odd sender's message.
  EXPECT_TRUE(WaitForDeletes(sms_sim, 3 + static_cast<int>(kHostileTexts.size())));
  for (RunningProgram* module : {sms.get(), dial.get()}) {
    module->Signal(SIGTERM);
    EXPECT_EQ(module->Wait(10000), 0) << module->Err();
  }
  sms_sim.Stop();
  dial_sim.Stop();

  EXPECT_EQ(t.Dump("SELECT modem, idproduk, status, sn FROM penjualanproduk ORDER BY idx"),
            sms_module + "|" + product + "|SUKSES|" + SqlSafe(serial) + "\n" + dial_module + "|" +
                product + "|SUKSES|" + CleanReply(dial_serial));
  EXPECT_EQ(t.Dump("SELECT namamodul, lokasifile, statrun, autorun FROM modulaktif ORDER BY comm,"
                   " caradial"),
            sms_module + "|-|0|0\n" + dial_module + "|-|0|0");
  // The deposit's parameter went out as it stands, and came back in the operator's reply.
  const std::vector<std::string> requests = Requests();
  EXPECT_NE(std::find(requests.begin(), requests.end(), "08111000111|DEP." + deposit + ".1234"),
            requests.end());
  EXPECT_EQ(t.Value("SELECT pesan FROM logtrxsms WHERE pesan LIKE 'Terima DEP.%'"),
            SqlSafe("Terima DEP." + deposit + ".1234"));
  // Every hostile text in the store was logged, made safe as a received text is, and the
  // dial reply as a dial reply is.
  for (size_t i = 0; i < kHostileTexts.size(); ++i) {
    EXPECT_EQ(t.Value("SELECT pesan FROM logtrxsms WHERE pengirim LIKE '%9999001" +
                      std::to_string(i) + "'"),
              SqlSafe(kHostileTexts[i]))
        << i;
  }
  EXPECT_NE(t.Value("SELECT pengirim FROM logtrxsms WHERE pesan='pengirim aneh'"), "");
  const std::string logged = t.Dump("SELECT pesan FROM logtrxsms");
  EXPECT_NE(logged.find(CleanReply(dial_reply)), std::string::npos) << logged;
  Audit({"08111000111|SAL.1234"});
}

}  // namespace
}  // namespace tovalink
