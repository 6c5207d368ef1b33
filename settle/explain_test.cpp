#include "settle/explain.h"

#include <gtest/gtest.h>

#include <sstream>

#include "settle/settle_reply.h"
#include "testsupport/test_database.h"

namespace tovalink {
namespace {

class ExplainReplyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    clock_.SetLocal(2026, 1, 5, 9, 30, 0);
    t_.Run(
        "INSERT INTO settinggetsn (idproduk,tipepesan,awalmsisdn,awalsn,akhirsn,pesanproduk,"
        "pesansuksesgagal,katajumlah) VALUES "
        "('S10','GAGAL','ke ','','','Isi Pulsa 10rb','GAGAL',''),"
        "('S10','SUKSES','No ','SN:','.','Isi Pulsa 10rb','BERHASIL',''),"
        "('S10','SUKSES','No ','SN:','.','Isi Pulsa 10rb','SUKSES','Jumlah')");
    t_.Run(
        "INSERT INTO penjualanproduk (idx,idproduk,barcode,tanggal,jumlah) VALUES "
        "(3,'S10','0812','2026-01-05',1)");
  }
  std::string Explain(const std::string& text, const std::string& destination) {
    std::ostringstream out;
    ExplainReply(t_.db(), clock_, text, destination, out);
    return out.str();
  }
  // CHECKSUM TABLE of the eight tables, to show that explaining writes nothing.
  std::string Checksums() {
    return t_.Dump(
        "CHECKSUM TABLE modulaktif, penjualanproduk, logtrxsms, produk, hostserver, hostproduk, "
        "settinggetsn, macroeditorc55");
  }
  TestDatabase t_;
  VirtualClock clock_;
};

TEST_F(ExplainReplyTest, TracesEveryStepAndWritesNothing) {
  const std::string before = Checksums();
  EXPECT_EQ(Explain("Isi Pulsa 10rb ke 0812 SUKSES Jumlah 2, GAGAL", "0812"),
            "reply=Isi Pulsa 10rb ke 0812 SUKSES Jumlah 2, GAGAL\n"
            "destination=0812 expected_count=1 today=2026-01-05\n"
            "pairs=2\n"
            "pair tipepesan=\"SUKSES\" awalmsisdn=\"No \"\n"
            "pair.skip=awalmsisdn not in reply\n"
            "pair tipepesan=\"GAGAL\" awalmsisdn=\"ke \"\n"
            "number raw=0812 prefixed=0812\n"
            "sales=1\n"
            "sale idx=3 idproduk=\"S10\" jumlah=1\n"
            "rules=1\n"
            "rule pesansuksesgagal=\"GAGAL\" pesanproduk=\"Isi Pulsa 10rb\" katajumlah=\"\" "
            "awalsn=\"\" akhirsn=\"\"\n"
            "match=GAGAL idx=3\n"
            "update=UPDATE penjualanproduk SET status=\"GAGAL\",respond=\"Isi Pulsa 10rb ke 0812 "
            "SUKSES Jumlah 2, GAGAL\" WHERE idx=3\n"
            "result=0\n");
  EXPECT_EQ(Checksums(), before);
  EXPECT_EQ(t_.Value("SELECT status FROM penjualanproduk WHERE idx=3"), "");
}

TEST_F(ExplainReplyTest, SaysWhichTestsOfARuleFailed) {
  const std::string out = Explain("Isi Pulsa 10rb No 0812 SUKSES Jumlah 2", "0812");
  EXPECT_NE(out.find("rule.fail=pesansuksesgagal not in reply\n"), std::string::npos) << out;
  EXPECT_NE(out.find("rule.fail=count 2 != jumlah 1\n"), std::string::npos) << out;
  EXPECT_NE(out.find("pair.skip=awalmsisdn not in reply\n"), std::string::npos) << out;
  EXPECT_TRUE(out.ends_with("match=none\nresult=2\n")) << out;
}

TEST_F(ExplainReplyTest, ShowsTheSerialNumberOfASuccess) {
  const std::string out = Explain("Isi Pulsa 10rb No 812 BERHASIL SN:99.", kNoSaleInHand);
  EXPECT_NE(out.find("number raw=812 prefixed=0812\n"), std::string::npos) << out;
  EXPECT_NE(out.find("match=SUKSES idx=3 sn=99\n"), std::string::npos) << out;
  EXPECT_TRUE(out.ends_with("result=2\n")) << out;  // no sale in hand
  EXPECT_EQ(t_.Value("SELECT status FROM penjualanproduk WHERE idx=3"), "");
}

}  // namespace
}  // namespace tovalink
