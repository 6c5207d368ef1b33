// Module control and the worker together, in process: a scripted modem on the virtual clock,
// the real database, and an application end that only records.
#include "app/module_control.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <thread>

#include "modem/scripted_port.h"
#include "testsupport/process.h"
#include "testsupport/test_database.h"

namespace tovalink {
namespace {

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
  }

  // From now on every text of the first status-bar panel, from either thread, is kept.
  void WatchFirstPanel() {
    form.SetObserver([this](const FormChange& change) {
      std::lock_guard lock(panel_mutex_);
      if (change.what == FormDisplay::StatusPanel && change.index == 0) {
        panel_.push_back(change.text);
      }
    });
  }
  std::vector<std::string> FirstPanel() {
    std::lock_guard lock(panel_mutex_);
    return panel_;
  }

  // Before the form and the module: the worker may still show a text while it is joined.
  std::mutex panel_mutex_;
  std::vector<std::string> panel_;  // GUARDED_BY(panel_mutex_)
  TestDatabase t;
  Database& db = t.db();
  VirtualClock clock;
  ScriptedPort port;
  Form form;
  RecordingEnd app_end;
  TempFolder work;  // the modules' working folder: their sale journals
  ModuleControl control{form, db, clock, port, app_end, work.path()};
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
    ModuleControl module(other, db, clock, silent, end, work.path());
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
  ModuleControl refused(other, db, clock, port, end, work.path());
  const std::string before = t.Dump("SELECT * FROM modulaktif ORDER BY namamodul");
  EXPECT_EQ(refused.Start(), ModuleControl::StartResult::Refused);
  EXPECT_EQ(other.Messages(), std::vector<std::string>{"Jumlah Modul Maksimal 8 Modul"});
  EXPECT_EQ(t.Dump("SELECT * FROM modulaktif ORDER BY namamodul"), before);
  EXPECT_TRUE(other.StopRequested);
  EXPECT_FALSE(refused.TimerOn());
}

// A setting the module cannot work with is refused at START, in its row, before the port is
// opened or a sale taken.
TEST_F(ModuleControlTest, SettingsTheModuleCannotWorkWithRefuseToStart) {
  t.Run("INSERT INTO penjualanproduk (modem, idproduk, barcode) VALUES ('M1', 'X5', '0811');");
  struct Case {
    const char* etunggu;
    const char* pin;
    const char* message;
  };
  const Case cases[] = {
      {"abc", "1234", "Setting modul ditolak: waktutunggu \"abc\" bukan jumlah detik"},
      {"", "1234", "Setting modul ditolak: waktutunggu \"\" bukan jumlah detik"},
      {"-5", "1234", "Setting modul ditolak: waktutunggu \"-5\" bukan jumlah detik"},
      {"2.5", "1234", "Setting modul ditolak: waktutunggu \"2.5\" bukan jumlah detik"},
      {"20", "12\r34", "Setting modul ditolak: pin berisi CR"},
      {"20", "12\"34", "Setting modul ditolak: pin berisi tanda kutip"},
  };
  for (const Case& c : cases) {
    Form other;
    other.csumber = "M1";
    other.cport = "5";
    other.etunggu = c.etunggu;
    other.epin = c.pin;
    ScriptedPort unused(clock);
    RecordingEnd end;
    ModuleControl refused(other, db, clock, unused, end, work.path());
    EXPECT_EQ(refused.Start(), ModuleControl::StartResult::Refused) << c.message;
    EXPECT_EQ(other.Messages(), std::vector<std::string>{c.message});
    EXPECT_EQ(t.Dump("SELECT lokasifile, statrun, autorun FROM modulaktif WHERE namamodul='M1'"),
              std::string(c.message) + "|0|2");
    EXPECT_FALSE(unused.IsOpen());
    EXPECT_EQ(refused.worker(), nullptr);
  }
  EXPECT_EQ(t.Value("SELECT flag FROM penjualanproduk"), "0");
  EXPECT_EQ(SettingsFault(form), "");
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

TEST_F(ModuleControlTest, AbortedOnceWritesOnce) {
  ASSERT_EQ(control.Start(), ModuleControl::StartResult::Running);
  control.AbortModule("first \"quoted\" error", "5");
  control.AbortModule("second", "5");
  control.Stop();
  control.worker()->Join();
  EXPECT_EQ(t.Dump("SELECT lokasifile, statrun, autorun FROM modulaktif WHERE namamodul='M1'"),
            "first \"quoted\" error|0|2");
}

TEST_F(ModuleControlTest, LostDatabaseIsShownOnceAndTheHeartbeatResumes) {
  WatchFirstPanel();
  ASSERT_EQ(control.Start(), ModuleControl::StartResult::Running);
  // The tick's heartbeat is the statement under which the connection drops.
  bool dropped = false;
  db.InjectFaults([&](const std::string& statement, Database::FaultPoint point) {
    if (dropped || point != Database::FaultPoint::BeforeSending ||
        statement.rfind("UPDATE modulaktif SET waktu=", 0) != 0) {
      return Database::Fault::None;
    }
    dropped = true;
    return Database::Fault::Drop;
  });
  control.Tick();
  EXPECT_FALSE(app_end.Ended());
  // The worker, at its next statement, opens the connection again.
  for (int wait = 0; wait < 1000 && FirstPanel().size() < 2; ++wait) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_TRUE(db.Connected());
  const std::vector<std::string> panel = FirstPanel();
  ASSERT_EQ(panel.size(), 2u);
  EXPECT_EQ(panel[0], "Database terputus: Lost connection to server during query (injected)");
  EXPECT_EQ(panel[1].rfind("Database tersambung kembali setelah ", 0), 0u) << panel[1];
  t.Run("UPDATE modulaktif SET statrun=0 WHERE namamodul='M1';");
  control.Tick();
  EXPECT_EQ(t.Value("SELECT statrun FROM modulaktif WHERE namamodul='M1'"), "1");
  control.Stop();
  control.worker()->Join();
  db.InjectFaults({});
}

TEST_F(ModuleControlTest, RefusedHeartbeatIsShownOnceAndTheModuleRuns) {
  WatchFirstPanel();
  ASSERT_EQ(control.Start(), ModuleControl::StartResult::Running);
  t.Run("ALTER TABLE modulaktif CHANGE waktu jam VARCHAR(10);");
  control.Tick();
  control.Tick();
  EXPECT_FALSE(app_end.Ended());
  t.Run("ALTER TABLE modulaktif CHANGE jam waktu VARCHAR(10); UPDATE modulaktif SET statrun=0;");
  control.Tick();
  EXPECT_EQ(t.Value("SELECT statrun FROM modulaktif WHERE namamodul='M1'"), "1");
  control.Stop();
  control.worker()->Join();
  const std::vector<std::string> refused = {
      "Pengawasan modul gagal: Unknown column 'waktu' in 'SET'"};
  EXPECT_EQ(FirstPanel(), refused);
}

}  // namespace
}  // namespace tovalink
