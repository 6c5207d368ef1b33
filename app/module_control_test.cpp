// Module control and the worker together, in process: a scripted modem on the virtual clock,
// the real database, and an application end that only records.
#include "app/module_control.h"

#include <gtest/gtest.h>

#include "modem/scripted_port.h"
#include "sim/gsm_pdu.h"
#include "testsupport/test_database.h"

namespace tovalink {
namespace {

std::string Listing(const std::vector<std::pair<std::string, std::string>>& messages) {
  std::string listing = "\r\n";
  int index = 1;
  for (const auto& [sender, text] : messages) {
    for (const std::string& pdu : gsmpdu::EncodeDeliver(sender, text, gsmpdu::Coding::Gsm7)) {
      listing += "+CMGL: " + std::to_string(index++) + ",1,," +
                 std::to_string(gsmpdu::TpduLength(pdu)) + "\r\n" + pdu + "\r\n";
    }
  }
  return listing + "\r\nOK\r\n";
}

class ModuleControlTest : public ::testing::Test {
 protected:
  ModuleControlTest() : port(clock) {
    t.Run("INSERT INTO modulaktif (namamodul, comm, caradial, tipemodem, pin, autorun) VALUES"
          " ('M1', '5', 'HS1', 'WAVECOM', '1234', 1), ('OTHER', '5', 'HS1', 'WAVECOM', '', 1);");
    form.csumber = "M1";
    form.cport = "5";
    form.cbaud = "115200";
    form.chands = "2";
    form.cmodem = "WAVECOM";
    form.ctipeprov = "HS1";
    form.epin = "1234";
    port.On("AT", "\r\nOK\r\n");
    port.On("AT+CMGL=4", "\r\nOK\r\n");
    db.StartStatementLog();
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

  // Runs the module until the virtual moment `stop_at_ms`, when STOP is pressed.
  void RunUntilStop(int64_t stop_at_ms) {
    ASSERT_EQ(control.Start(), ModuleControl::StartResult::Running);
    clock.After(stop_at_ms, [this] { form.StopRequested = true; });
    control.worker()->Join();
  }

  TestDatabase t;
  Database& db = t.db();
  VirtualClock clock;
  ScriptedPort port;
  Form form;
  RecordingEnd app_end;
  std::mutex shown_mutex;
  std::vector<std::string> shown;  // every content msaldo had
  ModuleControl control{form, db, clock, port, app_end};
};

TEST_F(ModuleControlTest, StartWritesTheHeartbeatAndTakesTheProviderType) {
  clock.SetLocal(2026, 3, 2, 8, 15, 0);
  form.cmodem = "SIEMENS";
  ASSERT_EQ(control.Start(), ModuleControl::StartResult::Running);
  const std::vector<std::string> log = db.TakeStatementLog();
  ASSERT_GE(log.size(), 3u);
  EXPECT_EQ(log[0], "SELECT * FROM modulaktif");
  EXPECT_EQ(log[1], "UPDATE modulaktif SET waktu=\"08:15:00\",statrun=1 WHERE namamodul=\"M1\"");
  EXPECT_EQ(log[2], "SELECT caradial FROM modulaktif where namamodul=\"M1\" LIMIT 1");
  EXPECT_EQ(form.ProviderType, "HS1");
  EXPECT_EQ(form.DialSuffix, ";");
  EXPECT_EQ(form.DialReplyEnd, "OK");
  EXPECT_FALSE(form.StopRequested);
  EXPECT_TRUE(control.TimerOn());
  EXPECT_EQ(port.LastPath(), PortPath("5"));
  EXPECT_EQ(port.LastSettings().baud, 115200);
  const Form::Buttons buttons = form.GetButtons();
  EXPECT_FALSE(buttons.start_enabled);
  EXPECT_TRUE(buttons.stop_enabled);
  EXPECT_FALSE(buttons.set_modem_enabled);
  form.StopRequested = true;
  control.worker()->Join();
}

TEST_F(ModuleControlTest, DialRepliesEndByModemType) {
  struct Case {
    const char* modem;
    const char* suffix;
    const char* reply_end;
  };
  for (const Case& c : {Case{"WAVECOM", "", ",15\r\n"}, Case{"SIEMENS", ";", "OK"},
                        Case{"NOKCDMA_6235", "", "OK"}}) {
    Form other;
    other.csumber = "M1";
    other.cport = "5";
    other.cmodem = c.modem;
    other.ctipeprov = "HS1";
    ScriptedPort silent(clock);
    RecordingEnd end;
    ModuleControl module(other, db, clock, silent, end);
    module.Start();
    EXPECT_EQ(other.DialSuffix, c.suffix) << c.modem;
    EXPECT_EQ(other.DialReplyEnd, c.reply_end) << c.modem;
    other.StopRequested = true;  // a silent modem: the worker ends as soon as it can
    module.worker()->Join();
  }
}

TEST_F(ModuleControlTest, MoreThanEightModulesRefuseToStart) {
  t.Run("INSERT INTO modulaktif (namamodul) VALUES ('A'),('B'),('C'),('D'),('E'),('F');");
  ASSERT_EQ(t.Value("SELECT COUNT(*) FROM modulaktif"), "8");
  EXPECT_EQ(control.Start(), ModuleControl::StartResult::Running);
  form.StopRequested = true;
  control.worker()->Join();

  t.Run("INSERT INTO modulaktif (namamodul) VALUES ('G');");
  Form other;
  other.csumber = "M1";
  other.cport = "5";
  RecordingEnd end;
  ModuleControl refused(other, db, clock, port, end);
  const std::string before = t.Dump("SELECT * FROM modulaktif ORDER BY namamodul");
  EXPECT_EQ(refused.Start(), ModuleControl::StartResult::Refused);
  EXPECT_EQ(other.Messages(), std::vector<std::string>{"Jumlah Modul Maksimal 8 Modul"});
  EXPECT_EQ(t.Dump("SELECT * FROM modulaktif ORDER BY namamodul"), before);
  EXPECT_TRUE(other.StopRequested);
  EXPECT_FALSE(refused.TimerOn());
}

TEST_F(ModuleControlTest, PortFailureAbortsEveryRowOfThatPort) {
  port.SetFailOpen(true);
  EXPECT_EQ(control.Start(), ModuleControl::StartResult::Aborted);
  EXPECT_TRUE(app_end.Ended());
  EXPECT_EQ(app_end.Status(), kExitAborted);
  EXPECT_EQ(t.Dump("SELECT namamodul, lokasifile, statrun, autorun FROM modulaktif"),
            "M1|Error Access com 5|0|2\nOTHER|Error Access com 5|0|2");
  EXPECT_EQ(db.TakeStatementLog().back(),
            "UPDATE modulaktif SET lokasifile=\"Error Access com 5\",statrun=0,autorun=2 "
            "WHERE comm=\"5\"");
}

TEST_F(ModuleControlTest, ProviderWithoutChannelIsRefusedBeforeAnySaleIsTaken) {
  form.ctipeprov = "MTRONIK";
  t.Run("INSERT INTO penjualanproduk (modem, idproduk, barcode) VALUES ('M1', 'X5', '0812');");
  EXPECT_EQ(control.Start(), ModuleControl::StartResult::Aborted);
  EXPECT_EQ(t.Value("SELECT lokasifile FROM modulaktif WHERE namamodul='M1'"),
            "Tipe MTRONIK belum didukung modul ini");
  EXPECT_EQ(t.Value("SELECT flag FROM penjualanproduk"), "0");
  EXPECT_FALSE(port.IsOpen());
}

TEST_F(ModuleControlTest, TickKeepsTheHeartbeatAndObeysTheRemoteStop) {
  ASSERT_EQ(control.Start(), ModuleControl::StartResult::Running);
  for (const char* keeps : {"1", "3", "NULL"}) {
    t.Run(std::string("UPDATE modulaktif SET autorun=") + keeps + " WHERE namamodul='M1';");
    control.Tick();
    EXPECT_FALSE(app_end.Ended()) << keeps;
  }
  EXPECT_EQ(t.Value("SELECT statrun FROM modulaktif WHERE namamodul='M1'"), "1");
  t.Run("UPDATE modulaktif SET autorun=2 WHERE namamodul='M1';");
  db.TakeStatementLog();
  control.Tick();
  EXPECT_TRUE(app_end.Ended());
  EXPECT_EQ(app_end.Status(), kExitStopped);
  // The worker's own statements (and its use of the clock) run beside the tick's; keep the
  // tick's, with the heartbeat's time blanked.
  std::vector<std::string> log;
  for (std::string statement : db.TakeStatementLog()) {
    if (statement.rfind("UPDATE modulaktif SET waktu=\"", 0) == 0) {
      statement.replace(29, 8, "hh:mm:ss");
      log.push_back(statement);
    } else if (statement.rfind("SELECT autorun", 0) == 0 ||
               statement.rfind("UPDATE modulaktif SET lokasifile", 0) == 0) {
      log.push_back(statement);
    }
  }
  EXPECT_EQ(log, (std::vector<std::string>{
                     "UPDATE modulaktif SET waktu=\"hh:mm:ss\",statrun=1 WHERE namamodul=\"M1\"",
                     "SELECT autorun FROM modulaktif WHERE namamodul=\"M1\"",
                     "UPDATE modulaktif SET lokasifile=\"-\",statrun=0,autorun=0 WHERE "
                     "namamodul=\"M1\""}));
  EXPECT_EQ(t.Dump("SELECT lokasifile, statrun, autorun FROM modulaktif WHERE namamodul='M1'"),
            "-|0|0");
  EXPECT_FALSE(port.IsOpen());
  control.worker()->Join();
}

TEST_F(ModuleControlTest, SilentModemEndsTheModule) {
  port.SetSilent(true);
  ASSERT_EQ(control.Start(), ModuleControl::StartResult::Running);
  control.worker()->Join();
  EXPECT_EQ(t.Value("SELECT lokasifile FROM modulaktif WHERE namamodul='M1'"), "Modem ERROR COM5");
  EXPECT_EQ(port.Written("ATE0").size(), 2u);
  EXPECT_EQ(app_end.Status(), kExitAborted);
}

TEST_F(ModuleControlTest, SecondAnswerToEchoOffCounts) {
  port.On("ATE0", ScriptedPort::Answer{"\r\n", 0, 0, 0, 1});  // the first gets nothing
  RunUntilStop(8000);
  EXPECT_EQ(port.Written("ATE0").size(), 2u);
  EXPECT_TRUE(WasShown("hasil=\r\n5"));
  EXPECT_TRUE(WasShown("ulanghasilat=\r\nOK\r\n"));
  EXPECT_EQ(app_end.Status(), kExitStopped);
}

TEST_F(ModuleControlTest, BlankListingEndsTheModule) {
  port.On("AT+CMGL=4", "");
  ASSERT_EQ(control.Start(), ModuleControl::StartResult::Running);
  control.worker()->Join();
  EXPECT_EQ(t.Value("SELECT lokasifile FROM modulaktif WHERE namamodul='M1'"), "Modem BLANK COM5");
  EXPECT_EQ(port.Written("AT+CMGL=4").size(), 2u);
  EXPECT_TRUE(form.StopRequested);
}

TEST_F(ModuleControlTest, IdleCyclesAlternateStoresAndSettleTheInbox) {
  clock.SetLocal(2026, 3, 2, 9, 0, 0);
  t.Run("INSERT INTO penjualanproduk (modem, idproduk, barcode, tanggal, jumlah, status) VALUES"
        " ('ELSEWHERE', 'X10', '081234567890', '2026-03-02', 1, 'PENDING');"
        "INSERT INTO settinggetsn (idproduk, tipepesan, awalmsisdn, awalsn, akhirsn, pesanproduk,"
        " pesansuksesgagal) VALUES ('X10', 'SUKSES', ' ke ', 'SN: ', '. Saldo', 'Isi P10', 'SUKSES');");
  port.On("AT+CMGL=4",
          ScriptedPort::Answer{Listing({{"6281299990000",
                                         "SUKSES Isi P10 ke 081234567890 SN: 4455-66. Saldo 9"},
                                        {"62962", "Info promo"},
                                        {"081111", "aaaaaaaaa junk"}}),
                               0, 0, 0, 1});
  RunUntilStop(6000);
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
  const std::vector<std::string> log = db.TakeStatementLog();
  EXPECT_NE(std::find(log.begin(), log.end(),
                      "INSERT INTO logtrxsms VALUES (\"\",\"2026-03-02\",\"09:00:02\",\"M1\","
                      "\"081299990000\",\"SUKSES Isi P10 ke 081234567890 SN: 4455-66. Saldo 9\",1)"),
            log.end());
  EXPECT_NE(std::find(log.begin(), log.end(),
                      "SELECT * FROM penjualanproduk WHERE modem=\"M1\" AND flag=0"),
            log.end());
  EXPECT_EQ(log.back(), "UPDATE modulaktif SET statrun=0,lokasifile=\"\" WHERE namamodul=\"M1\"");
  EXPECT_EQ(app_end.Status(), kExitStopped);
}

TEST_F(ModuleControlTest, FailingStatementOutsideASaleEndsTheModuleLoudly) {
  t.Run("DROP TABLE logtrxsms;");
  port.On("AT+CMGL=4", ScriptedPort::Answer{Listing({{"0811", "hello"}}), 0, 0, 0, 1});
  ASSERT_EQ(control.Start(), ModuleControl::StartResult::Running);
  control.worker()->Join();
  EXPECT_EQ(t.Dump("SELECT lokasifile, statrun, autorun FROM modulaktif WHERE namamodul='M1'"),
            "Worker ERROR:Table '" + t.Name() + ".logtrxsms' doesn't exist|0|2");
  EXPECT_EQ(app_end.Status(), kExitAborted);
}

TEST_F(ModuleControlTest, AbortedOnceWritesOnce) {
  ASSERT_EQ(control.Start(), ModuleControl::StartResult::Running);
  control.AbortModule("first \"quoted\" error", "5");
  control.AbortModule("second", "5");
  control.Stop();
  control.worker()->Join();
  EXPECT_EQ(t.Dump("SELECT lokasifile, statrun, autorun FROM modulaktif WHERE namamodul='M1'"),
            "first \"quoted\" error|0|2");
}

}  // namespace
}  // namespace tovalink
