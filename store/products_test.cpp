#include "store/products.h"

#include <gtest/gtest.h>

#include "core/errors.h"
#include "testsupport/test_database.h"

namespace tovalink {
namespace {

TEST(ProductsTest, DenominationAndMacroLookups) {
  TestDatabase t;
  Database& db = t.db();
  t.Run("INSERT INTO produk (idproduk, denom) VALUES ('S10', 10000), ('N', NULL);"
        "INSERT INTO macroeditorc55 (idproduk, macro) VALUES ('S10', '*~hptujuan~#');");
  db.StartStatementLog();
  EXPECT_DOUBLE_EQ(ProductDenom(db, "S10"), 10000);
  EXPECT_DOUBLE_EQ(ProductDenom(db, "NONE"), 0);
  EXPECT_THROW(ProductDenom(db, "N"), ConversionError);
  EXPECT_EQ(ProductDenomText(db, "S10"), "10000");
  EXPECT_EQ(ProductDenomText(db, "N"), "");
  EXPECT_EQ(ProductDenomText(db, "NONE"), "");
  EXPECT_EQ(ProductMacro(db, "S10"), "*~hptujuan~#");
  EXPECT_EQ(ProductMacro(db, "NONE"), "");
  const std::vector<std::string> log = db.TakeStatementLog();
  EXPECT_EQ(log[0], "SELECT denom FROM produk WHERE idproduk=\"S10\"");
  EXPECT_EQ(log[3], "SELECT denom from produk where idproduk=\"S10\"");
  EXPECT_EQ(log[6], "SELECT macro FROM macroeditorc55 WHERE idproduk=\"S10\"");
}

}  // namespace
}  // namespace tovalink
