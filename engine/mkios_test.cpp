#include "engine/mkios.h"

#include <gtest/gtest.h>

#include <atomic>

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

TEST(StockTest, StockFromReplyReadsTheCountAfterK) {
  const struct {
    const char* reply;
    int count;
  } cases[] = {
      {"Trx V10 ke 0812 BERHASIL. SN:1. Sisa V10 k=95.", 95},
      {"Sisa K=7. ok", 7},
      {"K=5. k=6.", 6},  // "k=" is looked for first
      {"k=  12.", 12},   // leading blanks are allowed
      {"k=12 .", kMissingCount},
      {"k=12", kMissingCount},  // no point after it
      {"k=1.200.", 1},          // a thousands point ends the count
      {"k=ab.", kMissingCount},
      {"k=.", kMissingCount},
      {"k=99999999999.", kMissingCount},
      {"BERHASIL", kMissingCount},
  };
  for (const auto& c : cases) EXPECT_EQ(StockFromReply(c.reply), c.count) << c.reply;
}

class MkiosSaleTest : public ModuleFixture {
 protected:
  MkiosSaleTest() {
    t.Run(
        "INSERT INTO penjualanproduk (modem, idproduk, barcode, tanggal, jumlah, flag) VALUES"
        " ('M1', 'S10', '0812', '2026-03-02', 1, 1);"
        "INSERT INTO settinggetsn (idproduk, tipepesan, awalsn, akhirsn, pesansuksesgagal)"
        " VALUES ('S10', 'SUKSES', 'SN:', '.', 'BERHASIL');");
  }

  Sale SaleOf(const std::string& product_id, const std::string& nominal) {
    Sale sale;
    sale.idproduk = product_id;
    sale.barcode = "0812";
    sale.pin = "1234";
    sale.idx = 1;
    sale.nominal = nominal;
    sale.kind = channel->KindOf(product_id);
    return sale;
  }
  void RunMkios(const Sale& sale) { channel->RunSale(module, InHand(sale)); }
  std::string Dial(const std::string& text) {
    return "\r\n+CUSD: 0,\"" + text + "\"" + module.modem.dial_reply_end;
  }
  std::string Statements() {
    std::string joined;
    for (const std::string& statement : db.TakeStatementLog()) {
      if (statement.rfind("SELECT", 0) != 0) joined += statement + "\n";
    }
    return joined;
  }
  std::string Sold() {
    return t.Dump("SELECT flag, status, respond, sn_token FROM penjualanproduk");
  }

  std::unique_ptr<Channel> channel = MakeMkiosChannel();
};

TEST_F(MkiosSaleTest, DialCodeAndStockBoxFollowTheKindAndTheNominal) {
  const struct {
    const char* product;
    const char* nominal;
    const char* dial;
    const char* box;  // the box the count after "k=" goes to; "" for none
  } cases[] = {
      {"S20", "20", "ATD*777*0812*20*1234#", "S20"},
      {"s20", "20", "ATD*777*0812*20*1234#", ""},  // letter case matters: not kind "S"
      {"SID20", "20", "ATD*777*4*0812*20*1234#", ""},
      {"SID5", "5", "ATD*777*3*0812*5*1234#", "S5"},
      {"SID10", "10", "ATD*777*3*0812*10*1234#", "S10"},
      {"SID25", "25", "ATD*777*4*0812*25*1234#", "S25"},
      {"sid10", "10", "ATD*777*0812*10*1234#", "S10"},
      {"S15", "15", "ATD*777*0812*15*1234#", "S15"},
      {"S100", "100", "ATD*777*0812*100*1234#", "S100"},
      {"50", "50", "ATD*777*0812*50*1234#", "S50"},  // an id without letters: kind ""
      {"S30", "30", "ATD*777*0812*30*1234#", ""},
  };
  port.On("ATD*777*", Dial("Trx BERHASIL. SN:77. Sisa k=95."));
  for (const auto& c : cases) {
    t.Run(
        std::string("INSERT INTO settinggetsn (idproduk, tipepesan, pesansuksesgagal) VALUES ('") +
        c.product + "', 'SUKSES', 'BERHASIL');");
  }
  for (const auto& c : cases) {
    for (const std::string& box : kStockBoxes) form.SetStock(box, "-");
    RunMkios(SaleOf(c.product, c.nominal));
    EXPECT_EQ(port.Written().back(), std::string(c.dial) + "\r") << c.product;
    for (const std::string& box : kStockBoxes) {
      EXPECT_EQ(form.Stock(box), box == c.box ? "95" : "-") << c.product << " " << box;
    }
    EXPECT_EQ(t.Value("SELECT pengirim FROM logtrxsms ORDER BY idlog DESC LIMIT 1"), c.dial);
  }
  EXPECT_TRUE(port.Written("ATD*776*").empty());
}

TEST_F(MkiosSaleTest, SuccessPhraseSettlesWithTheSerialNumber) {
  UseModem("SIEMENS");
  form.cmethod = "DIAL";
  form.SetStock("S10", "35");
  std::vector<std::string> methods;
  form.SetObserver([&](const FormChange& change) {
    if (change.what == FormDisplay::Method) methods.push_back(change.text);
  });
  port.On("ATD*777*",
          "\r\n+CUSD: 0,\"Trx V10 ke 0812 BERHASIL. SN:5566. Sisa V10 k=34.\"\r\nOK\r\n");
  db.StartStatementLog();
  RunMkios(SaleOf("S10", "10"));
  EXPECT_EQ(port.Written("ATD"), std::vector<std::string>{"ATD*777*0812*10*1234#;\r"});
  const std::string reply = " +CUSD: 0,Trx V10 ke 0812 BERHASIL. SN:5566. Sisa V10 k=34. OK ";
  EXPECT_EQ(Statements(),
            "UPDATE penjualanproduk SET flag=1,tglwaktuproses='2026-03-02 09:30:00' WHERE idx=1\n"
            "INSERT INTO logtrxsms VALUES (\"\",\"2026-03-02\",\"09:30:00\",\"M1\",\""
            "ATD*777*0812*10*1234#\",\"" +
                reply +
                "\",1)\n"
                "UPDATE penjualanproduk SET respond=\"" +
                reply + "\",status=\"SUKSES\",sn_token=\"5566\" WHERE idx=1\n");
  EXPECT_EQ(form.Stock("S10"), "34");
  EXPECT_EQ(form.MethodBox(), "ALL_SIMPATI");
  EXPECT_EQ(methods, std::vector<std::string>{"ALL_SIMPATI"});
  EXPECT_EQ(form.Msaldo(), "");

  // Without a count (no "k=", or no point after it) the boxes stay; the sale succeeds alike.
  for (const char* text : {"BERHASIL SN:9. Sisa", "BERHASIL SN:9. Sisa k=33"}) {
    port.On("ATD*777*", Dial(text));
    RunMkios(SaleOf("S10", "10"));
    EXPECT_EQ(form.Stock("S10"), "34") << text;
    EXPECT_EQ(t.Dump("SELECT status, sn_token FROM penjualanproduk"), "SUKSES|9") << text;
  }
  EXPECT_EQ(methods.size(), 1u);  // the box shows the method already
  EXPECT_TRUE(port.Written("ATD*776*").empty());
}

TEST_F(MkiosSaleTest, UndecidedAnswerIsJudgedByTheStock) {
  const std::string reply = " +CUSD: 0,Trx V10 ke 0812 sedang diproses,15 ";
  const std::string kept = "UPDATE penjualanproduk SET respond=\"" + reply + "\" WHERE idx=1\n";
  const struct {
    const char* before;  // the box S10 before the sale
    const char* stock;   // the operator's stock reply
    const char* after;
    std::string last;  // the statement that settles the sale
  } cases[] = {
      {"120", "Stok simpati Anda V5=3, V10=119.", "119",
       "UPDATE penjualanproduk SET status=\"SUKSES\" WHERE idx=1\n"},
      {"120", "Stok simpati Anda V5=3, V10=120.", "120",
       "UPDATE penjualanproduk SET status=\"GAGAL\" WHERE idx=1\n"},
      // A count that was never read, or a stock reply that gives none, judges nothing.
      {"-", "Stok simpati Anda V5=3, V10=119.", "119",
       "UPDATE penjualanproduk SET respond=\"STOK S10 TIDAK DIKETAHUI:  +CUSD: 0,Stok simpati "
       "Anda V5=3, V10=119.,15  | " +
           reply + "\",status=\"PENDING\" WHERE idx=1\n"},
      {"120", "Stok simpati Anda V5=3, V10=.", "",
       "UPDATE penjualanproduk SET respond=\"STOK S10 TIDAK DIKETAHUI:  +CUSD: 0,Stok simpati "
       "Anda V5=3, V10=.,15  | " +
           reply + "\",status=\"PENDING\" WHERE idx=1\n"},
      // A stock reply that does not name the sale's vouchers leaves their box as it was: that
      // is no count after the sale, and a sale that went through must not be judged GAGAL.
      {"120", "Stok simpati Anda V5=3.", "120",
       "UPDATE penjualanproduk SET respond=\"STOK S10 TIDAK DIKETAHUI:  +CUSD: 0,Stok simpati "
       "Anda V5=3.,15  | " +
           reply + "\",status=\"PENDING\" WHERE idx=1\n"},
  };
  port.On("ATD*777*", Dial("Trx V10 ke 0812 sedang diproses"));
  for (const auto& c : cases) {
    form.SetStock("S10", c.before);
    port.On("ATD*776*", Dial(c.stock));
    db.StartStatementLog();
    RunMkios(SaleOf("S10", "10"));
    EXPECT_EQ(port.Written().back(), "ATD*776*1234#\r");
    EXPECT_EQ(form.Stock("S10"), c.after) << c.stock;
    EXPECT_EQ(form.Stock("S5"), "3");
    // The answer is kept before the stock is asked for; no serial number on this path.
    const std::string statements = Statements();
    EXPECT_EQ(statements.substr(statements.size() - kept.size() - c.last.size()), kept + c.last)
        << c.before << " " << c.stock;
    EXPECT_EQ(t.Value("SELECT sn_token FROM penjualanproduk"), "");
    // The stock's reply is the balance text.
    EXPECT_EQ(form.Msaldo(), " +CUSD: 0," + std::string(c.stock) + ",15 ");
  }
  EXPECT_EQ(port.Written("ATD*776*").size(), 5u);
}

TEST_F(MkiosSaleTest, BusyStockAnswerIsAskedAgainAfterTwoSeconds) {
  form.SetStock("S10", "120");
  port.On("ATD*777*", Dial("Trx V10 ke 0812 sedang diproses"));
  port.On("ATD*776*", Dial("Stok simpati Anda V10=119."));
  port.On("ATD*776*", ScriptedPort::Answer{Dial("Maaf, sistem sedang sibuk"), 0, 0, 0, 1});
  std::vector<int64_t> asked;
  std::vector<std::string> progress;
  form.SetObserver([&](const FormChange& change) {
    // Panel 1 is written by SendAT on this thread as it sends; panel 0 counts the requests.
    if (change.what != FormDisplay::StatusPanel) return;
    if (change.index == 1 && change.text.rfind("ATD*776*", 0) == 0) asked.push_back(clock.NowMs());
    if (change.index == 0) progress.push_back(change.text);
  });
  RunMkios(SaleOf("S10", "10"));
  form.SetObserver({});
  ASSERT_EQ(asked.size(), 2u);
  EXPECT_GE(asked[1] - asked[0], 2000);
  EXPECT_LT(asked[1] - asked[0], 2500);
  EXPECT_EQ(progress, (std::vector<std::string>{"Cek Stok 1/8", "Cek Stok 2/8", ""}));
  EXPECT_EQ(t.Value("SELECT status FROM penjualanproduk"), "SUKSES");
}

TEST_F(MkiosSaleTest, StockNeverReadLeavesTheSalePendingWithWhatWasSeen) {
  form.SetStock("S10", "120");
  port.On("ATD*777*", Dial("Trx V10 ke 0812 sedang diproses"));
  port.On("ATD*776*", Dial("Maaf, sistem sedang sibuk"));
  const int64_t start = clock.NowMs();
  RunMkios(SaleOf("S10", "10"));
  EXPECT_EQ(port.Written("ATD*776*").size(), 8u);
  EXPECT_LT(clock.NowMs() - start, 8 * 2500);
  EXPECT_EQ(Sold(),
            "1|PENDING|STOK TIDAK TERBACA:  +CUSD: 0,Maaf, sistem sedang sibuk,15  |  +CUSD: "
            "0,Trx V10 ke 0812 sedang diproses,15 |");
  EXPECT_EQ(form.Stock("S10"), "120");
  EXPECT_EQ(form.Msaldo(), " +CUSD: 0,Maaf, sistem sedang sibuk,15 ");

  // A silent modem: every request waits out its time, and the sale ends all the same.
  port.Clear();
  port.On("ATD*777*", Dial("Trx V10 ke 0812 sedang diproses"));
  RunMkios(SaleOf("S10", "10"));
  EXPECT_EQ(port.Written("ATD*776*").size(), 16u);
  EXPECT_EQ(t.Value("SELECT status FROM penjualanproduk"), "PENDING");
  EXPECT_EQ(t.Value("SELECT respond FROM penjualanproduk").rfind("STOK TIDAK TERBACA:  | ", 0), 0u);
}

TEST_F(MkiosSaleTest, StopEndsTheStockRequestsAtOnce) {
  form.SetStock("S10", "120");
  port.On("ATD*777*", Dial("Trx V10 ke 0812 sedang diproses"));
  port.On("ATD*776*", Dial("Maaf, sistem sedang sibuk"));
  // STOP while the module still runs its sale: no further request, and the sale is left for
  // the operator.
  clock.After(5000, [this] { form.StopRequested = true; });
  RunMkios(SaleOf("S10", "10"));
  EXPECT_EQ(port.Written("ATD*776*").size(), 3u);
  EXPECT_EQ(t.Value("SELECT status FROM penjualanproduk"), "PENDING");

  // A module that is ending (STOP, AbortModule) writes nothing more.
  form.StopRequested = false;
  t.Run("UPDATE penjualanproduk SET status='', respond='';");
  std::atomic<bool> ending{false};
  module.end_requested = &ending;
  clock.After(5000, [&] { ending = true; });
  RunMkios(SaleOf("S10", "10"));
  module.end_requested = nullptr;
  EXPECT_EQ(port.Written("ATD*776*").size(), 6u);
  EXPECT_EQ(t.Dump("SELECT status, respond FROM penjualanproduk"),
            "| +CUSD: 0,Trx V10 ke 0812 sedang diproses,15 ");
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
  EXPECT_EQ(t.Dump("SELECT pengirim, pesan FROM logtrxsms"),
            "*776*|  Stok Anda V5=12, V10=3.  OK  ");
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
