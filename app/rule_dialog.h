#pragma once
// TRuleDialog: the technician's reply-rule window, off the tray menu, for an outlet without a
// terminal at hand. It shows the replies of the last days that settled no sale, grouped by
// wording (as --unmatched), and proposes a settinggetsn row from one of them and the sale it
// answers, checked against the rules (as --suggest-rule). It writes nothing: the technician
// copies the INSERT and runs it.
//
// User-interface thread only. The reading runs on a thread of its own, so that the window,
// the supervision tick and the heartbeat go on while a large log is read; its statements are
// reads on the shared connection, under its lock, between the worker's and the tick's, and it
// hands its result back to the user-interface thread. The database and the clock must outlive
// the dialog; destroying it waits for a reading under way.

#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QWidget>
#include <string>
#include <thread>

#include "core/clock.h"
#include "settle/suggest_rule.h"
#include "settle/unmatched.h"
#include "store/database.h"

namespace tovalink {

class TRuleDialog : public QDialog {
 public:
  TRuleDialog(Database& db, Clock& clock, QWidget* parent = nullptr);
  ~TRuleDialog() override;
  TRuleDialog(const TRuleDialog&) = delete;
  TRuleDialog& operator=(const TRuleDialog&) = delete;

  // "Show": reads the replies of the chosen number of days that settled no sale.
  void ShowUnmatched();
  // Takes the chosen wording's example and the open sale it answers into the fields.
  void TakeGroup(int row);
  // "Propose": a rule from the reply and the sale in the fields.
  void Propose();
  // Whether a reading is under way (the buttons wait for it).
  bool Busy() const;
  // "Copy INSERT": the statement to the clipboard (commented out when a check failed).
  void CopyInsert();

 private:
  // Runs `work` on the reading thread and hands its result, or the text of its failure, to
  // `hand_over` on the user-interface thread.
  template <typename Result, typename Work>
  void Read(Work work, void (TRuleDialog::*hand_over)(const Result&, const std::string&));
  void Begin(const QString& doing);
  void End();
  void ShowReport(const UnmatchedReport& report, const std::string& failure);
  void ShowSuggestion(const Suggestion& suggestion, const std::string& failure);

  Database& db_;
  Clock& clock_;
  UnmatchedReport unmatched_;
  Suggestion suggestion_;

  QSpinBox* days_ = nullptr;
  QPushButton* show_ = nullptr;
  QListWidget* groups_ = nullptr;
  QPlainTextEdit* unmatched_text_ = nullptr;
  QLineEdit* reply_ = nullptr;
  QLineEdit* idx_ = nullptr;
  QLineEdit* sn_ = nullptr;
  QComboBox* outcome_ = nullptr;
  QPushButton* propose_ = nullptr;
  QPlainTextEdit* proposal_text_ = nullptr;
  QPushButton* copy_ = nullptr;
  QLabel* note_ = nullptr;
  bool busy_ = false;
  std::thread work_;  // the reading under way, or the last one
};

// Opens the dialog over `parent` on the machine's clock, or brings the one already open to
// the front.
void OpenRuleDialog(QWidget* parent, Database& db);

}  // namespace tovalink
