#include "app/rule_dialog.h"

#include <QClipboard>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QVBoxLayout>
#include <sstream>

#include "app/main_window.h"

namespace tovalink {

namespace {

QPlainTextEdit* ReportBox(QWidget* parent, const char* name) {
  auto* box = new QPlainTextEdit(parent);
  box->setObjectName(name);
  box->setReadOnly(true);
  box->setLineWrapMode(QPlainTextEdit::NoWrap);
  box->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  return box;
}

}  // namespace

TRuleDialog::TRuleDialog(Database& db, Clock& clock, QWidget* parent)
    : QDialog(parent), db_(db), clock_(clock) {
  setObjectName("RuleDialog");
  setWindowTitle("Reply rules");
  resize(900, 640);

  days_ = new QSpinBox(this);
  days_->setObjectName("days");
  days_->setRange(1, 366);
  days_->setValue(1);
  days_->setSuffix(" day(s)");
  show_ = new QPushButton("Show replies without a rule", this);
  show_->setObjectName("show");
  groups_ = new QListWidget(this);
  groups_->setObjectName("groups");
  unmatched_text_ = ReportBox(this, "unmatched");

  reply_ = new QLineEdit(this);
  reply_->setObjectName("reply");
  idx_ = new QLineEdit(this);
  idx_->setObjectName("idx");
  sn_ = new QLineEdit(this);
  sn_->setObjectName("sn");
  sn_->setPlaceholderText("found in the reply");
  outcome_ = new QComboBox(this);
  outcome_->setObjectName("outcome");
  outcome_->addItems({"from the wording", "SUKSES", "GAGAL"});
  propose_ = new QPushButton("Propose a rule", this);
  propose_->setObjectName("propose");
  proposal_text_ = ReportBox(this, "proposal");
  copy_ = new QPushButton("Copy INSERT", this);
  copy_->setObjectName("copy");
  copy_->setEnabled(false);
  note_ = new QLabel(this);
  note_->setObjectName("note");
  note_->setTextFormat(Qt::PlainText);

  auto* top = new QHBoxLayout;
  top->addWidget(new QLabel("Replies of the last", this));
  top->addWidget(days_);
  top->addWidget(show_);
  top->addStretch(1);

  auto* fields = new QGridLayout;
  fields->addWidget(new QLabel("Reply", this), 0, 0);
  fields->addWidget(reply_, 0, 1, 1, 5);
  fields->addWidget(new QLabel("Sale idx", this), 1, 0);
  fields->addWidget(idx_, 1, 1);
  fields->addWidget(new QLabel("SN", this), 1, 2);
  fields->addWidget(sn_, 1, 3);
  fields->addWidget(outcome_, 1, 4);
  fields->addWidget(propose_, 1, 5);

  auto* bottom = new QHBoxLayout;
  bottom->addWidget(note_, 1);
  bottom->addWidget(copy_);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(groups_, 1);
  layout->addWidget(unmatched_text_, 2);
  layout->addLayout(fields);
  layout->addWidget(proposal_text_, 3);
  layout->addLayout(bottom);

  connect(show_, &QPushButton::clicked, this, &TRuleDialog::ShowUnmatched);
  connect(groups_, &QListWidget::currentRowChanged, this, &TRuleDialog::TakeGroup);
  connect(propose_, &QPushButton::clicked, this, &TRuleDialog::Propose);
  connect(copy_, &QPushButton::clicked, this, &TRuleDialog::CopyInsert);
}

TRuleDialog::~TRuleDialog() {
  // A reading still under way finishes first; what it hands over afterwards is dropped with
  // the dialog.
  if (work_.joinable()) work_.join();
}

bool TRuleDialog::Busy() const { return busy_; }

void TRuleDialog::Begin(const QString& doing) {
  busy_ = true;
  show_->setEnabled(false);
  propose_->setEnabled(false);
  copy_->setEnabled(false);
  note_->setText(doing);
  if (work_.joinable()) work_.join();  // the last reading has handed over already
}

void TRuleDialog::End() {
  busy_ = false;
  show_->setEnabled(true);
  propose_->setEnabled(true);
}

template <typename Result, typename Work>
void TRuleDialog::Read(Work work,
                       void (TRuleDialog::*hand_over)(const Result&, const std::string&)) {
  work_ = std::thread([this, work, hand_over] {
    Result result;
    std::string failure;
    try {
      result = work();
    } catch (const std::exception& error) {
      failure = error.what();
    }
    QMetaObject::invokeMethod(
        this,
        [this, hand_over, result = std::move(result), failure] {
          (this->*hand_over)(result, failure);
        },
        Qt::QueuedConnection);
  });
}

void TRuleDialog::ShowUnmatched() {
  if (busy_) return;
  Begin("Reading the replies...");
  groups_->clear();
  const int days = days_->value();
  Read<UnmatchedReport>([this, days] { return FindUnmatched(db_, clock_, days); },
                        &TRuleDialog::ShowReport);
}

void TRuleDialog::ShowReport(const UnmatchedReport& report, const std::string& failure) {
  End();
  unmatched_ = report;
  if (!failure.empty()) {
    unmatched_text_->setPlainText("The replies could not be read: " + FromSingleByte(failure));
    note_->setText("The database could not be read.");
    return;
  }
  std::ostringstream text;
  PrintUnmatched(unmatched_, "tovalinkd", text);
  unmatched_text_->setPlainText(FromSingleByte(text.str()));
  for (const UnmatchedGroup& group : unmatched_.groups) {
    groups_->addItem(QString::number(group.replies.size()) + " x " +
                     FromSingleByte(Printable(group.shape)));
  }
  note_->setText(unmatched_.groups.empty() ? "No wording is missing a rule."
                                           : "Pick a wording, then propose a rule.");
}

void TRuleDialog::TakeGroup(int row) {
  if (row < 0 || static_cast<size_t>(row) >= unmatched_.groups.size()) return;
  const UnmatchedGroup& group = unmatched_.groups[static_cast<size_t>(row)];
  const LoggedReply& example = group.replies[group.example];
  reply_->setText(FromSingleByte(example.pesan));
  idx_->setText(example.open_sales.empty() ? QString()
                                           : QString::number(example.open_sales.front().idx));
  sn_->clear();
  outcome_->setCurrentIndex(0);
}

void TRuleDialog::Propose() {
  if (busy_) return;
  bool number = false;
  const qlonglong idx = idx_->text().trimmed().toLongLong(&number);
  if (!number || idx <= 0) {
    copy_->setEnabled(false);
    note_->setText("Give the idx of the sale that the reply answers.");
    return;
  }
  SuggestRequest request;
  request.reply = ToSingleByte(reply_->text());
  request.idx = idx;
  request.sn = ToSingleByte(sn_->text().trimmed());
  if (outcome_->currentIndex() > 0) request.tipepesan = ToSingleByte(outcome_->currentText());
  Begin("Checking the rule against the replies...");
  Read<Suggestion>([this, request] { return SuggestRule(db_, request); },
                   &TRuleDialog::ShowSuggestion);
}

void TRuleDialog::ShowSuggestion(const Suggestion& suggestion, const std::string& failure) {
  End();
  suggestion_ = suggestion;
  if (!failure.empty()) {
    suggestion_ = {};
    suggestion_.refusal = failure;
    proposal_text_->setPlainText("No rule proposed: " + FromSingleByte(failure));
    note_->setText("The database could not be read.");
    return;
  }
  std::ostringstream report;
  PrintSuggestion(suggestion_, "tovalinkd", report);
  proposal_text_->setPlainText(FromSingleByte(report.str()));
  copy_->setEnabled(suggestion_.Proposed());
  if (!suggestion_.Proposed()) {
    note_->setText("No rule proposed.");
  } else if (suggestion_.Ready()) {
    note_->setText("Ready: copy the INSERT and run it on the outlet's database.");
  } else {
    note_->setText("Not ready: see the conflicts.");
  }
}

void TRuleDialog::CopyInsert() {
  if (!suggestion_.Proposed()) return;
  QGuiApplication::clipboard()->setText(FromSingleByte(OfferedInsert(suggestion_)));
  note_->setText("The INSERT is on the clipboard; nothing was written.");
}

void OpenRuleDialog(QWidget* parent, Database& db) {
  static RealClock clock;
  auto* dialog = parent->findChild<TRuleDialog*>("RuleDialog");
  if (dialog == nullptr) {
    dialog = new TRuleDialog(db, clock, parent);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
  }
  dialog->show();
  dialog->raise();
  dialog->activateWindow();
}

}  // namespace tovalink
