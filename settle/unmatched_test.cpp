#include "settle/unmatched.h"

#include <gtest/gtest.h>

#include <sstream>

#include "testsupport/test_database.h"

namespace tovalink {
namespace {

// One outlet's day: a rule for one wording, sales of every state, and the exchange log of a
// module whose operator changed its wording.
class UnmatchedTest : public ::testing::Test {
 protected:
  void SetUp() override {
    clock_.SetLocal(2026, 1, 5, 16, 0, 0);
    t_.Run(
        "INSERT INTO settinggetsn (idproduk, tipepesan, awalmsisdn, awalsn, akhirsn, "
        "pesanproduk, pesansuksesgagal, katajumlah) VALUES "
        "('M10', 'SUKSES', ' ke ', 'SN: ', '.', 'Isi Pulsa', 'BERHASIL', '');"
        "INSERT INTO penjualanproduk (idx, modem, flag, idproduk, barcode, tanggal, status, "
        "respond) VALUES "
        "(1, 'M1', 1, 'M10', '081100000001', '2026-01-05', 'SUKSES', "
        "'Isi Pulsa 10000 ke 081100000001 BERHASIL. SN: 1001.'),"
        "(2, 'M1', 1, 'M10', '081100000002', '2026-01-05', 'PENDING', 'Pulsa 10000 ke 081100000002 "
        "telah berhasil diisi. Ref 5551'),"
        "(3, 'M2', 1, 'M25', '081100000003', '2026-01-05', 'PENDING', ''),"
        "(4, 'M1', 1, 'M10', '081100000004', '2026-01-05', '', NULL),"
        "(5, 'M1', 1, 'M10', '081100000005', '2026-01-04', 'PENDING', ''),"
        "(6, 'M3', 1, 'D5', '081100000006', '2026-01-05', 'PENDING', ''),"
        "(7, 'M1', 1, 'M10', '081100000002', '2026-01-04', 'PENDING', '');");
    Log("2026-01-04", "23:50:00", "M1", "0899",
        "Pulsa 10000 ke 081100000005 telah berhasil diisi. Ref 5550");
    Log("2026-01-05", "09:00:00", "M1", "0899",
        "Isi Pulsa 10000 ke 081100000001 BERHASIL. SN: 1001.");
    // A second answer for a sale another reply settled already.
    Log("2026-01-05", "09:00:05", "M1", "0899",
        "Isi Pulsa 10000 ke 081100000001 BERHASIL. SN: 1002.");
    Log("2026-01-05", "09:10:00", "M1", "0899",
        "Pulsa 10000 ke 081100000002 telah berhasil diisi. Ref 5551");
    Log("2026-01-05", "09:20:00", "M2", "0898",
        "Pulsa 25000 ke 6281100000003 telah berhasil diisi. Ref 5552");
    Log("2026-01-05", "09:30:00", "M1", "0899", "Maaf, transaksi ke 081100000004 sedang diproses");
    Log("2026-01-05", "09:40:00", "M1", "0899",
        "Pulsa 10000 ke 081199999999 telah berhasil diisi. Ref 5553");
    Log("2026-01-05", "09:50:00", "M3", "*151*1*1*3*2*081100000006*1#",
        "Transaksi dgn No. 123 berhasil utk pengisian pulsa");
    Log("2026-01-05", "10:00:00", "M1", "62962", "Nikmati bonus 1GB");
    Log("2026-01-05", "10:05:00", "M1", "0899", "FAILED SENT");
    Log("2026-01-05", "10:10:00", "M1", "*776*", "Stok V10 k=34");
  }
  // As a module logs an exchange.
  void Log(const std::string& date, const std::string& time, const std::string& module,
           const std::string& counterpart, const std::string& text) {
    t_.db().ExecSql("INSERT INTO logtrxsms VALUES (\"\",\"" + date + "\",\"" + time + "\",\"" +
                    module + "\",\"" + counterpart + "\",\"" + text + "\",1)");
  }
  std::string Report(int days) {
    std::ostringstream out;
    PrintUnmatched(FindUnmatched(t_.db(), clock_, days), "tovalinkd", out);
    return out.str();
  }
  TestDatabase t_;
  VirtualClock clock_;
};

TEST_F(UnmatchedTest, GroupsTodaysUnsettledRepliesByWordingWithTheSalesTheyAnswer) {
  const std::string before = t_.Dump("CHECKSUM TABLE penjualanproduk, logtrxsms, settinggetsn");
  t_.db().StartStatementLog();
  // Sale 2 is PENDING with its reply as its respond, as a channel leaves it: that reply
  // settled nothing. The second answer for sale 1 matches the rule, so its wording is known.
  EXPECT_EQ(
      Report(1),
      R"(Replies logged 2026-01-05: 10; settled by the rules or a channel: 2; set aside: 3 (operator notices, failed sends, stock readings)
Settled no sale: 5 replies in 3 wordings

1) 3 replies: Pulsa # ke # telah berhasil diisi. Ref #
   example: 2026-01-05 09:20:00 M2 from 0898: Pulsa 25000 ke 6281100000003 telah berhasil diisi. Ref 5552
   senders: 0899 (2), 0898 (1)
   open sales it probably answers:
     idx 3, M25, to 081100000003, PENDING, module M2
     idx 2, M10, to 081100000002, PENDING, module M1
   propose a rule: tovalinkd --suggest-rule 'Pulsa 25000 ke 6281100000003 telah berhasil diisi. Ref 5552' 3

2) 1 reply: Maaf, transaksi ke # sedang diproses
   example: 2026-01-05 09:30:00 M1 from 0899: Maaf, transaksi ke 081100000004 sedang diproses
   senders: 0899 (1)
   open sales it probably answers:
     idx 4, M10, to 081100000004, status "", module M1
   propose a rule: tovalinkd --suggest-rule 'Maaf, transaksi ke 081100000004 sedang diproses' 4

3) 1 reply: Transaksi dgn No. # berhasil utk pengisian pulsa
   example: 2026-01-05 09:50:00 M3 from *151*1*1*3*2*081100000006*1#: Transaksi dgn No. 123 berhasil utk pengisian pulsa
   senders: *151*1*1*3*2*081100000006*1# (1)
   open sales it probably answers:
     idx 6, D5, to 081100000006, PENDING, module M3
   propose a rule: tovalinkd --suggest-rule 'Transaksi dgn No. 123 berhasil utk pengisian pulsa' 6
)");
  for (const std::string& statement : t_.db().TakeStatementLog()) {
    EXPECT_EQ(statement.rfind("SELECT ", 0), 0u) << statement;
  }
  EXPECT_EQ(t_.Dump("CHECKSUM TABLE penjualanproduk, logtrxsms, settinggetsn"), before);
}

TEST_F(UnmatchedTest, MoreDaysTakeEachReplyWithTheSalesOfItsOwnDay) {
  // Yesterday's reply answers yesterday's sale 5; today's reply for the number of sale 7
  // (yesterday's) answers today's sale 2 only.
  const std::string report = Report(2);
  EXPECT_EQ(
      report.substr(0, report.find("   propose")),
      R"(Replies logged 2026-01-04 to 2026-01-05: 11; settled by the rules or a channel: 2; set aside: 3 (operator notices, failed sends, stock readings)
Settled no sale: 6 replies in 3 wordings

1) 4 replies: Pulsa # ke # telah berhasil diisi. Ref #
   example: 2026-01-05 09:20:00 M2 from 0898: Pulsa 25000 ke 6281100000003 telah berhasil diisi. Ref 5552
   senders: 0899 (3), 0898 (1)
   open sales it probably answers:
     idx 5, M10, to 081100000005, PENDING, module M1
     idx 3, M25, to 081100000003, PENDING, module M2
     idx 2, M10, to 081100000002, PENDING, module M1
)");
}

}  // namespace
}  // namespace tovalink
