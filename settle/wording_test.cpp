#include "settle/wording.h"

#include <gtest/gtest.h>

namespace tovalink {
namespace {

TEST(WordingShapeTest, RepliesThatDifferOnlyInNumbersHaveOneShape) {
  struct Case {
    const char* reply;
    const char* shape;
  } cases[] = {
      {"Isi Pulsa 10000 ke 081234567811 BERHASIL. SN: 100000000001. Sisa saldo Rp 1.240.000",
       "Isi Pulsa # ke # BERHASIL. SN: #. Sisa saldo Rp #"},
      {"Isi Pulsa 25000 ke 6281299 BERHASIL. SN: 7. Sisa saldo Rp 99",
       "Isi Pulsa # ke # BERHASIL. SN: #. Sisa saldo Rp #"},
      // Product codes, dashed serial numbers, dates and times are numbers too.
      {"Trx V10 ke 0812 OK SN:1234-5678-90 tgl 2026-01-05 10:15:02", "Trx # ke # OK SN:# tgl # #"},
      // Spaces and control characters of a reply made safe (CR LF became two spaces).
      {"  Isi 5rb  ke\x01 0812. ", "Isi # ke #."},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(WordingShape(c.reply), c.shape) << c.reply;
}

TEST(FindSerialNumberTest, TheLongestNumberThatIsNoDestinationAmountOrDate) {
  struct Case {
    const char* reply;
    const char* denomination;
    const char* sn;  // "" for none
  } cases[] = {
      {"Isi 10000 ke 081234567811 OK. SN: 12345. Saldo Rp 1.240.000", "10000", "12345"},
      {"Isi ke 081234567811 OK SN 1234-5678-90. Saldo 500.000", "", "1234-5678-90"},
      {"Isi ke 081234567811 OK tgl 2026-01-05 05-01-2026 10:15:02 05 01 2026 Ref 777", "", "777"},
      {"Isi ke 081234567811 OK harga Rp 99500 IDR 12500000 Ref 777", "", "777"},
      // The denomination, however long, is an amount; a product code is a word.
      {"Voucher 1000000 V123456 ke 081234567811 OK Ref 777", "1000000", "777"},
      // Of two numbers of one length, the one after a serial-number word.
      {"Trx 5551234 ke 081234567811 OK Ref 7771234", "", "7771234"},
      {"Isi ke 081234567811 OK", "", ""},
      {"Isi ke 081234567811 OK No 12", "", ""},
  };
  for (const Case& c : cases) {
    const std::string reply = c.reply;
    const std::optional<DestinationPlace> destination = FindDestination(reply, "081234567811");
    ASSERT_TRUE(destination) << reply;
    const std::optional<Span> sn = FindSerialNumber(reply, destination->run, c.denomination);
    EXPECT_EQ(sn ? reply.substr(sn->begin, sn->size()) : "", c.sn) << reply;
  }
}

TEST(FindDestinationTest, AsWrittenWithoutItsZeroOrWithTheCountryCode) {
  struct Case {
    const char* reply;
    const char* read;  // what a marker before it makes the settlement read; "" for not found
  } cases[] = {
      {"ke 081234 ok", "081234"}, {"ke 81234 ok", "81234"},
      {"to 6281234 ok", "81234"}, {"ke 0812345 ok", ""},  // another number
      {"ke HP081234 ok", ""},                             // glued to letters: no marker can read it
  };
  for (const Case& c : cases) {
    const std::string reply = c.reply;
    const std::optional<DestinationPlace> place = FindDestination(reply, "081234");
    EXPECT_EQ(place ? reply.substr(place->read.begin, place->read.size()) : "", c.read) << reply;
  }
}

TEST(FindOutcomeTest, FailureWordingsComeBeforeSuccessWordings) {
  struct Case {
    const char* reply;
    const char* tipepesan;  // "" for none
    const char* words;
  } cases[] = {
      {"Isi Pulsa ke 0812 BERHASIL. SN: 1", "SUKSES", "BERHASIL"},
      {"Isi Pulsa ke 0812 tidak berhasil, bukan sukses", "GAGAL", "tidak berhasil"},
      {"Your top up was unsuccessful", "GAGAL", "unsuccessful"},
      {"Top up successful", "SUKSES", "successful"},
      {"Transaksi sedang diproses kegagalan", "", ""},  // "gagal" inside a word is no wording
  };
  for (const Case& c : cases) {
    const std::string reply = c.reply;
    const std::optional<OutcomeWords> outcome = FindOutcome(reply);
    EXPECT_EQ(outcome ? outcome->tipepesan : "", c.tipepesan) << reply;
    EXPECT_EQ(outcome ? reply.substr(outcome->span.begin, outcome->span.size()) : "", c.words)
        << reply;
  }
}

TEST(FindCountTest, TheMarkerMakesTheSettlementReadTheSalesCount) {
  struct Case {
    const char* reply;
    long long count;
    const char* katajumlah;  // "" for none
  } cases[] = {
      {"Voucher Jumlah 2 ke 0812", 2, "Jumlah"},
      {"Voucher Qty: 3 ke 0812", 3, "Qty"},
      {"Voucher jml:  4 ke 0812", 4, "jml"},
      // The byte after the marker is skipped, so a count glued to its word needs the word
      // less its last letter as the marker.
      {"Voucher Jumlah2 ke 0812", 2, "Jumla"},
      {"Voucher Jumlah 2 ke 0812", 3, ""},
      {"Voucher ke 0812", 1, ""},
  };
  for (const Case& c : cases) {
    const std::optional<CountPlace> place = FindCount(c.reply, c.count);
    EXPECT_EQ(place ? place->katajumlah : "", c.katajumlah) << c.reply;
  }
}

}  // namespace
}  // namespace tovalink
