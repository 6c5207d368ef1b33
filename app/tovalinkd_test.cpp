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
