// The worker's start and cycle, in process: a scripted modem on the virtual clock and the real
// database.
#include "engine/worker.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

#include "testsupport/listing.h"
#include "testsupport/module_fixture.h"

namespace tovalink {
namespace {

TEST(WorkerUnitTest, ProductPrefix) {
  EXPECT_EQ(ProductPrefix("S10"), "S");
  EXPECT_EQ(ProductPrefix(" SID25 "), "SID");
  EXPECT_EQ(ProductPrefix("25"), "");
  EXPECT_EQ(ProductPrefix("ABC"), "ABC");
  EXPECT_EQ(ProductPrefix(""), "");
}

TEST(WorkerUnitTest, ChannelsBuiltIn) {
  EXPECT_NE(MakeChannel("HOSTA"), nullptr);
  EXPECT_NE(MakeChannel("DOMPET"), nullptr);
  EXPECT_NE(MakeChannel("MKIOS"), nullptr);
  EXPECT_NE(MakeChannel("MTRONIK"), nullptr);
  EXPECT_NE(MakeChannel("mtronik"), nullptr);  // letter case matters: a host server's id
}

TEST(WorkerUnitTest, NominalText) {
  struct Case {
    double denomination;
    int64_t jumlah;
    const char* text;
  };
  for (const Case& c : {Case{0, 7, "7"}, Case{25000, 1, "25000"}, Case{2.5, 1, "2.5"},
                        Case{1234567.25, 1, "1234567.25"}, Case{0.1, 1, "0.1"},
                        Case{-3, 1, "-3"}}) {
    EXPECT_EQ(NominalText(c.denomination, c.jumlah), c.text) << c.denomination;
  }
}

class WorkerTest : public ModuleFixture {
 protected:
  WorkerTest() {
    form.ctipeprov = "HS1";
    form.SetObserver([this](const FormChange& change) {
      std::lock_guard lock(shown_mutex);
      if (change.what == FormDisplay::Msaldo) shown.push_back(change.text);
    });
  }

  bool WasShown(const std::string& text) {
    std::lock_guard lock(shown_mutex);
    for (const std::string& one : shown) {
      if (one.find(text) != std::string::npos) return true;
    }
    return false;
  }

  std::mutex shown_mutex;
  std::vector<std::string> shown;  // every content msaldo had
};

TEST_F(WorkerTest, SilentModemEndsTheModule) {
  port.SetSilent(true);
  RunWorker(600000);
  EXPECT_EQ(aborted, std::vector<std::string>{"Modem ERROR COM5"});
  EXPECT_EQ(port.Written("ATE0").size(), 2u);
  EXPECT_FALSE(end.Ended());  // AbortModule ends the program, not the worker's stop branch
}

TEST_F(WorkerTest, SecondAnswerToEchoOffCounts) {
  port.On("ATE0", ScriptedPort::Answer{"\r\n", 0, 0, 0, 1});  // the first gets nothing
  RunWorker(8000);
  EXPECT_EQ(port.Written("ATE0").size(), 2u);
  EXPECT_TRUE(WasShown("hasil=\r\n5"));
  EXPECT_TRUE(WasShown("ulanghasilat=\r\nOK\r\n"));
  EXPECT_TRUE(aborted.empty());
  EXPECT_TRUE(end.Ended());
  EXPECT_EQ(end.Status(), 0);
}

TEST_F(WorkerTest, BlankListingEndsTheModule) {
  port.On("AT+CMGL=4", "");
  RunWorker(600000);
  EXPECT_EQ(aborted, std::vector<std::string>{"Modem BLANK COM5"});
  EXPECT_EQ(port.Written("AT+CMGL=4").size(), 2u);
  EXPECT_TRUE(form.StopRequested);
}

TEST_F(WorkerTest, IdleCyclesAlternateStoresAndSettleTheInbox) {
  clock.SetLocal(2026, 3, 2, 9, 0, 0);
  t.Run("INSERT INTO penjualanproduk (modem, idproduk, barcode, tanggal, jumlah, status) VALUES"
        " ('ELSEWHERE', 'X10', '081234567890', '2026-03-02', 1, 'PENDING');"
        "INSERT INTO settinggetsn (idproduk, tipepesan, awalmsisdn, awalsn, akhirsn, pesanproduk,"
        " pesansuksesgagal) VALUES ('X10', 'SUKSES', ' ke ', 'SN: ', '. Saldo', 'Isi P10', 'SUKSES');");
  port.On("AT+CMGL=4",
          ScriptedPort::Answer{MessageListing({{"6281299990000",
                                                "SUKSES Isi P10 ke 081234567890 SN: 4455-66. Saldo 9"},
                                               {"62962", "Info promo"},
                                               {"081111", "aaaaaaaaa junk"}}),
                               0, 0, 0, 1});
  db.StartStatementLog();
  RunWorker(6000);
  EXPECT_EQ(t.Dump("SELECT status, sn, sn_token FROM penjualanproduk"),
            "SUKSES|4455-66|4455-66");
  EXPECT_EQ(t.Dump("SELECT modul, pengirim, pesan FROM logtrxsms"),
            "M1|081299990000|SUKSES Isi P10 ke 081234567890 SN: 4455-66. Saldo 9");
  const std::vector<std::string> stores = port.Written("AT+CPMS=");
  ASSERT_GE(stores.size(), 3u);
  EXPECT_EQ(stores[0], "AT+CPMS=\"ME\"\r");
  EXPECT_EQ(stores[1], "AT+CPMS=\"SM\"\r");
  EXPECT_EQ(stores[2], "AT+CPMS=\"ME\"\r");
  EXPECT_EQ(port.Written("AT+CMGD="),
            (std::vector<std::string>{"AT+CMGD=1\r", "AT+CMGD=2\r", "AT+CMGD=3\r"}));
  EXPECT_TRUE(WasShown("BEF PARSING"));
  EXPECT_TRUE(WasShown("AF PARSING"));
  const std::vector<std::string> log = db.TakeStatementLog();
  EXPECT_NE(std::find(log.begin(), log.end(),
                      "INSERT INTO logtrxsms VALUES (\"\",\"2026-03-02\",\"09:00:01\",\"M1\","
                      "\"081299990000\",\"SUKSES Isi P10 ke 081234567890 SN: 4455-66. Saldo 9\",1)"),
            log.end());
  EXPECT_NE(std::find(log.begin(), log.end(),
                      "SELECT * FROM penjualanproduk WHERE modem=\"M1\" AND flag=0"),
            log.end());
  EXPECT_EQ(log.back(), "UPDATE modulaktif SET statrun=0,lokasifile=\"\" WHERE namamodul=\"M1\"");
  EXPECT_EQ(end.Status(), 0);
}

// A channel that records every sale it is given, runs `during` in the middle of it (before
// the dial, its point of no return), dials the destination and judges the sale "SUKSES"
// itself.
class RecordingChannel : public Channel {
 public:
  RecordingChannel(std::vector<int64_t>& executed, std::function<void(const Sale&)> during = {})
      : executed_(executed), during_(std::move(during)) {}
  SaleKind KindOf(const std::string&) const override { return SaleKind::HostServer(); }
  void RunSale(Module& module, SaleInHand& in_hand) override {
    const Sale& sale = in_hand.sale();
    executed_.push_back(sale.idx);
    if (during_) during_(sale);
    if (!in_hand.Cross()) return;
    std::string reply;
    module.exchange.SendAT("ATD" + sale.barcode + "\r", 5, "OK\r\n", "ERROR", reply);
    if (module.Ending()) return;  // ended by AbortModule: the program is gone
    in_hand.StockJudged(sale_row::StockVerdict::Sold);
  }

 private:
  std::vector<int64_t>& executed_;
  std::function<void(const Sale&)> during_;
};

class WorkerSalesTest : public WorkerTest {
 protected:
  WorkerSalesTest() {
    t.Run(
        "INSERT INTO penjualanproduk (modem, idproduk, barcode, tanggal, jumlah) VALUES"
        " ('M1', 'X5', '0811', '2026-03-02', 1), ('M1', 'X5', '0812', '2026-03-02', 1),"
        " ('M1', 'X5', '0813', '2026-03-02', 1);");
  }
  // The module's database reconnects as in the program, its events recorded.
  void KeepConnection() {
    db.KeepConnection(clock, [this](ConnectionEvent event, const std::string& detail) {
      std::lock_guard lock(shown_mutex);
      connection_events.push_back((event == ConnectionEvent::Lost ? "lost: " : "back: ") + detail);
    });
  }
  std::string Statuses() {
    return t.Dump("SELECT idx, flag, status, respond FROM penjualanproduk ORDER BY idx");
  }

  std::vector<int64_t> executed;
  std::vector<std::string> connection_events;
};

TEST_F(WorkerSalesTest, SaleTakenElsewhereMeanwhileIsNotExecuted) {
  db.StartStatementLog();
  // While the first sale runs, another program of the same module name takes the second.
  RunWorker(3000, std::make_unique<RecordingChannel>(executed, [this](const Sale& sale) {
              if (sale.idx == 1) t.Run("UPDATE penjualanproduk SET flag=1 WHERE idx=2;");
            }));
  EXPECT_EQ(executed, (std::vector<int64_t>{1, 3}));
  EXPECT_EQ(Statuses(), "1|1|SUKSES|\n2|1||\n3|1|SUKSES|");
  const std::vector<std::string> log = db.TakeStatementLog();
  EXPECT_NE(
      std::find(log.begin(), log.end(), "UPDATE penjualanproduk SET flag=1 WHERE idx=2 AND flag=0"),
      log.end());
}

TEST_F(WorkerSalesTest, TakeThatTheConnectionDroppedUnder) {
  struct Case {
    Database::FaultPoint point;
    std::vector<int64_t> executed;
    const char* statuses;
  };
  const Case cases[] = {
      // Never applied: the sale is still untaken once the connection is back, and is taken
      // and executed then.
      {Database::FaultPoint::BeforeSending, {1, 2, 3}, "1|1|SUKSES|\n2|1|SUKSES|\n3|1|SUKSES|"},
      // Applied, but the answer was lost: nobody can say who took it, so it is not executed
      // here and waits for the operator.
      {Database::FaultPoint::AfterApplying,
       {1, 3},
       "1|1|SUKSES|\n2|1|PENDING|BELUM DIKIRIM: koneksi database putus saat transaksi "
       "diambil\n3|1|SUKSES|"},
  };
  KeepConnection();
  for (const Case& c : cases) {
    t.Run("UPDATE penjualanproduk SET flag=0, status='', respond=NULL;");
    executed.clear();
    form.StopRequested = false;
    bool dropped = false;
    db.InjectFaults([&](const std::string& statement, Database::FaultPoint point) {
      if (dropped || point != c.point ||
          statement != "UPDATE penjualanproduk SET flag=1 WHERE idx=2 AND flag=0") {
        return Database::Fault::None;
      }
      dropped = true;
      return Database::Fault::Drop;
    });
    RunWorker(3000, std::make_unique<RecordingChannel>(executed));
    db.InjectFaults({});
    EXPECT_TRUE(dropped);
    EXPECT_EQ(executed, c.executed) << static_cast<int>(c.point);
    EXPECT_EQ(Statuses(), c.statuses);
    EXPECT_TRUE(aborted.empty());
  }
  EXPECT_EQ(connection_events,
            (std::vector<std::string>{
                "lost: Lost connection to server during query (injected)", "back: 0 s",
                "lost: Lost connection to server during query (injected)", "back: 0 s"}));
}

TEST_F(WorkerSalesTest, SaleGoesOnAcrossADatabaseOutage) {
  // The module's connection as a user of its own, whose account the test locks to keep the
  // server away from the module for 20 s, from the moment the dial's reply is to be logged.
  const std::string user = "wk_" + t.Name();
  t.Run("CREATE USER '" + user + "'@'localhost';GRANT ALL ON " + t.Name() + ".* TO '" + user +
        "'@'localhost';"
        "DELETE FROM penjualanproduk WHERE idx>1;"
        "INSERT INTO hostserver (idserver, metodetrx, formattrx) VALUES ('HS1', 'DIAL',"
        " '*1*<hptujuan>#');"
        "INSERT INTO settinggetsn (idproduk, tipepesan, awalsn, akhirsn, pesanproduk,"
        " pesansuksesgagal) VALUES ('X5', 'SUKSES', 'SN ', '.', 'Isi', 'berhasil');");
  ConnectionSettings settings = t.Settings();
  settings.user = user;
  db.Connect(settings);
  KeepConnection();
  port.On("ATD",
          ScriptedPort::Answer{"\r\n+CUSD: 0,\"Isi 0811 berhasil SN 4455.\"\r\n,15\r\n", 3000});
  bool away = false;
  db.InjectFaults([&](const std::string& statement, Database::FaultPoint point) {
    if (away || point != Database::FaultPoint::BeforeSending ||
        statement.rfind("INSERT INTO logtrxsms", 0) != 0) {
      return Database::Fault::None;
    }
    away = true;
    t.Run("ALTER USER '" + user + "'@'localhost' ACCOUNT LOCK;");
    clock.After(20'000, [&] { t.Run("ALTER USER '" + user + "'@'localhost' ACCOUNT UNLOCK;"); });
    return Database::Fault::Drop;
  });
  db.StartStatementLog();
  RunWorker(60'000);
  db.InjectFaults({});
  t.Run("DROP USER '" + user + "'@'localhost';");
  EXPECT_EQ(port.Written("ATD"), std::vector<std::string>{"ATD*1*0811#\r"});
  EXPECT_EQ(t.Dump("SELECT flag, status, sn FROM penjualanproduk"), "1|SUKSES|4455");
  EXPECT_EQ(t.Value("SELECT COUNT(*) FROM logtrxsms"), "1");
  // Attempts 0.5, 1.5, 3.5, 7.5 and 15.5 s after the loss fail; the one at 31.5 s succeeds.
  EXPECT_EQ(connection_events,
            (std::vector<std::string>{"lost: Lost connection to server during query (injected)",
                                      "back: 31 s"}));
  const std::vector<std::string> log = db.TakeStatementLog();
  EXPECT_EQ(std::count_if(log.begin(), log.end(),
                          [](const std::string& statement) {
                            return statement.rfind("INSERT INTO logtrxsms", 0) == 0;
                          }),
            2);  // the dropped one and the one that went
  EXPECT_TRUE(aborted.empty());
}

TEST_F(WorkerSalesTest, EndingModuleGivesTheSaleInHandItsOutcome) {
  class FailingChannel : public RecordingChannel {
   public:
    using RecordingChannel::RecordingChannel;
    void RunSale(Module& module, SaleInHand& in_hand) override {
      if (in_hand.idx() == 1) throw std::runtime_error("no host");
      RecordingChannel::RunSale(module, in_hand);
    }
  };
  // AbortModule before anything reached the modem: the sale failed and may be entered again.
  t.Run("DELETE FROM penjualanproduk WHERE idx=3;");
  RunWorker(600'000, std::make_unique<FailingChannel>(executed));
  EXPECT_EQ(aborted, std::vector<std::string>{"Modem ERROR:0-no host"});
  EXPECT_EQ(Statuses(),
            "1|1|GAGAL|TIDAK TERKIRIM: modul berhenti (Modem ERROR:0-no host) sebelum transaksi "
            "dikirim ke operator\n2|0||");

  // AbortModule on a failed write of the dial: it may have gone out, and its reply may still
  // settle the sale.
  aborted.clear();
  t.Run("DELETE FROM penjualanproduk WHERE idx=1;");
  RunWorker(600'000, std::make_unique<RecordingChannel>(
                         executed, [this](const Sale&) { port.SetFailWrites(true); }));
  EXPECT_EQ(Statuses(),
            "2|1|PENDING|CEK DULU: modul berhenti (Error ATCOMMAND ATD0812\r) saat transaksi di "
            "operator (dikirim 2026-03-02 09:30:00)");

  // STOP, from another thread, met before the dial: nothing goes out and the sale may be sold
  // again; met after it: "PENDING", the note before what the sale's respond held.
  aborted.clear();
  port.SetFailWrites(false);
  t.Run(
      "INSERT INTO penjualanproduk (modem, idproduk, barcode, tanggal, jumlah) VALUES"
      " ('M1', 'X5', '0814', '2026-03-02', 1), ('M1', 'X5', '0815', '2026-03-02', 1);");
  auto stop = [this] {
    RunningWorker()->RequestEnd();
    form.StopRequested = true;
    std::thread from_elsewhere([this] { RunningWorker()->CloseSaleInHand("STOP"); });
    from_elsewhere.join();
  };
  RunWorker(600'000, std::make_unique<RecordingChannel>(executed, [&](const Sale&) { stop(); }));
  class StoppedAfterDial : public Channel {
   public:
    explicit StoppedAfterDial(std::function<void()> stop) : stop_(std::move(stop)) {}
    SaleKind KindOf(const std::string&) const override { return SaleKind::HostServer(); }
    void RunSale(Module& module, SaleInHand& in_hand) override {
      module.db.ExecSql("UPDATE penjualanproduk SET respond='Isi 0815' WHERE idx=5;");
      ASSERT_TRUE(in_hand.Cross());
      std::string reply;
      module.exchange.SendAT("ATD" + in_hand.sale().barcode + "\r", 5, "OK\r\n", "ERROR", reply);
      stop_();
    }

   private:
    std::function<void()> stop_;
  };
  form.StopRequested = false;
  RunWorker(600'000, std::make_unique<StoppedAfterDial>(stop));
  EXPECT_TRUE(aborted.empty());
  EXPECT_EQ(t.Dump("SELECT idx, status, respond FROM penjualanproduk WHERE idx>3 ORDER BY idx"),
            "4|GAGAL|TIDAK TERKIRIM: STOP sebelum transaksi dikirim ke operator\n"
            "5|PENDING|CEK DULU: STOP saat transaksi di operator (dikirim 2026-03-02 09:30:00) | "
            "Isi 0815");
  EXPECT_EQ(port.Written("ATD0814"), std::vector<std::string>{});
  EXPECT_TRUE(journal.OpenSales().empty());
}

// STOP while the server is away: the sale in hand cannot be given its outcome, so it stays
// taken without a status, and the operator is told which sale that is.
TEST_F(WorkerSalesTest, SaleLeftWithoutStatusIsNamed) {
  KeepConnection();
  t.Run("DELETE FROM penjualanproduk WHERE idx>1;");
  std::string panel;
  RunWorker(600'000, std::make_unique<RecordingChannel>(executed, [this, &panel](const Sale&) {
              RunningWorker()->RequestEnd();
              form.StopRequested = true;
              db.InjectFaults([](const std::string& statement, Database::FaultPoint point) {
                return point == Database::FaultPoint::BeforeSending &&
                               statement.rfind("UPDATE penjualanproduk SET status=", 0) == 0
                           ? Database::Fault::Drop
                           : Database::Fault::None;
              });
              EXPECT_THROW(RunningWorker()->CloseSaleInHand("STOP"), ConnectionLost);
              panel = form.StatusPanel(0);
            }));
  db.InjectFaults({});
  EXPECT_EQ(panel,
            "Transaksi 1 tanpa status: Lost connection to server during query (injected) "
            "(diselesaikan saat START)");
  EXPECT_EQ(Statuses(), "1|1||");
  // The journal keeps it for the next start.
  ASSERT_EQ(journal.OpenSales().size(), 1u);
  EXPECT_EQ(journal.OpenSales()[0].idx, 1);
}

TEST_F(WorkerSalesTest, TenThousandSalesEachTakenOnceAndStopWithinOneSale) {
  t.Run(
      "DELETE FROM penjualanproduk;"
      "INSERT INTO penjualanproduk (modem, idproduk, barcode, tanggal, jumlah)"
      " SELECT 'M1', 'X5', CONCAT('08', LPAD(seq, 10, '0')), '2026-03-02', 1"
      " FROM seq_1_to_10000;");
  std::map<int64_t, int> runs;
  long rss_at_1000 = 0, rss_at_9000 = 0;
  auto rss_kb = [] {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
      if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    }
    return 0L;
  };
  // A channel without the modem, so that the engine's own memory is what is measured: the
  // poll's rows are held once per cycle, and nothing may grow with every sale.
  class CountingChannel : public Channel {
   public:
    explicit CountingChannel(std::function<void(const Sale&)> each) : each_(std::move(each)) {}
    SaleKind KindOf(const std::string&) const override { return SaleKind::HostServer(); }
    void RunSale(Module&, SaleInHand& in_hand) override {
      each_(in_hand.sale());
      in_hand.StockJudged(sale_row::StockVerdict::Sold);
    }

   private:
    std::function<void(const Sale&)> each_;
  };
  // STOP is pressed during the 5000th sale: it is the last one taken.
  RunWorker(3'600'000, std::make_unique<CountingChannel>([&](const Sale& sale) {
              const size_t count = runs.size() + 1;
              ++runs[sale.idx];
              if (count == 1000) rss_at_1000 = rss_kb();
              if (count == 5000) form.StopRequested = true;
            }));
  EXPECT_EQ(runs.size(), 5000u);
  EXPECT_EQ(t.Value("SELECT COUNT(*) FROM penjualanproduk WHERE flag=1"), "5000");
  // The module started again takes the rest.
  form.StopRequested = false;
  RunWorker(3'600'000, std::make_unique<CountingChannel>([&](const Sale& sale) {
              ++runs[sale.idx];
              if (runs.size() == 9000) rss_at_9000 = rss_kb();
              if (runs.size() == 10000) form.StopRequested = true;
            }));
  EXPECT_EQ(runs.size(), 10000u);
  EXPECT_TRUE(
      std::all_of(runs.begin(), runs.end(), [](const auto& run) { return run.second == 1; }));
  EXPECT_EQ(t.Value("SELECT COUNT(*) FROM penjualanproduk WHERE flag<>1 OR status<>'SUKSES'"), "0");
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
  // Bounded: from the 1000th to the 9000th sale, across a restart, well under 1 kB a sale.
  EXPECT_LT(rss_at_9000 - rss_at_1000, 8 * 1024) << rss_at_1000 << " kB, then " << rss_at_9000;
#endif
}

// Rows the cashier software wrote badly end their own sale, "GAGAL" with what is wrong and
// nothing sent; the module goes on with the next sale instead of dying on the same row at
// every restart. (An outlet's table may hold NULLs and texts where the reference schema has
// numbers.)
TEST_F(WorkerSalesTest, BadRowsEndTheirOwnSaleAndTheModuleGoesOn) {
  t.Run(
      "ALTER TABLE penjualanproduk MODIFY jumlah VARCHAR(10) NULL, MODIFY barcode VARCHAR(30) NULL;"
      "DELETE FROM penjualanproduk;"
      "INSERT INTO produk (idproduk, denom) VALUES ('X5', 5000), ('XN', NULL);"
      "INSERT INTO penjualanproduk (idx, modem, idproduk, barcode, tanggal, jumlah) VALUES"
      " (1, 'M1', 'X5', '0811', '2026-03-02', NULL),"
      " (2, 'M1', 'X5', '0812', '2026-03-02', 'dua'),"
      " (3, 'M1', 'X5', '', '2026-03-02', '1'),"
      " (4, 'M1', 'X5', NULL, '2026-03-02', '1'),"
      " (5, 'M1', 'X5', CONCAT('0813', CHAR(13), 'AT+CPIN=0000'), '2026-03-02', '1'),"
      " (6, 'M1', 'X5', '0814 ', '2026-03-02', '1'),"
      " (7, 'M1', ' ', '0815', '2026-03-02', '1'),"
      " (8, 'M1', 'XN', '0816', '2026-03-02', '1'),"
      " (9, 'M1', 'X5', '+62817', '2026-03-02', '1');");
  RunWorker(8000, std::make_unique<RecordingChannel>(executed));
  EXPECT_TRUE(aborted.empty());
  EXPECT_EQ(executed, std::vector<int64_t>{9});
  EXPECT_EQ(port.Written("ATD"), std::vector<std::string>{"ATD+62817\r"});
  EXPECT_EQ(Statuses(),
            "1|1|GAGAL|DITOLAK: jumlah kosong\n"
            "2|1|GAGAL|DITOLAK: jumlah \"dua\" bukan angka\n"
            "3|1|GAGAL|DITOLAK: nomor tujuan kosong\n"
            "4|1|GAGAL|DITOLAK: nomor tujuan kosong\n"
            "5|1|GAGAL|DITOLAK: nomor tujuan \"0813\\rAT+CPIN=0000\" bukan nomor telepon\n"
            "6|1|GAGAL|DITOLAK: nomor tujuan \"0814 \" bukan nomor telepon\n"
            "7|1|GAGAL|DITOLAK: produk kosong\n"
            "8|1|GAGAL|DITOLAK: denom produk \"XN\" bukan angka\n"
            "9|1|SUKSES|");
  EXPECT_TRUE(journal.OpenSales().empty());
}

// The sales a crash or a power cut left in hand get their outcome at the next start, before
// the first poll: never sent, "GAGAL"; sent, "PENDING" with when; a row that has an outcome
// already, or a take that never reached the row, stays as it is.
TEST_F(WorkerSalesTest, SalesLeftInHandGetTheirOutcomeAtStart) {
  t.Run(
      "DELETE FROM penjualanproduk;"
      "INSERT INTO penjualanproduk (idx, modem, flag, idproduk, barcode, tanggal, jumlah, status)"
      " VALUES (1, 'M1', 1, 'X5', '0811', '2026-03-02', 1, ''),"
      " (2, 'M1', 1, 'X5', '0812', '2026-03-02', 1, ''),"
      " (3, 'M1', 1, 'X5', '0813', '2026-03-02', 1, 'SUKSES'),"
      " (4, 'M1', 0, 'X5', '0814', '2026-03-02', 1, '');");
  journal.Taking(1, "2026-03-02 09:10:00");
  journal.Taking(2, "2026-03-02 09:11:00");
  journal.Sending(2, "2026-03-02 09:11:02");
  journal.Taking(3, "2026-03-02 09:12:00");
  journal.Sending(3, "2026-03-02 09:12:02");
  journal.Taking(4, "2026-03-02 09:13:00");
  std::vector<std::string> panel;
  form.SetObserver([&](const FormChange& change) {
    if (change.what == FormDisplay::StatusPanel && change.index == 0) panel.push_back(change.text);
  });
  db.StartStatementLog();
  RunWorker(3000, std::make_unique<RecordingChannel>(executed));
  EXPECT_EQ(Statuses(),
            "1|1|GAGAL|TIDAK TERKIRIM: modul mati sebelum transaksi dikirim ke operator\n"
            "2|1|PENDING|CEK DULU: modul mati saat transaksi di operator (dikirim 2026-03-02 "
            "09:11:02)\n"
            "3|1|SUKSES|\n"
            "4|1|SUKSES|");
  EXPECT_EQ(executed, std::vector<int64_t>{4});
  ASSERT_FALSE(panel.empty());
  EXPECT_EQ(panel.front(), "Dari jurnal: 1 GAGAL (tidak terkirim), 1 PENDING (cek dulu)");
  // Before the modem is even asked and the first sale is polled.
  const std::vector<std::string> log = db.TakeStatementLog();
  ASSERT_GE(log.size(), 4u);
  EXPECT_EQ(log[0].rfind("UPDATE penjualanproduk SET status=\"GAGAL\"", 0), 0u) << log[0];
  EXPECT_EQ(log[1].rfind("UPDATE penjualanproduk SET status=\"PENDING\"", 0), 0u) << log[1];
  const auto poll = std::find(log.begin(), log.end(),
                              "SELECT * FROM penjualanproduk WHERE modem=\"M1\" AND flag=0");
  EXPECT_GE(poll - log.begin(), 4);
  EXPECT_TRUE(journal.OpenSales().empty());
}

// STOP from another thread, while the worker is inside each statement of a host sale by dial:
// every sale ends with exactly one outcome that says where it got to, and nothing is sent
// after STOP met it before its point of no return.
TEST_F(WorkerSalesTest, StopOnAnotherThreadInsideEachStatementOfASale) {
  const char* const statements[] = {
      "UPDATE penjualanproduk SET flag=1 WHERE",            // the take
      "UPDATE penjualanproduk SET flag=1,tglwaktuproses=",  // the begun mark
      "SELECT metodetrx",                                   // the host's row
      "SELECT idprodukhost",                                // the product's code
      "INSERT INTO logtrxsms",                              // the dial's answer, after the dial
      "SELECT awalmsisdn",                                  // its settlement
      "UPDATE penjualanproduk SET status=",                 // the settled outcome
  };
  t.Run(
      "DELETE FROM penjualanproduk;"
      "INSERT INTO hostserver (idserver, metodetrx, formattrx) VALUES ('HS1', 'DIAL', '*1*<hptujuan>#');"
      "INSERT INTO settinggetsn (idproduk, tipepesan, awalsn, akhirsn, pesanproduk,"
      " pesansuksesgagal) VALUES ('X5', 'SUKSES', 'SN ', '.', 'Isi', 'berhasil');");
  port.On("ATD", "\r\n+CUSD: 0,\"Isi 0811 berhasil SN 4455.\"\r\n,15\r\n");
  int sale = 0;
  for (const char* statement : statements) {
    SCOPED_TRACE(statement);
    ++sale;
    t.Run("INSERT INTO penjualanproduk (idx, modem, idproduk, barcode, tanggal, jumlah) VALUES (" +
          std::to_string(sale) + ", 'M1', 'X5', '0811', '2026-03-02', 1);");
    form.StopRequested = false;
    const size_t dials_before = port.Written("ATD").size();
    std::thread stop;
    db.InjectFaults([&](const std::string& text, Database::FaultPoint point) {
      if (!stop.joinable() && point == Database::FaultPoint::BeforeSending &&
          text.rfind(statement, 0) == 0 && RunningWorker() != nullptr) {
        Worker* worker = RunningWorker();
        stop = std::thread([this, worker] {
          worker->RequestEnd();
          form.StopRequested = true;
          worker->CloseSaleInHand(kStoppedWhy);
        });
        // Give STOP the time to reach the lock the worker holds inside this statement.
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
      }
      return Database::Fault::None;
    });
    bool stopped = false;
    before_worker_goes = [&] {
      stopped = stop.joinable();
      if (stopped) stop.join();
    };
    RunWorker(600'000);
    before_worker_goes = nullptr;
    db.InjectFaults({});
    ASSERT_TRUE(stopped);
    const std::string where = " WHERE idx=" + std::to_string(sale);
    const std::string status = t.Value("SELECT status FROM penjualanproduk" + where);
    const size_t dials = port.Written("ATD").size() - dials_before;
    EXPECT_LE(dials, 1u);
    if (dials == 0) {
      EXPECT_EQ(status, "GAGAL");
      EXPECT_EQ(t.Value("SELECT respond FROM penjualanproduk" + where),
                "TIDAK TERKIRIM: modul di-STOP sebelum transaksi dikirim ke operator");
    } else {
      // Sent: with the operator, or settled by the dial's answer that STOP did not stop.
      EXPECT_TRUE(status == "PENDING" || status == "SUKSES") << status;
    }
    EXPECT_TRUE(journal.OpenSales().empty());
  }
  // The first statements come before the dial, the last ones after it.
  EXPECT_EQ(t.Value("SELECT status FROM penjualanproduk WHERE idx=1"), "GAGAL");
  EXPECT_EQ(t.Value("SELECT status FROM penjualanproduk WHERE idx=7"), "SUKSES");
  EXPECT_TRUE(aborted.empty());
}

TEST_F(WorkerTest, FailingStatementOutsideASaleEndsTheModuleLoudly) {
  t.Run("DROP TABLE logtrxsms;");
  port.On("AT+CMGL=4", ScriptedPort::Answer{MessageListing({{"0811", "hello"}}), 0, 0, 0, 1});
  RunWorker(600000);
  EXPECT_EQ(aborted, std::vector<std::string>{"Worker ERROR:Table '" + t.Name() +
                                              ".logtrxsms' doesn't exist"});
  // The message stays in the modem: it was neither logged nor settled.
  EXPECT_TRUE(port.Written("AT+CMGD=").empty());
}

}  // namespace
}  // namespace tovalink
