#include "app/module_control.h"

#include "core/errors.h"

namespace tovalink {

namespace {

// The respond of a sale that STOP met in hand (unless a reply already gave it one).
constexpr const char* kStoppedInSale = "Modul di-STOP saat transaksi berjalan";

}  // namespace

ModuleControl::ModuleControl(Form& form, Database& db, Clock& clock, SerialPort& port,
                             AppEnd& app_end)
    : form_(form),
      db_(db),
      clock_(clock),
      port_(port),
      app_end_(app_end),
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

  std::unique_ptr<Channel> channel = MakeChannel(form_.ctipeprov);
  worker_ = std::make_unique<Worker>(
      Module{form_, db_, clock_, exchange_,
             [this](const std::string& message, const std::string& port_text) {
               AbortModule(message, port_text);
             },
             app_end_, form_.csumber, form_.cport, std::move(modem)},
      std::move(channel));
  worker_->Start();
  form_.Log(LogPriority::Notice, "START " + form_.csumber + " port " + form_.cport);
  return StartResult::Running;
}

bool ModuleControl::BeginEnd() {
  bool expected = false;
  return ended_.compare_exchange_strong(expected, true);
}

void ModuleControl::Stop() {
  // The worker is told first, so that its own stop branch cannot overwrite STOP's row.
  if (worker_) worker_->RequestEnd();
  form_.StopRequested = true;
  if (!BeginEnd()) return;
  form_.Log(LogPriority::Notice, "STOP " + form_.csumber);
  try {
    timer_on_ = false;
    db_.ExecSql("UPDATE modulaktif SET lokasifile=\"-\",statrun=0,autorun=0 WHERE namamodul=\"" +
                db_.Escape(form_.csumber) + "\"");
    if (worker_) worker_->RequestEnd();
  } catch (const std::exception& error) {
    // The program ends all the same; the row keeps what it had, and the operator learns it.
    form_.SetStatusPanel(0, std::string(kRowNotWritten) + error.what());
  }
  try {
    if (worker_) worker_->CloseSaleInHand(Worker::SaleEnd::Stopped, kStoppedInSale);
  } catch (const std::exception&) {
    // The server is away: the sale keeps what it had (CloseSaleInHand named it).
  }
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

void ModuleControl::Tick() {
  if (!timer_on_ || ended_) return;
  try {
    db_.ExecSql(Heartbeat());
    Rows rows = db_.OpenSql("SELECT autorun FROM modulaktif WHERE namamodul=\"" +
                            db_.Escape(form_.csumber) + "\"");
    if (rows.Count() > 0 && !rows.IsNull("autorun")) {
      const std::string autorun = rows.Text("autorun");
      if (autorun == "0" || autorun == "2") {
        form_.Log(LogPriority::Notice, "STOP dari modulaktif: autorun " + autorun);
        Stop();
      }
    }
  } catch (const ConnectionLost&) {
    // An unreachable database only stops the heartbeat; the connection's observer says so.
    return;
  } catch (const std::exception& error) {
    // A heartbeat or remote-stop check the server refuses (a right or a column missing)
    // makes a running module look dead, or deaf, to the cashier software: the operator must
    // see why.
    const std::string text = std::string("Pengawasan modul gagal: ") + error.what();
    if (text != tick_failure_) {
      tick_failure_ = text;
      form_.SetStatusPanel(0, text);
    }
    return;
  }
  tick_failure_.clear();
}

void ModuleControl::AbortModule(const std::string& message, const std::string& port) {
  if (!BeginEnd()) return;
  if (worker_) worker_->RequestEnd();
  timer_on_ = false;
  try {
    db_.ExecSql("UPDATE modulaktif SET lokasifile=\"" + db_.Escape(message) +
                "\",statrun=0,autorun=2 WHERE comm=\"" + db_.Escape(port) + "\"");
    if (port_.IsOpen()) port_.Close();
    if (worker_) worker_->RequestEnd();
  } catch (const std::exception& error) {
    if (worker_) worker_->RequestEnd();
    form_.SetStatusPanel(0, std::string(kRowNotWritten) + error.what());
  }
  try {
    if (worker_) worker_->CloseSaleInHand(Worker::SaleEnd::Aborted, message);
  } catch (const std::exception&) {
    // The server is away: the sale keeps what it had (CloseSaleInHand named it).
  }
  form_.ShowMessage(message);
  app_end_.EndApplication(kExitAborted);
}

}  // namespace tovalink
