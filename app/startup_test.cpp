#include "app/startup.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "app/settings_report.h"
#include "testsupport/test_database.h"

namespace tovalink {
namespace {

TEST(StartArgumentTest, PiecesAndBoxes) {
  struct Case {
    const char* argument;
    size_t pieces;
  };
  for (const Case& c : {Case{"", 0}, Case{"a=1", 1}, Case{"a=1#", 1}, Case{"a=1##b=2", 3},
                        Case{"#a", 2}}) {
    EXPECT_EQ(SplitStartArgument(c.argument).size(), c.pieces) << c.argument;
  }
  Form form;
  form.cport = "4";
  ApplyStartArgument(form, SplitStartArgument(
                               "namamodul=M1#comm=7=8#baudrate=9600#handshake=0#tipemodem=SIEMENS"
                               "#caradial=HOST1#metodetrx=X#pin=12#unknown=3"));
  EXPECT_EQ(form.csumber, "M1");
  EXPECT_EQ(form.cport, "7");
  EXPECT_EQ(form.cbaud, "9600");
  EXPECT_EQ(form.chands, "0");
  EXPECT_EQ(form.cmodem, "SIEMENS");
  EXPECT_EQ(form.ctipeprov, "HOST1");
  EXPECT_EQ(form.cmethod, "X");
  EXPECT_EQ(form.epin, "12");
  ApplyStartArgument(form, SplitStartArgument("comm"));
  EXPECT_EQ(form.cport, "");
  ApplyStartArgument(form, SplitStartArgument("Comm=9"));  // keys are case-sensitive
  EXPECT_EQ(form.cport, "");
}

class StartupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = std::filesystem::temp_directory_path() /
              ("tovalink_startup_" + std::to_string(getpid()) + "_" + t.Name());
    std::filesystem::create_directories(folder_);
    t.Run("INSERT INTO hostserver (idserver) VALUES ('HS2'), ('HS1');"
          "INSERT INTO modulaktif (namamodul, comm, autoretur, handshake, tipemodem, caradial,"
          " metodetrx, pin, waktutunggu) VALUES"
          " ('M1', '7', '9600', '1', 'SIEMENS', 'MKIOS', 'DIAL', '1234', '30'),"
          " ('A0', '3', '115200', '2', 'WAVECOM', 'HS1', '', '9', '20');");
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }

  void WriteSettings(const std::string& database) {
    std::ofstream file(folder_ / kSettingsFileName, std::ios::binary);
    file << "ipserver=localhost\r\ndbname=" << MaskSetting(database)
         << "\r\nuser=" << MaskSetting("root") << "\r\npass=\r\n";
    file.close();
    std::filesystem::permissions(
        folder_ / kSettingsFileName,
        std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  }

  TestDatabase t;
  std::filesystem::path folder_;
  Form form;
  Database db;
};

TEST_F(StartupTest, ThreePiecesLoadTheStoredSettings) {
  WriteSettings(t.Name());
  db.StartStatementLog();
  EXPECT_EQ(RunStartup(form, db, folder_.string(), "namamodul=M1#comm=9#pin=1"),
            StartupOutcome::StartModule);
  EXPECT_EQ(SettingsReport(form),
            "csumber=M1\ncport=7\nchands=1\ncbaud=9600\ncmodem=SIEMENS\ncmethod=DIAL\n"
            "ctipeprov=MKIOS\nepin=1234\netunggu=30\nProviderType=MKIOS\ngmk=shown\n"
            "csumber.items=A0,M1\nctipeprov.items=DOMPET,MKIOS,MTRONIK,HS1,HS2\n"
            "cmodem.items=WAVECOM,SIEMENS,NOKCDMA_6235\ncbaud.items=9600,115200\n"
            "chands.items=2,1,0\ncport.items=1..100\n");
  EXPECT_EQ(db.TakeStatementLog(),
            (std::vector<std::string>{"SELECT idserver from hostserver order by idserver",
                                      "SELECT namamodul FROM modulaktif ORDER BY namamodul",
                                      "SELECT * FROM modulaktif where namamodul=\"M1\""}));
  EXPECT_TRUE(form.StopRequested);
}

TEST_F(StartupTest, TwoPiecesSetTheBoxesOnly) {
  WriteSettings(t.Name());
  EXPECT_EQ(RunStartup(form, db, folder_.string(), "namamodul=M1#comm=9"), StartupOutcome::Idle);
  EXPECT_EQ(form.csumber, "M1");
  EXPECT_EQ(form.cport, "9");
  EXPECT_EQ(form.cmodem, "WAVECOM");
  EXPECT_EQ(form.ctipeprov, "DOMPET");
  EXPECT_EQ(form.etunggu, "20");
  EXPECT_FALSE(form.GmkVisible());
}

TEST_F(StartupTest, UnknownModuleKeepsTheCommandLineValues) {
  WriteSettings(t.Name());
  EXPECT_EQ(RunStartup(form, db, folder_.string(), "namamodul=NOPE#comm=9#caradial=HS2"),
            StartupOutcome::StartModule);
  EXPECT_EQ(form.cport, "9");
  EXPECT_EQ(form.ProviderType, "HS2");
}

TEST_F(StartupTest, MissingFileAndUnreachableDatabase) {
  EXPECT_EQ(RunStartup(form, db, folder_.string(), "namamodul=M1#comm=9#pin=1"),
            StartupOutcome::NoSettingsFile);
  EXPECT_EQ(form.Messages(), std::vector<std::string>{"File dbsetting.txt tidak ada"});
  EXPECT_TRUE(form.cmodem_items.empty());

  Form other;
  WriteSettings("no_such_database");
  EXPECT_EQ(RunStartup(other, db, folder_.string(), "namamodul=M1#comm=9#pin=1"),
            StartupOutcome::QueryFailed);
  ASSERT_EQ(other.Messages().size(), 2u);
  EXPECT_EQ(other.Messages()[0], "Tidak Konek ke Database , cek init.ini");
  EXPECT_FALSE(other.Messages()[1].empty());  // the library's own text
  EXPECT_EQ(other.csumber, "");
}

TEST_F(StartupTest, WarnsOfASettingsFileThatOthersMayRead) {
  using std::filesystem::perms;
  WriteSettings(t.Name());
  const std::filesystem::path file = folder_ / kSettingsFileName;
  const std::string warning =
      "Peringatan: dbsetting.txt dapat dibaca pengguna lain, jalankan: chmod o-rwx " +
      std::filesystem::canonical(file).string();
  std::filesystem::permissions(folder_, perms::owner_all | perms::group_read | perms::group_exec |
                                            perms::others_read | perms::others_exec);
  struct Case {
    perms mode;
    const char* why;
    bool warned;
  };
  for (const Case& c : {Case{perms::owner_read | perms::owner_write, "owner only", false},
                        Case{perms::owner_read | perms::group_read, "owner and group", false},
                        Case{perms::owner_read | perms::others_read, "others read", true},
                        Case{perms::owner_read | perms::others_write, "others write", true}}) {
    std::filesystem::permissions(file, c.mode);
    EXPECT_EQ(SettingsFileExposure(file.string()), c.warned ? warning : "") << c.why;
  }

  // Read through a link beside the program, as an installed module reads it.
  const std::filesystem::path program_folder = folder_ / "program";
  std::filesystem::create_directory(program_folder);
  std::filesystem::create_symlink(file, program_folder / kSettingsFileName);
  std::filesystem::permissions(file, perms::owner_read | perms::others_read);
  EXPECT_EQ(RunStartup(form, db, program_folder.string(), ""), StartupOutcome::Idle);
  EXPECT_EQ(form.Messages(), std::vector<std::string>{warning});

  // A folder that others may not enter keeps the file from them.
  std::filesystem::permissions(folder_, perms::owner_all);
  EXPECT_EQ(SettingsFileExposure(file.string()), "");
}

}  // namespace
}  // namespace tovalink
