// The reply-rule dialog under the offscreen platform (the QApplication of window_test.cpp), on
// a real database: from a wording no rule settles to its INSERT on the clipboard, writing
// nothing, and the tray menu's entry that opens it.
#include "app/rule_dialog.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QTest>

#include "app/main_window.h"
#include "app/module_control.h"
#include "core/app_end.h"
#include "core/form.h"
#include "modem/serial_port.h"
#include "testsupport/process.h"
#include "testsupport/test_database.h"

namespace tovalink {
namespace {

const char* const kReply = "Isi Pulsa 10000 ke 081234567811 BERHASIL. SN: 100000000001.";

class RuleDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    clock_.SetLocal(2026, 1, 5, 12, 0, 0);
    t_.Run(
        std::string("INSERT INTO penjualanproduk (idx, idproduk, barcode, tanggal, status) VALUES "
                    "(3, 'M10', '081234567811', '2026-01-05', 'PENDING');"
                    "INSERT INTO logtrxsms VALUES ('', '2026-01-05', '09:00:00', 'M1', '0899', '") +
        kReply + "', 1);");
  }
  template <typename Widget>
  Widget* Find(const char* name) {
    auto* widget = dialog_.findChild<Widget*>(name);
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }
  // Clicks a button and waits for the reading it starts.
  void Click(const char* name) {
    QTest::mouseClick(Find<QPushButton>(name), Qt::LeftButton);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !dialog_.Busy(); }, 20000)) << name;
  }
  std::string Checksums() {
    return t_.Dump("CHECKSUM TABLE penjualanproduk, logtrxsms, settinggetsn");
  }
  TestDatabase t_;
  VirtualClock clock_;
  TRuleDialog dialog_{t_.db(), clock_};
};

TEST_F(RuleDialogTest, FromAWordingWithoutARuleToItsInsertOnTheClipboard) {
  const std::string before = Checksums();
  Click("show");
  auto* groups = Find<QListWidget>("groups");
  ASSERT_EQ(groups->count(), 1);
  EXPECT_EQ(groups->item(0)->text(), "1 x Isi Pulsa # ke # BERHASIL. SN: #.");
  EXPECT_TRUE(
      Find<QPlainTextEdit>("unmatched")
          ->toPlainText()
          .startsWith("Replies logged 2026-01-05: 1; settled by the rules or a channel: 0;"));

  groups->setCurrentRow(0);
  EXPECT_EQ(Find<QLineEdit>("reply")->text(), kReply);
  EXPECT_EQ(Find<QLineEdit>("idx")->text(), "3");
  EXPECT_FALSE(Find<QPushButton>("copy")->isEnabled());

  Click("propose");
  const QString insert =
      "INSERT INTO settinggetsn (idproduk, tipepesan, awalmsisdn, awalsn, akhirsn, pesanproduk, "
      "pesansuksesgagal, katajumlah) VALUES ('M10', 'SUKSES', ' ke ', 'SN: ', '.', 'Pulsa', "
      "'BERHASIL', '');";
  EXPECT_TRUE(Find<QPlainTextEdit>("proposal")->toPlainText().contains("\n" + insert + "\n"));
  ASSERT_TRUE(Find<QPushButton>("copy")->isEnabled());
  EXPECT_EQ(Checksums(), before);

  QTest::mouseClick(Find<QPushButton>("copy"), Qt::LeftButton);
  EXPECT_EQ(QGuiApplication::clipboard()->text(), insert);
  EXPECT_EQ(Find<QLabel>("note")->text(), "The INSERT is on the clipboard; nothing was written.");
  EXPECT_EQ(Checksums(), before);
}

TEST_F(RuleDialogTest, ARefusalOrAConflictSaysSoAndOffersNoReadyStatement) {
  Find<QLineEdit>("reply")->setText(kReply);
  Find<QLineEdit>("idx")->setText("x");
  Click("propose");
  EXPECT_EQ(Find<QLabel>("note")->text(), "Give the idx of the sale that the reply answers.");

  Find<QLineEdit>("idx")->setText("99");
  Click("propose");
  EXPECT_EQ(Find<QLabel>("note")->text(), "No rule proposed.");
  EXPECT_FALSE(Find<QPushButton>("copy")->isEnabled());

  // The wording says success; a failure forced on it is shadowed once the success rule exists.
  t_.Run(
      "INSERT INTO settinggetsn (idproduk, tipepesan, awalmsisdn, awalsn, akhirsn, pesanproduk, "
      "pesansuksesgagal, katajumlah) VALUES ('M10', 'SUKSES', ' ke ', 'SN: ', '.', 'Pulsa', "
      "'BERHASIL', '')");
  Find<QLineEdit>("idx")->setText("3");
  Find<QComboBox>("outcome")->setCurrentText("GAGAL");
  Click("propose");
  EXPECT_EQ(Find<QLabel>("note")->text(), "Not ready: see the conflicts.");
  QTest::mouseClick(Find<QPushButton>("copy"), Qt::LeftButton);
  EXPECT_TRUE(QGuiApplication::clipboard()->text().startsWith("-- Not ready"));
}

TEST(RuleDialogMenuTest, TheTrayMenuOpensOneDialog) {
  TestDatabase t;
  Form form;
  VirtualClock clock;
  TermiosPort port;
  RecordingEnd end;
  TempFolder work;
  ModuleControl control(form, t.db(), clock, port, end, work.path());
  TFRMain window(form, t.db(), control);
  QAction* entry = nullptr;
  for (QAction* action : window.PopupMenu1()->actions()) {
    if (action->text() == "Reply rules...") entry = action;
  }
  ASSERT_NE(entry, nullptr);
  entry->trigger();
  entry->trigger();
  const QList<TRuleDialog*> dialogs = window.findChildren<TRuleDialog*>();
  ASSERT_EQ(dialogs.size(), 1);
  EXPECT_TRUE(dialogs.front()->isVisible());
  EXPECT_FALSE(end.Ended());
}

}  // namespace
}  // namespace tovalink
