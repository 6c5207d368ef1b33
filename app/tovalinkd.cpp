// tovalinkd: the module without a window. Its displays go to standard error as timestamped
// lines; SIGTERM and SIGINT act as STOP.
#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <iostream>
#include <mutex>
#include <string>
#include <vector>

#include "app/index_check.h"
#include "app/module_control.h"
#include "app/options.h"
#include "app/startup.h"
#include "core/app_end.h"
#include "core/clock.h"
#include "core/form.h"
#include "modem/serial_port.h"
#include "store/database.h"

namespace {

// Control bytes of modem texts shown readably on one line.
std::string Printable(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (static_cast<unsigned char>(c) < ' ') {
      static const char kHex[] = "0123456789ABCDEF";
      out += "\\x";
      out += kHex[(static_cast<unsigned char>(c) >> 4) & 15];
      out += kHex[c & 15];
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace tovalink;
  // The stop signals are taken by the main thread alone, with sigtimedwait: blocked here,
  // before any other thread exists, so that every thread inherits the block.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGTERM);
  sigaddset(&stop_signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

  const std::vector<std::string> arguments(argv + 1, argv + argc);
  const Options options = ParseOptions(arguments);
  if (options.kind != OptionKind::Run) {
    return RunToolOption(options, "tovalinkd", std::cout, std::cerr);
  }

  Form form;
  RealClock clock;
  std::mutex writer;
  form.SetObserver([&](const FormChange& change) {
    std::string line;
    switch (change.what) {
      case FormDisplay::Msaldo: line = "msaldo: " + change.text; break;
      case FormDisplay::StatusPanel:
        line = "status" + std::to_string(change.index) + ": " + change.text;
        break;
      case FormDisplay::Memo1: line = "memo1: " + change.text; break;
      case FormDisplay::Stock: line = "stock " + change.name + ": " + change.text; break;
      case FormDisplay::Gmk: line = "gmk: " + change.text; break;
      case FormDisplay::Method:
        line = "cmethod: " + change.text;
        break;
      case FormDisplay::Message: line = "message: " + change.text; break;
      case FormDisplay::Buttons: return;
      case FormDisplay::Log: line = change.text; break;
    }
    // One reading of the clock per line, so that a line written at midnight cannot carry one
    // day's date with the next day's time. One write per line: standard error flushes after
    // every insertion, and an idle module prints a few lines every cycle.
    const LocalDateTime now = clock.Local();
    const std::string text =
        Clock::FormatDate(now) + " " + Clock::FormatTime(now) + " " + Printable(line) + "\n";
    std::lock_guard lock(writer);
    std::cerr << text;
  });

  Database db;
  const StartupOutcome outcome = RunStartup(form, db, ProgramFolder(), options.start_argument);
  if (outcome == StartupOutcome::NoSettingsFile || outcome == StartupOutcome::QueryFailed) {
    return 1;
  }
  if (form.csumber.empty()) {
    std::cerr << "tovalinkd: no module named: give namamodul=NAME in the start argument\n";
    PrintUsage(std::cerr, "tovalinkd");
    return 2;
  }
  // Without a START button, one or two pieces start the module as three would.
  if (outcome == StartupOutcome::Idle) {
    try {
      ModuleSettings(form, db);
    } catch (const std::exception& error) {
      form.ShowMessage(error.what());
      return 1;
    }
  }

  TermiosPort port;
  ProcessEnd process_end;
  ModuleControl control(form, db, clock, port, process_end, ".");
  ModuleControl::StartResult started = ModuleControl::StartResult::Aborted;
  try {
    started = control.Start();
  } catch (const std::exception& error) {
    // START's own statements failed (the server went away, a user without the rights the
    // module needs): say so, and end as a fatal error would.
    form.ShowMessage(std::string("START gagal: ") + error.what());
    return kExitAborted;
  }
  switch (started) {
    case ModuleControl::StartResult::Refused:
      return kExitRefused;
    case ModuleControl::StartResult::Aborted:
      return kExitAborted;  // not reached: AbortModule ends the process
    case ModuleControl::StartResult::Running:
      break;
  }
  WarnOfMissingIndexes(form, db, IndexWarningLog::Displays);
  // The user-interface thread of a program without a window: it sleeps until the next
  // supervision tick or a stop signal, whichever comes first. The tick is kept on the
  // monotonic clock, so a step of the wall clock neither stops nor hurries the heartbeat.
  int64_t next_tick = clock.MonotonicMs() + kTickMs;
  for (;;) {
    const int64_t wait = std::max<int64_t>(0, next_tick - clock.MonotonicMs());
    const timespec timeout{static_cast<time_t>(wait / 1000),
                           static_cast<long>(wait % 1000) * 1'000'000};
    const int signal_number = sigtimedwait(&stop_signals, nullptr, &timeout);
    if (signal_number == SIGTERM || signal_number == SIGINT) {
      control.Stop();  // ends the program
      continue;
    }
    const int64_t now = clock.MonotonicMs();
    if (now >= next_tick) {
      next_tick += kTickMs;
      // Ticks missed on a busy machine are not made up.
      if (next_tick <= now) next_tick = now + kTickMs;
      control.Tick();
    }
  }
}
