#include "settle/reply_match.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "settle/settle_reply.h"
#include "testsupport/test_database.h"

namespace tovalink {
namespace {

TEST(FindReplyNumberTest, ReadsTheDigitsAfterTheMarkerOrTakesTheDestination) {
  struct Case {
    std::string reply, marker, destination;
    std::optional<std::string> raw, prefixed;
  } cases[] = {
      {"Isi ke 08123 ok", "KE ", "0899", "08123", "08123"},
      {"Isi ke 8123 ok", "ke ", "0899", "8123", "08123"},
      {"Isi ke \r\n 8123-45", "ke", "0899", "8123", "08123"},
      {"Isi ke +628123", "ke ", "0899", std::nullopt, std::nullopt},
      {"Isi ke", "ke", "0899", std::nullopt, std::nullopt},
      {"no marker here", "ke ", "0899", std::nullopt, std::nullopt},
      {"any text", "", "856", "856", "0856"},
      {"any text", "", "", std::nullopt, std::nullopt},
  };
  for (const Case& c : cases) {
    const std::optional<ReplyNumber> number = FindReplyNumber(c.reply, c.marker, c.destination);
    ASSERT_EQ(number.has_value(), c.raw.has_value()) << c.reply;
    if (number) {
      EXPECT_EQ(number->raw, *c.raw) << c.reply;
      EXPECT_EQ(number->prefixed, *c.prefixed) << c.reply;
    }
  }
}

// One rule, one open sale of today and one reply: DecideReply, which reads the rows, and the
// pure parts it is made of must come to the same decision. Hostile bytes sit where the rows'
// statements carry them.
struct AgreementSeed {
  const char* name;
  std::string reply;
  // The rule: its type and marker pair, then awalsn, akhirsn, pesanproduk, pesansuksesgagal
  // and katajumlah.
  std::string tipepesan, awalmsisdn, awalsn, akhirsn, pesanproduk, pesansuksesgagal, katajumlah;
  // The sale's product (the rule's too), number and count; the channel's sale in hand.
  std::string idproduk, barcode;
  int jumlah;
  std::string destination;
  int expected_count;
};

const AgreementSeed kSeeds[] = {
    {"success with a serial number", "Isi Pulsa 10rb ke 8123456789 BERHASIL SN:555.", "SUKSES",
     "ke ", "SN:", ".", "Isi Pulsa", "BERHASIL", "", "S10", "08123456789", 1, "08123456789", 1},
    {"failure, letter case of the markers", "isi pulsa KE 0812 gagal", "GAGAL", "Ke ", "", "",
     "ISI PULSA", "Gagal", "", "S10", "0812", 1, "0812", 1},
    {"wrong count", "Voucher ke 0812 Jumlah 2 SUKSES SN:1.", "SUKSES", "ke ", "SN:", ".", "Voucher",
     "SUKSES", "Jumlah", "V1", "0812", 1, "0812", 1},
    {"no number in the reply, no sale in hand", "Transaksi dgn No. 123 berhasil", "SUKSES", "",
     "No.", " berhasil", "Transaksi", "berhasil", "", "D5", "0856", 1, kNoSaleInHand, 0},
    {"quotes and backslashes in the rows and the reply", "Isi \"P\\ke' 0812 OK SN:\"x\\y'.",
     "SUKSES", "\\ke' ", "SN:", ".", "Isi \"P", "OK", "", "S\"1\\0", "0812", 1, "0812", 1},
    {"Windows-1252 bytes", "Pembelian \xE9t\xE9 ke 0812 SUKS\xC8S SN:\xE0\xE9.", "SUKSES", "ke ",
     "SN:", ".", "\xE9T\xE9", "SUKS\xC8S", "", "\xC9-10", "0812", 1, "0812", 1},
};

void PrintTo(const AgreementSeed& seed, std::ostream* out) { *out << seed.name; }

class DecisionAgreementTest : public ::testing::TestWithParam<AgreementSeed> {};

TEST_P(DecisionAgreementTest, DatabasePathAgreesWithThePureParts) {
  const AgreementSeed& s = GetParam();
  TestDatabase t;
  Database& db = t.db();
  VirtualClock clock;
  clock.SetLocal(2026, 1, 5, 9, 30, 0);
  const auto quoted = [&db](const std::string& value) { return "\"" + db.Escape(value) + "\""; };
  db.ExecSql(
      "INSERT INTO settinggetsn (idproduk,tipepesan,awalmsisdn,awalsn,akhirsn,pesanproduk,"
      "pesansuksesgagal,katajumlah) VALUES (" +
      quoted(s.idproduk) + "," + quoted(s.tipepesan) + "," + quoted(s.awalmsisdn) + "," +
      quoted(s.awalsn) + "," + quoted(s.akhirsn) + "," + quoted(s.pesanproduk) + "," +
      quoted(s.pesansuksesgagal) + "," + quoted(s.katajumlah) + ")");
  db.ExecSql("INSERT INTO penjualanproduk (idx,idproduk,barcode,tanggal,jumlah) VALUES (7," +
             quoted(s.idproduk) + "," + quoted(s.barcode) + ",\"2026-01-05\"," +
             std::to_string(s.jumlah) + ")");

  const ReplyRule rule{s.awalsn, s.akhirsn, s.pesanproduk, s.pesansuksesgagal, s.katajumlah};
  const SettleDecision decision = DecideReply(db, clock, s.reply, s.destination, s.expected_count);

  const std::optional<ReplyNumber> number = FindReplyNumber(s.reply, s.awalmsisdn, s.destination);
  const bool found = number && (s.barcode == number->raw || s.barcode == number->prefixed);
  const bool matched = found && RuleMismatch(rule, s.reply, s.jumlah).empty();
  ASSERT_EQ(decision.matched, matched);
  if (!matched) return;
  EXPECT_EQ(decision.idx, 7);
  EXPECT_EQ(decision.raw_number, number->raw);
  EXPECT_EQ(decision.sn, s.tipepesan == "SUKSES" ? SerialNumber(rule, s.reply) : "");
  const bool in_hand = IsSaleInHand(*number, s.destination, s.jumlah, s.expected_count);
  const Settlement expected = !in_hand                  ? Settlement::NotSettled
                              : s.tipepesan == "SUKSES" ? Settlement::Succeeded
                                                        : Settlement::Failed;
  EXPECT_EQ(decision.result, expected);
}

INSTANTIATE_TEST_SUITE_P(Seeds, DecisionAgreementTest, ::testing::ValuesIn(kSeeds));

}  // namespace
}  // namespace tovalink
