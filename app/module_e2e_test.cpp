// The module as a program: tovalinkd beside its own dbsetting.txt, the real database and the
// simulated modem on a pseudo-terminal, on the real clock.
#include <signal.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "modem/serial_port.h"
#include "sim/sim_harness.h"
#include "testsupport/process.h"
#include "testsupport/test_database.h"

namespace tovalink {
namespace {

class ModuleEndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    program_ = CopyProgram(TOVALINKD_PATH, folder_.path());
    WriteSettingsFile(folder_.path(), t.Name());
  }

  void StartSim(const std::string& scenario = "", int port = 7) {
    SimOptions options;
    options.port = port;
    options.scenario_json = scenario;
    sim_ = std::make_unique<SimHarness>(options);
  }

  std::unique_ptr<RunningProgram> StartModule(const std::string& argument,
                                              const std::string& port_dir = "") {
    return std::make_unique<RunningProgram>(
        std::vector<std::string>{program_, argument},
        std::map<std::string, std::string>{
            {"MYSQL_UNIX_PORT", TestDatabase::Socket()},
            {"TOVALINK_PORT_DIR", port_dir.empty() ? sim_->Dir() : port_dir}});
  }

  // Polls a query until it gives `expected` or the time is up; returns the last value.
  std::string WaitForValue(const std::string& query, const std::string& expected,
                           int timeout_ms = 20000) {
    return t.WaitForValue(query, expected, timeout_ms);
  }

  TestDatabase t;
  TempFolder folder_;
  std::string program_;
  std::unique_ptr<SimHarness> sim_;
};

TEST_F(ModuleEndToEndTest, HeartbeatAndRemoteStop) {
  t.Run("INSERT INTO modulaktif (namamodul, comm, caradial, tipemodem, autorun) VALUES"
        " ('M1', '7', 'HOSTA', 'WAVECOM', 1);");
  StartSim();
  auto module = StartModule("namamodul=M1#comm=7#pin=1");
  ASSERT_EQ(WaitForValue("SELECT statrun FROM modulaktif", "1", 5000), "1");
  const std::string first = t.Value("SELECT waktu FROM modulaktif");
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  EXPECT_NE(t.Value("SELECT waktu FROM modulaktif"), first);
  EXPECT_TRUE(sim_->WaitFor("RX", "AT+CMGL=4", 8000));

  for (const char* keeps : {"3", "NULL"}) {
    t.Run(std::string("UPDATE modulaktif SET autorun=") + keeps + ";");
    std::this_thread::sleep_for(std::chrono::milliseconds(2200));
    EXPECT_TRUE(module->Running()) << keeps;
  }
  t.Run("UPDATE modulaktif SET autorun=0;");
  EXPECT_EQ(module->Wait(3000), 0) << module->Err();
  EXPECT_EQ(t.Dump("SELECT lokasifile, statrun, autorun FROM modulaktif"), "-|0|0");
  // The fresh database has none of the recommended indexes, and START said so.
  EXPECT_NE(module->Err().find(" status0: Indeks belum ada: penjualanproduk (modem, flag), "),
            std::string::npos)
      << module->Err();
}

TEST_F(ModuleEndToEndTest, TerminateActsAsStop) {
  t.Run("INSERT INTO modulaktif (namamodul, comm, caradial, autorun) VALUES"
        " ('M1', '7', 'HOSTA', 1);");
  StartSim();
  auto module = StartModule("namamodul=M1");
  ASSERT_TRUE(sim_->WaitFor("RX", "AT+CMGL=4", 8000)) << module->Err();
  module->Signal(SIGTERM);
  EXPECT_EQ(module->Wait(3000), 0);
  EXPECT_EQ(t.Dump("SELECT lokasifile, statrun, autorun FROM modulaktif"), "-|0|0");
}

TEST_F(ModuleEndToEndTest, PortHeldOrMissingEndsTheModule) {
  t.Run("INSERT INTO modulaktif (namamodul, comm, caradial) VALUES ('M1', '7', 'HOSTA'),"
        " ('M2', '7', 'HOSTA'), ('M3', '9', 'HOSTA');");
  StartSim();
  TermiosPort holder;
  holder.Open(sim_->PortPath(), SerialSettings{});
  auto held = StartModule("namamodul=M1#comm=7#pin=1");
  EXPECT_EQ(held->Wait(5000), 1) << held->Err();
  EXPECT_EQ(t.Dump("SELECT namamodul, lokasifile, statrun, autorun FROM modulaktif"),
            "M1|Error Access com 7|0|2\nM2|Error Access com 7|0|2\nM3||0|1");
  holder.Close();

  auto missing = StartModule("namamodul=M3#comm=9#pin=1");
  EXPECT_EQ(missing->Wait(5000), 1);
  EXPECT_EQ(t.Value("SELECT lokasifile FROM modulaktif WHERE namamodul='M3'"),
            "Error Access com 9");
}

TEST_F(ModuleEndToEndTest, NineModulesRefuseToStart) {
  t.Run("INSERT INTO modulaktif (namamodul, comm) VALUES ('M1', '7'), ('M2', '2'), ('M3', '3'),"
        " ('M4', '4'), ('M5', '5'), ('M6', '6'), ('M8', '8'), ('M9', '9'), ('M10', '10');");
  StartSim();
  const std::string before = t.Dump("SELECT * FROM modulaktif ORDER BY namamodul");
  auto module = StartModule("namamodul=M1#comm=7#pin=1");
  EXPECT_EQ(module->Wait(5000), 3);
  EXPECT_NE(module->Err().find("message: Jumlah Modul Maksimal 8 Modul"), std::string::npos);
  EXPECT_EQ(t.Dump("SELECT * FROM modulaktif ORDER BY namamodul"), before);
}

TEST_F(ModuleEndToEndTest, StartThatCannotWriteItsRowSaysSoAndExits) {
  // A database user that may read but not update: start-up works, START's heartbeat fails.
  const std::string user = "ro_" + t.Name();
  t.Run("CREATE USER '" + user + "'@'localhost' IDENTIFIED BY 'baca';"
        "GRANT SELECT ON " + t.Name() + ".* TO '" + user + "'@'localhost';"
        "INSERT INTO modulaktif (namamodul, comm, caradial, autorun) VALUES ('M1', '7', 'HOSTA', 1);");
  WriteSettingsFile(folder_.path(), t.Name(), user, "baca");
  StartSim();
  auto module = StartModule("namamodul=M1#comm=7#pin=1");
  const int status = module->Wait(5000);
  t.Run("DROP USER '" + user + "'@'localhost';");
  EXPECT_EQ(status, 1) << module->Err();
  EXPECT_NE(module->Err().find("message: START gagal: UPDATE command denied"), std::string::npos)
      << module->Err();
}

TEST_F(ModuleEndToEndTest, WallClockStepKeepsTheHeartbeat) {
  // The program's wall clock is stepped back an hour while it runs, as NTP might: the
  // heartbeat goes on at once and writes the new time of day.
  t.Run("INSERT INTO modulaktif (namamodul, comm, caradial, tipemodem, autorun) VALUES"
        " ('M1', '7', 'HOSTA', 'WAVECOM', 1);");
  StartSim();
  const std::string shift_file = folder_.path() + "/wall-shift";
  auto module = std::make_unique<RunningProgram>(
      std::vector<std::string>{program_, "namamodul=M1#comm=7#pin=1"},
      std::map<std::string, std::string>{
          {"MYSQL_UNIX_PORT", TestDatabase::Socket()},
          {"TOVALINK_PORT_DIR", sim_->Dir()},
          {"LD_PRELOAD", WALL_CLOCK_SHIFT_LIBRARY},
          {"TOVALINK_WALL_SHIFT_FILE", shift_file},
          {"ASAN_OPTIONS", "verify_asan_link_order=0:detect_leaks=0"}});
  ASSERT_EQ(WaitForValue("SELECT statrun FROM modulaktif", "1", 5000), "1") << module->Err();
  const int before = std::stoi(t.Value("SELECT TIME_TO_SEC(waktu) FROM modulaktif"));
  std::ofstream(shift_file) << "-3600\n";
  std::string after;
  for (int wait = 0; wait < 60; ++wait) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    after = t.Value("SELECT TIME_TO_SEC(waktu) FROM modulaktif");
    const int seconds = std::stoi(after);
    // An hour back (modulo midnight), give or take the seconds the test has taken.
    if (((before - seconds) % 86400 + 86400) % 86400 >= 3590) break;
    after.clear();
  }
  EXPECT_FALSE(after.empty()) << "the heartbeat stopped after the step; waktu stayed near "
                              << before << " s";
  module->Signal(SIGTERM);
  EXPECT_EQ(module->Wait(5000), 0) << module->Err();
}

TEST_F(ModuleEndToEndTest, NoModuleNameIsRefused) {
  StartSim();
  auto module = StartModule("comm=7");
  EXPECT_EQ(module->Wait(5000), 2);
  EXPECT_NE(module->Err().find("no module named"), std::string::npos);
}

TEST_F(ModuleEndToEndTest, InboxPassSettlesAPendingSaleAndClearsTheStore) {
  t.Run("INSERT INTO modulaktif (namamodul, comm, caradial, tipemodem, autorun) VALUES"
        " ('M1', '7', 'HOSTA', 'WAVECOM', 1);"
        "INSERT INTO settinggetsn (idproduk, tipepesan, awalmsisdn, awalsn, akhirsn, pesanproduk,"
        " pesansuksesgagal) VALUES ('X10', 'SUKSES', ' ke ', 'SN: ', '. Saldo', 'Isi P10', 'SUKSES');");
  t.Run("INSERT INTO penjualanproduk (modem, flag, idproduk, barcode, tanggal, jumlah, status)"
        " VALUES ('OTHER', 1, 'X10', '081234567890', CURDATE(), 1, 'PENDING');");
  StartSim(R"({"messages": [
      {"store": "SM", "from": "6281299990000",
       "text": "SUKSES Isi P10 ke 81234567890 SN: 4455-66. Saldo 9"},
      {"store": "SM", "from": "62962", "text": "Info promo"}]})");
  auto module = StartModule("namamodul=M1#comm=7#pin=1");
  EXPECT_EQ(WaitForValue("SELECT status FROM penjualanproduk", "SUKSES"), "SUKSES") << module->Err();
  EXPECT_EQ(t.Dump("SELECT sn, sn_token FROM penjualanproduk"), "4455-66|4455-66");
  EXPECT_EQ(t.Dump("SELECT modul, pengirim FROM logtrxsms"), "M1|081299990000");
  EXPECT_TRUE(sim_->WaitFor("DELETE", "SM", 5000));
  std::vector<std::string> stores;
  for (const TranscriptLine& line : sim_->Transcript()) {
    if (line.kind == "RX" && line.text().rfind("AT+CPMS=", 0) == 0) stores.push_back(line.text());
  }
  ASSERT_GE(stores.size(), 2u);
  EXPECT_EQ(stores[0], "AT+CPMS=\"ME\"");
  EXPECT_EQ(stores[1], "AT+CPMS=\"SM\"");
  module->Signal(SIGTERM);
  EXPECT_EQ(module->Wait(5000), 0);
}

TEST_F(ModuleEndToEndTest, HostSalesByDialAndByKeypadMacro) {
  t.Run("INSERT INTO modulaktif (namamodul, comm, caradial, tipemodem, pin, waktutunggu, autorun)"
        " VALUES ('M1', '7', 'HB', 'WAVECOM', '1234', '1', 1);"
        "INSERT INTO produk (idproduk, denom) VALUES ('X5', 5000);"
        "INSERT INTO hostserver (idserver, metodetrx, formattrx) VALUES"
        " ('HB', 'DIAL', '*123*<kode>*<hptujuan>*<pin>#'), ('HC', 'MENUMACRO', '');"
        "INSERT INTO hostproduk VALUES ('X5', 'HB', '5');"
        "INSERT INTO macroeditorc55 VALUES ('X5', '*777#~~hptujuan~nominal');"
        "INSERT INTO settinggetsn (idproduk, tipepesan, awalmsisdn, awalsn, akhirsn, pesanproduk,"
        " pesansuksesgagal) VALUES ('X5', 'SUKSES', 'ke ', 'SN ', '.', 'Isi 5', 'berhasil');"
        "INSERT INTO penjualanproduk (modem, idproduk, barcode, tanggal, jumlah) VALUES"
        " ('M1', 'X5', '081200000009', CURDATE(), 1);");
  StartSim(R"({"dial_rules": [{"code": "\\*123\\*5\\*(\\d+)\\*1234#",
      "reply": "\r\n+CUSD: 0,\"Isi 5 ke {1} berhasil SN 777888.\",15", "delay_ms": 200}]})");
  auto dial = StartModule("namamodul=M1#comm=7#pin=1");
  EXPECT_EQ(WaitForValue("SELECT status FROM penjualanproduk", "SUKSES"), "SUKSES") << dial->Err();
  EXPECT_EQ(t.Value("SELECT sn FROM penjualanproduk"), "777888");
  EXPECT_EQ(t.Dump("SELECT pengirim FROM logtrxsms"), "ATD*123*5*081200000009*1234#");
  EXPECT_NE(t.Value("SELECT pesan FROM logtrxsms").find("Isi 5 ke 081200000009 berhasil"),
            std::string::npos);
  dial->Signal(SIGTERM);
  EXPECT_EQ(dial->Wait(5000), 0);

  // The same sale through a keypad macro: the product's macro with its words filled in.
  t.Run("UPDATE modulaktif SET caradial='HC', autorun=1;"
        "INSERT INTO penjualanproduk (modem, idproduk, barcode, tanggal, jumlah) VALUES"
        " ('M1', 'X5', '081200000010', CURDATE(), 1);");
  auto macro = StartModule("namamodul=M1#comm=7#pin=1");
  EXPECT_EQ(WaitForValue("SELECT status FROM penjualanproduk WHERE idx=2", "PENDING"), "PENDING")
      << macro->Err();
  std::vector<std::pair<int64_t, std::string>> keys;
  for (const TranscriptLine& line : sim_->Transcript()) {
    if (line.kind == "KEYS") keys.emplace_back(line.ms, line.text());
  }
  ASSERT_EQ(keys.size(), 3u);
  EXPECT_EQ(keys[0].second, "*777#");
  EXPECT_EQ(keys[1].second, "081200000010");
  EXPECT_EQ(keys[2].second, "5000");
  // 500 ms per key, then 500 ms after every piece, the empty one too.
  EXPECT_GE(keys[1].first - keys[0].first, 5 * 500 + 500 + 500);
  EXPECT_GE(keys[2].first - keys[1].first, 12 * 500 + 500);
  macro->Signal(SIGTERM);
  EXPECT_EQ(macro->Wait(5000), 0);
}

TEST_F(ModuleEndToEndTest, HostSalesBySmsSettleFailAndWait) {
  t.Run("INSERT INTO modulaktif (namamodul, comm, caradial, tipemodem, pin, waktutunggu, autorun)"
        " VALUES ('M1', '7', 'HOSTA', 'WAVECOM', '1234', '3', 1);"
        "INSERT INTO produk (idproduk, denom) VALUES ('X10', 10000);"
        "INSERT INTO hostserver (idserver, metodetrx, formattrx, smscenter, metodeceksaldo,"
        " formatceksaldo) VALUES ('HOSTA', 'SMS', '<kode>.<hptujuan>.<PIN>', '08111000111', 'SMS',"
        " 'SAL.<pin>');"
        "INSERT INTO hostproduk VALUES ('X10', 'HOSTA', 'P10');"
        "INSERT INTO settinggetsn (idproduk, tipepesan, awalmsisdn, awalsn, akhirsn, pesanproduk,"
        " pesansuksesgagal) VALUES ('X10', 'SUKSES', ' ke ', 'SN: ', '. Saldo', 'Isi P10', 'SUKSES'),"
        " ('X10', 'GAGAL', ' ke ', '', '', 'Isi P10', 'GAGAL');");
  const std::string today = t.Value("SELECT CURDATE()");
  t.Run("INSERT INTO penjualanproduk (modem, idproduk, barcode, tanggal, jumlah) VALUES"
        " ('M1', 'X10', '081200000001', '" + today + "', 1),"
        " ('M1', 'X10', '081200000002', '" + today + "', 1),"
        " ('M1', 'X10', '081200000003', '" + today + "', 1);");
  StartSim(R"({"sms_rules": [
      {"to": "08111000111", "text": "^P10\\.(081200000001)\\.",
       "sms": {"text": "SUKSES Isi P10 ke {1} SN: 5566-7788. Saldo 90000", "delay_ms": 300, "store": "ME"}},
      {"to": "08111000111", "text": "^P10\\.(081200000002)\\.",
       "sms": {"text": "GAGAL Isi P10 ke {1} nomor salah", "delay_ms": 300, "store": "ME"}},
      {"to": "08111000111", "text": "^SAL\\.",
       "sms": {"text": "Saldo anda 90000", "delay_ms": 200, "store": "ME"}}]})");
  auto module = StartModule("namamodul=M1#comm=7#pin=1");
  EXPECT_EQ(WaitForValue("SELECT COUNT(*) FROM penjualanproduk WHERE status<>''", "3", 60000), "3")
      << module->Err();
  EXPECT_EQ(t.Dump("SELECT barcode, flag, status, sn, respond FROM penjualanproduk ORDER BY idx"),
            "081200000001|1|SUKSES|5566-7788|SUKSES Isi P10 ke 081200000001 SN: 5566-7788. Saldo 90000\n"
            "081200000002|1|GAGAL||GAGAL Isi P10 ke 081200000002 nomor salah\n"
            "081200000003|1|PENDING||");
  EXPECT_EQ(t.Value("SELECT COUNT(*) FROM penjualanproduk WHERE tglwaktuproses IS NULL"), "0");
  // The requests as the supplier got them; a success skips the balance request.
  std::vector<std::string> sent;
  for (int wait = 0; wait < 100 && sent.size() < 5; ++wait) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    sent.clear();
    for (const TranscriptLine& line : sim_->Transcript()) {
      if (line.kind == "SMS" && line.fields.size() >= 2) sent.push_back(line.fields[1]);
    }
  }
  EXPECT_EQ(sent, (std::vector<std::string>{"P10.081200000001.1234", "P10.081200000002.1234",
                                            "SAL.1234", "P10.081200000003.1234", "SAL.1234"}));
  module->Signal(SIGTERM);
  EXPECT_EQ(module->Wait(5000), 0);
}

}  // namespace
}  // namespace tovalink
