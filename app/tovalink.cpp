// tovalink: the module with its operator window and notification-area icon. Takes the same
// command line as tovalinkd.
#include <QApplication>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "app/log_settings.h"
#include "app/main_window.h"
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
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  const Options options = ParseOptions(arguments);
  if (options.kind != OptionKind::Run) {
    return RunToolOption(options, "tovalink", std::cout, std::cerr);
  }

  QApplication application(argc, argv);
  SetUpApplication();

  Database db;
  Form form;
  RealClock clock;
  // The window keeps no journal; the field trace is the same as tovalinkd's, and a trace
  // that cannot be written is shown in the first status-bar panel.
  const LogSettings log_settings =
      ReadLogSettings([](const char* name) -> const char* { return std::getenv(name); });
  for (const std::string& problem : log_settings.problems)
    std::cerr << "tovalink: " << problem << "\n";
  TermiosPort device;
  TracingPort port(
      device, clock, [&] { return TraceSettingsFor(log_settings, form.csumber); },
      [&form](const std::string& problem) { form.SetStatusPanel(0, problem); });
  ProcessEnd process_end;
  ModuleControl control(form, db, clock, port, process_end, ".");
  TFRMain window(form, db, control);
  OpenOperatorWindow(window, form, db, ProgramFolder(), options.start_argument);
  const int status = QApplication::exec();
  // The window was closed: the program ends here, without waiting for the worker and without
  // writing to the module's row.
  process_end.EndApplication(status);
}
