#include "store/database.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <thread>

#include "core/errors.h"
#include "testsupport/test_database.h"

namespace tovalink {
namespace {

class DatabaseTest : public ::testing::Test {
 protected:
  TestDatabase t;
  Database& db = t.db();
};

TEST_F(DatabaseTest, RowsByNameAndPositionWithNullAsEmpty) {
  t.Run("INSERT INTO produk (idproduk, namaproduk, denom) VALUES ('S10','Simpati 10',10000),"
        "('S5','Simpati 5',NULL);");
  Rows rows = db.OpenSql("SELECT idproduk, denom FROM produk ORDER BY idproduk");
  ASSERT_EQ(rows.Count(), 2);
  EXPECT_EQ(rows.Text("idproduk"), "S10");
  EXPECT_EQ(rows.Text("IDPRODUK"), "S10");
  EXPECT_EQ(rows.Text(1), "10000");
  EXPECT_DOUBLE_EQ(rows.Float("denom"), 10000);
  rows.Next();
  EXPECT_EQ(rows.Text("denom"), "");
  EXPECT_TRUE(rows.IsNull("denom"));
  EXPECT_THROW(rows.Float("denom"), ConversionError);
  EXPECT_THROW(rows.Text("nosuchcolumn"), DatabaseError);
  rows.Next();
  EXPECT_TRUE(rows.Eof());
  EXPECT_THROW(rows.Text(0), DatabaseError);
}

TEST_F(DatabaseTest, IntegerReadsRaiseConversionFailures) {
  t.Run("INSERT INTO modulaktif (namamodul, autorun) VALUES ('M1', NULL), ('M2', 7);");
  Rows rows = db.OpenSql("SELECT autorun, namamodul FROM modulaktif ORDER BY namamodul");
  EXPECT_THROW(rows.Int("autorun"), ConversionError);
  EXPECT_THROW(rows.Int("namamodul"), ConversionError);
  rows.Next();
  EXPECT_EQ(rows.Int("autorun"), 7);
}

TEST_F(DatabaseTest, FailedStatementRaisesTheServersText) {
  try {
    db.OpenSql("SELECT nosuch FROM modulaktif");
    FAIL() << "no error";
  } catch (const DatabaseError& error) {
    EXPECT_EQ(std::string(error.what()), "Unknown column 'nosuch' in 'SELECT'");
  }
  EXPECT_THROW(db.ExecSql("UPDATE nosuchtable SET a=1"), DatabaseError);
}

TEST_F(DatabaseTest, OuterRowsStayValidWhileInnerStatementsRun) {
  t.Run("INSERT INTO modulaktif (namamodul) VALUES ('A'),('B'),('C');");
  Rows outer = db.OpenSql("SELECT namamodul FROM modulaktif ORDER BY namamodul");
  std::string seen;
  for (; !outer.Eof(); outer.Next()) {
    const std::string name = outer.Text("namamodul");
    db.ExecSql("UPDATE modulaktif SET waktu=\"" + name + "\" WHERE namamodul=\"" + name + "\"");
    Rows inner = db.OpenSql("SELECT waktu FROM modulaktif WHERE namamodul=\"" + name + "\"");
    seen += inner.Text(0);
  }
  EXPECT_EQ(seen, "ABC");
}

// The outlet's statements rely on the traditional mode; the throwaway server runs MariaDB's
// strict default, so this also proves the session mode is set at connect.
TEST_F(DatabaseTest, LogInsertWithEmptyKeyWorksOnAStrictServer) {
  EXPECT_NE(t.Value("SELECT @@GLOBAL.sql_mode").find("STRICT_TRANS_TABLES"), std::string::npos);
  db.ExecSql("INSERT INTO logtrxsms VALUES (\"\",\"2026-01-05\",\"10:00:00\",\"M1\","
             "\"08123\",\"Isi: 10rb\",1)");
  db.ExecSql("INSERT INTO logtrxsms VALUES (\"\",\"2026-01-05\",\"10:00:01\",\"M1\","
             "\"08123\",\"FAILED SENT\",1)");
  EXPECT_EQ(t.Dump("SELECT idlog, jam, pesan FROM logtrxsms ORDER BY idlog"),
            "1|10:00:00|Isi: 10rb\n2|10:00:01|FAILED SENT");
}

TEST_F(DatabaseTest, HostileValuesAreStoredAsGiven) {
  const std::string hostile[] = {"a\"b", "back\\slash", "\"; DROP TABLE modulaktif; --",
                                 "trailing\\", "it's", "caf\xe9 \x1A"};
  int n = 0;
  for (const std::string& value : hostile) {
    const std::string name = "M" + std::to_string(n++);
    db.ExecSql("INSERT INTO modulaktif (namamodul, lokasifile) VALUES (\"" + name + "\",\"" +
               db.Escape(value) + "\")");
    EXPECT_EQ(db.OpenSql("SELECT lokasifile FROM modulaktif WHERE namamodul=\"" + name + "\"")
                  .Text(0),
              value);
  }
  EXPECT_EQ(t.Value("SELECT COUNT(*) FROM modulaktif"), "6");
  EXPECT_EQ(db.Escape("Error Access com 4"), "Error Access com 4");
}

TEST_F(DatabaseTest, ColonInAValueIsKept) {
  db.ExecSql("INSERT INTO modulaktif (namamodul, lokasifile) VALUES (\"M1\",\"a:b :c\")");
  EXPECT_EQ(t.Value("SELECT lokasifile FROM modulaktif"), "a:b :c");
}

TEST_F(DatabaseTest, ExecSqlCountsTheRowsItChanged) {
  t.Run("INSERT INTO penjualanproduk (idx, flag) VALUES (1, 0), (2, 1);");
  EXPECT_EQ(db.ExecSql("UPDATE penjualanproduk SET flag=1 WHERE idx=1 AND flag=0"), 1u);
  EXPECT_EQ(db.ExecSql("UPDATE penjualanproduk SET flag=1 WHERE idx=1 AND flag=0"), 0u);
  // Rows that already hold the new value matched but did not change.
  EXPECT_EQ(db.ExecSql("UPDATE penjualanproduk SET flag=1"), 0u);
  EXPECT_EQ(db.ExecSql("UPDATE penjualanproduk SET flag=2"), 2u);
  EXPECT_EQ(db.ExecSql("INSERT INTO logtrxsms VALUES (\"\",\"2026-01-05\",\"10:00:00\",\"M1\","
                       "\"0812\",\"x\",1)"),
            1u);
}

TEST_F(DatabaseTest, StatementLogKeepsEveryTextInOrder) {
  db.StartStatementLog();
  db.OpenSql("SELECT 1");
  EXPECT_THROW(db.ExecSql("BROKEN"), DatabaseError);
  EXPECT_EQ(db.TakeStatementLog(), (std::vector<std::string>{"SELECT 1", "BROKEN"}));
  EXPECT_TRUE(db.TakeStatementLog().empty());
}

TEST_F(DatabaseTest, TwoThreadsShareTheConnection) {
  t.Run("INSERT INTO modulaktif (namamodul, statrun) VALUES ('M1', 0);");
  auto work = [this](int id) {
    for (int i = 0; i < 100; ++i) {
      db.ExecSql("UPDATE modulaktif SET statrun=statrun+1 WHERE namamodul=\"M1\"");
      Rows rows = db.OpenSql("SELECT statrun, " + std::to_string(id) + " AS who FROM modulaktif");
      ASSERT_EQ(rows.Text("who"), std::to_string(id));
    }
  };
  std::thread other(work, 2);
  work(1);
  other.join();
  EXPECT_EQ(t.Value("SELECT statrun FROM modulaktif"), "200");
}

TEST(DatabaseConnectTest, FailureCarriesTheLibraryText) {
  TestDatabase::Socket();  // points the client library at the throwaway server
  Database db;
  try {
    db.Connect({"localhost", "no_such_database_here", "root", ""});
    FAIL() << "connected";
  } catch (const DatabaseError& error) {
    EXPECT_EQ(std::string(error.what()), "Unknown database 'no_such_database_here'");
  }
  EXPECT_FALSE(db.Connected());
  EXPECT_THROW(db.OpenSql("SELECT 1"), DatabaseError);
}

// The module's connection as a user of its own, so that the server can refuse it for a while
// (a locked account) as a server that is down would, while the test's own connection goes on.
class LostConnectionTest : public ::testing::Test {
 protected:
  LostConnectionTest() : user_("lc_" + t.Name()) {
    t.Run("CREATE USER '" + user_ +
          "'@'localhost' IDENTIFIED BY 'pw';"
          "GRANT ALL ON " +
          t.Name() + ".* TO '" + user_ + "'@'localhost';");
    ConnectionSettings settings = t.Settings();
    settings.user = user_;
    settings.password = "pw";
    db.Connect(settings);
    db.KeepConnection(clock, [this](ConnectionEvent event, const std::string& detail) {
      std::lock_guard lock(events_mutex);
      events.push_back((event == ConnectionEvent::Lost ? "lost: " : "back: ") + detail);
    });
  }
  ~LostConnectionTest() override { t.Run("DROP USER '" + user_ + "'@'localhost';"); }

  // Ends the module's connection from the server's side, as a restart or a network drop
  // would, and waits until the server has let it go.
  void DropConnection() {
    const std::string id = db.OpenSql("SELECT CONNECTION_ID()").Text(0);
    t.Run("KILL " + id + ";");
    for (int wait = 0; wait < 200; ++wait) {
      if (t.Value("SELECT COUNT(*) FROM information_schema.PROCESSLIST WHERE ID=" + id) == "0") {
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    FAIL() << "connection " << id << " still there";
  }
  void LockAccount(bool locked) {
    t.Run("ALTER USER '" + user_ + "'@'localhost' ACCOUNT " + (locked ? "LOCK;" : "UNLOCK;"));
  }
  std::vector<std::string> Events() {
    std::lock_guard lock(events_mutex);
    return events;
  }

  TestDatabase t;
  Database db;
  VirtualClock clock;
  std::mutex events_mutex;
  std::vector<std::string> events;

 private:
  std::string user_;
};

TEST_F(LostConnectionTest, LostConnectionIsToldApartFromAFailingStatement) {
  try {
    db.OpenSql("SELECT nosuch FROM modulaktif");
    FAIL() << "no error";
  } catch (const ConnectionLost&) {
    FAIL() << "a failing statement taken for a lost connection";
  } catch (const DatabaseError&) {
  }
  DropConnection();
  // A thread that does not wait for the connection hears of the loss at once, and does not
  // reconnect: the statement may have been applied before the drop, the next one never left.
  try {
    db.ExecSql("UPDATE modulaktif SET statrun=1");
    FAIL() << "no error";
  } catch (const ConnectionLost& lost) {
    EXPECT_EQ(lost.fate(), ConnectionLost::Fate::MaybeApplied) << lost.what();
  }
  try {
    db.OpenSql("SELECT 1");
    FAIL() << "no error";
  } catch (const ConnectionLost& lost) {
    EXPECT_EQ(lost.fate(), ConnectionLost::Fate::NotSent) << lost.what();
  }
  EXPECT_FALSE(db.Connected());
  ASSERT_EQ(Events().size(), 1u);
  EXPECT_EQ(Events()[0].rfind("lost: ", 0), 0u) << Events()[0];
}

TEST_F(LostConnectionTest, WaitingThreadReconnectsWithTheSessionSettingsAndRepeats) {
  int pauses = 0;
  ConnectionWait wait(db, [&] {
    ++pauses;
    clock.SleepMs(500);
    return true;
  });
  const std::string before = db.OpenSql("SELECT CONNECTION_ID()").Text(0);
  DropConnection();
  db.ExecSql("INSERT INTO modulaktif (namamodul, lokasifile) VALUES (\"M1\",\"caf\xe9\")");
  Rows session = db.OpenSql("SELECT @@SESSION.sql_mode, @@character_set_client, CONNECTION_ID()");
  EXPECT_EQ(session.Text(0), "NO_ENGINE_SUBSTITUTION");
  EXPECT_EQ(session.Text(1), "latin1");
  EXPECT_NE(session.Text(2), before);
  EXPECT_EQ(t.Value("SELECT HEX(lokasifile) FROM modulaktif"), "636166E9");
  // Lost during the INSERT, back at the first attempt: one pause, no waiting.
  EXPECT_EQ(pauses, 1);
  EXPECT_EQ(Events().size(), 2u);
  EXPECT_EQ(Events().back(), "back: 0 s");
}

TEST_F(LostConnectionTest, AttemptsPauseOneSecondDoublingToThirty) {
  const int64_t start = clock.MonotonicMs();
  bool locked = true;
  ConnectionWait wait(db, [&] {
    clock.SleepMs(500);
    // The server comes back 64 s after the loss.
    if (locked && clock.MonotonicMs() - start >= 64'000) {
      LockAccount(false);
      locked = false;
    }
    return true;
  });
  LockAccount(true);
  DropConnection();
  EXPECT_EQ(db.OpenSql("SELECT 7").Text(0), "7");
  // The first attempt follows the first pause (0.5 s); attempts 1, 2, 4, 8, 16 and 30 s apart
  // fail until 61.5 s, and the one at 91.5 s is the first after the return (doubling on past
  // 30 s would have waited until 127.5 s).
  EXPECT_EQ(Events().back(), "back: 91 s");
  EXPECT_EQ(clock.MonotonicMs() - start, 91'500);
}

TEST_F(LostConnectionTest, GivingUpOrRaisingEndsTheWait) {
  int pauses = 0;
  bool keep_waiting = true;
  ConnectionWait wait(db, [&] {
    ++pauses;
    clock.SleepMs(500);
    return keep_waiting;
  });
  LockAccount(true);
  DropConnection();
  // A statement whose repetition could mislead raises at once, waiting thread or not.
  EXPECT_THROW(db.ExecSql("UPDATE modulaktif SET statrun=1", IfConnectionLost::Raise),
               ConnectionLost);
  EXPECT_EQ(pauses, 0);
  keep_waiting = false;
  EXPECT_THROW(db.OpenSql("SELECT 1"), ConnectionLost);
  EXPECT_FALSE(db.WaitForConnection());
  EXPECT_EQ(pauses, 2);
  LockAccount(false);
  keep_waiting = true;
  EXPECT_TRUE(db.WaitForConnection());
  EXPECT_TRUE(db.Connected());
}

TEST_F(LostConnectionTest, OnlyTheWaitingThreadReconnects) {
  LockAccount(true);
  DropConnection();
  LockAccount(false);
  auto other_thread_statement = [this] {
    bool lost = false;
    std::thread other([&] {
      try {
        db.OpenSql("SELECT 1");
      } catch (const ConnectionLost&) {
        lost = true;
      }
    });
    other.join();
    return lost;
  };
  // The server is back, but a thread without a wait (the supervision tick) fails at once
  // rather than being held up by reconnecting.
  EXPECT_TRUE(other_thread_statement());
  {
    ConnectionWait wait(db, [&] {
      clock.SleepMs(500);
      return true;
    });
    EXPECT_TRUE(db.WaitForConnection());
  }
  EXPECT_FALSE(other_thread_statement());
}

}  // namespace
}  // namespace tovalink
