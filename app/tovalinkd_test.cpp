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
