#include "engine/mkios.h"

#include <gtest/gtest.h>

#include "testsupport/module_fixture.h"

namespace tovalink {
namespace {

TEST(StockTest, NthFieldSplitsAtCommasAndPoints) {
  EXPECT_EQ(NthField("a,b.c", 0), "a");
  EXPECT_EQ(NthField("a,b.c", 2), "c");
  EXPECT_EQ(NthField("a,b.c", 3), "");
  EXPECT_EQ(NthField("a,,b", 1), "");
}

TEST(StockTest, ParseStockFillsTheNamedBoxes) {
  Form form;
  form.SetStock("S15", "7");
  EXPECT_TRUE(ParseStock(form, "Stok simpati Anda V5=120, V10=35, V20=0."));
  EXPECT_EQ(form.Stock("S5"), "120");
  EXPECT_EQ(form.Stock("S10"), "35");
  EXPECT_EQ(form.Stock("S20"), "0");
  EXPECT_EQ(form.Stock("S15"), "7");  // not named: left as it was
  EXPECT_EQ(form.Stock("S100"), "-");
  EXPECT_TRUE(ParseStock(form, "Stock Anda V50=1 2,V100=,X=4"));
  EXPECT_EQ(form.Stock("S50"), "12");
  EXPECT_EQ(form.Stock("S100"), "");
  EXPECT_FALSE(ParseStock(form, "stok V5=1"));  // letter case matters
  EXPECT_EQ(form.Stock("S5"), "120");
}

class StockAtStartTest : public ModuleFixture {
 protected:
  StockAtStartTest() {
    clock.SetLocal(2026, 3, 2, 9, 0, 0);
    UseModem("SIEMENS");
    form.ProviderType = "MKIOS";
    form.ctipeprov = "MKIOS";
    form.epin = "4321";
  }

  // Runs the worker's start and first cycle; the stop at `stop_at_ms` ends it.
  void RunWorker(int64_t stop_at_ms) { ModuleFixture::RunWorker(stop_at_ms, MakeMkiosChannel()); }
};

TEST_F(StockAtStartTest, StockIsReadAndLogged) {
  port.On("ATD*776*", ScriptedPort::Answer{"\r\nSisa saldo\r\nOK\r\n", 0, 0, 0, 1});
  port.On("ATD*776*", ScriptedPort::Answer{"\r\nStok Anda V5=12, V10=3.\r\nOK\r\n", 0, 0, 0, 0});
  port.On("ATD*776*", ScriptedPort::Answer{"\r\nSisa saldo\r\nOK\r\n", 0, 0, 0, 1});
  RunWorker(60000);
  EXPECT_TRUE(aborted.empty());
  EXPECT_EQ(form.Stock("S5"), "12");
  EXPECT_EQ(t.Dump("SELECT pengirim, pesan FROM logtrxsms"), "*776*|  Stok Anda V5=12, V10=3.  OK  ");
  EXPECT_EQ(port.Written("ATD*776*4321#;\r").size(), 2u);
}

TEST_F(StockAtStartTest, NoStockReplyInEightAttemptsEndsTheModule) {
  port.On("ATD*776*", "\r\nSisa saldo\r\nOK\r\n");
  RunWorker(600000);
  EXPECT_EQ(aborted, std::vector<std::string>{"Error Cek Stok !"});
  EXPECT_EQ(port.Written("ATD*776*").size(), 8u);
  EXPECT_EQ(t.Value("SELECT COUNT(*) FROM logtrxsms"), "1");
}

TEST_F(StockAtStartTest, CdmaPhoneReadsNoStock) {
  UseModem("NOKCDMA_6235");
  port.On("AT+CMGL=", "\r\nOK\r\n");
  RunWorker(5000);
  for (const std::string& write : port.Written()) EXPECT_NE(write.rfind("ATD", 0), 0u) << write;
}

}  // namespace
}  // namespace tovalink
