// The M-TRONIK channel in process: the module's sale through the simulated SIM's menu, the
// operator's SMS, the settlement and the balance walk, with exact dialogues and statements.
#include "engine/mtronik.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "engine/sim_module_fixture.h"

namespace tovalink {
namespace {

using nlohmann::json;

// The walk of a sale of 10 (typed "10000") to 081234567801, up to the session's end.
const std::vector<std::string> kSaleWalk = {
    "AT+CMGF=0\r",      "AT+WIND=15\r", "AT+STSF=1\r",     "AT+STIN?\r",  "AT+STGI=0\r",
    "AT+STGR=0,1,1\r",  "AT+STGI=6\r",  "AT+STGR=6,1,1\r", "AT+STGI=3\r", "AT+STGR=3,1\r",
    "081234567801\x1A", "AT+STGI=6\r",  "AT+STGR=6,1,6\r", "AT+STGI=3\r", "AT+STGR=3,1\r",
    "10000\x1A",        "AT+STGI=6\r",  "AT+STGR=6,1,1\r", "AT+STGI=3\r", "AT+STGR=3,1\r",
    "1234\x1A",         "AT+STGI=1\r",  "AT+STGR=1\r",     "AT+STIN?\r",  "AT+STGI=9\r"};

// The balance walk: M-TRONIK > Info > Saldo > Saldo Deposit > PIN, to the session's end.
const std::vector<std::string> kBalanceWalk = {
    "AT+CMGF=0\r",     "AT+WIND=15\r",    "AT+STSF=1\r",     "AT+STIN?\r",    "AT+STGI=0\r",
    "AT+STGR=0,1,1\r", "AT+STGI=6\r",     "AT+STGR=6,1,3\r", "AT+STGI=6\r",   "AT+STGR=6,1,1\r",
    "AT+STGI=6\r",     "AT+STGR=6,1,1\r", "AT+STGI=3\r",     "AT+STGR=3,1\r", "1234\x1A",
    "AT+STIN?\r",      "AT+STGI=9\r"};

std::vector<std::string> Joined(std::initializer_list<std::vector<std::string>> parts) {
  std::vector<std::string> all;
  for (const std::vector<std::string>& part : parts)
    all.insert(all.end(), part.begin(), part.end());
  return all;
}

class MtronikTest : public SimModuleFixture {
 protected:
  MtronikTest() {
    t.Run(
        "INSERT INTO penjualanproduk (modem, idproduk, barcode, tanggal, jumlah, flag) VALUES"
        " ('M1', 'I10', '081234567801', '2026-03-02', 1, 1);"
        "INSERT INTO settinggetsn (idproduk, tipepesan, awalmsisdn, awalsn, akhirsn,"
        " pesanproduk, pesansuksesgagal) VALUES"
        " ('I10', 'SUKSES', ' ke ', 'SN: ', '.', 'Isi REGULER', 'BERHASIL'),"
        " ('I10', 'GAGAL', ' ke ', '', '', 'Isi REGULER', 'GAGAL');");
    form.SetObserver([this](const FormChange& change) {
      if (change.what == FormDisplay::Msaldo) msaldo.push_back(change.text);
    });
  }

  Sale TheSale(const std::string& product = "I10", SaleKind kind = SaleKind::Mtronik()) {
    Sale sale;
    sale.idproduk = product;
    sale.barcode = "081234567801";
    sale.pin = "1234";
    sale.idx = 1;
    sale.nominal = "10";
    sale.kind = kind;
    sale.jumlah = 1;
    return sale;
  }

  void RunMtronik(const Sale& sale) { MakeMtronikChannel()->RunSale(*module, InHand(sale)); }

  // A SIM whose operator does not answer the sale.
  static json SilentOperatorSim() {
    json scenario = MtronikSim();
    scenario["stk"]["nodes"]["kirim"].erase("sms");
    return scenario;
  }

  std::vector<std::string> msaldo;  // every content the balance box was given, in order
};

TEST_F(MtronikTest, WavecomSaleIsSettledByTheOperatorsSmsWithoutABalanceWalk) {
  Start(MtronikSim().dump());
  db.StartStatementLog();
  RunMtronik(TheSale());
  EXPECT_EQ(Written(), Joined({kSaleWalk, {"AT+CMGF=0\r", "AT+CMGL=4\r", "AT+CMGD=1\r"}}));
  EXPECT_EQ(t.Dump("SELECT flag, status, sn, sn_token, respond, tglwaktuproses FROM"
                   " penjualanproduk"),
            "1|SUKSES|100000000001|100000000001|Isi REGULER 10000 ke 081234567801 BERHASIL. SN: "
            "100000000001.|2026-03-02 09:30:00");
  EXPECT_EQ(t.Dump("SELECT modul, pengirim, pesan FROM logtrxsms"),
            "M1|M-Tronik|Isi REGULER 10000 ke 081234567801 BERHASIL. SN: 100000000001.");
  const std::vector<std::string> log = db.TakeStatementLog();
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.front(),
            "UPDATE penjualanproduk SET flag=1,tglwaktuproses='2026-03-02 09:30:00'  WHERE idx=1");
  EXPECT_EQ(log.back(),
            "UPDATE penjualanproduk SET status=\"SUKSES\",sn=\"100000000001\",respond=\"Isi "
            "REGULER 10000 ke 081234567801 BERHASIL. SN: 100000000001.\",sn_token=\"100000000001\" "
            "WHERE idx=1");
  EXPECT_EQ(msaldo.back(), "Tidak CekSaldo");
  EXPECT_TRUE(aborted.empty());
}

TEST_F(MtronikTest, TheMenuItemFollowsTheKindAndTheProduct) {
  struct Case {
    std::string product;
    SaleKind kind;
    std::vector<std::string> items;  // of the SIM's last list
    const char* chosen;              // the toolkit's choice there, "" for none
    const char* amount;              // typed as the amount
    const char* respond;             // NULL: the sale went on to its reading
  };
  const Case cases[] = {
      {"I10", SaleKind::Mtronik(), {"REGULER", "SMS", "GPRS"}, "1|REGULER", "10000", nullptr},
      {"I10S", SaleKind::Mtronik(), {"REGULER", "SMS", "GPRS"}, "2|SMS", "10000", nullptr},
      {"I10G", SaleKind::Mtronik(), {"REGULER", "INTERNET"}, "2|INTERNET", "10000", nullptr},
      {"I10", SaleKind::Mtronik(), {"SMS", "REGULAR"}, "2|REGULAR", "10000", nullptr},
      {"I10", SaleKind::Mtronik(), {"SMS", "GPRS"}, "", "10000", "MENU REGULAR tidak ADA "},
      {"I10G", SaleKind::Mtronik(), {"REGULER"}, "", "10000", "MENU INTERNET tidak ADA "},
      // A kind other than "M", "I" and "O" names no item any menu holds, and types no amount.
      {"X10", SaleKind::Wallet(), {"REGULER", "SMS", "GPRS"}, "", "", "MENU xxxxxxxx tidak ADA "},
  };
  for (const Case& c : cases) {
    t.Run("UPDATE penjualanproduk SET status='', respond=NULL;");
    json scenario = SilentOperatorSim();
    scenario["stk"]["nodes"]["nominal"]["min"] = 0;
    json items = json::array();
    for (const std::string& label : c.items) items.push_back({{"label", label}, {"next", "pin"}});
    scenario["stk"]["nodes"]["produk"]["items"] = items;
    Start(scenario.dump(), "OTHER");
    RunMtronik(TheSale(c.product, c.kind));
    const std::string what = c.product + " " + c.kind.text();
    std::vector<std::string> chosen, typed;
    for (const std::string& event : port->Lines("STK")) {
      if (event.rfind("SELECT|produk|", 0) == 0) chosen.push_back(event.substr(14));
      if (event.rfind("INPUT|nominal|", 0) == 0) typed.push_back(event.substr(14));
    }
    EXPECT_EQ(chosen, std::string(c.chosen).empty() ? std::vector<std::string>{}
                                                    : std::vector<std::string>{c.chosen})
        << what;
    EXPECT_EQ(typed, std::vector<std::string>{c.amount}) << what;
    if (c.respond != nullptr) {
      // The sale is left for the operator: the toolkit restarted, no reading, no status.
      EXPECT_EQ(t.Dump("SELECT status, respond FROM penjualanproduk"), std::string("|") + c.respond)
          << what;
      EXPECT_EQ(Written().back(), "AT+CFUN=1;\r") << what;
      EXPECT_EQ(port->Written("AT+CMGF=0").size(), 1u) << what;
    } else {
      EXPECT_EQ(t.Value("SELECT status FROM penjualanproduk"), "PENDING") << what;
    }
    EXPECT_TRUE(aborted.empty()) << what;
  }
}

TEST_F(MtronikTest, AMainMenuWithoutMtronikLeadsStraightIntoItsFirstItem) {
  json scenario = MtronikSim();
  scenario["stk"]["menu"] = json::parse(
      R"({"title": "Kartu", "items": [{"label": "Isi Pulsa", "next": "tujuan"}, "Info"]})");
  Start(scenario.dump());
  RunMtronik(TheSale());
  const std::vector<std::string> written = Written();
  ASSERT_GE(written.size(), 8u);
  EXPECT_EQ(
      std::vector<std::string>(written.begin() + 4, written.begin() + 8),
      (std::vector<std::string>{"AT+STGI=0\r", "AT+STGR=0,1,1\r", "AT+STGI=3\r", "AT+STGR=3,1\r"}));
  EXPECT_EQ(t.Value("SELECT status FROM penjualanproduk"), "SUKSES");
}

TEST_F(MtronikTest, NoReplyLeavesTheScreenAsPendingRespondAndAsksTheBalanceOnWavecom) {
  const char* screen =
      "~ 0,Isi REGULER Rp 10000 ke 081234567801 diproses,1OK Mengirim permintaanOK+STIN: 99";
  struct Case {
    const char* modem;
    std::vector<std::string> after_reading;
    const char* balance_box;
  };
  const Case cases[] = {
      {"WAVECOM", Joined({kBalanceWalk, {"AT+CMGF=0\r", "AT+CMGL=4\r", "AT+CMGD=1\r"}}),
       "Saldo deposit Rp 1.240.000"},
      {"OTHER", {}, "Tidak CekSaldo"},
  };
  for (const Case& c : cases) {
    t.Run("UPDATE penjualanproduk SET status='', respond=NULL; DELETE FROM logtrxsms;");
    msaldo.clear();
    Start(SilentOperatorSim().dump(), c.modem);
    db.StartStatementLog();
    RunMtronik(TheSale());
    const std::vector<std::string> log = db.TakeStatementLog();
    EXPECT_NE(std::find(log.begin(), log.end(),
                        std::string("UPDATE penjualanproduk SET respond=\"") + screen +
                            "\",status=\"PENDING\" WHERE idx=1"),
              log.end())
        << c.modem;
    EXPECT_EQ(t.Dump("SELECT status, respond FROM penjualanproduk"),
              std::string("PENDING|") + screen);
    EXPECT_EQ(Written(), Joined({kSaleWalk, {"AT+CMGF=0\r", "AT+CMGL=4\r"}, c.after_reading}))
        << c.modem;
    EXPECT_EQ(msaldo, (std::vector<std::string>{"", c.balance_box})) << c.modem;
    // The balance answer is logged, and settles nothing.
    EXPECT_EQ(t.Value("SELECT COUNT(*) FROM logtrxsms"), c.after_reading.empty() ? "0" : "1");
    EXPECT_TRUE(aborted.empty()) << c.modem;
  }
}

TEST_F(MtronikTest, TheFirstSettlementOfTheSaleInHandCountsAndAFailureAsksTheBalance) {
  t.Run(
      "INSERT INTO penjualanproduk (modem, idproduk, barcode, tanggal, jumlah, flag, status)"
      " VALUES ('M2', 'I10', '081299990000', '2026-03-02', 1, 1, 'PENDING');");
  json scenario = SilentOperatorSim();
  scenario["messages"] = json::parse(R"([
      {"store": "ME", "from": "M-Tronik", "text": "Isi REGULER 10000 ke 081299990000 BERHASIL. SN: 55."},
      {"store": "ME", "from": "M-Tronik", "text": "Isi REGULER 10000 ke 081234567801 GAGAL"},
      {"store": "ME", "from": "62962", "text": "Promo hari ini"}])");
  Start(scenario.dump());
  db.StartStatementLog();
  RunMtronik(TheSale());
  EXPECT_EQ(t.Dump("SELECT idx, status, sn, respond FROM penjualanproduk ORDER BY idx"),
            "1|GAGAL||Isi REGULER 10000 ke 081234567801 GAGAL\n"
            "2|SUKSES|55|Isi REGULER 10000 ke 081299990000 BERHASIL. SN: 55.");
  for (const std::string& statement : db.TakeStatementLog()) {
    EXPECT_EQ(statement.find("PENDING\" WHERE"), std::string::npos) << statement;
  }
  // The operator's notice is deleted unread; a failure asks for the balance.
  EXPECT_EQ(t.Value("SELECT COUNT(*) FROM logtrxsms WHERE pengirim='62962'"), "0");
  const std::vector<std::string> written = Written();
  const std::vector<std::string> reading = {"AT+CMGF=0\r", "AT+CMGL=4\r", "AT+CMGD=1\r",
                                            "AT+CMGD=2\r", "AT+CMGD=3\r"};
  ASSERT_GT(written.size(), kSaleWalk.size() + reading.size());
  EXPECT_EQ(std::vector<std::string>(written.begin() + kSaleWalk.size(),
                                     written.begin() + kSaleWalk.size() + reading.size()),
            reading);
  EXPECT_EQ(port->Written("AT+STGR=6,1,3").size(), 1u);
  EXPECT_EQ(msaldo.back(), "Saldo deposit Rp 1.240.000");
}

TEST_F(MtronikTest, SiemensModemKeysTheMacroAndAsksNoBalance) {
  t.Run("INSERT INTO macroeditorc55 VALUES ('I10', 'hptujuan~~pin');");
  Start(MtronikSim().dump(), "SIEMENS");
  RunMtronik(TheSale());
  EXPECT_EQ(Written(),
            (std::vector<std::string>{"AT+CKPD=\"081234567801\";\r", "AT+CKPD=\"1234\";\r",
                                      "AT+CMGF=0\r", "AT+CMGL=4\r"}));
  // 500 ms a key, then 500 ms after each piece, the empty one too; each "OK" is taken at once.
  const std::vector<int64_t> keys = WrittenAt("AT+CKPD");
  ASSERT_EQ(keys.size(), 2u);
  EXPECT_EQ(keys[1] - keys[0], 12 * 500 + 500 + 500);
  EXPECT_EQ(WrittenAt("AT+CMGF=0")[0] - keys[1], 4 * 500 + 500);
  EXPECT_EQ(t.Dump("SELECT status, respond FROM penjualanproduk"), "PENDING|");
  EXPECT_EQ(msaldo, (std::vector<std::string>{"", "Tidak CekSaldo"}));
}

TEST_F(MtronikTest, AToolkitIndicationInTheListingIsReadAndShown) {
  json scenario = MtronikSim();
  scenario["commands"] =
      json::parse(R"([{"exact": "AT+CMGL=4", "reply": "\r\n+STIN: 1\r\n\r\nOK\r\n", "times": 1}])");
  Start(scenario.dump(), "SIEMENS");
  RunMtronik(TheSale());
  EXPECT_EQ(Written(), (std::vector<std::string>{"AT+CMGF=0\r", "AT+CMGL=4\r", "AT+STGI=1\r"}));
  // No session is open, so the toolkit refuses; what it said is shown all the same.
  EXPECT_EQ(msaldo, (std::vector<std::string>{"\r\nERROR\r\n", "", "Tidak CekSaldo"}));
}

// Five failed attempts never typed the PIN: the sale was never sent and may be sold again. A
// balance walk that fails leaves the sale as its reading left it.
TEST_F(MtronikTest, ConnectionLostEndsTheModuleWithTheSalesOutcome) {
  struct Case {
    const char* what;
    const char* stk;       // merged into the scenario's "stk"
    const char* commands;  // the scenario's "commands"
    const char* status;
    const char* panel;
  };
  const Case cases[] = {
      {"the toolkit refuses AT+STIN? five times", R"({"stin_errors": 5})", "[]", "GAGAL", ""},
      {"the balance walk fails three times", "{}",
       R"([{"exact": "AT+STGR=6,1,3", "reply": "\r\nERROR\r\n"}])", "PENDING",
       "Gangguan koneksi, Harap program diulangi"},
  };
  for (const Case& c : cases) {
    t.Run("UPDATE penjualanproduk SET status='', respond=NULL;");
    json scenario = SilentOperatorSim();
    scenario["stk"].update(json::parse(c.stk));
    scenario["commands"] = json::parse(c.commands);
    Start(scenario.dump());
    form.SetStatusPanel(0, "");
    RunMtronik(TheSale());
    EXPECT_EQ(aborted, std::vector<std::string>{"Error Koneksi Modem:5"}) << c.what;
    EXPECT_EQ(t.Value("SELECT status FROM penjualanproduk"), c.status) << c.what;
    EXPECT_EQ(t.Value("SELECT flag FROM penjualanproduk"), "1") << c.what;
    EXPECT_EQ(form.StatusPanel(0), c.panel) << c.what;
  }
  // Each failed balance attempt still polls the toolkit: the list left pending there holds it
  // for all ten passes.
  EXPECT_EQ(port->Written("AT+STIN?").size(), 2u + 3 * (1 + 10));
  EXPECT_EQ(Written().back(), "AT+STGI=6\r");
}

TEST_F(MtronikTest, AStopWhileWaitingForTheReplyWritesNothingMore) {
  form.etunggu = "20";
  Start(SilentOperatorSim().dump());
  // The walk takes under 10 s; the wait for the reply runs to 20 s after it.
  clock.After(15000, [this] { form.StopRequested = true; });
  RunMtronik(TheSale());
  EXPECT_EQ(Written(), Joined({kSaleWalk, {"AT+CMGF=0\r"}}));
  EXPECT_EQ(t.Dump("SELECT flag, status, respond IS NULL FROM penjualanproduk"), "1||1");
  EXPECT_TRUE(msaldo.empty());
}

}  // namespace
}  // namespace tovalink
