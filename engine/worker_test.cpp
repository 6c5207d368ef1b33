// The worker's start and cycle, in process: a scripted modem on the virtual clock and the real
// database.
#include "engine/worker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>

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
                      "INSERT INTO logtrxsms VALUES (\"\",\"2026-03-02\",\"09:00:02\",\"M1\","
                      "\"081299990000\",\"SUKSES Isi P10 ke 081234567890 SN: 4455-66. Saldo 9\",1)"),
            log.end());
  EXPECT_NE(std::find(log.begin(), log.end(),
                      "SELECT * FROM penjualanproduk WHERE modem=\"M1\" AND flag=0"),
            log.end());
  EXPECT_EQ(log.back(), "UPDATE modulaktif SET statrun=0,lokasifile=\"\" WHERE namamodul=\"M1\"");
  EXPECT_EQ(end.Status(), 0);
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
