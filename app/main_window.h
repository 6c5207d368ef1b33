#pragma once
// TFRMain: the operator window. It renders the Form (the module's settings boxes and displays)
// and forwards the operator's actions to start-up (ModuleSettings) and module control (START,
// STOP, the supervision tick); it decides nothing itself.
//
// Threads: the window lives on the user-interface thread. It observes the Form; a change made
// on another thread (the worker) is noted as pending and handed over with one queued call for
// all the changes that come before the user-interface thread takes them; one made on the
// user-interface thread is rendered at once. The Form, the database and the module control
// must outlive the window, and no other thread may change the Form once the window is being
// destroyed.
//
// Repaints: the worker changes the status box and the status bar several times a second while
// it talks to the modem (every command and every chunk of an answer), faster than anyone can
// read. Those changes are rendered together kRepaintMs after the first of them, so the latest
// state is on screen within that time and a burst of the modem's dialogue costs one repaint;
// an idle cycle that ends where the last one did repaints nothing. The worker's other changes
// (messages, buttons, the stock, the method box) are rendered at once, with whatever else is
// pending. Only what changed is written to the widgets; nothing runs on a timer while nothing
// is pending.

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QString>
#include <QTimer>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "app/UTrayIcon.h"
#include "app/module_control.h"
#include "app/startup.h"
#include "core/form.h"
#include "store/database.h"

namespace tovalink {

// The core's single-byte (Windows-1252) texts at the window's edge. Characters that have no
// Windows-1252 byte become "?".
QString FromSingleByte(const std::string& text);
std::string ToSingleByte(const QString& text);

// How long the worker's dialogue displays wait, gathering changes, before they are rendered.
inline constexpr int kRepaintMs = 250;

// The client size of the operator window, in pixels.
inline constexpr int kWindowWidth = 672;
inline constexpr int kWindowHeight = 245;

class TFRMain : public QMainWindow {
 public:
  TFRMain(Form& form, Database& db, ModuleControl& control, QWidget* parent = nullptr);
  ~TFRMain() override;
  TFRMain(const TFRMain&) = delete;
  TFRMain& operator=(const TFRMain&) = delete;

  // Shows the boxes, their lists and every display as the Form holds them; called once
  // start-up has filled the Form. Does not count as the operator's change of "Nama".
  void RenderSettings();
  // Puts the notification-area icon in place with the application's icon, the tray hint and
  // PopupMenu1. Where the desktop has no notification area, says so in the status bar.
  void PutTrayIcon();

  // The operator's actions (buttons and the icon's menu).
  void Start();        // START
  void Stop();         // STOP
  void HideForm();     // HIDE
  void ShowForm();     // "Show Form"

  TTrayIcon* TrayIcon() const { return tray_.get(); }
  QMenu* PopupMenu1() const { return popup_menu_; }
  const QTimer& TimerModul() const { return timer_modul_; }

 protected:
  // Closing the window ends the program and leaves the module's row as it is.
  void closeEvent(QCloseEvent* event) override;
  // Fills the debug box from the Form when it is shown.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildControls();
  void ConnectControls();
  void BindBox(QComboBox* box, std::string Form::*field);
  // The name box is left alone while the operator types in it.
  enum class NameBox { Render, LeaveAsTyped };
  void RenderBoxes(NameBox name_box);
  // The displays that changed since the last repaint, gathered from any thread.
  struct Pending {
    bool msaldo = false;
    bool panels[3] = {false, false, false};
    bool memo1 = false;
    std::set<std::string> stock;
    bool gmk = false;
    bool method = false;
    bool buttons = false;
    std::vector<std::string> messages;  // in order; each one is shown
  };
  static void Note(Pending& pending, const FormChange& change);
  // The displays whose changes wait kRepaintMs to be rendered together.
  static bool Chatty(FormDisplay what);
  void RepaintSoon();
  void Repaint();
  void RenderButtons();
  void RenderMsaldo();
  void RenderPanel(int index);
  void RenderMemo1();
  void ShowOperatorMessage(const QString& text);
  void OnNamaEdited(const QString& text);
  void OnTipeEdited(const QString& text);
  void OnTick();

  Form& form_;
  Database& db_;
  ModuleControl& control_;
  // Set while the window writes the boxes itself, so that only the operator's edits count.
  bool rendering_ = false;

  QGroupBox* gsetmodem_ = nullptr;
  QComboBox* csumber_ = nullptr;
  QLineEdit* epin_ = nullptr;
  QComboBox* cport_ = nullptr;
  QComboBox* chands_ = nullptr;
  QComboBox* cbaud_ = nullptr;
  QComboBox* cmodem_ = nullptr;
  QComboBox* cmethod_ = nullptr;
  QComboBox* ctipeprov_ = nullptr;
  QLineEdit* etunggu_ = nullptr;
  QPushButton* start_ = nullptr;
  QPushButton* stop_ = nullptr;
  QPushButton* hide_ = nullptr;
  QCheckBox* cslow_ = nullptr;
  QPlainTextEdit* msaldo_ = nullptr;
  QPlainTextEdit* memo1_ = nullptr;
  QGroupBox* gmk_ = nullptr;
  std::map<std::string, QLineEdit*> stock_;
  QLabel* panels_[3] = {nullptr, nullptr, nullptr};
  QLabel* note_ = nullptr;  // messages to the operator, beside the three panels

  QMenu* popup_menu_ = nullptr;
  std::unique_ptr<TTrayIcon> tray_;
  QTimer timer_modul_;

  // The queued call on its way to the user-interface thread for the pending changes: none,
  // one that waits kRepaintMs (RepaintSoon), or one that repaints at once.
  enum class HandOver { None, Soon, Now };
  std::mutex pending_mutex_;
  Pending pending_;                        // guarded by pending_mutex_
  HandOver handed_over_ = HandOver::None;  // guarded by pending_mutex_
  QTimer repaint_timer_;                   // single shot: the repaint that waits kRepaintMs
  QString shown_msaldo_;  // what msaldo shows, so that the same text is not set again
};

// The application-wide settings of tovalink: the application title "Tovalink", the icon, and
// no quitting when the last window is hidden behind the icon. Call after QApplication exists.
void SetUpApplication();

// Start-up with its window, as tovalink runs it: start-up from `program_folder`, the boxes
// rendered, the icon put in place when start-up got that far, START when the start argument
// asks for it, and the window shown.
StartupOutcome OpenOperatorWindow(TFRMain& window, Form& form, Database& db,
                                  const std::string& program_folder,
                                  const std::string& start_argument);

}  // namespace tovalink
