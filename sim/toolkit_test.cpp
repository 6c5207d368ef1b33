#include "sim/toolkit.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

#include "sim/exchange_fixture.h"
#include "sim/fake_sim_io.h"
#include "sim/simulator.h"

namespace tovalink::sim {
namespace {

// A small selling tree: main menu -> list -> destination -> product -> PIN -> text shown ->
// the SMS the SIM sends, answered by the operator.
const char kSellingSim[] = R"json({"echo": false, "stk": {
  "menu": {"title": "Telkomsel", "items": [{"label": "M-TRONIK", "next": "mtronik"}, "Info"]},
  "nodes": {
    "mtronik": {"select": "M-TRONIK", "items": [{"label": "Isi Pulsa", "next": "tujuan"}]},
    "tujuan": {"input": "No Tujuan", "name": "destination", "digits": true, "min": 4,
               "max": 14, "next": "produk"},
    "produk": {"select": "Jenis", "name": "product", "items": [
        {"label": "15K", "next": "pin"}, {"id": 7, "label": "5K", "next": "pin"}]},
    "pin": {"input": "PIN", "name": "pin", "hidden": true, "next": {
        "display": "Isi {product} ke {destination}", "next": "kirim"}},
    "kirim": {"send_sms": "Mengirim", "after_ms": 1000, "sms": {"from": "M-Tronik",
        "text": "{product} ke {destination} SUKSES SN:{serial} pin {pin}", "delay_ms": 3000}}}}})json";

struct ToolkitTest : testing::Test {
  void Start(const std::string& json) {
    simulator = std::make_unique<Simulator>(ParseScenario(json), io);
    simulator->Start();
  }
  // Feeds bytes; returns what was answered at once.
  std::string Ask(const std::string& bytes) {
    io.Take();
    simulator->Feed(bytes);
    return io.Take();
  }
  // Lets `ms` pass; returns what came meanwhile.
  std::string Wait(int64_t ms) {
    io.Take();
    io.Advance(ms);
    return io.Take();
  }
  // The STK lines' first two fields, in order.
  std::vector<std::string> Events() const {
    std::vector<std::string> events;
    for (const auto& [kind, fields] : io.lines) {
      if (kind == "STK") events.push_back(fields[0] + (fields.size() > 1 ? " " + fields[1] : ""));
    }
    return events;
  }
  FakeSimIo io;
  std::unique_ptr<Simulator> simulator;
};

TEST_F(ToolkitTest, CarriesASaleFromTheMainMenuToTheOperatorsSms) {
  Start(kSellingSim);
  EXPECT_EQ(Ask("AT+STIN?\r"), "\r\n+STIN: 0\r\n\r\nOK\r\n");
  EXPECT_EQ(Ask("AT+STGI=0\r"),
            "\r\n+STGI: \"Telkomsel\"\r\n+STGI: 1,2,\"M-TRONIK\",0\r\n+STGI: 2,2,\"Info\",0\r\n"
            "\r\nOK\r\n");
  EXPECT_EQ(Ask("AT+STGR=0,1,1\r"), "\r\nOK\r\n");
  EXPECT_EQ(Wait(199), "");
  EXPECT_EQ(Wait(1), "\r\n+STIN: 6\r\n");
  EXPECT_EQ(Ask("AT+STGI=6\r"),
            "\r\n+STGI: 0,\"M-TRONIK\"\r\n+STGI: 1,1,\"Isi Pulsa\",0\r\n\r\nOK\r\n");
  EXPECT_EQ(Ask("AT+STGR=6,1,1\r"), "\r\nOK\r\n");
  EXPECT_EQ(Wait(200), "\r\n+STIN: 3\r\n");
  EXPECT_EQ(Ask("AT+STGI=3\r"), "\r\n+STGI: 0,1,4,14,0,\"No Tujuan\"\r\n\r\nOK\r\n");
  EXPECT_EQ(Ask("AT+STGR=3,1\r"), "\r\n> ");
  // The text and its Ctrl-Z come without a CR, as the module types them.
  EXPECT_EQ(Ask("081234567890\x1A"), "\r\nOK\r\n");
  EXPECT_EQ(Wait(200), "\r\n+STIN: 6\r\n");
  EXPECT_EQ(Ask("AT+STGR=6,1,7\r"), "\r\nOK\r\n");
  EXPECT_EQ(Wait(200), "\r\n+STIN: 3\r\n");
  EXPECT_EQ(Ask("AT+STGI=3\r"), "\r\n+STGI: 1,0,1,20,0,\"PIN\"\r\n\r\nOK\r\n");
  Ask("AT+STGR=3,1\r");
  EXPECT_EQ(Ask("1234\x1A"), "\r\nOK\r\n");
  EXPECT_EQ(Wait(200), "\r\n+STIN: 1\r\n");
  EXPECT_EQ(Ask("AT+STGI=1\r"), "\r\n+STGI: 0,\"Isi 5K ke 081234567890\",1\r\n\r\nOK\r\n");
  EXPECT_EQ(Ask("AT+STGR=1\r"), "\r\nOK\r\n");
  EXPECT_EQ(Wait(200), "\r\n+STIN: 9\r\n");
  EXPECT_EQ(Ask("AT+STIN?\r"), "\r\n+STIN: 9\r\n\r\nOK\r\n");
  EXPECT_EQ(Ask("AT+STGI=9\r"), "\r\n+STGI: \"Mengirim\"\r\n\r\nOK\r\n");
  EXPECT_EQ(Wait(1000), "");                  // the session ends once the SIM has sent its SMS ...
  EXPECT_EQ(Wait(200), "\r\n+STIN: 99\r\n");  // ... announced like any command
  EXPECT_EQ(Ask("AT+STIN?\r"), "\r\n+STIN: 99\r\n\r\nOK\r\n");
  EXPECT_EQ(Ask("AT+STGI=9\r"), "\r\nERROR\r\n");
  EXPECT_EQ(Wait(1800), "\r\n+CMTI: \"SM\",1\r\n");  // 3000 ms after "+STIN: 9"
  EXPECT_EQ(simulator->Store("SM").at(1).sender, "M-Tronik");
  EXPECT_EQ(simulator->Store("SM").at(1).text,
            "5K ke 081234567890 SUKSES SN:100000000001 pin 1234");

  EXPECT_EQ(Events(),
            (std::vector<std::string>{
                "STIN? 0",          "STGI 0",         "SELECT menu",        "ANNOUNCE 6",
                "STGI 6",           "SELECT mtronik", "ANNOUNCE 3",         "STGI 3",
                "PROMPT tujuan",    "INPUT tujuan",   "ANNOUNCE 6",         "SELECT produk",
                "ANNOUNCE 3",       "STGI 3",         "PROMPT pin",         "INPUT pin",
                "ANNOUNCE 1",       "STGI 1",         "DISPLAYED pin/next", "ANNOUNCE 9",
                "STIN? 9",          "STGI 9",         "ANNOUNCE 99",        "STIN? 99",
                "REFUSED AT+STGI=9"}));
  EXPECT_EQ(io.Lines("RX")[7], "081234567890\x1A");
}

TEST_F(ToolkitTest, ItemLinesGiveTheModuleTheItemNumberBeforeTheirFirstComma) {
  Start(kSellingSim);
  const std::string menu = Ask("AT+STGI=0\r");
  EXPECT_EQ(ItemNumber(menu, "m-tronik"), "1");
  EXPECT_EQ(ItemNumber(menu, "REGULER"), "");
  Ask("AT+STGR=0,1,1\r");
  Wait(200);
  Ask("AT+STGR=6,1,1\r");
  Wait(200);
  Ask("AT+STGR=3,1\r");
  Ask("0812345\x1A");
  Wait(200);
  const std::string products = Ask("AT+STGI=6\r");
  EXPECT_EQ(ItemNumber(products, "5k"), "1");     // "15K" stands first and holds "5K" too
  EXPECT_EQ(ItemNumber(products, "Jenis"), "0");  // a title holding the name gives 0
}

TEST_F(ToolkitTest, CommandsThatDoNotFitThePendingOneGetError) {
  Start(kSellingSim);
  struct Case {
    const char* command;
    const char* why;
  };
  // At the main menu, nothing of a session is pending.
  for (const Case& c : {Case{"AT+STGI=6\r", "no proactive command pending"},
                        Case{"AT+STGR=6,1,1\r", "no proactive command pending"},
                        Case{"AT+STGR=1\r", "no proactive command pending"},
                        Case{"AT+STGR=0,1,3\r", "no such main-menu item"},
                        Case{"AT+STGR=0,2,1\r", "no such main-menu item"},
                        Case{"AT+STGI=x\r", "no proactive command pending"}}) {
    EXPECT_EQ(Ask(c.command), "\r\nERROR\r\n") << c.command;
    EXPECT_EQ(io.lines.back().second.at(2), c.why) << c.command;
  }
  Ask("AT+STGR=0,1,1\r");
  Wait(200);
  // A list is pending.
  for (const char* command :
       {"AT+STGI=3\r", "AT+STGR=3,1\r", "AT+STGR=6,1,2\r", "AT+STGR=6,1\r", "AT+STGR=9\r"}) {
    EXPECT_EQ(Ask(command), "\r\nERROR\r\n") << command;
  }
  Ask("AT+STGR=6,1,1\r");
  Wait(200);
  // An input for digits, 4 to 14 of them: a refused text leaves the input pending.
  for (const char* typed : {"081x234\x1A", "081\x1A", "081234567890123\x1A"}) {
    EXPECT_EQ(Ask("AT+STGR=3,1\r"), "\r\n> ");
    EXPECT_EQ(Ask(typed), "\r\nERROR\r\n") << typed;
  }
  EXPECT_EQ(Ask("AT+STGR=3,1\r"), "\r\n> ");
  EXPECT_EQ(Ask("0812\x1B"), "\r\nOK\r\n");  // Esc abandons the typing
  EXPECT_NE(Ask("AT+STGI=3\r").find("No Tujuan"), std::string::npos);
  // A new choice from the main menu leaves the session behind.
  EXPECT_EQ(Ask("AT+STGR=0,1,2\r"), "\r\nOK\r\n");
  EXPECT_EQ(Wait(200), "\r\n+STIN: 99\r\n");
}

TEST_F(ToolkitTest, FaultsStallOrRefuseUntilTheToolkitIsRestarted) {
  Start(R"json({"echo": false, "stk": {"stin_errors": 2, "restart_delay_ms": 800,
      "menu": {"items": [{"label": "A", "next": "list"}]},
      "nodes": {"list": {"select": "L", "hang": 1, "items": ["x"]}}}})json");
  EXPECT_EQ(Ask("AT+STIN?\r"), "\r\nERROR\r\n");
  EXPECT_EQ(Ask("AT+STIN?\r"), "\r\nERROR\r\n");
  EXPECT_EQ(Ask("AT+STIN?\r"), "\r\n+STIN: 0\r\n\r\nOK\r\n");
  // The first arrival at "list" stalls: the choice is taken, nothing follows.
  EXPECT_EQ(Ask("AT+STGR=0,1,1\r"), "\r\nOK\r\n");
  EXPECT_EQ(Wait(10000), "");
  for (const char* command : {"AT+STIN?\r", "AT+STGI=6\r", "AT+STGI=0\r", "AT+STGR=0,1,1\r"}) {
    EXPECT_EQ(Ask(command), "") << command;
  }
  EXPECT_EQ(Ask("AT\r"), "\r\nOK\r\n");  // the modem itself still answers
  // The module's restart: "AT+CFUN=1;" awaiting "STIN: 0". Until then the SIM is not ready.
  EXPECT_EQ(Ask("AT+CFUN=1;\r"), "\r\nOK\r\n");
  EXPECT_EQ(Ask("AT+STIN?\r"), "\r\nERROR\r\n");
  EXPECT_EQ(Wait(800), "\r\n+STIN: 0\r\n");
  EXPECT_EQ(Ask("AT+STGR=0,1,1\r"), "\r\nOK\r\n");
  EXPECT_EQ(Wait(200), "\r\n+STIN: 6\r\n");  // the second arrival goes through
  // A restart drops what the abandoned session still had on its way.
  Ask("AT+STGR=6,1,1\r");
  Ask("AT+CFUN=1\r");
  EXPECT_EQ(Wait(1000), "\r\n+STIN: 0\r\n");
  EXPECT_EQ(Events(), (std::vector<std::string>{
                          "REFUSED AT+STIN?", "REFUSED AT+STIN?", "STIN? 0", "SELECT menu",
                          "HANG list", "STALLED AT+STIN?", "STALLED AT+STGI=6", "STALLED AT+STGI=0",
                          "STALLED AT+STGR=0,1,1", "RESTART", "REFUSED AT+STIN?", "ANNOUNCE 0",
                          "SELECT menu", "ANNOUNCE 6", "SELECT list", "RESTART", "ANNOUNCE 0"}));
}

TEST_F(ToolkitTest, WithoutAToolkitTheCommandsGetError) {
  Start(R"json({"echo": false})json");
  for (const char* command : {"AT+STIN?\r", "AT+STGI=0\r", "AT+STGR=0,1,1\r"}) {
    EXPECT_EQ(Ask(command), "\r\nERROR\r\n") << command;
  }
  EXPECT_EQ(Ask("AT+CFUN=1;\r"), "\r\nOK\r\n");
  EXPECT_EQ(Wait(5000), "");  // no toolkit, no "+STIN: 0"
}

TEST(ToolkitScenario, MistakesInTheTreeAreNamed) {
  auto message = [](const std::string& stk) {
    try {
      ParseScenario(R"json({"stk": )json" + stk + "}");
    } catch (const std::runtime_error& error) {
      return std::string(error.what());
    }
    return std::string("accepted");
  };
  EXPECT_EQ(message(R"json({"menu": {"items": []}})json"), "stk: menu needs a list of \"items\"");
  EXPECT_EQ(message(R"json({"menu": {"items": [{"label": "A", "next": "b"}]}})json"),
            "stk: menu item \"A\" leads to the unknown node \"b\"");
  EXPECT_EQ(message(R"json({"menu": {"items": ["A", {"id": 1, "label": "B"}]}})json"),
            "stk: menu has item id 1 twice");
  EXPECT_EQ(message(R"json({"menu": {"items": [{"label": "A", "next": {"display": "x",
      "input": "y"}}]}})json"),
            "stk: node \"menu/A\" needs exactly one of \"select\", \"input\", "
            "\"display\", \"send_sms\"");
  EXPECT_EQ(message(R"json({"menu": {"items": ["A"]}, "nodes": {"n": {"select": "S"}}})json"),
            "stk: node \"n\" needs a list of \"items\"");
}

}  // namespace
}  // namespace tovalink::sim
