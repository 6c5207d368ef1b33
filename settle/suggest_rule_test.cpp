#include "settle/suggest_rule.h"

#include <gtest/gtest.h>

#include <sstream>

#include "settle/explain.h"
#include "settle/settle_reply.h"
#include "sim/gsm_pdu.h"
#include "sms/pdu_decode.h"
#include "testsupport/test_database.h"

namespace tovalink {
namespace {

// The text a module logs for an SMS that the operator sent in UCS2 (16-bit) coding.
std::string ReceivedInUcs2(const std::string& utf8) {
  const std::vector<std::string> pdus =
      gsmpdu::EncodeDeliver("628110", utf8, gsmpdu::Coding::Ucs2);
  DecodedPdu decoded;
  EXPECT_EQ(pdus.size(), 1u);
  EXPECT_TRUE(DecodePdu("+CMGL: 1,0,,0", "\n" + pdus.front(), decoded));
  return decoded.text;
}

std::string Dump(const Suggestion& suggestion) {
  std::ostringstream out;
  PrintSuggestion(suggestion, "tovalinkd", out);
  return out.str();
}

struct WordingCase {
  const char* name;
  const char* idproduk;
  const char* denom;  // "" for no produk row
  const char* barcode;
  int jumlah;
  std::string reply;
  const char* sn;         // given on the command line, "" to find it
  const char* tipepesan;  // forced, "" to read it
  // The proposal: tipepesan|awalmsisdn|awalsn|akhirsn|pesanproduk|pesansuksesgagal|katajumlah.
  const char* rule;
  // The sale once the module has settled the reply with the rule in the table:
  // status|sn|sn_token.
  const char* settled;
};

// Operator and supplier wordings, each with its sale, all of one outlet: the rules grow with
// each case, so every proposal is also checked against the ones before it.
const std::vector<WordingCase>& Cases() {
  static const std::vector<WordingCase> cases = {
      {"operator, Indonesian, SN after the number, a balance beside it", "M10", "10000",
       "081234567811", 1,
       "Isi Pulsa 10000 ke 081234567811 BERHASIL. SN: 100000000001. Sisa saldo Rp 1.240.000", "",
       "", "SUKSES| ke |SN: |.|Pulsa|BERHASIL|", "SUKSES|100000000001|100000000001"},
      // "pulsa" alone stands in the rule of M10 just above.
      {"operator failure, Indonesian", "M25", "25000", "081234567812", 1,
       "Maaf, isi pulsa 25000 ke 081234567812 GAGAL. Saldo Anda tidak cukup", "", "",
       "GAGAL| ke |||isi pulsa|GAGAL|", "GAGAL||"},
      // "sukses" alone also stands in "tidak sukses": the word before it comes along.
      {"supplier, the SN before the number", "H5", "5000", "081234567813", 1,
       "Trx sukses. SN 88001234567 utk Pulsa 5rb ke 081234567813. Saldo 1.250.000", "", "",
       "SUKSES| ke |SN | |5rb|Trx sukses|", "SUKSES|88001234567|88001234567"},
      {"SN after Ref at the end of the text", "T5", "5000", "081234567814", 1,
       "Pulsa 5000 ke 081234567814 telah berhasil diisi. Ref 123456789012", "", "",
       "SUKSES| ke |Ref ||Pulsa 5000|telah berhasil|", "SUKSES|123456789012|123456789012"},
      {"SN between brackets, before the number", "V10", "10000", "081234567815", 1,
       "Kode voucher (556677889900) untuk 081234567815 berhasil", "", "",
       "SUKSES| untuk |(|)|voucher|berhasil|", "SUKSES|556677889900|556677889900"},
      // "successful" alone also stands in "unsuccessful" and "not successful".
      {"operator, English, an international number, amounts with commas", "E20", "20000",
       "081234567816", 1,
       "Your top up of Rp 20,000 to 6281234567816 is successful. Ref: 7766554433. Balance Rp "
       "1,250,000",
       "", "", "SUKSES| to 62|Ref: |.|top|is successful|", "SUKSES|7766554433|7766554433"},
      {"supplier failure, English", "E50", "50000", "081234567817", 1,
       "Recharge of 50000 to 081234567817 failed: insufficient balance", "", "",
       "GAGAL| to |||Recharge|failed|", "GAGAL||"},
      {"a date, a time and a price beside the SN", "R100", "100000", "081234567818", 1,
       "Isi ulang 100rb 081234567818 sukses tgl 05-01-2026 10:15:02 SN 2026010512345678 harga "
       "99.500",
       "", "", "SUKSES| 100rb |SN | |ulang|sukses|", "SUKSES|2026010512345678|2026010512345678"},
      // The module keeps the low byte of each 16-bit character: the dashes become 0x13.
      {"a UCS2 reply", "K2", "", "081234567819", 1,
       ReceivedInUcs2("Kuota 2GB utk 081234567819 berhasil – SN: 4455667788 – Trm ksh"), "", "",
       "SUKSES| utk |SN: | |2GB|berhasil|", "SUKSES|4455667788|4455667788"},
      {"a count", "V5", "5000", "081234567820", 2,
       "Pembelian Voucher 5rb jumlah 2 untuk 081234567820 SUKSES. SN: 99887766.", "", "",
       "SUKSES| untuk |SN: |.|Voucher 5rb|SUKSES|jumlah", "SUKSES|99887766|99887766"},
      {"a wallet reply without the number", "D5", "5000", "081234567821", 1,
       "Transaksi dgn No. 123456 berhasil utk pengisian pulsa", "", "",
       "SUKSES||No. | |pengisian pulsa|berhasil|", "SUKSES|123456|123456"},
      {"an SN given by the technician", "G10", "", "081234567822", 1,
       "Voucher game VG10 ke 081234567822 sukses. Kode: AB12-CD34-EF56", "AB12-CD34-EF56", "",
       "SUKSES| ke |Kode: ||game|sukses|", "SUKSES|AB12-CD34-EF56|AB12-CD34-EF56"},
      {"an outcome given by the technician", "P15", "15000", "081234567823", 1,
       "Pulsa 15000 ke 081234567823 sudah masuk. SN 31415926535", "", "SUKSES",
       "SUKSES| ke |SN ||Pulsa 15000|sudah masuk|", "SUKSES|31415926535|31415926535"},
  };
  return cases;
}

class SuggestRuleTableTest : public ::testing::Test {
 protected:
  void SetUp() override { clock_.SetLocal(2026, 1, 5, 9, 45, 0); }
  TestDatabase t_;
  VirtualClock clock_;
};

TEST_F(SuggestRuleTableTest, EachProposalSettlesItsSaleAndAgreesWithTheRuleTester) {
  int idx = 100;
  for (const WordingCase& c : Cases()) {
    SCOPED_TRACE(c.name);
    ++idx;
    if (*c.denom != '\0') {
      t_.Run(std::string("INSERT INTO produk (idproduk, denom) VALUES ('") + c.idproduk + "', " +
             c.denom + ")");
    }
    t_.Run("INSERT INTO penjualanproduk (idx, modem, flag, idproduk, barcode, tanggal, jumlah, "
           "status) VALUES (" +
           std::to_string(idx) + ", 'M1', 1, '" + c.idproduk + "', '" + c.barcode +
           "', '2026-01-05', " + std::to_string(c.jumlah) + ", 'PENDING')");
    t_.db().ExecSql("INSERT INTO logtrxsms VALUES (\"\",\"2026-01-05\",\"09:30:00\",\"M1\",\"0899\",\"" +
                    t_.db().Escape(c.reply) + "\",1)");
    const Suggestion s = SuggestRule(t_.db(), {c.reply, idx, c.sn, c.tipepesan});
    ASSERT_TRUE(s.Ready()) << Dump(s);
    t_.db().ExecSql(s.insert);
    std::ostringstream explained;
    ExplainReply(t_.db(), clock_, c.reply, s.explain_destination, explained);
    std::string expected;
    for (const std::string& line : s.explanation) expected += line + "\n";
    EXPECT_EQ(explained.str(), expected);
    // The module settles the reply as the inbox pass does, or, when the reply does not name
    // the destination, as the channel does right after the sale.
    const bool in_hand = s.explain_destination != kNoSaleInHand;
    SettleReply(t_.db(), clock_, c.reply, s.explain_destination, in_hand ? 1 : 0);
    EXPECT_EQ(t_.Dump("SELECT status, sn, sn_token FROM penjualanproduk WHERE idx=" +
                      std::to_string(idx)),
              c.settled);
  }
}

}  // namespace
}  // namespace tovalink
