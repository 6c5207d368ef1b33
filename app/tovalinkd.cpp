// tovalinkd: the module without a window. Its displays go to standard error as journal lines
// with their priorities (app/journal_log.h), its modem dialogue to the field trace
// (modem/tracing_port.h); SIGTERM and SIGINT act as STOP.
#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <string>
#include <vector>

#include "app/index_check.h"
#include "app/journal_log.h"
#include "app/log_settings.h"
#include "app/module_control.h"
#include "app/options.h"
#include "app/startup.h"
#include "core/app_end.h"
#include "core/clock.h"
#include "core/form.h"
#include "modem/serial_port.h"
#include "modem/tracing_port.h"
#include "store/database.h"

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
  const LogSettings log_settings =
      ReadLogSettings([](const char* name) -> const char* { return std::getenv(name); });
  JournalLog journal(std::cerr, clock, log_settings.level, StandardErrorStyle());
  form.SetObserver([&journal](const FormChange& change) { journal.Show(change); });
  for (const std::string& problem : log_settings.problems) form.Log(LogPriority::Warning, problem);

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

  TermiosPort device;
  TracingPort port(
      device, clock, [&] { return TraceSettingsFor(log_settings, form.csumber); },
      [&form](const std::string& problem) { form.Log(LogPriority::Warning, problem); });
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
      form.Log(LogPriority::Notice, signal_number == SIGTERM ? "SIGTERM" : "SIGINT");
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
