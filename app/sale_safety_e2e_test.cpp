// End to end, the sale's life when something goes wrong around it: the module killed (as by a
// power cut) at each point of a sale and started again, STOP while the server stalls, and rows
// the cashier software wrote badly. tovalinkd beside its own dbsetting.txt, the real database,
// simulated modems on pseudo-terminals, the real clock.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <thread>

#include "app/reliability_fixture.h"

namespace tovalink {
namespace {

using nlohmann::json;

// A connection of the test's own holding a table locked, so that the module blocks on that
// table exactly where the test wants it killed.
class TableLock {
 public:
  TableLock(const ConnectionSettings& settings, const std::string& table) {
    db_.Connect(settings);
    db_.ExecSql("LOCK TABLES " + table + " WRITE");
  }
  ~TableLock() { Release(); }
  void Release() {
    if (!held_) return;
    held_ = false;
    db_.ExecSql("UNLOCK TABLES");
  }

 private:
  Database db_;
  bool held_ = true;
};

class SaleSafetyTest : public OutletTest {
 protected:
  using OutletTest::OutletTest;

  // Polls until `done` holds or the time is up (real time).
  static bool WaitUntil(const std::function<bool()>& done, int timeout_ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (std::chrono::steady_clock::now() < deadline) {
      if (done()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return done();
  }

  // As a power cut would: no STOP, nothing written on the way out.
  static void Kill(RunningProgram& module) {
    module.Signal(SIGKILL);
    EXPECT_EQ(module.Wait(5000), 128 + SIGKILL);
  }

  // As the outlet software (and the service) does before it launches a module: a module that
  // STOP left with autorun 0 would stop again at its first tick.
  std::unique_ptr<RunningProgram> Launch(const std::string& argument, const SimHarness& sim) {
    t.Run("UPDATE modulaktif SET autorun=1;");
    return StartModule(argument, sim);
  }

  static void Stop(RunningProgram& module) {
    module.Signal(SIGTERM);
    EXPECT_EQ(module.Wait(8000), 0) << module.Err();
  }

  // How many transcript lines of `kind` hold `text` in their first field.
  static int Count(const SimHarness& sim, const std::string& kind, const std::string& text) {
    int count = 0;
    for (const TranscriptLine& line : sim.Transcript()) {
      count += line.kind == kind && line.text().find(text) != std::string::npos;
    }
    return count;
  }

  std::string Sale(int64_t idx) {
    return t.Dump("SELECT flag, status, respond FROM penjualanproduk WHERE idx=" +
                  std::to_string(idx));
  }

  static constexpr const char* kNeverSent =
      "TIDAK TERKIRIM: modul mati sebelum transaksi dikirim ke operator";
  static constexpr const char* kWithOperator = "CEK DULU: modul mati saat transaksi di operator";
};

// A host sale by SMS, killed after its take, after its SMS went out, and after the supplier's
// reply reached the modem's store: started again, each sale has its outcome at once, none is
// sent twice and no reply is lost.
TEST_F(SaleSafetyTest, HostSmsSaleKilledAtEachPoint) {
  // A waiting time longer than the supplier's answer takes, so that the sale is still in hand
  // when its reply comes.
  AddHostModule("M1", 5);
  const std::string argument = "namamodul=M1#comm=7#pin=1234";
  enum class Point { AfterTake, AfterSms, AfterReplyStored };
  for (const Point point : {Point::AfterTake, Point::AfterSms, Point::AfterReplyStored}) {
    const int n = static_cast<int>(point) + 1;
    SCOPED_TRACE(n);
    const std::string destination = Destination(n);
    // The reply goes to the store the module lists at that moment: the one it lists for the
    // sale (its inbox pass switches stores every cycle).
    std::string scenario = HostScenario(point == Point::AfterSms ? 8000 : 1500);
    for (size_t at = scenario.find("\"ME\""); at != std::string::npos;
         at = scenario.find("\"ME\"", at)) {
      scenario.replace(at, 4, "\"listed\"");
    }
    SimHarness& sim = StartSim(scenario);
    auto module = Launch(argument, sim);
    ASSERT_TRUE(sim.WaitFor("RX", "AT+CMGL=4", 15000)) << module->Err();
    if (point == Point::AfterTake) {
      // Blocked on the host's row, right after the take and the begun mark.
      TableLock lock(t.Settings(), "hostserver");
      AddSales("M1", n, 1);
      EXPECT_EQ(WaitForValue("SELECT tglwaktuproses IS NOT NULL FROM penjualanproduk WHERE idx=" +
                                 std::to_string(n),
                             "1", 15000),
                "1");
      Kill(*module);
      lock.Release();
    } else if (point == Point::AfterSms) {
      AddSales("M1", n, 1);
      ASSERT_TRUE(sim.WaitFor("SMS", "08111000111", 15000)) << module->Err();
      Kill(*module);
    } else {
      AddSales("M1", n, 1);
      ASSERT_TRUE(sim.WaitFor("SMS", "08111000111", 15000)) << module->Err();
      // Blocked on logging the reply, which stays in the store until it is logged and settled.
      TableLock lock(t.Settings(), "logtrxsms");
      ASSERT_TRUE(sim.WaitFor("STORE", "", 10000));
      std::this_thread::sleep_for(std::chrono::milliseconds(1000));
      Kill(*module);
      lock.Release();
    }
    module = Launch(argument, sim);
    if (point == Point::AfterTake) {
      EXPECT_EQ(WaitForValue("SELECT status FROM penjualanproduk WHERE idx=" + std::to_string(n),
                             "GAGAL", 15000),
                "GAGAL")
          << module->Err();
      EXPECT_EQ(Sale(n), std::string("1|GAGAL|") + kNeverSent);
    } else {
      // With the operator when the module died; its reply, read from the store, settles it.
      EXPECT_EQ(WaitForValue("SELECT status FROM penjualanproduk WHERE idx=" + std::to_string(n),
                             "SUKSES", 20000),
                "SUKSES")
          << module->Err();
      EXPECT_NE(module->Err().find(kWithOperator), std::string::npos) << module->Err();
      EXPECT_NE(t.Value("SELECT sn FROM penjualanproduk WHERE idx=" + std::to_string(n)), "");
    }
    Stop(*module);
    int requests = 0;  // the sale's own SMS, not the balance requests after it
    for (const TranscriptLine& line : sim.Transcript()) {
      requests += line.kind == "SMS" && line.fields.size() >= 2 &&
                  line.fields[1].rfind("P10." + destination + ".", 0) == 0;
    }
    EXPECT_EQ(requests, point == Point::AfterTake ? 0 : 1);
    sim.Stop();
  }
  Audit();
}

// An MKIOS sale, killed after its take and after its dial went out (its answer dies with the
// process): the first ends GAGAL, the second PENDING for the operator to check; neither is
// dialled again.
TEST_F(SaleSafetyTest, MkiosDialSaleKilledAfterTheTakeAndAfterTheDial) {
  t.Run(
      "INSERT INTO modulaktif (namamodul, comm, caradial, tipemodem, pin, autorun) VALUES"
      " ('MK1', '7', 'MKIOS', 'WAVECOM', '1234', 1);"
      "INSERT INTO produk (idproduk, denom) VALUES ('S10', 10);"
      "INSERT INTO settinggetsn (idproduk, tipepesan, awalsn, akhirsn, pesansuksesgagal) VALUES"
      " ('S10', 'SUKSES', 'SN:', '.', 'BERHASIL');");
  const std::string argument = "namamodul=MK1#comm=7#pin=1234";
  for (const int n : {1, 2}) {
    SCOPED_TRACE(n);
    const std::string where = " WHERE idx=" + std::to_string(n);
    SimHarness& sim = StartSim(SourceFile("schema/mkios-scenario.json"));
    auto module = Launch(argument, sim);
    // Once the stock is read at start.
    ASSERT_TRUE(sim.WaitFor("RX", "AT+CMGL=4", 30000)) << module->Err();
    const std::string table = n == 1 ? "settinggetsn" : "logtrxsms";
    {
      TableLock lock(t.Settings(), table);
      t.Run("INSERT INTO penjualanproduk (idx, modem, idproduk, barcode, tanggal, jumlah) VALUES (" +
            std::to_string(n) + ", 'MK1', 'S10', '08123456780" + std::to_string(n) +
            "', CURDATE(), 1);");
      if (n == 1) {
        // Blocked on the product's rule, right after the take.
        EXPECT_EQ(WaitForValue("SELECT flag FROM penjualanproduk" + where, "1", 15000), "1");
      } else {
        // Blocked on logging the operator's answer to the dial.
        ASSERT_TRUE(sim.WaitFor("DIAL", "*777*", 15000)) << module->Err();
        std::this_thread::sleep_for(std::chrono::milliseconds(2500));
      }
      Kill(*module);
    }
    module = Launch(argument, sim);
    const char* outcome = n == 1 ? "GAGAL" : "PENDING";
    EXPECT_EQ(WaitForValue("SELECT status FROM penjualanproduk" + where, outcome, 15000), outcome)
        << module->Err();
    const std::string respond = t.Value("SELECT respond FROM penjualanproduk" + where);
    EXPECT_EQ(respond.rfind(n == 1 ? kNeverSent : kWithOperator, 0), 0u) << respond;
    ASSERT_TRUE(sim.WaitFor("RX", "AT+CMGL=4", 30000));
    Stop(*module);
    EXPECT_EQ(Count(sim, "DIAL", "*777*"), n == 1 ? 0 : 1);
    sim.Stop();
  }
}

// An M-TRONIK walk, killed in the menus before the PIN, and after it once the SIM has sent the
// sale: the first ends GAGAL and is not walked again; the second is settled by the operator's
// SMS that the SIM received while the module was down.
TEST_F(SaleSafetyTest, MtronikWalkKilledBeforeThePinAndOnceTheSimSentTheSale) {
  t.Run(
      "INSERT INTO modulaktif (namamodul, comm, caradial, tipemodem, pin, waktutunggu, autorun)"
      " VALUES ('M1', '7', 'MTRONIK', 'WAVECOM', '1234', '20', 1);"
      "INSERT INTO produk (idproduk, denom) VALUES ('I10', 10);"
      "INSERT INTO settinggetsn (idproduk, tipepesan, awalmsisdn, awalsn, akhirsn,"
      " pesanproduk, pesansuksesgagal) VALUES"
      " ('I10', 'SUKSES', ' ke ', 'SN: ', '.', 'Isi Pulsa', 'BERHASIL');");
  const std::string argument = "namamodul=M1#comm=7#pin=1234";
  for (const int n : {1, 2}) {
    SCOPED_TRACE(n);
    const std::string where = " WHERE idx=" + std::to_string(n);
    SimHarness& sim = StartSim(SourceFile("schema/mtronik-scenario.json"));
    t.Run("INSERT INTO penjualanproduk (idx, modem, idproduk, barcode, tanggal, jumlah) VALUES (" +
          std::to_string(n) + ", 'M1', 'I10', '08123456780" + std::to_string(n) +
          "', CURDATE(), 1);");
    auto module = Launch(argument, sim);
    if (n == 1) {
      ASSERT_TRUE(sim.WaitFor("RX", "AT+STGI=0", 30000)) << module->Err();
    } else {
      // Past the PIN: the SIM has sent the sale's request to the operator.
      ASSERT_TRUE(WaitUntil(
          [&] {
            for (const TranscriptLine& line : sim.Transcript()) {
              if (line.kind == "STK" && line.fields.size() >= 3 && line.fields[0] == "ANNOUNCE" &&
                  line.fields[2] == "kirim") {
                return true;
              }
            }
            return false;
          },
          30000))
          << module->Err();
    }
    Kill(*module);
    module = Launch(argument, sim);
    const char* outcome = n == 1 ? "GAGAL" : "SUKSES";
    EXPECT_EQ(WaitForValue("SELECT status FROM penjualanproduk" + where, outcome, 30000), outcome)
        << module->Err();
    if (n == 1) {
      EXPECT_EQ(Sale(n), std::string("1|GAGAL|") + kNeverSent);
    } else {
      EXPECT_NE(module->Err().find(kWithOperator), std::string::npos) << module->Err();
    }
    Stop(*module);
    // The PIN of the sale was typed once at most: no walk was made again.
    EXPECT_EQ(Count(sim, "RX", "1234\x1A"), n == 1 ? 0 : 1);
    sim.Stop();
  }
  Audit();
}

// Rows the cashier software wrote badly end their own sale, and a destination that carries a
// command never reaches the modem; the module keeps selling.
TEST_F(SaleSafetyTest, BadRowsEndTheirOwnSaleAndNothingOfThemReachesTheModem) {
  t.Run(
      "ALTER TABLE penjualanproduk MODIFY jumlah VARCHAR(10) NULL;"
      "INSERT INTO modulaktif (namamodul, comm, caradial, tipemodem, pin, waktutunggu, autorun)"
      " VALUES ('M1', '7', 'HD', 'WAVECOM', '1234', '1', 1);"
      "INSERT INTO hostserver (idserver, metodetrx, formattrx) VALUES"
      " ('HD', 'DIAL', '*123*<hptujuan>*<pin>#');"
      "INSERT INTO produk (idproduk, denom) VALUES ('X10', 10);"
      "INSERT INTO settinggetsn (idproduk, tipepesan, awalmsisdn, awalsn, akhirsn, pesanproduk,"
      " pesansuksesgagal) VALUES ('X10', 'SUKSES', 'ke ', 'SN ', '.', 'Isi', 'berhasil');"
      "INSERT INTO penjualanproduk (idx, modem, idproduk, barcode, tanggal, jumlah) VALUES"
      " (1, 'M1', 'X10', CONCAT('0812', CHAR(13), 'AT+CMGD=1,4'), CURDATE(), '1'),"
      " (2, 'M1', 'X10', '081200000002', CURDATE(), NULL),"
      " (3, 'M1', 'X10', '081200000003', CURDATE(), '1');");
  SimHarness& sim = StartSim(
      R"({"dial_rules": [{"code": "\\*123\\*(\\d+)\\*1234#",
          "reply": "\r\n+CUSD: 0,\"Isi 10 ke {1} berhasil SN 9{1}.\""}]})");
  auto module = StartModule("namamodul=M1#comm=7#pin=1234", sim);
  EXPECT_EQ(WaitForValue("SELECT status FROM penjualanproduk WHERE idx=3", "SUKSES", 20000),
            "SUKSES")
      << module->Err();
  EXPECT_EQ(t.Dump("SELECT idx, status, respond FROM penjualanproduk WHERE idx<3 ORDER BY idx"),
            "1|GAGAL|DITOLAK: nomor tujuan \"0812\\rAT+CMGD=1,4\" bukan nomor telepon\n"
            "2|GAGAL|DITOLAK: jumlah kosong");
  EXPECT_TRUE(module->Running());
  Stop(*module);
  EXPECT_EQ(Count(sim, "RX", "CMGD=1,4"), 0);
  EXPECT_EQ(Count(sim, "DIAL", "*123*"), 1);
  sim.Stop();
  Audit();
}

// STOP while the server has stalled (it answers nothing and refuses nothing): the module still
// ends at once, and the sale it had in hand gets its outcome at the next start. On a server of
// the test's own, which the test stops with SIGSTOP.
class StalledServerTest : public SaleSafetyTest {
 protected:
  static void SetUpTestSuite() { server_ = std::make_unique<ThrowawayServer>(); }
  static void TearDownTestSuite() { server_.reset(); }
  StalledServerTest() : SaleSafetyTest(server_->Socket()) {}

  static pid_t ServerPid() {
    const std::string socket = server_->Socket();
    std::ifstream file(socket.substr(0, socket.rfind('/')) + "/mysqld.pid");
    pid_t pid = 0;
    file >> pid;
    return pid;
  }

  static inline std::unique_ptr<ThrowawayServer> server_;
};

TEST_F(StalledServerTest, StopEndsTheModuleWithinSecondsAndTheJournalKeepsTheSale) {
  AddHostModule("M1", 2);
  SimHarness& sim = StartSim(HostScenario(4000));
  const std::string argument = "namamodul=M1#comm=7#pin=1234";
  auto module = Launch(argument, sim);
  ASSERT_TRUE(sim.WaitFor("RX", "AT+CMGL=4", 15000)) << module->Err();
  AddSales("M1", 1, 1);
  ASSERT_TRUE(sim.WaitFor("SMS", "08111000111", 15000)) << module->Err();
  const pid_t server = ServerPid();
  ASSERT_GT(server, 0);
  ASSERT_EQ(kill(server, SIGSTOP), 0);
  // Long enough for the module's statements to be caught by the stall.
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  const auto stop = std::chrono::steady_clock::now();
  module->Signal(SIGTERM);
  const int status = module->Wait(10000);
  const auto took = std::chrono::steady_clock::now() - stop;
  ASSERT_EQ(kill(server, SIGCONT), 0);
  EXPECT_EQ(status, 0) << module->Err();
  EXPECT_LT(took, std::chrono::seconds(6));
  EXPECT_NE(module->Err().find("status0: Status modul tidak tertulis: database tidak menjawab"),
            std::string::npos)
      << module->Err();
  EXPECT_EQ(t.Value("SELECT status FROM penjualanproduk"), "");

  // Started again, it gives the sale in hand its outcome from the journal, and the reply that
  // came meanwhile settles it.
  module = Launch(argument, sim);
  EXPECT_EQ(WaitForValue("SELECT status FROM penjualanproduk", "SUKSES", 20000), "SUKSES")
      << module->Err();
  EXPECT_NE(module->Err().find(kWithOperator), std::string::npos) << module->Err();
  Stop(*module);
  sim.Stop();
  Audit();
}

}  // namespace
}  // namespace tovalink
