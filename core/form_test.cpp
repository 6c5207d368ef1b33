#include "core/form.h"

#include <gtest/gtest.h>

namespace tovalink {
namespace {

TEST(FormTest, DisplaysNotifyTheObserver) {
  Form form;
  std::vector<FormChange> changes;
  form.SetObserver([&](const FormChange& change) { changes.push_back(change); });
  form.SetMsaldo("port=4");
  form.AddMsaldoLine("hasil=OK");
  form.SetStatusPanel(1, "AT\r");
  form.AppendMemo1("RLSDCHANGE");
  form.SetStock("S5", "12");
  EXPECT_EQ(form.Msaldo(), "port=4\r\nhasil=OK");
  EXPECT_EQ(form.StatusPanel(1), "AT\r");
  EXPECT_EQ(form.Memo1(), "RLSDCHANGE\r\n");
  EXPECT_EQ(form.Stock("S5"), "12");
  EXPECT_EQ(form.Stock("S10"), "-");
  ASSERT_EQ(changes.size(), 5u);
  EXPECT_EQ(changes[1].text, "port=4\r\nhasil=OK");
  EXPECT_EQ(changes[4].name, "S5");
  EXPECT_TRUE(form.StopRequested);
}

TEST(FormTest, MethodBoxReportsOnlyChanges) {
  Form form;
  form.cmethod = "DIAL";
  std::vector<std::string> shown;
  form.SetObserver([&](const FormChange& change) {
    if (change.what == FormDisplay::Method) shown.push_back(change.text);
  });
  form.SetMethodBox("ALL_SIMPATI");
  form.SetMethodBox("ALL_SIMPATI");
  EXPECT_EQ(form.cmethod, "ALL_SIMPATI");
  EXPECT_EQ(form.MethodBox(), "ALL_SIMPATI");
  EXPECT_EQ(shown, std::vector<std::string>{"ALL_SIMPATI"});
}

}  // namespace
}  // namespace tovalink
