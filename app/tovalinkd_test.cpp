// tovalinkd's tool options, run as a program beside its own dbsetting.txt.
#include <gtest/gtest.h>

#include "app/startup.h"
#include "testsupport/process.h"
#include "testsupport/test_database.h"

namespace tovalink {
namespace {

class TovalinkdTest : public ::testing::Test {
 protected:
  void SetUp() override { program_ = CopyProgram(TOVALINKD_PATH, folder_.path()); }
  ProgramResult Run(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv{program_};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return RunProgram(argv, {{"MYSQL_UNIX_PORT", TestDatabase::Socket()}});
  }
  TempFolder folder_;
  std::string program_;
};

TEST_F(TovalinkdTest, SettingsOfAStoredModule) {
  TestDatabase t;
  t.Run("INSERT INTO hostserver (idserver) VALUES ('H1');"
        "INSERT INTO modulaktif (namamodul, comm, autoretur, handshake, tipemodem, caradial, pin)"
        " VALUES ('M1', '12', '9600', '0', 'NOKCDMA_6235', 'H1', '77');");
  WriteSettingsFile(folder_.path(), t.Name());

  ProgramResult three = Run({"--settings", "namamodul=M1#comm=7#pin=1"});
  EXPECT_EQ(three.status, 0) << three.err;
  EXPECT_NE(three.out.find("\ncport=12\n"), std::string::npos) << three.out;
  EXPECT_NE(three.out.find("\nctipeprov.items=DOMPET,MKIOS,MTRONIK,H1\n"), std::string::npos);
  EXPECT_NE(three.out.find("\nProviderType=H1\n"), std::string::npos);

  ProgramResult two = Run({"--settings", "namamodul=M1#comm=7"});
  EXPECT_EQ(two.status, 0);
  EXPECT_EQ(two.out.substr(0, 20), "csumber=M1\ncport=7\nc");
}

TEST_F(TovalinkdTest, MissingSettingsFileFails) {
  ProgramResult result = Run({"--settings", "namamodul=M1#comm=7#pin=1"});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out.substr(0, result.out.find('\n')), "message=File dbsetting.txt tidak ada");
}

TEST_F(TovalinkdTest, StatusIsAMonitoringCheckThatWritesNothing) {
  TestDatabase t;
  // The heartbeat as a running module writes it, from this machine's clock.
  t.Run(
      "INSERT INTO modulaktif (namamodul, comm, waktu, statrun, autorun, lokasifile) VALUES"
      " ('M1', '4', DATE_FORMAT(NOW(), '%H:%i:%s'), 1, 1, ''),"
      " ('M2', '5', '', 0, 2, 'Error Access com 5');");
  WriteSettingsFile(folder_.path(), t.Name());
  const std::string before = t.Dump("SELECT * FROM modulaktif");

  ProgramResult fine = Run({"--status"});
  EXPECT_EQ(fine.status, 0) << fine.out << fine.err;
  EXPECT_NE(fine.out.find("\nM2 ended on an error: Error Access com 5\n"), std::string::npos)
      << fine.out;

  t.Run("UPDATE modulaktif SET autorun=1 WHERE namamodul='M2'");
  ProgramResult down = Run({"--status"});
  EXPECT_EQ(down.status, 1);
  EXPECT_NE(down.out.find("\nNOT OK: autorun 1 but not alive: M2 (stopped)\n"), std::string::npos)
      << down.out;
  t.Run("UPDATE modulaktif SET autorun=2 WHERE namamodul='M2'");
  EXPECT_EQ(t.Dump("SELECT * FROM modulaktif"), before);

  WriteSettingsFile(folder_.path(), "no_such_database");
  ProgramResult unreachable = Run({"--status"});
  EXPECT_EQ(unreachable.status, 1);
  EXPECT_EQ(unreachable.err.substr(0, unreachable.err.find('\n')),
            "Tidak Konek ke Database , cek init.ini");
}

TEST_F(TovalinkdTest, UnmatchedAndSuggestRuleReadOnlyFromAReplyToItsInsert) {
  TestDatabase t;
  // Today's sale and its reply as the module logged it; the reply ends in a closing quote mark
  // of Windows-1252 (byte 146), which a terminal shows in UTF-8.
  t.Run(
      "INSERT INTO penjualanproduk (idx, idproduk, barcode, tanggal, status) VALUES "
      "(3, 'M10', '081234567811', CURDATE(), 'PENDING');"
      "INSERT INTO logtrxsms VALUES ('', DATE_FORMAT(NOW(), '%Y-%m-%d'), '09:00:00', 'M1', "
      "'0899', CONCAT('Isi Pulsa 10000 ke 081234567811 BERHASIL. SN: 100000000001. Makasih', "
      "CHAR(146)), 1);");
  WriteSettingsFile(folder_.path(), t.Name());
  const std::string checksums = "CHECKSUM TABLE penjualanproduk, logtrxsms, settinggetsn";
  const std::string before = t.Dump(checksums);
  const std::string reply =
      "Isi Pulsa 10000 ke 081234567811 BERHASIL. SN: 100000000001. Makasih\u2019";

  ProgramResult unmatched = Run({"--unmatched"});
  EXPECT_EQ(unmatched.status, 0) << unmatched.err;
  EXPECT_NE(unmatched.out.find("\n1) 1 reply: Isi Pulsa # ke # BERHASIL. SN: #. Makasih\u2019\n"),
            std::string::npos)
      << unmatched.out;
  EXPECT_NE(unmatched.out.find("   propose a rule: tovalinkd --suggest-rule '" + reply + "' 3\n"),
            std::string::npos)
      << unmatched.out;

  ProgramResult suggested = Run({"--suggest-rule", reply, "3"});
  EXPECT_EQ(suggested.status, 0) << suggested.out << suggested.err;
  const std::string insert =
      "INSERT INTO settinggetsn (idproduk, tipepesan, awalmsisdn, awalsn, akhirsn, pesanproduk, "
      "pesansuksesgagal, katajumlah) VALUES ('M10', 'SUKSES', ' ke ', 'SN: ', '.', 'Pulsa', "
      "'BERHASIL', '');";
  EXPECT_NE(suggested.out.find("\n" + insert + "\n"), std::string::npos) << suggested.out;
  EXPECT_EQ(t.Dump(checksums), before);

  t.Run(insert);
  ProgramResult explained = Run({"--explain-reply", reply});
  EXPECT_NE(explained.out.find("\nmatch=SUKSES idx=3 sn=100000000001\n"), std::string::npos)
      << explained.out;
  // Forced outcome, conflicts and bad arguments.
  EXPECT_EQ(Run({"--suggest-rule", reply, "3", "GAGAL"}).status, 1);
  EXPECT_EQ(Run({"--unmatched", "0"}).status, 2);
  EXPECT_EQ(Run({"--suggest-rule", reply}).status, 2);
  ProgramResult bad_idx = Run({"--suggest-rule", reply, "x3"});
  EXPECT_EQ(bad_idx.status, 2);
  EXPECT_EQ(bad_idx.err.substr(0, bad_idx.err.find('\n')),
            "tovalinkd: --suggest-rule: IDX is the idx of a sale, not x3");
}

TEST_F(TovalinkdTest, SetAutorunMarksOneModuleToRun) {
  TestDatabase t;
  t.Run(
      "INSERT INTO modulaktif (namamodul, autorun, lokasifile) VALUES"
      " ('M1', 2, 'Error Access com 4'), ('M2', 0, '-'), ('M\"3', 0, '-');");
  WriteSettingsFile(folder_.path(), t.Name());
  EXPECT_EQ(Run({"--set-autorun", "M1"}).status, 0);
  EXPECT_EQ(Run({"--set-autorun", "M\"3"}).status, 0);
  EXPECT_EQ(Run({"--set-autorun", "NOROW"}).status, 0);
  EXPECT_EQ(t.Dump("SELECT namamodul, autorun, lokasifile FROM modulaktif ORDER BY namamodul"),
            "M\"3|1|-\nM1|1|Error Access com 4\nM2|0|-");
  EXPECT_EQ(Run({"--set-autorun"}).status, 2);
}

TEST_F(TovalinkdTest, MaskHelpAndBadOptions) {
  ProgramResult mask = Run({"--mask", "outlet"});
  EXPECT_EQ(mask.status, 0);
  EXPECT_EQ(mask.out, MaskSetting("outlet") + "\n");
  EXPECT_EQ(Run({"--help"}).status, 0);
  EXPECT_EQ(Run({"--version"}).out, "tovalinkd " TOVALINK_VERSION "\n");
  ProgramResult bad = Run({"--nonsense"});
  EXPECT_EQ(bad.status, 2);
  EXPECT_EQ(bad.err.substr(0, bad.err.find('\n')), "tovalinkd: unknown option --nonsense");
}

}  // namespace
}  // namespace tovalink
