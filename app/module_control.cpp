#include "app/module_control.h"

#include "core/errors.h"
#include "modem/at_text.h"
#include "sms/inbox.h"

namespace tovalink {

std::string SettingsFault(const Form& form) {
  int waiting = 0;
  if (!ReadWholeNumber(form.etunggu, waiting) || waiting < 0) {
    return "waktutunggu " + QuotedForReason(form.etunggu) + " bukan jumlah detik";
  }
  // The PIN goes into dial codes, toolkit entries and keypad strings.
  if (const std::string fault = KeyStringFault(form.epin); !fault.empty()) return "pin " + fault;
  return "";
}

ModuleControl::ModuleControl(Form& form, Database& db, Clock& clock, SerialPort& port,
                             AppEnd& app_end, std::string working_folder)
    : form_(form),
      db_(db),
      clock_(clock),
      port_(port),
      app_end_(app_end),
      working_folder_(std::move(working_folder)),
      exchange_(port, form, clock, [this](const std::string& message, const std::string& port_text) {
        AbortModule(message, port_text);
      }) {}

ModuleControl::~ModuleControl() {
  if (worker_) {
    worker_->RequestEnd();
    worker_->Join();
  }
}

std::string ModuleControl::Heartbeat() const {
  return "UPDATE modulaktif SET waktu=\"" + clock_.Time() + "\",statrun=1 WHERE namamodul=\"" +
         db_.Escape(form_.csumber) + "\"";
}

ModuleControl::StartResult ModuleControl::Start() {
  form_.DialSuffix.clear();
  if (db_.OpenSql("SELECT * FROM modulaktif").Count() > 8) {
    form_.ShowMessage("Jumlah Modul Maksimal 8 Modul");
    return StartResult::Refused;
  }
  // A setting the module cannot work with is refused now, before any sale is taken: found
  // in the middle of a sale it would end the module there, and the service would restart it
  // into the same fault.
  if (const std::string fault = SettingsFault(form_); !fault.empty()) {
    const std::string message = "Setting modul ditolak: " + fault;
    db_.ExecSql("UPDATE modulaktif SET lokasifile=\"" + db_.Escape(message) +
                "\",statrun=0,autorun=2 WHERE namamodul=\"" + db_.Escape(form_.csumber) + "\"");
    form_.ShowMessage(message);
    return StartResult::Refused;
  }
  db_.ExecSql(Heartbeat());
  Rows provider = db_.OpenSql("SELECT caradial FROM modulaktif where namamodul=\"" +
                              db_.Escape(form_.csumber) + "\" LIMIT 1");
  form_.ProviderType = provider.Count() > 0 ? provider.Text(0) : std::string();
  ModemProfile modem = ModemProfileFor(form_.cmodem);
  form_.DialSuffix = modem.dial_suffix;
  form_.DialReplyEnd = modem.dial_reply_end;

  // From here on a lost database connection is waited for and reopened by the worker (the
  // tick's statements fail at once meanwhile); the first status-bar panel says so, once when
  // it goes and once when it is back.
  db_.KeepConnection(clock_, [this](ConnectionEvent event, const std::string& detail) {
    form_.SetStatusPanel(0, event == ConnectionEvent::Lost
                                ? "Database terputus: " + detail
                                : "Database tersambung kembali setelah " + detail);
  });

  form_.StopRequested = false;
  timer_on_ = true;
  Form::Buttons buttons = form_.GetButtons();
  buttons.set_modem_enabled = false;
  form_.SetButtons(buttons);

  try {
    port_.Open(PortPath(form_.cport), SettingsFromBoxes(form_.cbaud, form_.chands));
  } catch (const PortError&) {
    AbortModule("Error Access com " + form_.cport, form_.cport);
    return StartResult::Aborted;
  }
  buttons.start_enabled = false;
  buttons.stop_enabled = true;
  form_.SetButtons(buttons);

  // The sale journal of this module, in its working folder: another program of the same name
  // there, or a folder it cannot write, leaves it no safe way to sell.
  try {
    journal_ = std::make_unique<SaleJournal>(working_folder_, form_.csumber);
  } catch (const JournalError& error) {
    AbortModule(error.what(), form_.cport);
    return StartResult::Aborted;
  }

  std::unique_ptr<Channel> channel = MakeChannel(form_.ctipeprov);
  worker_ = std::make_unique<Worker>(
      Module{form_, db_, clock_, exchange_,
             [this](const std::string& message, const std::string& port_text) {
               AbortModule(message, port_text);
             },
             app_end_, form_.csumber, form_.cport, std::move(modem)},
      std::move(channel), *journal_);
  worker_->Start();
  form_.Log(LogPriority::Notice, "START " + form_.csumber + " port " + form_.cport);
  return StartResult::Running;
}

bool ModuleControl::BeginEnd() {
  bool expected = false;
  return ended_.compare_exchange_strong(expected, true);
}

void ModuleControl::WriteEnd(const std::function<void()>& statements) {
  bool finished = false;
  try {
    finished = errands_.Run(statements, kEndWaitMs);
  } catch (const std::exception&) {
    finished = true;  // each statement's failure was shown where it happened
  }
  if (!finished) {
    // The server answers nothing: the program ends all the same, and the row and the sale in
    // hand keep what they had (the journal gives the sale its outcome at the next start).
    form_.SetStatusPanel(0, std::string(kRowNotWritten) + "database tidak menjawab dalam " +
                                std::to_string(kEndWaitMs / 1000) + " s");
  }
}

void ModuleControl::Stop() {
  // The worker is told first, so that its own stop branch cannot overwrite STOP's row.
  if (worker_) worker_->RequestEnd();
  form_.StopRequested = true;
  if (!BeginEnd()) return;
  form_.Log(LogPriority::Notice, "STOP " + form_.csumber);
  timer_on_ = false;
  WriteEnd([this] {
    try {
      db_.ExecSql("UPDATE modulaktif SET lokasifile=\"-\",statrun=0,autorun=0 WHERE namamodul=\"" +
                  db_.Escape(form_.csumber) + "\"");
    } catch (const std::exception& error) {
      // The program ends all the same; the row keeps what it had, and the operator learns it.
      form_.SetStatusPanel(0, std::string(kRowNotWritten) + error.what());
    }
    try {
      if (worker_) worker_->CloseSaleInHand(kStoppedWhy);
    } catch (const std::exception&) {
      // The server is away: the sale keeps what it had (CloseSaleInHand named it).
    }
  });
  try {
    port_.Close();
    Form::Buttons buttons = form_.GetButtons();
    buttons.stop_enabled = false;
    buttons.start_enabled = true;
    form_.SetButtons(buttons);
  } catch (const std::exception&) {
  }
  app_end_.EndApplication(kExitStopped);
}

void ModuleControl::TickStatements(TickFinding& finding) {
  try {
    db_.ExecSql(Heartbeat());
    Rows rows = db_.OpenSql("SELECT autorun FROM modulaktif WHERE namamodul=\"" +
                            db_.Escape(form_.csumber) + "\"");
    if (rows.Count() > 0 && !rows.IsNull("autorun")) {
      const std::string autorun = rows.Text("autorun");
      finding.remote_stop = autorun == "0" || autorun == "2";
      if (finding.remote_stop) {
        form_.Log(LogPriority::Notice, "STOP dari modulaktif: autorun " + autorun);
      }
    }
  } catch (const ConnectionLost&) {
    // An unreachable database only stops the heartbeat; the connection's observer says so.
    finding.lost = true;
  } catch (const std::exception& error) {
    // A heartbeat or remote-stop check the server refuses (a right or a column missing)
    // makes a running module look dead, or deaf, to the cashier software: the operator must
    // see why.
    finding.failure = std::string("Pengawasan modul gagal: ") + error.what();
  }
}

void ModuleControl::ActOn(const TickFinding& finding) {
  if (finding.remote_stop) {
    Stop();
    return;
  }
  if (finding.lost) return;
  if (finding.failure.empty()) {
    tick_failure_.clear();
  } else if (finding.failure != tick_failure_) {
    tick_failure_ = finding.failure;
    form_.SetStatusPanel(0, finding.failure);
  }
}

void ModuleControl::Tick() {
  if (!timer_on_ || ended_) return;
  // A tick that the server kept past its wait has finished since: its finding counts now.
  std::shared_ptr<TickFinding> late;
  {
    std::lock_guard lock(late_mutex_);
    if (late_tick_ && !errands_.Busy()) late.swap(late_tick_);
  }
  if (late) {
    ActOn(*late);
    if (ended_) return;
  }
  // The last tick's statements are still out: this turn is skipped, not queued behind them.
  if (errands_.Busy()) return;
  auto finding = std::make_shared<TickFinding>();
  const bool finished =
      errands_.Run([this, finding] { TickStatements(*finding); }, kTickWaitMs);
  if (!finished) {
    std::lock_guard lock(late_mutex_);
    late_tick_ = finding;
    return;
  }
  ActOn(*finding);
}

void ModuleControl::AbortModule(const std::string& message, const std::string& port) {
  if (!BeginEnd()) return;
  if (worker_) worker_->RequestEnd();
  timer_on_ = false;
  WriteEnd([this, message, port] {
    try {
      db_.ExecSql("UPDATE modulaktif SET lokasifile=\"" + db_.Escape(message) +
                  "\",statrun=0,autorun=2 WHERE comm=\"" + db_.Escape(port) + "\"");
    } catch (const std::exception& error) {
      form_.SetStatusPanel(0, std::string(kRowNotWritten) + error.what());
    }
    try {
      if (worker_) worker_->CloseSaleInHand("modul berhenti (" + message + ")");
    } catch (const std::exception&) {
      // The server is away: the sale keeps what it had (CloseSaleInHand named it).
    }
  });
  try {
    if (port_.IsOpen()) port_.Close();
  } catch (const std::exception&) {
  }
  form_.ShowMessage(message);
  app_end_.EndApplication(kExitAborted);
}

}  // namespace tovalink
