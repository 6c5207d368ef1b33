#include "app/main_window.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QMetaObject>
#include <QStatusBar>
#include <QThread>
#include <QVBoxLayout>
#include <QValidator>
#include <exception>

#include "app/icons/app_icon.h"
#include "app/index_check.h"
#include "app/rule_dialog.h"
#include "sms/cp1252.h"

namespace tovalink {

namespace {

// Upper-case boxes: every typed letter becomes a capital as it is typed.
class UpperCaseValidator : public QValidator {
 public:
  using QValidator::QValidator;
  State validate(QString& input, int& /*position*/) const override {
    input = input.toUpper();
    return Acceptable;
  }
};

QComboBox* NewBox(QWidget* parent, const char* name, bool upper_case) {
  auto* box = new QComboBox(parent);
  box->setObjectName(name);
  box->setEditable(true);
  // The text is exactly what the operator typed: no completion, and Enter adds no entry.
  box->setCompleter(nullptr);
  box->setInsertPolicy(QComboBox::NoInsert);
  box->setMaxVisibleItems(12);
  // The grid's stretch, not the texts, decides the widths, so that both columns line up.
  box->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  box->setMinimumContentsLength(4);
  box->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
  if (upper_case) box->setValidator(new UpperCaseValidator(box));
  return box;
}

void SetBox(QComboBox* box, const std::vector<std::string>& items, const std::string& text) {
  QStringList list;
  for (const std::string& item : items) list << FromSingleByte(item);
  box->clear();
  box->addItems(list);
  const QString shown = FromSingleByte(text);
  box->setCurrentIndex(box->findText(shown, Qt::MatchExactly | Qt::MatchCaseSensitive));
  if (box->currentText() != shown) box->setEditText(shown);
}

QLabel* NewLabel(const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  return label;
}

QLabel* NewPanel(QWidget* parent, const char* name, int width) {
  auto* panel = new QLabel(parent);
  panel->setObjectName(name);
  panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  panel->setTextFormat(Qt::PlainText);
  // A size of its own in both directions: a new text then repaints the panel alone instead of
  // laying the whole status bar out again.
  panel->setFixedSize(width, panel->sizeHint().height());
  return panel;
}

// The status bar keeps one line: modem texts come with their line ends.
QString OneLine(QString text) {
  text.replace(QChar('\r'), QChar(' '));
  text.replace(QChar('\n'), QChar(' '));
  return text.simplified();
}

}  // namespace

// The window shows the core's Windows-1252 texts; the conversion is the one pdutool uses.
QString FromSingleByte(const std::string& text) {
  return QString::fromStdString(Cp1252ToUtf8(text));
}

std::string ToSingleByte(const QString& text) { return Utf8ToCp1252(text.toStdString()); }

TFRMain::TFRMain(Form& form, Database& db, ModuleControl& control, QWidget* parent)
    : QMainWindow(parent,
                  Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                      Qt::WindowMinimizeButtonHint),
      form_(form),
      db_(db),
      control_(control) {
  setWindowTitle("Tovalin 3.2");
  setWindowIcon(ApplicationIcon());
  BuildControls();
  ConnectControls();
  setFixedSize(kWindowWidth, kWindowHeight);

  repaint_timer_.setSingleShot(true);
  connect(&repaint_timer_, &QTimer::timeout, this, &TFRMain::Repaint);
  form_.SetObserver([this](const FormChange& change) {
    // The journal's alone: the window shows the same through its displays.
    if (change.what == FormDisplay::Log) return;
    const bool own_thread = QThread::currentThread() == thread();
    HandOver post = HandOver::None;
    {
      std::lock_guard lock(pending_mutex_);
      Note(pending_, change);
      const HandOver wanted = Chatty(change.what) ? HandOver::Soon : HandOver::Now;
      if (!own_thread && wanted > handed_over_) post = handed_over_ = wanted;
    }
    if (own_thread) {
      Repaint();
    } else if (post == HandOver::Now) {
      QMetaObject::invokeMethod(
          this, [this] { Repaint(); }, Qt::QueuedConnection);
    } else if (post == HandOver::Soon) {
      QMetaObject::invokeMethod(
          this, [this] { RepaintSoon(); }, Qt::QueuedConnection);
    }
  });
  RenderSettings();
}

TFRMain::~TFRMain() { form_.SetObserver({}); }

void TFRMain::BuildControls() {
  auto* central = new QWidget(this);
  auto* columns = new QHBoxLayout(central);
  columns->setContentsMargins(6, 4, 6, 2);
  columns->setSpacing(8);

  // Left: the settings group, the buttons and "Slow Debug".
  auto* left = new QVBoxLayout;
  left->setSpacing(4);
  gsetmodem_ = new QGroupBox("Set Modem", central);
  gsetmodem_->setObjectName("gsetmodem");
  auto* grid = new QGridLayout(gsetmodem_);
  grid->setContentsMargins(8, 6, 8, 8);
  grid->setHorizontalSpacing(6);
  grid->setVerticalSpacing(6);
  csumber_ = NewBox(gsetmodem_, "csumber", true);
  epin_ = new QLineEdit(gsetmodem_);
  epin_->setObjectName("epin");
  epin_->setValidator(new UpperCaseValidator(epin_));
  epin_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
  cport_ = NewBox(gsetmodem_, "cport", false);
  chands_ = NewBox(gsetmodem_, "chands", false);
  cbaud_ = NewBox(gsetmodem_, "cbaud", false);
  cmodem_ = NewBox(gsetmodem_, "cmodem", true);
  cmethod_ = NewBox(gsetmodem_, "cmethod", true);
  ctipeprov_ = NewBox(gsetmodem_, "ctipeprov", true);
  etunggu_ = new QLineEdit(gsetmodem_);
  etunggu_->setObjectName("etunggu");
  etunggu_->hide();

  struct Row {
    const char* label;
    QWidget* box;
  };
  const Row rows[] = {{"Nama", csumber_},      {"Password", epin_}, {"ComPort", cport_},
                      {"Handshake", chands_},  {"Baudrate", cbaud_}, {"Modem", cmodem_},
                      {"Metode", cmethod_},    {"Tipe", ctipeprov_}};
  for (int i = 0; i < 8; ++i) {
    const int row = i / 2;
    const int column = (i % 2) * 2;
    QLabel* label = NewLabel(rows[i].label, gsetmodem_);
    label->setBuddy(rows[i].box);
    grid->addWidget(label, row, column);
    grid->addWidget(rows[i].box, row, column + 1);
  }
  grid->setColumnStretch(1, 1);
  grid->setColumnStretch(3, 1);
  left->addWidget(gsetmodem_, 1);

  auto* buttons = new QHBoxLayout;
  buttons->setSpacing(6);
  start_ = new QPushButton("START", central);
  stop_ = new QPushButton("STOP", central);
  hide_ = new QPushButton("HIDE", central);
  start_->setObjectName("START");
  stop_->setObjectName("STOP");
  hide_->setObjectName("HIDE");
  for (QPushButton* button : {start_, stop_, hide_}) {
    button->setFixedWidth(72);
    button->setAutoDefault(false);
    buttons->addWidget(button);
  }
  buttons->addStretch(1);
  cslow_ = new QCheckBox("Slow Debug", central);
  cslow_->setObjectName("cslow");
  buttons->addWidget(cslow_);
  left->addLayout(buttons);
  columns->addLayout(left, 11);

  // Right: the status box and the stock of "Stok Mkios".
  auto* right = new QVBoxLayout;
  right->setSpacing(4);
  // The status box starts level with the frame of "Set Modem", below its title.
  right->setContentsMargins(0, central->fontMetrics().height(), 0, 0);
  msaldo_ = new QPlainTextEdit(central);
  msaldo_->setObjectName("msaldo");
  msaldo_->setReadOnly(true);
  msaldo_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  right->addWidget(msaldo_, 1);

  gmk_ = new QGroupBox("Stok Mkios", central);
  gmk_->setObjectName("gmk");
  auto* stock = new QGridLayout(gmk_);
  stock->setContentsMargins(6, 2, 6, 6);
  stock->setHorizontalSpacing(4);
  stock->setVerticalSpacing(1);
  int column = 0;
  for (const std::string& name : kStockBoxes) {
    auto* label = new QLabel(QString::fromStdString(name), gmk_);
    label->setAlignment(Qt::AlignCenter);
    auto* box = new QLineEdit(gmk_);
    box->setObjectName(QString::fromStdString(name));
    box->setReadOnly(true);
    box->setAlignment(Qt::AlignCenter);
    box->setMinimumWidth(30);
    stock->addWidget(label, 0, column);
    stock->addWidget(box, 1, column);
    stock_[name] = box;
    ++column;
  }
  gmk_->hide();
  right->addWidget(gmk_);
  columns->addLayout(right, 9);
  setCentralWidget(central);

  // The debug box is kept for the worker's traces but never shown; the Form holds its text,
  // and the box is filled from it when it is shown, not at every trace line.
  memo1_ = new QPlainTextEdit(central);
  memo1_->setObjectName("Memo1");
  memo1_->setReadOnly(true);
  memo1_->setMaximumBlockCount(2000);
  memo1_->hide();
  memo1_->installEventFilter(this);

  QStatusBar* bar = statusBar();
  bar->setObjectName("StatusBar1");
  bar->setSizeGripEnabled(false);
  const int widths[3] = {120, 200, 50};
  const char* names[3] = {"Panel0", "Panel1", "Panel2"};
  for (int i = 0; i < 3; ++i) {
    panels_[i] = NewPanel(bar, names[i], widths[i]);
    bar->addWidget(panels_[i]);
  }
  note_ = new QLabel(bar);
  note_->setObjectName("note");
  note_->setTextFormat(Qt::PlainText);
  bar->addWidget(note_, 1);

  popup_menu_ = new QMenu(this);
  popup_menu_->setObjectName("PopupMenu1");
  QAction* show_form = popup_menu_->addAction("Show Form");
  QAction* reply_rules = popup_menu_->addAction("Reply rules...");
  connect(reply_rules, &QAction::triggered, this, [this] { OpenRuleDialog(this, db_); });
  popup_menu_->addSeparator();
  QAction* exit_program = popup_menu_->addAction("Exit Program");
  connect(show_form, &QAction::triggered, this, &TFRMain::ShowForm);
  // "Exit Program" is STOP: STOP itself tells the worker to end before it sets
  // StopRequested, so that the worker's own stop branch cannot overwrite STOP's row or take
  // the silence of a stopped exchange for a blank listing.
  connect(exit_program, &QAction::triggered, this, &TFRMain::Stop);

  timer_modul_.setInterval(kTickMs);
  connect(&timer_modul_, &QTimer::timeout, this, &TFRMain::OnTick);
}

void TFRMain::BindBox(QComboBox* box, std::string Form::*field) {
  connect(box, &QComboBox::editTextChanged, this, [this, field](const QString& text) {
    if (!rendering_) form_.*field = ToSingleByte(text);
  });
}

void TFRMain::ConnectControls() {
  BindBox(cport_, &Form::cport);
  BindBox(chands_, &Form::chands);
  BindBox(cbaud_, &Form::cbaud);
  BindBox(cmodem_, &Form::cmodem);
  BindBox(cmethod_, &Form::cmethod);
  connect(csumber_, &QComboBox::editTextChanged, this, &TFRMain::OnNamaEdited);
  connect(ctipeprov_, &QComboBox::editTextChanged, this, &TFRMain::OnTipeEdited);
  connect(epin_, &QLineEdit::textChanged, this, [this](const QString& text) {
    if (!rendering_) form_.epin = ToSingleByte(text);
  });
  connect(etunggu_, &QLineEdit::textChanged, this, [this](const QString& text) {
    if (!rendering_) form_.etunggu = ToSingleByte(text);
  });
  connect(cslow_, &QCheckBox::toggled, this, [this](bool ticked) { form_.cslow = ticked; });
  connect(start_, &QPushButton::clicked, this, &TFRMain::Start);
  connect(stop_, &QPushButton::clicked, this, &TFRMain::Stop);
  connect(hide_, &QPushButton::clicked, this, &TFRMain::HideForm);
}

void TFRMain::RenderBoxes(NameBox name_box) {
  rendering_ = true;
  if (name_box == NameBox::Render) SetBox(csumber_, form_.csumber_items, form_.csumber);
  SetBox(cport_, form_.cport_items, form_.cport);
  SetBox(chands_, form_.chands_items, form_.chands);
  SetBox(cbaud_, form_.cbaud_items, form_.cbaud);
  SetBox(cmodem_, form_.cmodem_items, form_.cmodem);
  SetBox(cmethod_, {}, form_.cmethod);
  SetBox(ctipeprov_, form_.ctipeprov_items, form_.ctipeprov);
  epin_->setText(FromSingleByte(form_.epin));
  etunggu_->setText(FromSingleByte(form_.etunggu));
  rendering_ = false;
}

void TFRMain::RenderSettings() {
  RenderBoxes(NameBox::Render);
  cslow_->setChecked(form_.cslow);
  RenderMsaldo();
  for (int i = 0; i < 3; ++i) RenderPanel(i);
  for (const auto& [name, box] : stock_) box->setText(FromSingleByte(form_.Stock(name)));
  gmk_->setVisible(form_.GmkVisible());
  RenderButtons();
}

void TFRMain::RenderButtons() {
  const Form::Buttons buttons = form_.GetButtons();
  start_->setEnabled(buttons.start_enabled);
  stop_->setEnabled(buttons.stop_enabled);
  gsetmodem_->setEnabled(buttons.set_modem_enabled);
}

void TFRMain::RenderMsaldo() {
  QString text = FromSingleByte(form_.Msaldo());
  text.remove(QChar('\r'));
  // The idle cycle shows the same listing again and again: the box is only rebuilt when its
  // text changed.
  if (text == shown_msaldo_) return;
  shown_msaldo_ = text;
  msaldo_->setPlainText(text);
  msaldo_->moveCursor(QTextCursor::End);
}

void TFRMain::RenderPanel(int index) {
  QLabel* panel = panels_[index];
  // A panel shows the start of its text, and no character is narrower than a pixel: what lies
  // beyond the panel's width in characters is never seen, and a whole listing would cost its
  // shaping at every paint.
  QString shown = OneLine(FromSingleByte(form_.StatusPanel(index)));
  shown.truncate(panel->width());
  if (panel->text() != shown) panel->setText(shown);
}

void TFRMain::RenderMemo1() {
  QString text = FromSingleByte(form_.Memo1());
  text.remove(QChar('\r'));
  if (text.endsWith(QChar('\n'))) text.chop(1);
  memo1_->setPlainText(text);
  memo1_->moveCursor(QTextCursor::End);
}

bool TFRMain::eventFilter(QObject* watched, QEvent* event) {
  if (watched == memo1_ && event->type() == QEvent::Show) RenderMemo1();
  return QMainWindow::eventFilter(watched, event);
}

void TFRMain::Note(Pending& pending, const FormChange& change) {
  // Whole displays are read back from the Form when they are rendered, so that a repaint
  // shows the latest state; discrete events (messages, trace lines) come with the change.
  switch (change.what) {
    case FormDisplay::Msaldo:
      pending.msaldo = true;
      break;
    case FormDisplay::StatusPanel:
      if (change.index >= 0 && change.index < 3) pending.panels[change.index] = true;
      break;
    case FormDisplay::Memo1:
      pending.memo1 = true;
      break;
    case FormDisplay::Stock:
      pending.stock.insert(change.name);
      break;
    case FormDisplay::Gmk:
      pending.gmk = true;
      break;
    case FormDisplay::Method:
      pending.method = true;
      break;
    case FormDisplay::Message:
      pending.messages.push_back(change.text);
      break;
    case FormDisplay::Buttons:
      pending.buttons = true;
      break;
    case FormDisplay::Log:
      break;
  }
}

bool TFRMain::Chatty(FormDisplay what) {
  // The dialogue with the modem: every command and every chunk of its answer.
  return what == FormDisplay::Msaldo || what == FormDisplay::StatusPanel ||
         what == FormDisplay::Memo1;
}

void TFRMain::RepaintSoon() {
  {
    std::lock_guard lock(pending_mutex_);
    // A repaint took the changes meanwhile, or one that cannot wait is on its way.
    if (handed_over_ != HandOver::Soon) return;
  }
  if (!repaint_timer_.isActive()) repaint_timer_.start(kRepaintMs);
}

void TFRMain::Repaint() {
  Pending changed;
  {
    std::lock_guard lock(pending_mutex_);
    std::swap(changed, pending_);
    handed_over_ = HandOver::None;
  }
  repaint_timer_.stop();
  if (changed.msaldo) RenderMsaldo();
  for (int i = 0; i < 3; ++i) {
    if (changed.panels[i]) RenderPanel(i);
  }
  if (changed.memo1 && memo1_->isVisible()) RenderMemo1();
  for (const std::string& name : changed.stock) {
    if (auto found = stock_.find(name); found != stock_.end()) {
      const QString text = FromSingleByte(form_.Stock(name));
      if (found->second->text() != text) found->second->setText(text);
    }
  }
  if (changed.gmk) gmk_->setVisible(form_.GmkVisible());
  if (changed.method) {
    const QString text = FromSingleByte(form_.MethodBox());
    if (cmethod_->currentText() != text) {
      // Written by the window itself: not the operator's edit of the box.
      rendering_ = true;
      SetBox(cmethod_, {}, form_.MethodBox());
      rendering_ = false;
    }
  }
  if (changed.buttons) RenderButtons();
  for (const std::string& message : changed.messages) {
    ShowOperatorMessage(FromSingleByte(message));
  }
}

void TFRMain::ShowOperatorMessage(const QString& text) {
  // A box that does not wait for an answer: the worker and the tick keep running behind it.
  auto* box = new QMessageBox(QMessageBox::Information, QCoreApplication::applicationName(),
                              text, QMessageBox::Ok, this);
  box->setObjectName("message");
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setModal(false);
  box->show();
  note_->setText(OneLine(text));
}

void TFRMain::OnNamaEdited(const QString& text) {
  if (rendering_) return;
  form_.csumber = ToSingleByte(text);
  try {
    ModuleSettings(form_, db_);
  } catch (const std::exception& error) {
    // Shown beside the panels rather than in a box: this runs at every keystroke.
    note_->setText(OneLine(FromSingleByte(error.what())));
  }
  RenderBoxes(NameBox::LeaveAsTyped);
}

void TFRMain::OnTipeEdited(const QString& text) {
  if (rendering_) return;
  form_.ctipeprov = ToSingleByte(text);
  form_.SetGmkVisible(form_.ctipeprov == "MKIOS");
}

void TFRMain::PutTrayIcon() {
  tray_ = std::make_unique<TTrayIcon>(windowIcon(), popup_menu_, FromSingleByte(TrayHint(form_)));
  if (!QSystemTrayIcon::isSystemTrayAvailable()) {
    note_->setText("Area notifikasi tidak tersedia");
  }
}

void TFRMain::Start() {
  try {
    if (control_.Start() == ModuleControl::StartResult::Running) {
      WarnOfMissingIndexes(form_, db_, IndexWarningLog::StandardError);
    }
  } catch (const std::exception& error) {
    form_.ShowMessage(error.what());
  }
  if (control_.TimerOn() && !timer_modul_.isActive()) timer_modul_.start();
}

void TFRMain::Stop() { control_.Stop(); }

void TFRMain::HideForm() {
  // Without an icon in a notification area a hidden window could not be shown again; it is
  // minimised instead, so that the desktop's task bar still reaches it.
  if (tray_ && tray_->Placed()) {
    hide();
  } else {
    showMinimized();
  }
}

void TFRMain::ShowForm() {
  showNormal();
  raise();
  activateWindow();
}

void TFRMain::OnTick() {
  if (!control_.TimerOn()) {
    timer_modul_.stop();
    return;
  }
  control_.Tick();
}

void SetUpApplication() {
  // One style on every desktop: the window has a fixed size, laid out for this look.
  QApplication::setStyle("Fusion");
  QApplication::setApplicationName("Tovalink");
  QApplication::setWindowIcon(ApplicationIcon());
  QApplication::setQuitOnLastWindowClosed(false);
}

StartupOutcome OpenOperatorWindow(TFRMain& window, Form& form, Database& db,
                                  const std::string& program_folder,
                                  const std::string& start_argument) {
  const StartupOutcome outcome = RunStartup(form, db, program_folder, start_argument);
  window.RenderSettings();
  if (outcome == StartupOutcome::Idle || outcome == StartupOutcome::StartModule) {
    window.PutTrayIcon();
  }
  if (outcome == StartupOutcome::StartModule) window.Start();
  window.show();
  return outcome;
}

void TFRMain::closeEvent(QCloseEvent* event) {
  event->accept();
  QCoreApplication::quit();
}

}  // namespace tovalink
