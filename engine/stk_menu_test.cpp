// The SIM-toolkit walk over the simulated modem, with the M-TRONIK menu's options and the
// wallet's, and the item search.
#include "engine/stk_menu.h"

#include <gtest/gtest.h>

#include <functional>

#include "engine/mtronik.h"
#include "engine/sim_module_fixture.h"

namespace tovalink {
namespace {

TEST(FindStkItemTest, TakesTheNumberOfTheFirstLineHoldingTheName) {
  const std::string products =
      "\r\n+STGI: 0,\"Jenis Isi Ulang\"\r\n+STGI: 1,3,\"REGULER\",0\r\n+STGI: 2,3,\"SMS\",0\r\n"
      "+STGI: 3,3,\"GPRS\",0\r\n\r\nOK\r\n";
  const std::string nominals =
      "\r\n+STGI: 0,\"Pilih nominal\"\r\n+STGI: 1,3,\"15K\",0\r\n+STGI: 2,3,\"5K\",0\r\n"
      "+STGI: 3,3,\"25K\",0\r\n\r\nOK\r\n";
  struct Case {
    std::string reply;
    const char* name;
    const char* item;
  };
  const Case cases[] = {
      {"+STGI: 2,\"REGULER\",0", "reguler", "2"},
      {products, "SMS", "2"},
      {products, "gprs", "3"},
      {products, "INTERNET", ""},
      {products, "", ""},
      // The first line holding the name wins, "15K" before "5K".
      {nominals, "5k", "1"},
      {nominals, "25K", "3"},
      // A title holding the name gives its "0".
      {products, "Isi Ulang", "0"},
      {"+STGI:\t 12 ,1,\"Saldo\",0", "saldo", "12"},
      {"", "SMS", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FindStkItem(c.reply, c.name), c.item) << c.name << " in " << c.reply;
  }
}

// A sale of 10 (typed "10000") to 081234567801 through the M-TRONIK menu.
Sale MtronikSale() {
  Sale sale;
  sale.idproduk = "I10";
  sale.barcode = "081234567801";
  sale.pin = "1234";
  sale.idx = 1;
  sale.nominal = "10";
  sale.kind = SaleKind::Mtronik();
  return sale;
}
StkSaleWalk MtronikWalk() { return MtronikSaleWalk(MtronikSale()); }

// The wallet's "TRANSF PULSA" walk of an amount: 3 s, the main item by name, no sub-menu and
// no amount entry, the item "<amount>k", and its own commands after the choice.
StkSaleWalk WalletWalk(const std::string& amount) {
  StkSaleWalk walk;
  walk.timeout_seconds = 3;
  walk.main_item_name = "TRANSF PULSA";
  walk.destination = "081234567804";
  walk.destination_list_item = "1";
  walk.item_names = {amount + "k"};
  walk.item_test = ItemNumberTest::None;
  walk.after_choice = {{"AT+STGI=1\r", "OK\r\n"},  {"AT+STGR=1\r", "STIN"},
                       {"AT+STGI=3\r", "OK\r\n"},  {"AT+STGR=3,1\r", ">"},
                       {"1234\x1A", "STIN", StkReplyUse::Ignored, StkCrossing::PointOfNoReturn},
                       {"AT+STGI=1\r", "OK\r\n"},
                       {"AT+STGR=1\r", "+STIN: 9"}};
  return walk;
}

class StkWalkTest : public SimModuleFixture {
 protected:
  StkWalkTest() {
    t.Run(
        "INSERT INTO penjualanproduk (modem, idproduk, barcode, tanggal, flag) VALUES"
        " ('M1', 'I10', '081234567801', '2026-03-02', 1);");
  }

  int Refusals() const {
    int refused = 0;
    for (const std::string& event : ToolkitEvents()) refused += event.rfind("REFUSED", 0) == 0;
    return refused;
  }
};

TEST_F(StkWalkTest, MtronikWalkGoesThroughTheSubMenuToTheSessionsEnd) {
  Start(MtronikSim().dump());
  const StkWalkResult walk = WalkStkSale(*module, MtronikWalk(), InHand(MtronikSale()));
  EXPECT_EQ(walk.outcome, StkWalkOutcome::Completed);
  EXPECT_EQ(
      Written(),
      (std::vector<std::string>{
          "AT+CMGF=0\r",      "AT+WIND=15\r", "AT+STSF=1\r",     "AT+STIN?\r",  "AT+STGI=0\r",
          "AT+STGR=0,1,1\r",  "AT+STGI=6\r",  "AT+STGR=6,1,1\r", "AT+STGI=3\r", "AT+STGR=3,1\r",
          "081234567801\x1A", "AT+STGI=6\r",  "AT+STGR=6,1,6\r", "AT+STGI=3\r", "AT+STGR=3,1\r",
          "10000\x1A",        "AT+STGI=6\r",  "AT+STGR=6,1,1\r", "AT+STGI=3\r", "AT+STGR=3,1\r",
          "1234\x1A",         "AT+STGI=1\r",  "AT+STGR=1\r",     "AT+STIN?\r",  "AT+STGI=9\r"}));
  EXPECT_EQ(walk.screen,
            "~\r\n+STGI: 0,\"Isi REGULER Rp 10000 ke 081234567801 diproses\",1\r\n\r\nOK\r\n");
  EXPECT_EQ(walk.current_text, "\r\n+STGI: \"Mengirim permintaan\"\r\n\r\nOK\r\n\r\n+STIN: 99\r\n");
  EXPECT_EQ(Refusals(), 0);
  EXPECT_EQ(port->Lines("STK").back(), "ANNOUNCE|99|");
}

TEST_F(StkWalkTest, WalletWalkFindsItsMenuAndNominalByName) {
  Start(SourceFile("schema/dompet-scenario.json"));
  const StkWalkResult walk = WalkStkSale(*module, WalletWalk("25"), InHand(MtronikSale()));
  EXPECT_EQ(walk.outcome, StkWalkOutcome::Completed);
  EXPECT_EQ(
      Written(),
      (std::vector<std::string>{
          "AT+CMGF=0\r",     "AT+WIND=15\r",  "AT+STSF=1\r",     "AT+STIN?\r",       "AT+STGI=0\r",
          "AT+STGR=0,1,2\r", "AT+STGI=3\r",   "AT+STGR=3,1\r",   "081234567804\x1A", "AT+STGI=6\r",
          "AT+STGR=6,1,1\r", "AT+STGI=6\r",   "AT+STGR=6,1,5\r", "AT+STGI=1\r",      "AT+STGR=1\r",
          "AT+STGI=3\r",     "AT+STGR=3,1\r", "1234\x1A",        "AT+STGI=1\r",      "AT+STGR=1\r",
          "AT+STIN?\r",      "AT+STGI=9\r"}));
  EXPECT_EQ(Refusals(), 0);
  EXPECT_NE(walk.current_text.find("+STIN: 99"), std::string::npos);
  EXPECT_EQ(walk.screen, "");
}

TEST_F(StkWalkTest, MissingMenusEndTheSaleOrTheModule) {
  struct Case {
    std::string amount;
    const char* main_item;
    StkWalkOutcome outcome;
    const char* respond;
    std::vector<std::string> aborted;
    const char* last_written;
  };
  const Case cases[] = {
      // A SIM without the wallet's menu cannot sell at all.
      {"25",
       "TRANSFER KUOTA",
       StkWalkOutcome::MissingMainItem,
       "MENU TRANSFER KUOTA tidak ADA ",
       {"Tidak ada Menu TRANSFER KUOTA:5"},
       "AT+STGI=0\r"},
      // A nominal the menu does not offer leaves the sale to the operator.
      {"7", "TRANSF PULSA", StkWalkOutcome::MissingItem, "MENU 7k tidak ADA ", {}, "AT+CFUN=1;\r"},
  };
  for (const Case& c : cases) {
    t.Run("UPDATE penjualanproduk SET respond=NULL;");
    Start(SourceFile("schema/dompet-scenario.json"));
    StkSaleWalk options = WalletWalk(c.amount);
    options.main_item_name = c.main_item;
    const StkWalkResult walk = WalkStkSale(*module, options, InHand(MtronikSale()));
    EXPECT_EQ(walk.outcome, c.outcome) << c.respond;
    EXPECT_EQ(t.Dump("SELECT respond, status FROM penjualanproduk"), std::string(c.respond) + "|");
    EXPECT_EQ(aborted, c.aborted);
    EXPECT_EQ(Written().back(), c.last_written) << c.respond;
    EXPECT_EQ(Written().front(), "AT+CMGF=0\r");
    EXPECT_EQ(port->Written("AT+CMGF=0").size(), 1u) << "no second attempt";
  }
}

TEST_F(StkWalkTest, StepsRecoverAsTheToolkitAllows) {
  const std::vector<std::string> prepare = {"AT+CMGF=0\r", "AT+WIND=15\r", "AT+STSF=1\r"};
  auto with = [&](std::vector<std::string> tail) {
    std::vector<std::string> head = prepare;
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
  };
  struct Case {
    const char* what;
    const char* faults;  // the scenario's "commands"
    std::vector<std::string> head;
  };
  const Case cases[] = {
      {"the main menu is read once more",
       R"([{"exact": "AT+STGI=0", "reply": "\r\nERROR\r\n", "times": 1}])",
       with({"AT+STIN?\r", "AT+STGI=0\r", "AT+STGI=0\r", "AT+STGR=0,1,1\r", "AT+STGI=6\r"})},
      {"a menu unreadable twice restarts the toolkit",
       R"([{"exact": "AT+STGI=0", "reply": "\r\nERROR\r\n", "times": 2}])",
       with({"AT+STIN?\r", "AT+STGI=0\r", "AT+STGI=0\r", "AT+CFUN=1;\r", "AT+CMGF=0\r",
             "AT+WIND=15\r", "AT+STSF=1\r", "AT+STIN?\r", "AT+STGI=0\r", "AT+STGR=0,1,1\r"})},
      {"a refused main choice is made once more",
       R"([{"exact": "AT+STGR=0,1,1", "reply": "\r\nERROR\r\n", "times": 1}])",
       with({"AT+STIN?\r", "AT+STGI=0\r", "AT+STGR=0,1,1\r", "AT+STGI=0\r", "AT+STGR=0,1,1\r",
             "AT+STGI=6\r", "AT+STGR=6,1,1\r"})},
      {"a main choice refused twice fails the attempt without a restart",
       R"([{"exact": "AT+STGR=0,1,1", "reply": "\r\nERROR\r\n", "times": 2}])",
       with({"AT+STIN?\r", "AT+STGI=0\r", "AT+STGR=0,1,1\r", "AT+STGI=0\r", "AT+STGR=0,1,1\r",
             "AT+CMGF=0\r"})},
      {"a refused input starts the next attempt",
       R"([{"exact": "AT+STGI=3", "reply": "\r\nERROR\r\n", "times": 1}])",
       with({"AT+STIN?\r", "AT+STGI=0\r", "AT+STGR=0,1,1\r", "AT+STGI=6\r", "AT+STGR=6,1,1\r",
             "AT+STGI=3\r", "AT+CMGF=0\r"})},
      {"a refused sub-menu choice starts the next attempt",
       R"([{"exact": "AT+STGR=6,1,1", "reply": "\r\nERROR\r\n", "times": 1}])",
       with({"AT+STIN?\r", "AT+STGI=0\r", "AT+STGR=0,1,1\r", "AT+STGI=6\r", "AT+STGR=6,1,1\r",
             "AT+CMGF=0\r"})},
      {"replies after the choice are not tested",
       R"([{"exact": "AT+STGI=1", "reply": "\r\nERROR\r\n"},
           {"exact": "AT+STGR=6,1,1", "reply": "\r\nERROR\r\n", "times": 1}])",
       with({"AT+STIN?\r", "AT+STGI=0\r", "AT+STGR=0,1,1\r", "AT+STGI=6\r", "AT+STGR=6,1,1\r",
             "AT+CMGF=0\r"})},
  };
  for (const Case& c : cases) {
    nlohmann::json scenario = MtronikSim();
    scenario["commands"] = nlohmann::json::parse(c.faults);
    Start(scenario.dump());
    const StkWalkResult walk = WalkStkSale(*module, MtronikWalk(), InHand(MtronikSale()));
    EXPECT_EQ(walk.outcome, StkWalkOutcome::Completed) << c.what;
    std::vector<std::string> written = Written();
    ASSERT_GE(written.size(), c.head.size()) << c.what;
    written.resize(c.head.size());
    EXPECT_EQ(written, c.head) << c.what;
    EXPECT_EQ(port->Written("1234\x1A").size(), 1u) << c.what;
    EXPECT_TRUE(aborted.empty()) << c.what;
  }
}

TEST_F(StkWalkTest, RetriesAndRestartsTakeTheirOwnTimes) {
  // The main menu read again 500 ms after its error, with 4 s: a silent toolkit holds it
  // 4 to 5 s. The restart waits for the SIM's "+STIN: 0" (1 s here), then 2 s.
  nlohmann::json scenario = MtronikSim();
  scenario["commands"] = nlohmann::json::parse(R"([
      {"exact": "AT+STGI=0", "reply": "\r\nERROR\r\n", "times": 1},
      {"exact": "AT+STGI=0", "silent": true, "times": 1},
      {"exact": "AT+STGI=0", "reply": "\r\nERROR\r\n", "times": 2}])");
  Start(scenario.dump());
  EXPECT_EQ(WalkStkSale(*module, MtronikWalk(), InHand(MtronikSale())).outcome, StkWalkOutcome::Completed);
  const std::vector<int64_t> menus = WrittenAt("AT+STGI=0");
  const std::vector<int64_t> choices = WrittenAt("AT+STGR=0,1,1");
  const std::vector<int64_t> restarts = WrittenAt("AT+CFUN=1;");
  const std::vector<int64_t> prepares = WrittenAt("AT+CMGF=0");
  ASSERT_EQ(menus.size(), 5u);
  ASSERT_EQ(restarts.size(), 1u);
  ASSERT_EQ(prepares.size(), 3u);
  EXPECT_EQ(menus[1] - menus[0], 500);  // the error is taken at once, then the pause
  EXPECT_GE(choices[0] - menus[1], 4000);
  EXPECT_LE(choices[0] - menus[1], 5100);
  // The silent menu showed no "M-TRONIK", so the attempt chose item 1 without the sub-menu
  // and then met the sub-menu's list where it expected an input.
  EXPECT_EQ(restarts[0] - menus[3], 0);
  EXPECT_EQ(prepares[2] - restarts[0], 1000 + 2000);

  // The wallet's 3 s: a set-up command that gets no answer holds the walk 3 to 4 s.
  scenario = nlohmann::json::parse(SourceFile("schema/dompet-scenario.json"));
  scenario["commands"] = nlohmann::json::parse(R"([{"exact": "AT+WIND=15", "silent": true}])");
  Start(scenario.dump());
  EXPECT_EQ(WalkStkSale(*module, WalletWalk("25"), InHand(MtronikSale())).outcome, StkWalkOutcome::Completed);
  const int64_t held = WrittenAt("AT+STSF=1")[0] - WrittenAt("AT+WIND=15")[0];
  EXPECT_GE(held, 3000);
  EXPECT_LE(held, 4100);
}

TEST_F(StkWalkTest, FiveFailedAttemptsEndTheModule) {
  struct Case {
    int stin_errors;
    StkWalkOutcome outcome;
    std::vector<std::string> aborted;
  };
  const Case cases[] = {
      {4, StkWalkOutcome::Completed, {}},
      {5, StkWalkOutcome::ConnectionLost, {"Error Koneksi Modem:5"}},
  };
  for (const Case& c : cases) {
    nlohmann::json scenario = MtronikSim();
    scenario["stk"]["stin_errors"] = c.stin_errors;
    Start(scenario.dump());
    EXPECT_EQ(WalkStkSale(*module, MtronikWalk(), InHand(MtronikSale())).outcome, c.outcome) << c.stin_errors;
    EXPECT_EQ(port->Written("AT+CFUN=1;").size(), static_cast<size_t>(c.stin_errors));
    EXPECT_EQ(port->Written("AT+CMGF=0").size(), 5u);
    EXPECT_EQ(aborted, c.aborted);
  }
  // The last failure is the last word: nothing follows the fifth restart.
  EXPECT_EQ(Written().back(), "AT+CFUN=1;\r");
}

TEST_F(StkWalkTest, AModuleThatEndsStopsWalkingAndWritesNothing) {
  struct Case {
    const char* how;
    std::function<void()> end_module;
    size_t aborts;
    const char* status;  // what ending the module wrote: the walk itself writes nothing
  };
  const Case cases[] = {
      {"STOP", [this] { form.StopRequested = true; }, 0, "|1"},
      // AbortModule gives the sale its outcome: the PIN was never typed.
      {"a broken line", [this] { port->SetFailWrites(true); }, 1, "GAGAL|0"},
  };
  for (const Case& c : cases) {
    nlohmann::json scenario = MtronikSim();
    // Every item list refused: without the end the walk would make five attempts.
    scenario["commands"] =
        nlohmann::json::parse(R"([{"exact": "AT+STGI=6", "reply": "\r\nERROR\r\n"}])");
    Start(scenario.dump());
    clock.After(150, c.end_module);  // while the first attempt waits for the SIM
    EXPECT_EQ(WalkStkSale(*module, MtronikWalk(), InHand(MtronikSale())).outcome,
              StkWalkOutcome::Halted)
        << c.how;
    EXPECT_LE(port->Written("AT+CMGF=0").size(), 1u) << c.how;
    EXPECT_EQ(port->Written("AT+CFUN").size(), 0u) << c.how;
    EXPECT_EQ(t.Dump("SELECT status, respond IS NULL FROM penjualanproduk"), c.status) << c.how;
    EXPECT_EQ(aborted.size(), c.aborts) << c.how;
  }
}

}  // namespace
}  // namespace tovalink
