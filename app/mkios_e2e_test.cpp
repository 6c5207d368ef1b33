// An MKIOS module as a program: tovalinkd beside its own dbsetting.txt, the real database and
// a simulated SIM with a voucher stock on a pseudo-terminal, on the real clock.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <thread>

#include "sim/sim_harness.h"
#include "testsupport/process.h"
#include "testsupport/test_database.h"

namespace tovalink {
namespace {

class MkiosEndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    program_ = CopyProgram(TOVALINKD_PATH, folder_.path());
    WriteSettingsFile(folder_.path(), t.Name());
    t.Run(
        "INSERT INTO modulaktif (namamodul, comm, caradial, tipemodem, pin, autorun) VALUES"
        " ('MK1', '7', 'MKIOS', 'WAVECOM', '1234', 1);");
  }

  void StartSim(const std::string& scenario) { sim_ = std::make_unique<SimHarness>(scenario, 7); }

  std::unique_ptr<RunningProgram> StartModule() {
    return std::make_unique<RunningProgram>(
        std::vector<std::string>{program_, "namamodul=MK1#comm=7#pin=1234"},
        std::map<std::string, std::string>{{"MYSQL_UNIX_PORT", TestDatabase::Socket()},
                                           {"TOVALINK_PORT_DIR", sim_->Dir()}});
  }

  // Polls until `done` holds or the time is up (real time; the machine may be loaded).
  template <typename Condition>
  bool WaitUntil(Condition done, int timeout_ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (std::chrono::steady_clock::now() < deadline) {
      if (done()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return done();
  }

  static bool Says(const RunningProgram& module, const std::string& line) {
    return module.Err().find(line) != std::string::npos;
  }

  TestDatabase t;
  TempFolder folder_;
  std::string program_;
  std::unique_ptr<SimHarness> sim_;
};

TEST_F(MkiosEndToEndTest, StockIsReadAtStartOrTheModuleEnds) {
  // The operator is busy once, then answers with the stock: the boxes fill and the reading is
  // logged.
  StartSim(R"({"stock": {"vouchers": {"V5": 120, "V10": 35, "V100": 2}, "pin": "1234",
      "busy": 1, "delay_ms": 200}})");
  auto module = StartModule();
  ASSERT_TRUE(WaitUntil([&] { return Says(*module, "stock S100: 2"); }, 20000)) << module->Err();
  EXPECT_TRUE(Says(*module, "gmk: shown"));
  EXPECT_TRUE(Says(*module, "stock S5: 120"));
  EXPECT_TRUE(Says(*module, "stock S10: 35"));
  EXPECT_FALSE(Says(*module, "stock S15:"));
  EXPECT_TRUE(WaitUntil([&] { return t.Value("SELECT COUNT(*) FROM logtrxsms") == "1"; }, 5000));
  EXPECT_EQ(t.Dump("SELECT modul, pengirim, pesan FROM logtrxsms"),
            "MK1|*776*|  +CUSD: 0,Stok simpati Anda V5=120, V10=35, V100=2.,15  ");
  EXPECT_TRUE(sim_->WaitFor("RX", "AT+CMGL=4", 10000));
  module->Signal(SIGTERM);
  EXPECT_EQ(module->Wait(5000), 0) << module->Err();

  // An operator who stays busy: eight requests, then the module ends with the error in its row.
  sim_.reset();
  StartSim(R"({"stock": {"vouchers": {"V5": 120}, "busy": 100, "delay_ms": 200}})");
  t.Run("UPDATE modulaktif SET autorun=1;");
  module = StartModule();
  EXPECT_EQ(module->Wait(60000), 1) << module->Err();
  EXPECT_EQ(t.Dump("SELECT lokasifile, statrun, autorun FROM modulaktif"), "Error Cek Stok !|0|2");
  int asked = 0;
  for (const TranscriptLine& line : sim_->Transcript()) {
    if (line.kind == "STOCK" && line.text() == "ASK") ++asked;
  }
  EXPECT_EQ(asked, 8);
  EXPECT_TRUE(Says(*module, "message: Error Cek Stok !"));
}

TEST_F(MkiosEndToEndTest, SalesAreSettledByTheSuccessPhraseOrByTheStock) {
  // The example SIM of schema/: the first sale says so, the second decides nothing but takes a
  // voucher, the third fails and the stock stays.
  t.Run(
      "INSERT INTO produk (idproduk, denom) VALUES ('S10', 10);"
      "INSERT INTO settinggetsn (idproduk, tipepesan, awalsn, akhirsn, pesansuksesgagal) VALUES"
      " ('S10', 'SUKSES', 'SN:', '.', 'BERHASIL');"
      "INSERT INTO penjualanproduk (modem, idproduk, barcode, tanggal, jumlah) VALUES"
      " ('MK1', 'S10', '081234567801', CURDATE(), 1),"
      " ('MK1', 'S10', '081234567802', CURDATE(), 1),"
      " ('MK1', 'S10', '081234567803', CURDATE(), 1);");
  StartSim(SourceFile("schema/mkios-scenario.json"));
  auto module = StartModule();
  ASSERT_TRUE(WaitUntil(
      [&] { return t.Value("SELECT COUNT(*) FROM penjualanproduk WHERE status<>''") == "3"; },
      90000))
      << module->Err();
  EXPECT_EQ(t.Dump("SELECT barcode, flag, status, sn_token FROM penjualanproduk ORDER BY idx"),
            "081234567801|1|SUKSES|100000000001\n"
            "081234567802|1|SUKSES|\n"
            "081234567803|1|GAGAL|");
  EXPECT_EQ(t.Value("SELECT respond FROM penjualanproduk WHERE idx=1"),
            " +CUSD: 0,Trx V10 ke 081234567801 BERHASIL. SN:100000000001. Sisa V10 k=34.,15 ");
  EXPECT_EQ(t.Value("SELECT respond FROM penjualanproduk WHERE idx=3"),
            " +CUSD: 0,Trx V10 ke 081234567803 GAGAL, silakan ulangi,15 ");
  EXPECT_EQ(t.Value("SELECT COUNT(*) FROM penjualanproduk WHERE tglwaktuproses IS NULL"), "0");
  EXPECT_EQ(t.Dump("SELECT pengirim FROM logtrxsms WHERE pengirim LIKE 'ATD%' ORDER BY idlog"),
            "ATD*777*081234567801*10*1234#\n"
            "ATD*777*081234567802*10*1234#\n"
            "ATD*777*081234567803*10*1234#");

  // The boxes followed the stock: the count after "k=", then the readings after the two
  // undecided sales; the method box and the balance box as the window shows them.
  const std::string err = module->Err();
  const size_t read = err.find("stock S10: 35");
  const size_t counted = err.find("stock S10: 34", read);
  const size_t went_down = err.find("stock S10: 33", counted);
  EXPECT_NE(read, std::string::npos) << err;
  EXPECT_NE(counted, std::string::npos) << err;
  EXPECT_NE(went_down, std::string::npos) << err;
  EXPECT_NE(err.find("stock S10: 33", went_down + 1), std::string::npos) << err;
  EXPECT_NE(err.find("cmethod: ALL_SIMPATI"), std::string::npos) << err;
  EXPECT_NE(err.find("msaldo:  +CUSD: 0,Stok simpati Anda V5=120, V10=33,"), std::string::npos)
      << err;
  module->Signal(SIGTERM);
  EXPECT_EQ(module->Wait(5000), 0) << module->Err();
}

}  // namespace
}  // namespace tovalink
