#include "settle/settle_reply.h"

#include <gtest/gtest.h>

#include "testsupport/test_database.h"

namespace tovalink {
namespace {

// Rules: (idproduk, tipepesan, awalmsisdn, awalsn, akhirsn, pesanproduk, pesansuksesgagal,
// katajumlah). The failure rule is inserted first, so "SUKSES" coming first is the pair
// order's doing and not the insertion order's.
const char* const kPulsaRules =
    "('S10','GAGAL','ke ','','','Isi Pulsa 10rb','GAGAL',''),"
    "('S10','SUKSES','ke ','SN:','.','Isi Pulsa 10rb','BERHASIL','')";
const char* const kVoucherRules = "('V1','SUKSES','ke ','SN:','.','Voucher','SUKSES','Jumlah')";
const char* const kWalletText = "Transaksi dgn No. 123 berhasil utk pengisian pulsa";

void LoadRules(TestDatabase& t, const std::string& rules) {
  t.Run(
      "INSERT INTO settinggetsn (idproduk,tipepesan,awalmsisdn,awalsn,akhirsn,pesanproduk,"
      "pesansuksesgagal,katajumlah) VALUES " +
      rules);
}

// Sales: (idx, idproduk, barcode, tanggal, jumlah, status, sn).
void LoadSales(TestDatabase& t, const std::string& sales) {
  t.Run("INSERT INTO penjualanproduk (idx,idproduk,barcode,tanggal,jumlah,status,sn) VALUES " +
        sales);
}

struct SettleCase {
  const char* name;
  const char* rules;
  const char* sales;
  const char* reply;
  const char* destination;
  int expected_count;
  int result;
  const char* after;  // idx|status|sn|sn_token of every sale, in idx order
};

void PrintTo(const SettleCase& c, std::ostream* out) { *out << c.name; }

const SettleCase kCases[] = {
    {"number with its leading zero", kPulsaRules, "(1,'S10','08123456789','2026-01-05',1,'','')",
     "Isi Pulsa 10rb ke 08123456789 BERHASIL. SN:555.", "08123456789", 1, 1, "1|SUKSES|555|555"},
    {"number without its leading zero", kPulsaRules, "(1,'S10','08123456789','2026-01-05',1,'','')",
     "Isi Pulsa 10rb ke 8123456789 BERHASIL. SN:555.", "08123456789", 1, 1, "1|SUKSES|555|555"},
    {"a hyphen ends the number", kPulsaRules, "(1,'S10','0812345','2026-01-05',1,'PENDING','')",
     "Isi Pulsa 10rb ke 0812345-99 BERHASIL SN:7.", "0812345", 1, 1, "1|SUKSES|7|7"},
    {"a plus sign after the marker skips the pair", kPulsaRules,
     "(1,'S10','08123456789','2026-01-05',1,'','')",
     "Isi Pulsa 10rb ke +628123456789 BERHASIL SN:7.", "08123456789", 1, 2, "1|||"},
    {"a failure reply", kPulsaRules, "(1,'S10','08123456789','2026-01-05',1,'PENDING','')",
     "Isi Pulsa 10rb ke 08123456789 GAGAL, nomor tidak aktif", "08123456789", 1, 0, "1|GAGAL||"},
    {"SUKSES wins over GAGAL", kPulsaRules, "(1,'S10','08123456789','2026-01-05',1,'','')",
     "Isi Pulsa 10rb ke 08123456789 BERHASIL SN:9. bukan GAGAL", "08123456789", 1, 1,
     "1|SUKSES|9|9"},
    {"markers whatever their letter case", kPulsaRules,
     "(1,'S10','08123456789','2026-01-05',1,'','')",
     "isi pulsa 10RB KE 08123456789 berhasil sn:42.", "08123456789", 1, 1, "1|SUKSES|42|42"},
    {"a rule matching another sale settles it with result 2", kPulsaRules,
     "(1,'S10','08123456789','2026-01-05',1,'','')", "Isi Pulsa 10rb ke 08123456789 BERHASIL SN:5.",
     "0899", 1, 2, "1|SUKSES|5|5"},
    {"the newer of two open sales for one number", kPulsaRules,
     "(1,'S10','08123456789','2026-01-05',1,'',''),(2,'S10','08123456789','2026-01-05',1,'','')",
     "Isi Pulsa 10rb ke 08123456789 BERHASIL SN:555.", "08123456789", 1, 1,
     "1|||\n2|SUKSES|555|555"},
    {"sales of other days and settled sales stay untouched", kPulsaRules,
     "(1,'S10','08123456789','2026-01-04',1,'',''),"
     "(2,'S10','08123456789','2026-01-05',1,'SUKSES','111')",
     "Isi Pulsa 10rb ke 08123456789 BERHASIL SN:555.", "08123456789", 1, 2, "1|||\n2|SUKSES|111|"},
    {"another product's rules do not apply", kPulsaRules,
     "(1,'S25','08123456789','2026-01-05',1,'','')",
     "Isi Pulsa 10rb ke 08123456789 BERHASIL SN:555.", "08123456789", 1, 2, "1|||"},
    {"an empty pesanproduk never matches", "('S10','SUKSES','ke ','SN:','.','','BERHASIL','')",
     "(1,'S10','08123456789','2026-01-05',1,'','')",
     "Isi Pulsa 10rb ke 08123456789 BERHASIL SN:555.", "08123456789", 1, 2, "1|||"},
    {"a rule of another type ends the search and writes nothing",
     "('S10','SUKSES','ke ','SN:','.','Isi Pulsa','BERHASIL',''),"
     "('S10','UNKNOWN','ke ','','','Isi Pulsa','BERHASIL','')",
     "(1,'S10','08123456789','2026-01-05',1,'','')",
     "Isi Pulsa 10rb ke 08123456789 BERHASIL SN:555.", "08123456789", 1, 2, "1|||"},
    // The count check.
    {"a count other than the sale's fails the rule", kVoucherRules,
     "(1,'V1','0812','2026-01-05',1,'','')", "Voucher ke 0812 Jumlah 2 SUKSES SN:1.", "0812", 1, 2,
     "1|||"},
    {"the character after katajumlah is skipped", kVoucherRules,
     "(1,'V1','0812','2026-01-05',1,'','')", "Voucher ke 0812 Jumlah2 SUKSES SN:1.", "0812", 1, 1,
     "1|SUKSES|1|1"},
    {"a count beyond 32 bits reads as 0", kVoucherRules, "(1,'V1','0812','2026-01-05',1,'','')",
     "Voucher ke 0812 Jumlah:99999999999 SUKSES SN:1.", "0812", 1, 1, "1|SUKSES|1|1"},
    {"a matching count other than the expected one gives 2", kVoucherRules,
     "(1,'V1','0812','2026-01-05',2,'','')", "Voucher ke 0812 Jumlah 2 SUKSES SN:1.", "0812", 1, 2,
     "1|SUKSES|1|1"},
    // Replies that do not name the number: the number of the sale in hand is used.
    {"no number in the reply, sale in hand",
     "('D5','SUKSES','','No.',' berhasil','pengisian pulsa','berhasil','')",
     "(1,'D5','0856','2026-01-05',1,'PENDING','OLD')", kWalletText, "0856", 1, 1,
     "1|SUKSES|123|123"},
    {"no number in the reply and no sale in hand",
     "('D5','SUKSES','','No.',' berhasil','pengisian pulsa','berhasil','')",
     "(1,'D5','0856','2026-01-05',1,'PENDING','OLD')", kWalletText, kNoSaleInHand, 0, 2,
     "1|PENDING|OLD|"},
    {"no SN marker leaves sn as it was",
     "('D5','SUKSES','','',' berhasil','pengisian pulsa','berhasil','')",
     "(1,'D5','0856','2026-01-05',1,'PENDING','OLD')", kWalletText, "0856", 1, 1, "1|SUKSES|OLD|"},
    {"an end marker without its space keeps the SN's trailing space",
     "('D5','SUKSES','','No.','berhasil','pengisian pulsa','berhasil','')",
     "(1,'D5','0856','2026-01-05',1,'','')", kWalletText, "0856", 1, 1, "1|SUKSES|123 |123 "},
};

class SettleReplyTest : public ::testing::TestWithParam<SettleCase> {};

TEST_P(SettleReplyTest, SettlesByTheRules) {
  const SettleCase& c = GetParam();
  TestDatabase t;
  VirtualClock clock;
  clock.SetLocal(2026, 1, 5, 9, 30, 0);
  LoadRules(t, c.rules);
  LoadSales(t, c.sales);
  EXPECT_EQ(static_cast<int>(SettleReply(t.db(), clock, c.reply, c.destination, c.expected_count)),
            c.result);
  EXPECT_EQ(t.Dump("SELECT idx,status,sn,sn_token FROM penjualanproduk ORDER BY idx"), c.after);
}

std::string CaseName(const ::testing::TestParamInfo<SettleCase>& param) {
  std::string name;
  for (const char* p = param.param.name; *p != '\0'; ++p) {
    const char ch = *p;
    const bool alnum =
        (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9');
    name += alnum ? ch : '_';
  }
  return name;
}

INSTANTIATE_TEST_SUITE_P(Cases, SettleReplyTest, ::testing::ValuesIn(kCases), CaseName);

class SettleStatementsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    clock_.SetLocal(2026, 1, 5, 9, 30, 0);
    LoadRules(t_, kPulsaRules);
    LoadSales(t_, "(7,'S10','08123456789','2026-01-05',1,'','')");
  }
  std::vector<std::string> Settle(const std::string& reply) {
    t_.db().StartStatementLog();
    SettleReply(t_.db(), clock_, reply, "08123456789", 1);
    return t_.db().TakeStatementLog();
  }
  static std::string Rules(const std::string& tipepesan) {
    return "SELECT awalsn,akhirsn,pesanproduk,pesansuksesgagal,katajumlah FROM settinggetsn "
           "WHERE  tipepesan=\"" +
           tipepesan + "\" AND idproduk=\"S10\"";
  }
  TestDatabase t_;
  VirtualClock clock_;
};

const char* const kPairs =
    "SELECT awalmsisdn,tipepesan FROM settinggetsn  GROUP BY awalmsisdn,tipepesan ORDER BY "
    "tipepesan DESC";

TEST_F(SettleStatementsTest, SuccessWithSerialNumber) {
  EXPECT_EQ(Settle("Isi Pulsa 10rb ke 8123456789 BERHASIL SN:555."),
            (std::vector<std::string>{
                kPairs,
                "SELECT idproduk,idx,idcustomer,nonota,tanggal,waktu,jumlah FROM penjualanproduk "
                "WHERE  (barcode=\"08123456789\" OR barcode=\"8123456789\") and "
                "tanggal=\"2026-01-05\" AND (status = \"PENDING\" or status = \"\") ORDER BY "
                "idx DESC",
                Rules("SUKSES"),
                "UPDATE penjualanproduk SET status=\"SUKSES\",sn=\"555\",respond=\"Isi Pulsa "
                "10rb ke 8123456789 BERHASIL SN:555.\",sn_token=\"555\" WHERE idx=7",
            }));
}

TEST_F(SettleStatementsTest, SuccessWithoutSerialNumberHasNoSnAssignment) {
  const std::vector<std::string> log = Settle("Isi Pulsa 10rb ke 08123456789 BERHASIL");
  ASSERT_EQ(log.size(), 4u);
  EXPECT_EQ(log.back(),
            "UPDATE penjualanproduk SET status=\"SUKSES\",respond=\"Isi Pulsa 10rb ke "
            "08123456789 BERHASIL\",sn_token=\"\" WHERE idx=7");
}

TEST_F(SettleStatementsTest, FailureAfterTheSuccessRulesFailed) {
  const std::string sales =
      "SELECT idproduk,idx,idcustomer,nonota,tanggal,waktu,jumlah FROM penjualanproduk WHERE  "
      "(barcode=\"08123456789\" OR barcode=\"08123456789\") and tanggal=\"2026-01-05\" AND "
      "(status = \"PENDING\" or status = \"\") ORDER BY idx DESC";
  EXPECT_EQ(Settle("Isi Pulsa 10rb ke 08123456789 GAGAL"),
            (std::vector<std::string>{
                kPairs,
                sales,
                Rules("SUKSES"),
                sales,
                Rules("GAGAL"),
                "UPDATE penjualanproduk SET status=\"GAGAL\",respond=\"Isi Pulsa 10rb ke "
                "08123456789 GAGAL\" WHERE idx=7",
            }));
}

TEST(SettleHostileTextTest, QuotesAndBackslashesAreStoredAsGiven) {
  TestDatabase t;
  VirtualClock clock;
  clock.SetLocal(2026, 1, 5, 9, 30, 0);
  LoadRules(t, kPulsaRules);
  LoadSales(t, "(1,'S10','08123456789','2026-01-05',1,'','')");
  const std::string reply =
      "Isi Pulsa 10rb ke 08123456789 BERHASIL SN:a\"b\\c'd\",status=\"GAGAL. x";
  EXPECT_EQ(SettleReply(t.db(), clock, reply, "08123456789", 1), Settlement::Succeeded);
  EXPECT_EQ(t.Value("SELECT respond FROM penjualanproduk WHERE idx=1"), reply);
  EXPECT_EQ(t.Dump("SELECT status,sn,sn_token FROM penjualanproduk WHERE idx=1"),
            "SUKSES|a\"b\\c'd\",status=\"GAGAL|a\"b\\c'd\",status=\"GAGAL");
}

}  // namespace
}  // namespace tovalink
