#include "store/sale_row.h"

#include <gtest/gtest.h>

#include "testsupport/test_database.h"

namespace tovalink {
namespace {

// The outcomes of a sale cut off change only a row that is taken and has no status yet, so
// that an outcome that reached the row first (a reply settled it) stays, and a sale whose take
// never applied is left to be taken.
TEST(SaleRowTest, CutOffOutcomesNeverOverwriteAnOutcome) {
  TestDatabase t;
  Database& db = t.db();
  t.Run(
      "INSERT INTO penjualanproduk (idx, modem, flag, status, respond) VALUES"
      " (1, 'M1', 1, '', NULL), (2, 'M1', 1, '', 'Isi 0811'), (3, 'M1', 1, 'SUKSES', 'ok'),"
      " (4, 'M1', 0, '', NULL), (5, 'M1', 1, '', NULL);");
  EXPECT_EQ(db.ExecSql(sale_row::LeftWithOperator(db, 1, "CEK \"1\"")), 1u);
  EXPECT_EQ(db.ExecSql(sale_row::LeftWithOperator(db, 2, "CEK")), 1u);
  EXPECT_EQ(db.ExecSql(sale_row::LeftWithOperator(db, 3, "CEK")), 0u);
  EXPECT_EQ(db.ExecSql(sale_row::NeverSent(db, 4, "TIDAK")), 0u);
  EXPECT_EQ(db.ExecSql(sale_row::NeverSent(db, 5, "TIDAK")), 1u);
  EXPECT_EQ(t.Dump("SELECT idx, flag, status, respond FROM penjualanproduk ORDER BY idx"),
            "1|1|PENDING|CEK \"1\"\n2|1|PENDING|CEK | Isi 0811\n3|1|SUKSES|ok\n4|0||\n"
            "5|1|GAGAL|TIDAK");
}

// The texts the outlet's tools have always seen, among them the two spacings of the begun mark
// and the lower-case "set" of the refused XL amount.
TEST(SaleRowTest, StatementTexts) {
  TestDatabase t;
  const Database& db = t.db();
  const LocalDateTime at{2026, 3, 2, 9, 30, 5, 0};
  const std::pair<std::string, std::string> cases[] = {
      {sale_row::Take(7), "UPDATE penjualanproduk SET flag=1 WHERE idx=7 AND flag=0"},
      {sale_row::Begin(7, at, sale_row::Spacing::OneSpace),
       "UPDATE penjualanproduk SET flag=1,tglwaktuproses='2026-03-02 09:30:05' WHERE idx=7"},
      {sale_row::Begin(7, at, sale_row::Spacing::TwoSpaces),
       "UPDATE penjualanproduk SET flag=1,tglwaktuproses='2026-03-02 09:30:05'  WHERE idx=7"},
      {sale_row::DenomRefused(db, 7, "20000"),
       "UPDATE penjualanproduk set respond=\"DENOM 20000 TIDAK DAPAT MELAKUKAN XLTUNAI\" WHERE "
       "idx=7"},
      {sale_row::SettledSucceeded(db, 7, "ok", ""),
       "UPDATE penjualanproduk SET status=\"SUKSES\",respond=\"ok\",sn_token=\"\" WHERE idx=7"},
      {sale_row::SettledSucceeded(db, 7, "ok", "12"),
       "UPDATE penjualanproduk SET status=\"SUKSES\",sn=\"12\",respond=\"ok\",sn_token=\"12\" "
       "WHERE idx=7"},
      {sale_row::Refused(db, 7, "DITOLAK: jumlah kosong"),
       "UPDATE penjualanproduk SET status=\"GAGAL\",respond=\"DITOLAK: jumlah kosong\" WHERE "
       "idx=7"},
  };
  for (const auto& [statement, expected] : cases) EXPECT_EQ(statement, expected);
}

}  // namespace
}  // namespace tovalink
