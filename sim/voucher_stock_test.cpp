#include "sim/voucher_stock.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

#include "sim/fake_sim_io.h"
#include "sim/simulator.h"

namespace tovalink::sim {
namespace {

struct VoucherStockTest : testing::Test {
  void Start(const std::string& json) {
    simulator = std::make_unique<Simulator>(ParseScenario(json), io);
    simulator->Start();
  }
  // Dials and returns the operator's answer, which comes after the stock's delay; `ack` is
  // what comes at once.
  std::string Dial(const std::string& command, int64_t delay_ms = 1000,
                   const std::string& ack = "") {
    io.Take();
    simulator->Feed(command);
    EXPECT_EQ(io.Take(), ack) << command;
    io.Advance(delay_ms);
    return io.Take();
  }
  int Count(int denomination) const { return simulator->Stock().Counts().at(denomination); }
  FakeSimIo io;
  std::unique_ptr<Simulator> simulator;
};

TEST_F(VoucherStockTest, SalesGoThroughOrNotAsTheOutcomesSay) {
  Start(R"json({"echo": false, "stock": {"vouchers": {"V10": 35, "V5": 7},
      "outcomes": ["silent", "failed"]}})json");
  struct Case {
    const char* command;
    const char* answer;
    int v10_after;
  };
  const Case cases[] = {
      // Goes through without saying so: one voucher less.
      {"ATD*777*0812*10*1234#\r", "Trx V10 ke 0812 sedang diproses", 34},
      // Fails: the stock stays.
      {"ATD*777*3*0813*10*1234#;\r", "Trx V10 ke 0813 GAGAL, silakan ulangi", 34},
      // Then every sale succeeds, with a serial number and the new count after "k=".
      {"ATD*777*4*0814*10*1234#\r", "Trx V10 ke 0814 BERHASIL. SN:100000000001. Sisa V10 k=33.",
       33},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Dial(c.command), std::string("\r\n+CUSD: 0,\"") + c.answer + "\",15\r\n")
        << c.command;
    EXPECT_EQ(Count(10), c.v10_after) << c.command;
  }
  EXPECT_EQ(Dial("ATD*776*1234#\r"), "\r\n+CUSD: 0,\"Stok simpati Anda V5=7, V10=33.\",15\r\n");
  EXPECT_EQ(io.Lines("STOCK"),
            (std::vector<std::string>{
                "SALE|-|0812|V10|silent, 34 left", "SALE|3|0813|V10|failed, 34 left",
                "SALE|4|0814|V10|success, 33 left", "ASK|read|V5=7, V10=33"}));
  EXPECT_EQ(io.Lines("DIAL").front(), "*777*0812*10*1234#");
}

TEST_F(VoucherStockTest, RefusedSalesChangeNothingAndTakeNoOutcome) {
  Start(R"json({"echo": false, "dial_reply_end": "\r\n\r\nOK\r\n", "stock": {"pin": "1234",
      "vouchers": {"V10": 3, "V20": 0}, "outcomes": ["failed"], "ack": "\r\nOK\r\n",
      "delay_ms": 200, "texts": {"unknown": "Denom {nominal} salah"}}})json");
  struct Case {
    const char* command;
    const char* answer;
  };
  const Case cases[] = {
      {"ATD*777*0812*10*9999#\r", "Maaf, PIN yang Anda masukkan salah"},
      {"ATD*777*0812*15*1234#\r", "Denom 15 salah"},
      {"ATD*777*0812*20*1234#\r", "Maaf, voucher V20 Anda habis"},
      {"ATD*777*0812*10#\r", "Maaf, format yang Anda masukkan salah"},
      {"ATD*777*5*0812*10*1234#\r", "Maaf, format yang Anda masukkan salah"},
      {"ATD*776*9999#\r", "Maaf, PIN yang Anda masukkan salah"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Dial(c.command, 200, "\r\nOK\r\n"),
              std::string("\r\n+CUSD: 0,\"") + c.answer + "\"\r\n\r\nOK\r\n")
        << c.command;
  }
  EXPECT_EQ(Count(10), 3);
  EXPECT_EQ(Count(20), 0);
  // The one outcome is still there for the first sale that can go through.
  Dial("ATD*777*0812*10*1234#\r", 200, "\r\nOK\r\n");
  EXPECT_EQ(Count(10), 3);
  Dial("ATD*777*0812*10*1234#\r", 200, "\r\nOK\r\n");
  EXPECT_EQ(Count(10), 2);
  // Codes that are not the stock's are not taken.
  io.Take();
  simulator->Feed("ATD*778*1#\r");
  EXPECT_EQ(io.Take(), "\r\nERROR\r\n");
}

TEST_F(VoucherStockTest, StockRequestsMayFindTheOperatorBusy) {
  Start(R"json({"echo": false, "stock": {"busy": 2, "thousands": ".",
      "vouchers": {"V100": 2, "V5": 1200, "V25": 1234567}}})json");
  const std::string busy =
      "\r\n+CUSD: 0,\"Maaf, sistem sedang sibuk. Silakan coba beberapa saat "
      "lagi\",15\r\n";
  EXPECT_EQ(Dial("ATD*776*1#\r"), busy);
  EXPECT_EQ(Dial("AT+CUSD=1,*776*1#\r"), busy);
  EXPECT_EQ(Dial("ATD*776*1#\r"),
            "\r\n+CUSD: 0,\"Stok simpati Anda V5=1.200, V25=1.234.567, V100=2.\",15\r\n");
}

TEST(StockScenario, MistakesAreNamed) {
  auto message = [](const std::string& stock) {
    try {
      ParseScenario(R"json({"stock": )json" + stock + "}");
    } catch (const std::runtime_error& error) {
      return std::string(error.what());
    }
    return std::string("accepted");
  };
  EXPECT_EQ(message(R"json({"vouchers": {"V30": 1}})json"),
            "stock: unknown voucher \"V30\" (V5, V10, V15, V20, V25, V50 or V100)");
  EXPECT_EQ(message(R"json({"vouchers": {"V5": -1}})json"),
            "stock: the count of \"V5\" is below 0");
  EXPECT_EQ(message(R"json({"outcomes": ["maybe"]})json"),
            "stock: unknown outcome \"maybe\" (success, silent or failed)");
  EXPECT_EQ(message(R"json({"texts": {"hello": "x"}})json"), "stock: unknown text \"hello\"");
}

}  // namespace
}  // namespace tovalink::sim
