#include "store/database.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace tovalink
