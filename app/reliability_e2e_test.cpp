// The module under faults and load, end to end, on the fixture of app/reliability_fixture.h:
// the database going away, two processes of one module, least privilege, hostile texts.
#include <gtest/gtest.h>
#include <signal.h>

#include "app/reliability_fixture.h"
#include "modem/serial_port.h"

namespace tovalink {
namespace {

// A host-server module selling by SMS, settling from the replies and the inbox pass, with a
// deposit request, then stopped, then ended on a fatal error, and the technician's --status:
// all as a database user that has exactly the rights of schema/grants.sql.
TEST_F(OutletTest, ModuleRunsWithTheDocumentedGrantsAlone) {
  const std::string user = "g_" + t.Name();
  std::string grants = SourceFile("schema/grants.sql");
  grants = ReplaceAll(grants, "`outlet`", "`" + t.Name() + "`");
  grants = ReplaceAll(grants, "'tovalink'@'localhost'", "'" + user + "'@'localhost'");
  t.Run("CREATE USER '" + user + "'@'localhost' IDENTIFIED BY 'rahasia';");
  t.Run(grants);
  WriteSettingsFile(folder_.path(), t.Name(), user, "rahasia");
  t.Run(
      "INSERT INTO modulaktif (namamodul, comm, caradial, tipemodem, pin, waktutunggu, autorun,"
      " ceksaldo, lokasifile) VALUES ('M1', '7', 'HOSTA', 'WAVECOM', '1234', '2', 1, 3, '50000');"
      "INSERT INTO produk (idproduk, denom) VALUES ('X10', 10000);"
      "INSERT INTO hostserver (idserver, metodetrx, formattrx, smscenter, metodeceksaldo,"
      " formatceksaldo, metodedep, formatdep) VALUES ('HOSTA', 'SMS', '<kode>.<hptujuan>.<pin>',"
      " '08111000111', 'SMS', 'SAL.<pin>', 'SMS', 'DEP.<nominal>.<pin>');"
      "INSERT INTO hostproduk VALUES ('X10', 'HOSTA', 'P10');"
      "INSERT INTO settinggetsn (idproduk, tipepesan, awalmsisdn, awalsn, akhirsn, pesanproduk,"
      " pesansuksesgagal) VALUES ('X10', 'SUKSES', ' ke ', 'SN: ', '. Saldo', 'Isi P10', 'SUKSES'),"
      " ('X10', 'GAGAL', ' ke ', '', '', 'Isi P10', 'GAGAL');"
      "INSERT INTO penjualanproduk (modem, flag, idproduk, barcode, tanggal, jumlah, status)"
      " VALUES ('M1', 0, 'X10', '081200000001', CURDATE(), 1, ''),"
      " ('M1', 0, 'X10', '081200000002', CURDATE(), 1, ''),"
      " ('M1', 0, 'X10', '081200000003', CURDATE(), 1, ''),"
      " ('OTHER', 1, 'X10', '081200000004', CURDATE(), 1, 'PENDING');");
  SimHarness& sim = StartSim(R"({"messages": [
      {"store": "SM", "from": "6281299990000",
       "text": "SUKSES Isi P10 ke 81200000004 SN: 44-55. Saldo 1"}],
    "sms_rules": [
      {"to": "08111000111", "text": "^P10\\.(081200000001)\\.",
       "sms": {"text": "SUKSES Isi P10 ke {1} SN: 5566. Saldo 9", "delay_ms": 300, "store": "ME"}},
      {"to": "08111000111", "text": "^P10\\.(081200000002)\\.",
       "sms": {"text": "GAGAL Isi P10 ke {1} nomor salah", "delay_ms": 300, "store": "ME"}},
      {"to": "08111000111", "text": "^(SAL|DEP)\\.",
       "sms": {"text": "Saldo anda 90000", "delay_ms": 200, "store": "ME"}}]})");
  auto module = StartModule("namamodul=M1#comm=7#pin=1234", sim);
  EXPECT_EQ(WaitForValue("SELECT COUNT(*) FROM penjualanproduk WHERE status IN"
                         " ('SUKSES','GAGAL','PENDING') AND modem='M1'",
                         "3", 60000),
            "3")
      << module->Err();
  EXPECT_EQ(WaitForValue("SELECT status FROM penjualanproduk WHERE modem='OTHER'", "SUKSES"),
            "SUKSES");
  EXPECT_TRUE(sim.WaitFor("SMS", "08111000111", 100));
  EXPECT_EQ(WaitForValue("SELECT ceksaldo FROM modulaktif", "0"), "0");
  module->Signal(SIGTERM);
  EXPECT_EQ(module->Wait(10000), 0) << module->Err();
  EXPECT_EQ(t.Dump("SELECT barcode, status, sn FROM penjualanproduk ORDER BY idx"),
            "081200000001|SUKSES|5566\n081200000002|GAGAL|\n081200000003|PENDING|\n"
            "081200000004|SUKSES|44-55");
  EXPECT_EQ(t.Dump("SELECT lokasifile, statrun, autorun FROM modulaktif"), "-|0|0");
  EXPECT_EQ(module->Err().find("denied"), std::string::npos) << module->Err();
  const std::vector<std::string> requests = Requests();
  EXPECT_NE(std::find(requests.begin(), requests.end(), "08111000111|DEP.50000.1234"),
            requests.end());
  sim.Stop();
  Audit({"08111000111|SAL.1234"});

  // A fatal error is recorded with the same rights: the port is held by another program.
  t.Run("UPDATE modulaktif SET autorun=1;");
  SimHarness& held_sim = StartSim("");
  TermiosPort holder;
  holder.Open(held_sim.PortPath(), SerialSettings{});
  auto held = StartModule("namamodul=M1#comm=7#pin=1234", held_sim);
  EXPECT_EQ(held->Wait(10000), 1) << held->Err();
  EXPECT_EQ(t.Dump("SELECT lokasifile, statrun, autorun FROM modulaktif"),
            "Error Access com 7|0|2");

  // The technician's screen reads what it needs.
  const ProgramResult status = RunProgram({program_, "--status"}, {{"MYSQL_UNIX_PORT", socket_}});
  EXPECT_EQ(status.err.find("denied"), std::string::npos) << status.err;
  EXPECT_NE(status.out.find("Error Access com 7"), std::string::npos) << status.out;
  t.Run("DROP USER '" + user + "'@'localhost';");
}

}  // namespace
}  // namespace tovalink
