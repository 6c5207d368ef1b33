// An M-TRONIK module as a program: tovalinkd beside its own dbsetting.txt, the real database
// and a simulated SIM with the operator's M-TRONIK menu on a pseudo-terminal, on the real
// clock.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <thread>

#include "sim/sim_harness.h"
#include "testsupport/process.h"
#include "testsupport/test_database.h"

namespace tovalink {
namespace {

using nlohmann::json;

class MtronikEndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    program_ = CopyProgram(TOVALINKD_PATH, folder_.path());
    WriteSettingsFile(folder_.path(), t.Name());
    // A sale of 10 (typed "10000" into the menu) to the number the example SIM's operator
    // answers, and the rule that reads its answer.
    t.Run(
        "INSERT INTO produk (idproduk, denom) VALUES ('I10', 10);"
        "INSERT INTO settinggetsn (idproduk, tipepesan, awalmsisdn, awalsn, akhirsn,"
        " pesanproduk, pesansuksesgagal) VALUES"
        " ('I10', 'SUKSES', ' ke ', 'SN: ', '.', 'Isi Pulsa', 'BERHASIL');"
        "INSERT INTO penjualanproduk (modem, idproduk, barcode, tanggal, jumlah) VALUES"
        " ('M1', 'I10', '081234567801', CURDATE(), 1);");
  }

  void AddModule(const std::string& modem_type, const std::string& waiting_seconds) {
    t.Run(
        "INSERT INTO modulaktif (namamodul, comm, caradial, tipemodem, pin, waktutunggu,"
        " autorun) VALUES ('M1', '7', 'MTRONIK', '" +
        modem_type + "', '1234', '" + waiting_seconds + "', 1);");
  }

  // The example SIM of schema/, changed by `change`.
  static std::string ExampleSim(const std::function<void(json&)>& change = nullptr) {
    json scenario = json::parse(SourceFile("schema/mtronik-scenario.json"));
    if (change) change(scenario);
    return scenario.dump();
  }

  std::unique_ptr<RunningProgram> StartModule(const std::string& scenario) {
    SimOptions options;
    options.port = 7;
    options.scenario_json = scenario;
    sim_ = std::make_unique<SimHarness>(options);
    return std::make_unique<RunningProgram>(
        std::vector<std::string>{program_, "namamodul=M1#comm=7#pin=1234"},
        std::map<std::string, std::string>{{"MYSQL_UNIX_PORT", TestDatabase::Socket()},
                                           {"TOVALINK_PORT_DIR", sim_->Dir()}});
  }

  // Polls a query until it gives `expected` or the time is up; returns the last value.
  std::string WaitForValue(const std::string& query, const std::string& expected, int timeout_ms) {
    return t.WaitForValue(query, expected, timeout_ms);
  }

  // Waits until the module's standard error holds `text`.
  static bool WaitForOutput(RunningProgram& module, const std::string& text, int timeout_ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (std::chrono::steady_clock::now() < deadline) {
      if (module.Err().find(text) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
  }

  // The toolkit's choices and inputs, as "SELECT|<where>|<item>|<label>" and
  // "INPUT|<node>|<text>", in order.
  std::vector<std::string> ToolkitSteps() const {
    std::vector<std::string> steps;
    for (const TranscriptLine& line : sim_->Transcript()) {
      if (line.kind != "STK" || (line.text() != "SELECT" && line.text() != "INPUT")) continue;
      std::string step;
      for (const std::string& field : line.fields) step += (step.empty() ? "" : "|") + field;
      steps.push_back(step);
    }
    return steps;
  }

  TestDatabase t;
  TempFolder folder_;
  std::string program_;
  std::unique_ptr<SimHarness> sim_;
};

const std::vector<std::string> kSaleSteps = {"SELECT|menu|1|M-TRONIK",
                                             "SELECT|mtronik|1|Isi Pulsa",
                                             "INPUT|tujuan|081234567801",
                                             "SELECT|jenis|6|Nominal Bebas",
                                             "INPUT|nominal|10000",
                                             "SELECT|produk|1|REGULER",
                                             "INPUT|pin|1234"};

TEST_F(MtronikEndToEndTest, WavecomSaleIsWalkedAndSettledByTheOperatorsSms) {
  AddModule("WAVECOM", "20");
  auto module = StartModule(ExampleSim());
  EXPECT_EQ(WaitForValue("SELECT status FROM penjualanproduk", "SUKSES", 60000), "SUKSES")
      << module->Err();
  EXPECT_EQ(t.Dump("SELECT flag, sn, sn_token FROM penjualanproduk"),
            "1|100000000001|100000000001");
  EXPECT_EQ(t.Dump("SELECT modul, pengirim, pesan FROM logtrxsms"),
            "M1|M-Tronik|Isi Pulsa 10000 ke 081234567801 BERHASIL. SN: 100000000001. Sisa saldo "
            "Rp 1.240.000");
  ASSERT_TRUE(WaitForOutput(*module, "msaldo: Tidak CekSaldo", 10000)) << module->Err();
  // No balance walk follows a success, and the toolkit refused nothing of the dialogue.
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  EXPECT_EQ(ToolkitSteps(), kSaleSteps);
  for (const TranscriptLine& line : sim_->Transcript()) {
    EXPECT_FALSE(line.kind == "STK" && line.text() == "REFUSED") << line.fields[1];
  }
  module->Signal(SIGTERM);
  EXPECT_EQ(module->Wait(5000), 0) << module->Err();
}

TEST_F(MtronikEndToEndTest, SaleWithoutReplyIsPendingWithTheScreenAndTheBalanceIsAsked) {
  AddModule("WAVECOM", "3");
  auto module = StartModule(
      ExampleSim([](json& scenario) { scenario["stk"]["nodes"]["kirim"].erase("sms"); }));
  EXPECT_EQ(WaitForValue("SELECT status FROM penjualanproduk", "PENDING", 60000), "PENDING")
      << module->Err();
  EXPECT_EQ(t.Value("SELECT respond FROM penjualanproduk"),
            "~ 0,Isi REGULER Rp 10000 ke 081234567801 sedang diproses,1OK Mengirim "
            "permintaanOK+STIN: 99");
  ASSERT_TRUE(
      WaitForOutput(*module, "msaldo: Info M-TRONIK: sisa saldo deposit Anda Rp 1.240.000", 60000))
      << module->Err();
  std::vector<std::string> steps = kSaleSteps;
  steps.insert(steps.end(),
               {"SELECT|menu|1|M-TRONIK", "SELECT|mtronik|3|Info", "SELECT|info|1|Saldo",
                "SELECT|saldo|1|Saldo Deposit", "INPUT|saldo_pin|1234"});
  EXPECT_EQ(ToolkitSteps(), steps);
  EXPECT_EQ(t.Dump("SELECT pengirim, pesan FROM logtrxsms"),
            "M-Tronik|Info M-TRONIK: sisa saldo deposit Anda Rp 1.240.000");
  module->Signal(SIGTERM);
  EXPECT_EQ(module->Wait(5000), 0) << module->Err();
}

TEST_F(MtronikEndToEndTest, FiveFailedAttemptsEndTheModule) {
  AddModule("WAVECOM", "20");
  auto module =
      StartModule(ExampleSim([](json& scenario) { scenario["stk"]["stin_errors"] = 1000; }));
  EXPECT_EQ(module->Wait(90000), 1) << module->Err();
  EXPECT_EQ(t.Dump("SELECT lokasifile, statrun, autorun FROM modulaktif"),
            "Error Koneksi Modem|0|2");
  // No attempt came as far as the PIN, so the operator never saw the sale: GAGAL, with the
  // reason, and it may be sold again.
  EXPECT_EQ(t.Dump("SELECT flag, status, respond FROM penjualanproduk"),
            "1|GAGAL|TIDAK TERKIRIM: modul berhenti (Error Koneksi Modem) sebelum transaksi "
            "dikirim ke operator");
  int restarts = 0;
  for (const TranscriptLine& line : sim_->Transcript()) {
    restarts += line.kind == "STK" && line.text() == "RESTART";
  }
  EXPECT_EQ(restarts, 5);
}

TEST_F(MtronikEndToEndTest, SiemensModuleKeysTheProductsMacro) {
  AddModule("SIEMENS", "2");
  t.Run("INSERT INTO macroeditorc55 VALUES ('I10', 'hptujuan~~nominal~pin');");
  auto module = StartModule(ExampleSim());
  EXPECT_EQ(WaitForValue("SELECT status FROM penjualanproduk", "PENDING", 60000), "PENDING")
      << module->Err();
  ASSERT_TRUE(WaitForOutput(*module, "msaldo: Tidak CekSaldo", 10000)) << module->Err();
  std::vector<std::pair<int64_t, std::string>> keys;
  bool toolkit = false;
  for (const TranscriptLine& line : sim_->Transcript()) {
    if (line.kind == "KEYS") keys.emplace_back(line.ms, line.text());
    toolkit = toolkit || line.kind == "STK";
  }
  ASSERT_EQ(keys.size(), 3u);
  EXPECT_EQ(keys[0].second, "081234567801");
  EXPECT_EQ(keys[1].second, "10");
  EXPECT_EQ(keys[2].second, "1234");
  // 500 ms a key, then 500 ms after every piece, the empty one (not pressed) too.
  EXPECT_GE(keys[1].first - keys[0].first, 12 * 500 + 500 + 500);
  EXPECT_GE(keys[2].first - keys[1].first, 2 * 500 + 500);
  EXPECT_FALSE(toolkit);
  module->Signal(SIGTERM);
  EXPECT_EQ(module->Wait(5000), 0) << module->Err();
}

}  // namespace
}  // namespace tovalink
