#include "app/status.h"

#include <gtest/gtest.h>

#include <sstream>

#include "testsupport/test_database.h"

namespace tovalink {
namespace {

TEST(HeartbeatAgeTest, CountsBackAcrossMidnight) {
  struct Case {
    const char* waktu;
    int now;  // second of the day
    std::optional<int> age;
  };
  const int ten = 10 * 3600;
  for (const Case& c : {
           Case{"10:00:00", ten + 5, 5},
           Case{"23:59:58", 3, 5},              // just before midnight, read just after
           Case{"10:00:03", ten, 0},            // a tick seen a moment ahead of the reader
           Case{"10:00:06", ten, 86394},        // further ahead: yesterday's last beat
           Case{"9:05:00", 9 * 3600 + 300, 0},  // an hour without its leading zero
           Case{"", ten, std::nullopt},
           Case{"10:00", ten, std::nullopt},
           Case{"24:00:00", ten, std::nullopt},
           Case{"10:60:00", ten, std::nullopt},
           Case{"10:00:0x", ten, std::nullopt},
       }) {
    EXPECT_EQ(HeartbeatAge(c.waktu, c.now), c.age) << c.waktu;
  }
}

class StatusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Four seconds after midnight: M1's last beat was on the day before.
    clock_.SetLocal(2026, 1, 5, 0, 0, 4);
    t_.Run(
        "INSERT INTO modulaktif (namamodul, comm, caradial, waktu, statrun, autorun, lokasifile)"
        " VALUES ('M1', '4', 'HOSTA', '23:59:58', 1, 1, ''),"
        " ('M2', '5', 'MKIOS', '23:58:30', 1, 1, ''),"
        " ('M3', '6', 'DOMPET', '21:10:00', 0, 2, CONCAT('Error Access com 6\\r\\n', CHAR(27), "
        "'[2J')),"
        " ('M4', '7', 'MTRONIK', '20:00:00', 0, 0, '-'),"
        " ('M5', '8', 'HOSTB', '00:00:06', 1, 1, '');"
        "INSERT INTO penjualanproduk (modem, flag, status, tanggal) VALUES"
        " ('M1', 1, 'SUKSES', '2026-01-05'), ('m1', 1, 'SUKSES', '2026-01-05'),"
        " ('M1', 1, 'GAGAL', '2026-01-05'), ('M1', 1, 'PENDING', '2026-01-05'),"
        " ('M1', 1, 'BATAL', '2026-01-05'), ('M1', 0, '', '2026-01-05'),"
        " ('M1', 1, 'SUKSES', '2026-01-04'), ('M2', 1, '', '2026-01-05'),"
        " ('M3', 0, '', '2026-01-04'), ('GHOST', 0, '', '2026-01-05');");
  }
  std::string Screen(const OutletStatus& status) {
    std::ostringstream out;
    PrintOutletStatus(status, out);
    return out.str();
  }
  TestDatabase t_;
  VirtualClock clock_;
};

TEST_F(StatusTest, OneScreenOfAliveStaleAndStoppedModules) {
  t_.db().StartStatementLog();
  const OutletStatus status = ReadOutletStatus(t_.db(), clock_);
  for (const std::string& statement : t_.db().TakeStatementLog()) {
    EXPECT_EQ(statement.rfind("SELECT ", 0), 0u) << statement;
  }
  EXPECT_EQ(Screen(status),
            "Tovalink modules at 2026-01-05 00:00:04 (alive: statrun 1 and a heartbeat at most "
            "10 s old)\n"
            "\n"
            "MODULE  PORT  TYPE     STATE    HEARTBEAT        AUTORUN  SUKSES  GAGAL  PENDING  "
            "UNSETTLED  WAITING  IN HAND\n"
            "M1      4     HOSTA    alive    23:59:58 (6 s)   1        2       1      1        "
            "1          1        0\n"
            "M2      5     MKIOS    stale    23:58:30 (94 s)  1        0       0      0        "
            "1          0        1\n"
            "M3      6     DOMPET   stopped  21:10:00 (2 h)   2        0       0      0        "
            "0          1        0\n"
            "M4      7     MTRONIK  stopped  20:00:00 (4 h)   0        0       0      0        "
            "0          0        0\n"
            "M5      8     HOSTB    alive    00:00:06 (0 s)   1        0       0      0        "
            "0          0        0\n"
            "GHOST   -     -        no row   -                -        0       0      0        "
            "1          1        0\n"
            "\n"
            "Sales of 2026-01-05 by status; WAITING: not taken yet (flag 0), any day;\n"
            "IN HAND: taken (flag 1) and without a status, any day.\n"
            "\n"
            "M1 has 1 sales of today with the status \"BATAL\"\n"
            "M3 ended on an error: Error Access com 6\\x0D\\x0A\\x1B[2J\n"
            "GHOST has no row in modulaktif: its 1 waiting sales are taken by no module\n"
            "\n"
            "Taken without an outcome (stuck once older than 10 min):\n"
            "  M2 sale 8 ( to ), 4 s since 2026-01-05\n"
            "\n"
            "NOT OK: autorun 1 but not alive: M2 (stale)\n");
  EXPECT_EQ(StatusExitCode(status), 1);
}

TEST_F(StatusTest, ExitStatusFollowsTheModulesThatShouldRun) {
  // M4 was stopped by its operator (autorun 0): it does not count.
  t_.Run("UPDATE modulaktif SET waktu='23:59:59' WHERE namamodul='M2'");
  EXPECT_EQ(StatusExitCode(ReadOutletStatus(t_.db(), clock_)), 0);

  // A module that should run but ended on an error, or that never beat.
  t_.Run("UPDATE modulaktif SET autorun=1 WHERE namamodul='M3'");
  EXPECT_EQ(StatusExitCode(ReadOutletStatus(t_.db(), clock_)), 1);
  t_.Run(
      "UPDATE modulaktif SET autorun=0 WHERE namamodul='M3';"
      "UPDATE modulaktif SET waktu='' WHERE namamodul='M5'");
  const OutletStatus status = ReadOutletStatus(t_.db(), clock_);
  EXPECT_EQ(status.modules[4].state, ModuleState::Stale);
  EXPECT_EQ(StatusExitCode(status), 1);
}

// A sale taken without an outcome is listed whatever its day, with its age from when it began;
// one in hand for longer than a sale can take fails the check.
TEST_F(StatusTest, SalesStuckInHandFailTheCheck) {
  t_.Run(
      "UPDATE modulaktif SET waktu='00:00:03' WHERE namamodul='M2';"
      "INSERT INTO penjualanproduk (idx, modem, flag, status, idproduk, barcode, tanggal, waktu,"
      " tglwaktuproses, respond) VALUES"
      " (20, 'M1', 1, '', 'X10', '0811', '2026-01-02', '08:00:00', NULL, NULL),"
      " (21, 'M4', 1, '', 'I10', '0812', '2026-01-04', '23:00:00', '2026-01-04 23:55:00',"
      " 'MENU REGULER tidak ADA ');");
  const OutletStatus status = ReadOutletStatus(t_.db(), clock_);
  const std::string screen = Screen(status);
  EXPECT_NE(screen.find("  M1 sale 20 (X10 to 0811), 64 h since 2026-01-02 08:00:00, STUCK\n"),
            std::string::npos)
      << screen;
  EXPECT_NE(screen.find("  M4 sale 21 (I10 to 0812), 5 min since 2026-01-04 23:55:00: MENU "
                        "REGULER tidak ADA \n"),
            std::string::npos)
      << screen;
  EXPECT_NE(screen.find("NOT OK: 1 sales taken without an outcome for more than 10 min"),
            std::string::npos)
      << screen;
  EXPECT_EQ(StatusExitCode(status), 1);
  t_.Run("UPDATE penjualanproduk SET status='GAGAL' WHERE idx=20;");
  EXPECT_EQ(StatusExitCode(ReadOutletStatus(t_.db(), clock_)), 0);
}

}  // namespace
}  // namespace tovalink
