#pragma once
// The module's form: the settings boxes, the fields of the main window and its displays, as
// plain state. The Qt window renders it and tovalinkd prints it; neither holds logic.
//
// Threads: the settings boxes and their lists are written on the user-interface thread while
// the module is idle (start-up, ModuleSettings, the operator's typing) and only read once the
// module runs, since START disables the group "Set Modem"; ProviderType, DialSuffix and
// DialReplyEnd are set by START before the worker starts. StopRequested and cslow are atomic.
// UseSimStore belongs to the worker. The one settings box that changes while the module runs
// is the method box: the MKIOS channel sets it with SetMethodBox on the worker thread, which
// writes `cmethod` under the form's lock; the worker may read `cmethod` directly, any other
// thread reads it with MethodBox() while the module runs. The displays may be changed from any
// thread; each change is reported to the observer on the thread that made it, and the front
// end hands it over to its user-interface thread (Qt: a queued call; tovalinkd: one writer).

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace tovalink {

enum class FormDisplay {
  Msaldo,       // the status box; text is the whole new content
  StatusPanel,  // index 0..2; text is the panel's new content
  Memo1,        // text is the line appended to the debug box
  Stock,        // name is the stock box ("S5".."S100", "A5".."A100"); text its content
  Gmk,          // the group "Stok Mkios" was shown (text "shown") or hidden ("hidden")
  Method,       // the method box `cmethod`; text is its new content
  Message,      // a message to the operator; text is the message
  Buttons,      // START/STOP/"Set Modem" enabling changed
  Log,          // a line for the module's journal only; index is its LogPriority
};

// The priorities of the journal's lines, as syslog numbers them (journald reads them from a
// "<N>" prefix): what a technician follows is a notice, the modem dialogue is debug.
enum class LogPriority { Error = 3, Warning = 4, Notice = 5, Info = 6, Debug = 7 };

// `StopRequested`: set by STOP, read by the worker and by SendAT before every exchange. An
// atomic flag; a watcher (set before the module runs, for tests) is told of every assignment,
// on the thread that made it, after the new value is in place.
class StopFlag {
 public:
  explicit StopFlag(bool value) : value_(value) {}
  StopFlag(const StopFlag&) = delete;
  StopFlag& operator=(const StopFlag&) = delete;

  StopFlag& operator=(bool value) {
    value_.store(value);
    if (watcher_) watcher_(value);
    return *this;
  }
  operator bool() const { return value_.load(); }  // NOLINT: reads as the flag it is
  void SetWatcher(std::function<void(bool value)> watcher) { watcher_ = std::move(watcher); }

 private:
  std::atomic<bool> value_;
  std::function<void(bool)> watcher_;
};

struct FormChange {
  FormDisplay what;
  int index = 0;
  std::string name;
  std::string text;
};

// Names of the visible stock boxes of "Stok Mkios", left to right.
extern const std::vector<std::string> kStockBoxes;

class Form {
 public:
  Form();

  // Settings boxes (texts) and their lists.
  std::string csumber, cport, chands, cbaud, cmodem, cmethod, ctipeprov, epin;
  std::string etunggu = "20";
  std::vector<std::string> csumber_items, cport_items, chands_items, cbaud_items, cmodem_items,
      ctipeprov_items;

  // Fields of the main form.
  StopFlag StopRequested{true};
  std::atomic<bool> cslow{false};  // "Slow Debug"
  std::string ProviderType, DialSuffix, DialReplyEnd;
  bool UseSimStore = false;

  // The method box as a display: sets `cmethod` and reports the change when the text differs.
  void SetMethodBox(const std::string& text);
  std::string MethodBox() const;

  // Displays.
  void SetMsaldo(const std::string& text);
  void AddMsaldoLine(const std::string& line);
  std::string Msaldo() const;
  void SetStatusPanel(int index, const std::string& text);
  std::string StatusPanel(int index) const;
  void AppendMemo1(const std::string& line);
  std::string Memo1() const;
  void SetStock(const std::string& box, const std::string& text);
  std::string Stock(const std::string& box) const;
  void SetGmkVisible(bool shown);
  bool GmkVisible() const;
  void ShowMessage(const std::string& text);
  // A line for the journal that no display shows: a sale's outcome, a server lost and back.
  // The window ignores it; tovalinkd writes it with its priority.
  void Log(LogPriority priority, const std::string& text);
  std::vector<std::string> Messages() const;

  // Buttons and the group "Set Modem".
  struct Buttons {
    bool start_enabled = true;
    bool stop_enabled = true;
    bool set_modem_enabled = true;
  };
  void SetButtons(const Buttons& buttons);
  Buttons GetButtons() const;

  // Called with every display change, on the thread that made it. Set before the module runs.
  void SetObserver(std::function<void(const FormChange&)> observer);

 private:
  void Notify(const FormChange& change);

  mutable std::mutex mutex_;
  std::string msaldo_;
  std::string panels_[3];
  std::string memo1_;
  std::map<std::string, std::string> stock_;
  bool gmk_visible_ = false;
  std::vector<std::string> messages_;
  Buttons buttons_;
  std::function<void(const FormChange&)> observer_;
};

}  // namespace tovalink
