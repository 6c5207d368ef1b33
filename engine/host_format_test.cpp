// The host-format channel and the supplier requests, in process: a scripted modem on the
// virtual clock and the real database.
#include <gtest/gtest.h>

#include "engine/channel.h"
#include "engine/requests.h"
#include "sim/gsm_pdu.h"
#include "testsupport/listing.h"
#include "testsupport/module_fixture.h"

namespace tovalink {
namespace {

class SupplierTest : public ModuleFixture {
 protected:
  SupplierTest() {
    t.Run("INSERT INTO penjualanproduk (modem, idproduk, barcode, tanggal, jumlah, flag) VALUES"
          " ('M1', 'X5', '0812', '2026-03-02', 2, 1);"
          "INSERT INTO hostproduk VALUES ('X5', 'H', '5');");
  }

  void Host(const std::string& method, const std::string& format, const std::string& balance_method = "",
            const std::string& balance_format = "") {
    t.Run("INSERT INTO hostserver (idserver, metodetrx, formattrx, smscenter, metodeceksaldo,"
          " formatceksaldo, metodedep, formatdep, metodereg, formatreg) VALUES ('H', '" + method +
          "', '" + format + "', '0899', '" + balance_method + "', '" + balance_format +
          "', 'SMS', 'DEP.<NOMINAL>.<pin>', 'SMS', 'REG.<idoutlet>.<msisdn>.<rebate>.<pin>');");
  }

  Sale TheSale() {
    Sale sale;
    sale.idproduk = "X5";
    sale.barcode = "0812";
    sale.pin = "1234";
    sale.idx = 1;
    sale.nominal = "5000";
    sale.kind = SaleKind::HostServer();
    sale.jumlah = 2;
    return sale;
  }

  void RunHostFormat(const Sale& sale) { host->RunSale(module, InHand(sale)); }
  void CheckBalance() { tovalink::CheckBalance(module, *host, "H"); }

  std::unique_ptr<Channel> host = MakeHostFormatChannel("H");
};

TEST_F(SupplierTest, DialSaleIsLoggedAndSettledFromItsReply) {
  Host("DIAL", "*123*<KODE>*<hptujuan>*<pin>*<pin>#");
  t.Run("INSERT INTO settinggetsn (idproduk, tipepesan, awalmsisdn, awalsn, akhirsn, pesanproduk,"
        " pesansuksesgagal) VALUES ('X5', 'SUKSES', '', 'SN ', '', 'Isi 5', 'berhasil');");
  t.Run("UPDATE penjualanproduk SET jumlah=1;");
  port.On("ATD", "\r\n+CUSD: 0,\"Isi 5 berhasil SN 998877\"\r\n,15\r\n");
  db.StartStatementLog();
  Sale sale = TheSale();
  sale.jumlah = 1;
  RunHostFormat(sale);
  EXPECT_EQ(port.Written("ATD"), std::vector<std::string>{"ATD*123*5*0812*1234*<pin>#\r"});
  EXPECT_EQ(t.Dump("SELECT pengirim, pesan FROM logtrxsms"),
            "ATD*123*5*0812*1234*<pin>#| +CUSD: 0,Isi 5 berhasil SN 998877 ,15 ");
  EXPECT_EQ(t.Dump("SELECT status, sn, tglwaktuproses FROM penjualanproduk"),
            "SUKSES|998877 ,15|2026-03-02 09:30:00");
  EXPECT_EQ(db.TakeStatementLog()[0],
            "UPDATE penjualanproduk SET flag=1,tglwaktuproses='2026-03-02 09:30:00' WHERE idx=1");
  // A success skips the balance request and empties the balance box.
  EXPECT_EQ(port.Written("AT+CMGL=4").size(), 1u);
  EXPECT_EQ(form.Msaldo(), "");
}

TEST_F(SupplierTest, MacroSalePressesTheProductsKeysWithTheirPauses) {
  Host("MENUMACRO", "ignored");
  t.Run("INSERT INTO macroeditorc55 VALUES ('X5', '*~777~~hptujuan~spin~nominal#');");
  RunHostFormat(TheSale());
  EXPECT_EQ(port.Written("AT+CKPD"),
            (std::vector<std::string>{"AT+CKPD=\"*\";\r", "AT+CKPD=\"777\";\r",
                                      "AT+CKPD=\"0812\";\r", "AT+CKPD=\"s1234\";\r",
                                      "AT+CKPD=\"5000#\";\r"}));
  EXPECT_EQ(t.Dump("SELECT status, respond FROM penjualanproduk"), "PENDING|");
}

TEST_F(SupplierTest, CodeBorneFormatReplacesTheHostsFormat) {
  Host("SMS", "<kode>.<hptujuan>");
  t.Run("UPDATE hostproduk SET idprodukhost='~  BELI <tujuan> <JUMLAH> <pin> <hptujuan> <tujuan>  ';");
  RunHostFormat(TheSale());
  EXPECT_EQ(SubmittedTexts(), std::vector<std::string>{"BELI 0812 2 1234 <hptujuan> <tujuan>"});
}

TEST_F(SupplierTest, MethodsAreCaseSensitiveAndFailedSmsIsLogged) {
  Host("sms", "<kode>.<hptujuan>", "SMS", "SAL.<pin>");
  RunHostFormat(TheSale());
  EXPECT_EQ(SubmittedTexts(), std::vector<std::string>{"SAL.1234"});  // only the balance request
  EXPECT_EQ(t.Dump("SELECT status, respond FROM penjualanproduk"), "PENDING|");

  t.Run("UPDATE hostserver SET metodetrx='SMS';");
  port.On("00", "\r\nERROR\r\n");
  RunHostFormat(TheSale());
  EXPECT_EQ(t.Dump("SELECT tanggal, modul, pengirim, pesan FROM logtrxsms"),
            "2026-03-02|M1|0899|FAILED SENT");
}

TEST_F(SupplierTest, SaleTriedDuringStopLogsNoFailedSms) {
  // STOP came: the exchange sends nothing, which is not the supplier refusing the SMS.
  Host("SMS", "<kode>.<hptujuan>");
  form.StopRequested = true;
  RunHostFormat(TheSale());
  EXPECT_TRUE(port.Written().empty());
  EXPECT_EQ(t.Value("SELECT COUNT(*) FROM logtrxsms"), "0");
}

TEST_F(SupplierTest, RepliesAreSettledLoggedAndDeleted) {
  Host("SMS", "<kode>.<hptujuan>", "SMS", "SAL.<pin>");
  t.Run("INSERT INTO settinggetsn (idproduk, tipepesan, awalmsisdn, pesanproduk, pesansuksesgagal)"
        " VALUES ('X5', 'GAGAL', 'ke ', 'Isi 5', 'GAGAL');"
        "UPDATE penjualanproduk SET jumlah=1;");
  const std::string listing =
      PduListing(Numbered(DeliverPdus({{"0899", "GAGAL Isi 5 ke 0812"}, {"62962", "promo"}}), 3));
  port.On("AT+CMGL=4", ScriptedPort::Answer{listing, 0, 0, 0, 1});
  Sale sale = TheSale();
  sale.jumlah = 1;
  RunHostFormat(sale);
  EXPECT_EQ(t.Dump("SELECT status, respond FROM penjualanproduk"), "GAGAL|GAGAL Isi 5 ke 0812");
  EXPECT_EQ(t.Dump("SELECT pengirim, pesan FROM logtrxsms"), "0899|GAGAL Isi 5 ke 0812");
  EXPECT_EQ(port.Written("AT+CMGD="), (std::vector<std::string>{"AT+CMGD=3\r", "AT+CMGD=4\r"}));
  EXPECT_EQ(SubmittedTexts(), (std::vector<std::string>{"5.0812", "SAL.1234"}));  // a failure asks
}

TEST_F(SupplierTest, BalanceRequestsByCode) {
  Host("SMS", "", "DIAL", "*99*<pin>#");
  struct Case {
    const char* code;
    const char* parameters;
    std::vector<std::string> sms;
    std::vector<std::string> dials;
  };
  const Case cases[] = {
      {"1", "", {}, {"ATD*99*<pin>#\r"}},
      {"2", "OUT1~0812~", {"REG.OUT1.0812.<rebate>.1234"}, {}},
      {"3", "50000~", {"DEP.50000.1234"}, {}},
      // A missing parameter leaves its placeholder as written, letter case and all.
      {"3", "", {"DEP.<NOMINAL>.1234"}, {}},
      {"7", "x", {}, {}},
  };
  for (const Case& c : cases) {
    port.Clear();
    port.On("AT", "\r\nOK\r\n");
    port.On("AT+CMGS=", "\r\n> ");
    port.On("00", "\r\n+CMGS: 7\r\n\r\nOK\r\n");
    port.On("ATD", "\r\nSaldo 5\r\n,15\r\n");
    port.On("AT+CMGL=4", "\r\nLISTING\r\nOK\r\n");
    const size_t before = port.Written().size();
    t.Run(std::string("UPDATE modulaktif SET ceksaldo=") + c.code + ", lokasifile='" +
          c.parameters + "';");
    db.StartStatementLog();
    CheckBalance();
    const std::vector<std::string> log = db.TakeStatementLog();
    ASSERT_GE(log.size(), 3u) << c.code;
    EXPECT_EQ(log[2], "UPDATE modulaktif set ceksaldo=0 WHERE namamodul=\"M1\"");
    EXPECT_EQ(t.Value("SELECT ceksaldo FROM modulaktif"), "0");
    std::vector<std::string> sms, dials;
    const std::vector<std::string> written = port.Written();
    for (size_t i = before; i < written.size(); ++i) {
      std::string write = written[i];
      if (write.rfind("ATD", 0) == 0) dials.push_back(write);
      if (write.rfind("00", 0) == 0) {
        write.pop_back();
        sms.push_back(gsmpdu::DecodeSubmit(write).text);
      }
    }
    EXPECT_EQ(sms, c.sms) << c.code;
    EXPECT_EQ(dials, c.dials) << c.code;
    if (std::string(c.code) == "3") {
      EXPECT_EQ(form.Msaldo(), "\r\nLISTING\r\nOK\r\n");
    }
    if (std::string(c.code) == "7") {
      EXPECT_EQ(written.size(), before);
    }
  }
  EXPECT_EQ(t.Dump("SELECT pengirim, pesan FROM logtrxsms"), "ATD*99*<pin>#| Saldo 5 ,15 ");
}

}  // namespace
}  // namespace tovalink
