#pragma once
// TFRMain: the operator window. It renders the Form (the module's settings boxes and displays)
// and forwards the operator's actions to start-up (ModuleSettings) and module control (START,
// STOP, the supervision tick); it decides nothing itself.
//
// Threads: the window lives on the user-interface thread. It observes the Form; a change made
// on another thread (the worker) is handed over with a queued call and rendered on the
// user-interface thread, one made on the user-interface thread is rendered at once. The Form,
// the database and the module control must outlive the window, and no other thread may
// change the Form once the window is being destroyed.

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
#include <string>

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

 private:
  void BuildControls();
  void ConnectControls();
  void BindBox(QComboBox* box, std::string Form::*field);
  // The name box is left alone while the operator types in it.
  enum class NameBox { Render, LeaveAsTyped };
  void RenderBoxes(NameBox name_box);
  void Render(const FormChange& change);
  void RenderButtons();
  void RenderMsaldo();
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
