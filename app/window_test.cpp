// The operator window under the offscreen platform, on a real database: what start-up puts on
// screen, the operator's edits, the buttons and the icon's menu, and the worker's changes
// arriving on the user-interface thread.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QThread>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "app/UTrayIcon.h"
#include "app/icons/app_icon.h"
#include "app/main_window.h"
#include "app/module_control.h"
#include "app/startup.h"
#include "core/app_end.h"
#include "core/clock.h"
#include "core/form.h"
#include "modem/scripted_port.h"
#include "modem/serial_port.h"
#include "testsupport/process.h"
#include "testsupport/test_database.h"

namespace tovalink {
namespace {

// One QApplication for the whole binary, made when the tests run (not when ctest lists them).
class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    application_ = std::make_unique<QApplication>(argc_, argv_);
    SetUpApplication();
  }
  void TearDown() override { application_.reset(); }

 private:
  int argc_ = 1;
  char name_[12] = "window_test";
  char* argv_[2] = {name_, nullptr};
  std::unique_ptr<QApplication> application_;
};

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

QStringList Items(const QComboBox* box) {
  QStringList items;
  for (int i = 0; i < box->count(); ++i) items << box->itemText(i);
  return items;
}

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = std::filesystem::temp_directory_path() /
              ("tovalink_window_" + std::to_string(getpid()) + "_" + t.Name());
    std::filesystem::create_directories(folder_ / "ports");
    // No port is linked there: opening any port fails.
    setenv("TOVALINK_PORT_DIR", (folder_ / "ports").c_str(), 1);
    t.Run("INSERT INTO hostserver (idserver) VALUES ('HS2'), ('HS1');"
          "INSERT INTO modulaktif (namamodul, comm, autoretur, handshake, tipemodem, caradial,"
          " metodetrx, pin, waktutunggu, statrun, autorun) VALUES"
          " ('M1', '7', '9600', '1', 'SIEMENS', 'MKIOS', 'DIAL', '1234', '30', 1, 1),"
          " ('A0', '3', '115200', '2', 'WAVECOM', 'HS1', '', '9', '20', 1, 1);");
    std::ofstream file(folder_ / kSettingsFileName, std::ios::binary);
    file << "ipserver=localhost\r\ndbname=" << MaskSetting(t.Name())
         << "\r\nuser=" << MaskSetting("root") << "\r\npass=\r\n";
    file.close();
    // Protected as it should be, so that start-up has no warning to show.
    std::filesystem::permissions(
        folder_ / kSettingsFileName,
        std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  }
  void TearDown() override {
    window_.reset();
    unsetenv("TOVALINK_PORT_DIR");
    std::filesystem::remove_all(folder_);
  }

  StartupOutcome Open(const std::string& start_argument) {
    window_ = std::make_unique<TFRMain>(form_, db_, control_);
    return OpenOperatorWindow(*window_, form_, db_, folder_.string(), start_argument);
  }
  template <typename Widget>
  Widget* Find(const char* name) {
    auto* widget = window_->findChild<Widget*>(name);
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }
  bool Shown(const char* name) { return Find<QWidget>(name)->isVisibleTo(window_.get()); }
  std::string Row(const std::string& name) {
    return t.Dump("SELECT lokasifile, statrun, autorun FROM modulaktif WHERE namamodul='" + name +
                  "'");
  }
  QStringList MessageBoxTexts() {
    QStringList texts;
    for (const QMessageBox* box : window_->findChildren<QMessageBox*>()) texts << box->text();
    return texts;
  }

  TestDatabase t;
  std::filesystem::path folder_;
  Form form_;
  Database db_;
  VirtualClock clock_;
  TermiosPort port_;
  RecordingEnd end_;
  TempFolder work_;  // the module's working folder: its sale journal
  ModuleControl control_{form_, db_, clock_, port_, end_, work_.path()};
  std::unique_ptr<TFRMain> window_;
};

TEST_F(WindowTest, StartUpFillsTheWindow) {
  ASSERT_EQ(Open("namamodul=M1#comm=9"), StartupOutcome::Idle);
  EXPECT_EQ(QApplication::applicationName(), "Tovalink");
  EXPECT_EQ(window_->windowTitle(), "Tovalin 3.2");
  EXPECT_EQ(window_->size(), QSize(672, 245));
  EXPECT_EQ(window_->minimumSize(), window_->maximumSize());
  EXPECT_FALSE(window_->windowFlags() & Qt::WindowCloseButtonHint);
  EXPECT_FALSE(window_->windowIcon().isNull());

  const auto* csumber = Find<QComboBox>("csumber");
  EXPECT_EQ(csumber->currentText(), "M1");
  EXPECT_EQ(Items(csumber), QStringList({"A0", "M1"}));
  const auto* cport = Find<QComboBox>("cport");
  EXPECT_EQ(cport->currentText(), "9");
  ASSERT_EQ(cport->count(), 100);
  EXPECT_EQ(cport->itemText(0), "1");
  EXPECT_EQ(cport->itemText(99), "100");
  EXPECT_EQ(Find<QComboBox>("chands")->currentText(), "2");
  EXPECT_EQ(Items(Find<QComboBox>("chands")), QStringList({"2", "1", "0"}));
  EXPECT_EQ(Find<QComboBox>("cbaud")->currentText(), "115200");
  EXPECT_EQ(Items(Find<QComboBox>("cbaud")), QStringList({"9600", "115200"}));
  EXPECT_EQ(Find<QComboBox>("cmodem")->currentText(), "WAVECOM");
  EXPECT_EQ(Items(Find<QComboBox>("cmodem")), QStringList({"WAVECOM", "SIEMENS", "NOKCDMA_6235"}));
  EXPECT_EQ(Find<QComboBox>("cmethod")->count(), 0);
  EXPECT_EQ(Find<QComboBox>("ctipeprov")->currentText(), "DOMPET");
  EXPECT_EQ(Items(Find<QComboBox>("ctipeprov")),
            QStringList({"DOMPET", "MKIOS", "MTRONIK", "HS1", "HS2"}));
  EXPECT_EQ(Find<QLineEdit>("epin")->text(), "");
  EXPECT_EQ(Find<QLineEdit>("etunggu")->text(), "20");

  QStringList labels;
  for (const QLabel* label : Find<QGroupBox>("gsetmodem")->findChildren<QLabel*>()) {
    labels << label->text();
  }
  EXPECT_EQ(labels, QStringList({"Nama", "Password", "ComPort", "Handshake", "Baudrate", "Modem",
                                 "Metode", "Tipe"}));
  EXPECT_EQ(Find<QGroupBox>("gsetmodem")->title(), "Set Modem");
  EXPECT_EQ(Find<QGroupBox>("gmk")->title(), "Stok Mkios");
  for (const char* name : {"START", "STOP", "HIDE"}) {
    EXPECT_EQ(Find<QPushButton>(name)->text(), name);
    EXPECT_TRUE(Find<QPushButton>(name)->isEnabled()) << name;
  }
  EXPECT_EQ(Find<QCheckBox>("cslow")->text(), "Slow Debug");
  EXPECT_FALSE(Find<QCheckBox>("cslow")->isChecked());
  EXPECT_TRUE(Shown("msaldo"));
  EXPECT_FALSE(Shown("etunggu"));
  EXPECT_FALSE(Shown("Memo1"));
  EXPECT_FALSE(Shown("gmk"));
  EXPECT_EQ(Find<QLabel>("Panel0")->width(), 120);
  EXPECT_EQ(Find<QLabel>("Panel1")->width(), 200);
  EXPECT_EQ(Find<QLabel>("Panel2")->width(), 50);

  // Ticking "Slow Debug" drives the form's flag.
  QTest::mouseClick(Find<QCheckBox>("cslow"), Qt::LeftButton);
  EXPECT_TRUE(form_.cslow);
}

TEST_F(WindowTest, StoredMkiosModuleShowsItsStockAndStartsAtOnce) {
  // Three pieces: M1's row replaces the command line's port, and START runs at once. Its port
  // cannot be opened, so the module ends on the fatal error, recorded in every row of COM 7.
  ASSERT_EQ(Open("namamodul=M1#comm=9#pin=1"), StartupOutcome::StartModule);
  EXPECT_EQ(Find<QComboBox>("cport")->currentText(), "7");
  EXPECT_EQ(Find<QComboBox>("cmodem")->currentText(), "SIEMENS");
  EXPECT_EQ(Find<QComboBox>("ctipeprov")->currentText(), "MKIOS");
  EXPECT_EQ(Find<QComboBox>("cmethod")->currentText(), "DIAL");
  EXPECT_EQ(Find<QLineEdit>("epin")->text(), "1234");
  EXPECT_EQ(Find<QLineEdit>("etunggu")->text(), "30");
  EXPECT_TRUE(Shown("gmk"));
  for (const std::string& box : kStockBoxes) {
    const auto* stock = Find<QLineEdit>(box.c_str());
    EXPECT_EQ(stock->text(), "-") << box;
    EXPECT_TRUE(stock->isReadOnly()) << box;
  }
  EXPECT_TRUE(end_.Ended());
  EXPECT_EQ(end_.Status(), kExitAborted);
  EXPECT_EQ(Row("M1"), "Error Access com 7|0|2");
  EXPECT_EQ(Row("A0"), "|1|1");
  EXPECT_TRUE(MessageBoxTexts().contains("Error Access com 7"));
  EXPECT_FALSE(Find<QGroupBox>("gsetmodem")->isEnabled());
  EXPECT_FALSE(window_->TimerModul().isActive());
}

TEST_F(WindowTest, TypingInNamaLoadsTheModuleAtEveryKeystroke) {
  db_.StartStatementLog();
  ASSERT_EQ(Open("namamodul=m1#comm=9"), StartupOutcome::Idle);
  // The command line's name is not the operator's change.
  for (const std::string& statement : db_.TakeStatementLog()) {
    EXPECT_EQ(statement.find("SELECT * FROM modulaktif where"), std::string::npos) << statement;
  }
  auto* csumber = Find<QComboBox>("csumber");
  csumber->clearEditText();
  db_.TakeStatementLog();

  QTest::keyClicks(csumber->lineEdit(), "m1");
  EXPECT_EQ(csumber->currentText(), "M1");
  EXPECT_EQ(db_.TakeStatementLog(),
            (std::vector<std::string>{"SELECT * FROM modulaktif where namamodul=\"M\"",
                                      "SELECT * FROM modulaktif where namamodul=\"M1\""}));
  EXPECT_EQ(form_.csumber, "M1");
  EXPECT_EQ(Find<QComboBox>("cport")->currentText(), "7");
  EXPECT_EQ(Find<QComboBox>("cbaud")->currentText(), "9600");
  EXPECT_EQ(Find<QComboBox>("ctipeprov")->currentText(), "MKIOS");
  EXPECT_EQ(form_.ProviderType, "MKIOS");
  EXPECT_TRUE(Shown("gmk"));
  // The picture a person looks at: an idle MKIOS module, loaded by its name.
  ASSERT_TRUE(window_->grab().save(WINDOW_SCREENSHOT));
  ASSERT_TRUE(DrawApplicationIcon(128).save(ICON_PICTURE));

  // Choosing from the list counts as well.
  csumber->setCurrentIndex(csumber->findText("A0"));
  EXPECT_EQ(form_.csumber, "A0");
  EXPECT_EQ(Find<QComboBox>("cport")->currentText(), "3");
  EXPECT_EQ(Find<QComboBox>("ctipeprov")->currentText(), "HS1");
  EXPECT_FALSE(Shown("gmk"));
}

TEST_F(WindowTest, TypedLettersBecomeCapitalsInTheUpperCaseBoxes) {
  Open("");
  for (const char* name : {"cmodem", "cmethod", "ctipeprov"}) {
    auto* box = Find<QComboBox>(name);
    box->clearEditText();
    QTest::keyClicks(box->lineEdit(), "ab1");
    EXPECT_EQ(box->currentText(), "AB1") << name;
  }
  EXPECT_EQ(form_.cmodem, "AB1");
  EXPECT_EQ(form_.cmethod, "AB1");
  auto* epin = Find<QLineEdit>("epin");
  QTest::keyClicks(epin, "pq9");
  EXPECT_EQ(epin->text(), "PQ9");
  EXPECT_EQ(form_.epin, "PQ9");
  // The port box is not an upper-case box.
  auto* cport = Find<QComboBox>("cport");
  cport->clearEditText();
  QTest::keyClicks(cport->lineEdit(), "x");
  EXPECT_EQ(form_.cport, "x");
}

TEST_F(WindowTest, TipeShowsStokMkiosWithoutTouchingTheProviderType) {
  Open("");
  form_.ProviderType = "DOMPET";
  auto* tipe = Find<QComboBox>("ctipeprov");
  const struct {
    const char* text;
    bool shown;
  } cases[] = {{"MKIOS", true}, {"MTRONIK", false}, {"MKIOS", true}, {"HS1", false}};
  for (const auto& c : cases) {
    tipe->setCurrentIndex(tipe->findText(c.text));
    EXPECT_EQ(Shown("gmk"), c.shown) << c.text;
    EXPECT_EQ(form_.ctipeprov, c.text);
  }
  // Typed letter by letter, only the full word shows the group.
  tipe->clearEditText();
  QTest::keyClicks(tipe->lineEdit(), "mkio");
  EXPECT_FALSE(Shown("gmk"));
  QTest::keyClicks(tipe->lineEdit(), "s");
  EXPECT_TRUE(Shown("gmk"));
  EXPECT_EQ(form_.ProviderType, "DOMPET");
}

TEST_F(WindowTest, WorkerChangesArriveOnTheUserInterfaceThread) {
  Open("");
  auto* msaldo = Find<QPlainTextEdit>("msaldo");
  std::atomic<int> renders{0};
  std::atomic<bool> off_thread{false};
  QObject::connect(msaldo, &QPlainTextEdit::textChanged, [&] {
    ++renders;
    if (QThread::currentThread() != QApplication::instance()->thread()) off_thread = true;
  });

  std::thread worker([&] {
    form_.AddMsaldoLine("Saldo Rp 50.000");
    form_.AddMsaldoLine("Sisa stok S5");
    form_.SetStatusPanel(1, "Kirim AT+CMGL");
    form_.SetStatusPanel(2, "\r\nOK\r\n");
    form_.SetStock("S5", "12");
    form_.SetGmkVisible(true);
    form_.SetMethodBox("ALL_SIMPATI");
    form_.SetButtons({false, true, false});
  });
  worker.join();
  // Nothing was drawn from the worker: it waits for the user-interface thread.
  EXPECT_EQ(renders, 0);
  EXPECT_EQ(msaldo->toPlainText(), "");
  EXPECT_TRUE(Find<QPushButton>("START")->isEnabled());
  EXPECT_EQ(Find<QComboBox>("cmethod")->currentText(), "");

  QApplication::processEvents();
  EXPECT_GT(renders, 0);
  EXPECT_FALSE(off_thread);
  EXPECT_EQ(msaldo->toPlainText(), "Saldo Rp 50.000\nSisa stok S5");
  EXPECT_EQ(Find<QLabel>("Panel1")->text(), "Kirim AT+CMGL");
  EXPECT_EQ(Find<QLabel>("Panel2")->text(), "OK");  // the status bar keeps one line
  EXPECT_EQ(Find<QLineEdit>("S5")->text(), "12");
  EXPECT_TRUE(Shown("gmk"));
  EXPECT_EQ(Find<QComboBox>("cmethod")->currentText(), "ALL_SIMPATI");
  EXPECT_EQ(form_.MethodBox(), "ALL_SIMPATI");
  EXPECT_FALSE(Find<QPushButton>("START")->isEnabled());
  EXPECT_TRUE(Find<QPushButton>("STOP")->isEnabled());
  EXPECT_FALSE(Find<QGroupBox>("gsetmodem")->isEnabled());
}

// Counts the paint events of a widget.
class PaintCounter : public QObject {
 public:
  explicit PaintCounter(QWidget* widget) { widget->installEventFilter(this); }
  int paints = 0;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++paints;
    return QObject::eventFilter(watched, event);
  }
};

TEST_F(WindowTest, TheModemDialogueIsRenderedOnceABurstAndOnlyWhenItChanged) {
  Open("");
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
  QTest::qWait(50);  // the window's first paint is over
  auto* panel1 = Find<QLabel>("Panel1");
  auto* panel2 = Find<QLabel>("Panel2");
  auto* msaldo = Find<QPlainTextEdit>("msaldo");
  PaintCounter panel1_paints(panel1);
  PaintCounter panel2_paints(panel2);
  int msaldo_changes = 0;
  QObject::connect(msaldo, &QPlainTextEdit::textChanged, [&] { ++msaldo_changes; });
  // An idle cycle as the worker makes it: every command, its cleared reply panel, its reply
  // (the listing is longer than the panel could ever show), the listing in the status box.
  const std::string listing = "\r\n" + std::string(3000, 'x') + "\r\nOK\r\n";
  auto cycle = [&] {
    std::thread worker([&] {
      for (const std::string command : {"AT+CPMS=\"ME\"\r", "AT+CMGL=4\r"}) {
        form_.AppendMemo1("START " + command);
        form_.SetStatusPanel(1, command);
        form_.SetStatusPanel(2, "");
        for (size_t end = 1; end <= listing.size(); end += 500) {
          form_.SetStatusPanel(2, listing.substr(0, end));
        }
        form_.SetStatusPanel(2, listing);
      }
      form_.SetMsaldo(listing);
    });
    worker.join();
  };

  cycle();
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(QTest::qWaitFor([&] { return panel1->text() == "AT+CMGL=4"; }, 2000));
  const auto shown_after = std::chrono::steady_clock::now() - start;
  QTest::qWait(kRepaintMs * 2);  // and nothing more comes of it
  EXPECT_LT(shown_after, std::chrono::milliseconds(kRepaintMs * 3));
  EXPECT_EQ(panel1_paints.paints, 1);
  EXPECT_EQ(panel2_paints.paints, 1);
  EXPECT_EQ(msaldo_changes, 1);
  // The start of its one line, to the panel's width.
  EXPECT_EQ(panel2->text().toStdString(), std::string(50, 'x'));
  EXPECT_EQ(msaldo->toPlainText(), FromSingleByte(listing).remove('\r'));

  // The next cycle ends where this one did: nothing is drawn again.
  cycle();
  QTest::qWait(kRepaintMs * 3);
  EXPECT_EQ(panel1_paints.paints, 1);
  EXPECT_EQ(panel2_paints.paints, 1);
  EXPECT_EQ(msaldo_changes, 1);
  // The debug box, never shown, is filled from the Form when it is.
  auto* memo1 = Find<QPlainTextEdit>("Memo1");
  EXPECT_EQ(memo1->toPlainText().toStdString(), "");
  memo1->show();
  EXPECT_EQ(memo1->toPlainText().toStdString(),
            "START AT+CPMS=\"ME\"\nSTART AT+CMGL=4\nSTART AT+CPMS=\"ME\"\nSTART AT+CMGL=4");
}

TEST_F(WindowTest, AStreamOfChangesIsRepaintedAtMostEveryRepaintPeriod) {
  Open("");
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
  QTest::qWait(50);  // the window's first paint is over
  auto* panel1 = Find<QLabel>("Panel1");
  PaintCounter paints(panel1);
  std::atomic<bool> done{false};
  const auto start = std::chrono::steady_clock::now();
  std::thread worker([&] {
    for (int n = 1; n <= 60; ++n) {
      form_.SetStatusPanel(1, "AT+STGI=" + std::to_string(n));
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    done = true;
  });
  ASSERT_TRUE(QTest::qWaitFor([&] { return done && panel1->text() == "AT+STGI=60"; }, 5000));
  const auto elapsed = std::chrono::steady_clock::now() - start;
  worker.join();
  // Sixty changes, each of which would have been drawn on its own: one repaint for every
  // period they span, and the last one.
  EXPECT_GE(paints.paints, 1);
  EXPECT_LE(paints.paints, elapsed / std::chrono::milliseconds(kRepaintMs) + 2);
}

TEST_F(WindowTest, StopWritesTheRowAndEndsTheProgram) {
  Open("namamodul=M1#comm=9");
  QTest::mouseClick(Find<QPushButton>("STOP"), Qt::LeftButton);
  EXPECT_TRUE(form_.StopRequested);
  EXPECT_TRUE(end_.Ended());
  EXPECT_EQ(end_.Status(), kExitStopped);
  EXPECT_EQ(Row("M1"), "-|0|0");
  EXPECT_TRUE(Find<QPushButton>("START")->isEnabled());
  EXPECT_FALSE(Find<QPushButton>("STOP")->isEnabled());
}

TEST_F(WindowTest, ExitProgramOnARunningModuleIsStop) {
  // "Exit Program" must tell the worker to end before StopRequested is set: otherwise the
  // worker's own stop branch may run first and end the program without STOP's row.
  ScriptedPort port(clock_);
  port.On("AT", "\r\nOK\r\n");
  ModuleControl control(form_, db_, clock_, port, end_, work_.path());
  TFRMain window(form_, db_, control);
  ASSERT_EQ(OpenOperatorWindow(window, form_, db_, folder_.string(), "namamodul=A0#comm=3#pin=9"),
            StartupOutcome::StartModule);
  ASSERT_NE(control.worker(), nullptr);
  std::vector<bool> worker_told_first;
  form_.StopRequested.SetWatcher([&](bool stop) {
    if (stop) worker_told_first.push_back(control.worker()->EndRequested());
  });
  db_.StartStatementLog();
  window.PopupMenu1()->actions().at(3)->trigger();  // "Exit Program"
  control.worker()->Join();
  form_.StopRequested.SetWatcher({});
  EXPECT_EQ(worker_told_first, std::vector<bool>{true});
  EXPECT_TRUE(end_.Ended());
  EXPECT_EQ(end_.Status(), kExitStopped);
  EXPECT_EQ(Row("A0"), "-|0|0");
  for (const std::string& statement : db_.TakeStatementLog()) {
    EXPECT_EQ(statement.find("lokasifile=\"\""), std::string::npos) << statement;
  }
}

TEST_F(WindowTest, ClosingTheWindowLeavesTheRowAlone) {
  Open("namamodul=M1#comm=9");
  EXPECT_TRUE(window_->close());
  EXPECT_FALSE(end_.Ended());
  EXPECT_EQ(Row("M1"), "|1|1");
}

TEST_F(WindowTest, IconMenuHintAndHiding) {
  const std::string name(60, 'N');
  Open("namamodul=" + name + "#comm=12");
  TTrayIcon* tray = window_->TrayIcon();
  ASSERT_NE(tray, nullptr);
  const QString hint = FromSingleByte(TrayHint(form_));
  ASSERT_EQ(hint.size(), 68);
  EXPECT_EQ(tray->Hint(), hint.left(63));
  EXPECT_EQ(tray->Menu(), window_->PopupMenu1());

  QMenu* menu = window_->PopupMenu1();
  QStringList entries;
  for (const QAction* action : menu->actions()) {
    entries << (action->isSeparator() ? "-" : action->text());
  }
  EXPECT_EQ(entries, QStringList({"Show Form", "Reply rules...", "-", "Exit Program"}));
  EXPECT_EQ(menu->defaultAction(), nullptr);

  // The offscreen desktop has no notification area: said once, and HIDE keeps the window
  // within reach by minimising it.
  if (!QSystemTrayIcon::isSystemTrayAvailable()) {
    EXPECT_EQ(Find<QLabel>("note")->text(), "Area notifikasi tidak tersedia");
    QTest::mouseClick(Find<QPushButton>("HIDE"), Qt::LeftButton);
    EXPECT_TRUE(window_->isMinimized());
  } else {
    QTest::mouseClick(Find<QPushButton>("HIDE"), Qt::LeftButton);
    EXPECT_FALSE(window_->isVisible());
  }
  menu->actions().at(0)->trigger();  // "Show Form"
  EXPECT_TRUE(window_->isVisible());
  EXPECT_FALSE(window_->isMinimized());
  EXPECT_FALSE(end_.Ended());

  menu->actions().at(3)->trigger();  // "Exit Program"
  EXPECT_TRUE(form_.StopRequested);
  EXPECT_TRUE(end_.Ended());
}

TEST(TrayIconTest, HintDoubleClickAndRequiredParts) {
  QMenu menu;
  QAction* entry = menu.addAction("Show Form");
  int runs = 0;
  QObject::connect(entry, &QAction::triggered, [&] { ++runs; });
  const QIcon icon = ApplicationIcon();
  {
    TTrayIcon tray(icon, &menu, "Com:4(M1)");
    EXPECT_EQ(tray.Hint(), "Com:4(M1)");
    tray.SetHint(QString(63, 'x'));
    EXPECT_EQ(tray.Hint().size(), 63);
    tray.SetHint(QString(64, 'x'));
    EXPECT_EQ(tray.Hint(), QString(63, 'x'));
    EXPECT_FALSE(tray.Icon().isNull());

    // A double-click runs the default entry only when the menu has one.
    tray.Activate(QSystemTrayIcon::DoubleClick);
    EXPECT_EQ(runs, 0);
    menu.setDefaultAction(entry);
    tray.Activate(QSystemTrayIcon::Trigger);
    EXPECT_EQ(runs, 0);
    tray.Activate(QSystemTrayIcon::DoubleClick);
    EXPECT_EQ(runs, 1);
  }
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(TTrayIcon(QIcon(), &menu, "x"), "UTrayIcon");
  EXPECT_DEATH(TTrayIcon(icon, nullptr, "x"), "UTrayIcon");
}

TEST(SingleByteTextTest, RoundTripsEveryByte) {
  std::string all;
  for (int byte = 1; byte < 256; ++byte) all += static_cast<char>(byte);
  EXPECT_EQ(ToSingleByte(FromSingleByte(all)), all);
  EXPECT_EQ(FromSingleByte("\x80\xE9"), QString::fromUtf8("\u20AC\u00E9"));
  EXPECT_EQ(ToSingleByte(QString::fromUtf8("\u20AC \u4E2D")), "\x80 ?");
}

}  // namespace
}  // namespace tovalink
