// tovalinkd's tool options, run as a program beside its own dbsetting.txt.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

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

// The code blocks of a part of a Markdown text: runs of lines indented by four spaces (blank
// lines inside a block belong to it), without the indentation.
std::vector<std::string> CodeBlocks(const std::string& text) {
  std::vector<std::string> blocks;
  std::string block;
  std::istringstream lines(text);
  std::string line;
  std::string blanks;
  while (std::getline(lines, line)) {
    if (line.rfind("    ", 0) == 0) {
      block += (block.empty() ? "" : blanks) + line.substr(4) + "\n";
      blanks.clear();
    } else if (line.empty() && !block.empty()) {
      blanks += "\n";
    } else {
      if (!block.empty()) blocks.push_back(block);
      block.clear();
      blanks.clear();
    }
  }
  if (!block.empty()) blocks.push_back(block);
  return blocks;
}

// The guide's worked example, run as it is written: its mariadb statements as the database's
// administrator, tovalinkd as a user with exactly the rights of schema/grants.sql on the
// sample outlet, and each output the guide shows compared with the program's (dates aside; an
// output shown ending in "..." is the beginning of the program's).
TEST_F(TovalinkdTest, TheGuidesWorkedExampleRunsAsWritten) {
  TestDatabase t;
  t.Run(SourceFile("schema/indexes.sql"));
  t.Run(SourceFile("schema/sample.sql"));
  const std::string user = t.ModuleUser("rahasia");
  WriteSettingsFile(folder_.path(), t.Name(), user, "rahasia");
  {
    // "mariadb outlet" reaches the test's database as its administrator.
    std::ofstream script(folder_.path() + "/mariadb");
    script << "#!/bin/sh\nfor a do\n  shift\n  [ \"$a\" = outlet ] && a=" << t.Name()
           << "\n  set -- \"$@\" \"$a\"\ndone\nexec /usr/bin/mariadb --socket="
           << TestDatabase::Socket() << " -uroot \"$@\"\n";
  }
  std::filesystem::permissions(folder_.path() + "/mariadb", std::filesystem::perms::owner_all);

  const std::string guide = SourceFile("docs/operations.md");
  const size_t begin = guide.find("<!-- worked example");
  const size_t end = guide.find("<!-- end of the worked example -->");
  ASSERT_NE(begin, std::string::npos);
  ASSERT_NE(end, std::string::npos);
  const std::vector<std::string> blocks = CodeBlocks(guide.substr(begin, end - begin));
  const std::regex date("[0-9]{4}-[0-9]{2}-[0-9]{2}");
  const auto dateless = [&](const std::string& text) {
    return std::regex_replace(text, date, "yyyy-mm-dd");
  };
  const std::map<std::string, std::string> environment = {
      {"PATH", "/usr/bin:/bin"}, {"MYSQL_UNIX_PORT", TestDatabase::Socket()}};
  // A block is commands, one per line, and after a blank line what the last one prints.
  size_t shown_outputs = 0;
  for (const std::string& block : blocks) {
    const size_t blank = block.find("\n\n");
    const std::string commands =
        block.substr(0, blank == std::string::npos ? block.size() : blank + 1);
    ASSERT_TRUE(commands.rfind("mariadb ", 0) == 0 || commands.rfind("tovalinkd ", 0) == 0)
        << block;
    std::istringstream lines(commands);
    std::string command;
    std::string output;
    while (std::getline(lines, command)) {
      SCOPED_TRACE(command);
      // The guide's commands name the installed programs; here they are the test's copies.
      const ProgramResult result = RunProgram(
          {"/bin/sh", "-c", "PATH=" + folder_.path() + ":$PATH; " + command}, environment);
      EXPECT_EQ(result.status, 0) << result.out << result.err;
      output = result.out;
    }
    if (blank == std::string::npos) continue;
    ++shown_outputs;
    std::string shown = dateless(block.substr(blank + 2));
    std::string printed = dateless(output);
    if (shown.ends_with("...\n")) {
      shown.resize(shown.size() - 4);
      printed = printed.substr(0, shown.size());
    }
    EXPECT_EQ(printed, shown) << commands;
  }
  EXPECT_EQ(shown_outputs, 4u);
  EXPECT_EQ(t.Value("SELECT COUNT(*) FROM settinggetsn WHERE pesanproduk='Pengisian pulsa'"), "2");
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
