#include "settle/success_rule.h"

#include <gtest/gtest.h>

#include "testsupport/test_database.h"

namespace tovalink {
namespace {

TEST(SuccessRuleTest, LooksUpAlphanumericAndNumericProductIds) {
  TestDatabase t;
  t.Run(
      "INSERT INTO settinggetsn (idproduk,tipepesan,awalsn,akhirsn,pesansuksesgagal) VALUES "
      "('S10','GAGAL','x','y','GAGAL'),"
      "('S10','SUKSES','SN:',' ','Sukses'),"
      "('25','SUKSES','No.','.','berhasil'),"
      "('SID25','GAGAL','','','Gagal')");
  struct Case {
    std::string product, awalsn, akhirsn, pesansuksesgagal;
  } cases[] = {
      {"S10", "SN:", " ", "Sukses"},
      {"25", "No.", ".", "berhasil"},
      {"SID25", "", "", ""},  // only a failure rule
      {"NONE", "", "", ""},
  };
  for (const Case& c : cases) {
    t.db().StartStatementLog();
    const SuccessWording wording = SuccessRule(t.db(), c.product);
    EXPECT_EQ(t.db().TakeStatementLog(),
              std::vector<std::string>{
                  "SELECT pesansuksesgagal,awalsn,akhirsn FROM settinggetsn WHERE  idproduk=\"" +
                  c.product + "\" AND tipepesan=\"SUKSES\""});
    EXPECT_EQ(wording.awalsn, c.awalsn) << c.product;
    EXPECT_EQ(wording.akhirsn, c.akhirsn) << c.product;
    EXPECT_EQ(wording.pesansuksesgagal, c.pesansuksesgagal) << c.product;
  }
}

}  // namespace
}  // namespace tovalink
