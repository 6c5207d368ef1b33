#include "app/options.h"

#include <stdexcept>

#include "app/launch.h"
#include "app/settings_report.h"
#include "app/startup.h"
#include "app/status.h"
#include "core/clock.h"
#include "core/form.h"
#include "settle/explain.h"
#include "store/database.h"

namespace tovalink {

Options ParseOptions(const std::vector<std::string>& arguments) {
  Options options;
  if (arguments.empty()) return options;
  const std::string& first = arguments[0];
  auto expect = [&](size_t least, size_t most) {
    if (arguments.size() < least || arguments.size() > most) {
      options.kind = OptionKind::Invalid;
      options.error = first + ": wrong number of arguments";
      return false;
    }
    return true;
  };
  if (first == "--help" || first == "-h") {
    if (expect(1, 1)) options.kind = OptionKind::Help;
  } else if (first == "--version") {
    if (expect(1, 1)) options.kind = OptionKind::Version;
  } else if (first == "--mask") {
    if (expect(2, 2)) {
      options.kind = OptionKind::Mask;
      options.text = arguments[1];
    }
  } else if (first == "--settings") {
    if (expect(2, 2)) {
      options.kind = OptionKind::Settings;
      options.start_argument = arguments[1];
    }
  } else if (first == "--explain-reply") {
    if (expect(2, 3)) {
      options.kind = OptionKind::ExplainReply;
      options.text = arguments[1];
      if (arguments.size() == 3) options.destination = arguments[2];
    }
  } else if (first == "--status") {
    if (expect(1, 1)) options.kind = OptionKind::Status;
  } else if (first == "--set-autorun") {
    if (expect(2, 2)) {
      options.kind = OptionKind::SetAutorun;
      options.text = arguments[1];
    }
  } else if (first.rfind("--", 0) == 0) {
    options.kind = OptionKind::Invalid;
    options.error = "unknown option " + first;
  } else {
    options.kind = OptionKind::Run;
    options.start_argument = first;
  }
  return options;
}

void PrintUsage(std::ostream& out, const std::string& program) {
  out << "usage: " << program << " START_ARGUMENT\n"
      << "       " << program << " --settings START_ARGUMENT | --mask TEXT |\n"
      << "       " << program << " --explain-reply TEXT [DESTINATION] | --status |\n"
      << "       " << program << " --set-autorun NAME | --help | --version\n"
      << "\n"
      << "START_ARGUMENT is \"#\"-joined key=value pieces with the keys namamodul, comm,\n"
      << "baudrate, handshake, tipemodem, caradial, metodetrx and pin, for example\n"
      << "  \"namamodul=M1#comm=7#pin=1234\"\n"
      << "Three or more pieces load the module's stored settings and start it at once.\n"
      << "\n"
      << "  --settings ARG         run start-up, print the settings it loads, and exit\n"
      << "  --mask TEXT            print TEXT masked for a dbsetting.txt line (dbname, user, "
         "pass)\n"
      << "  --explain-reply TEXT   show how a reply would settle today's open sales, write "
         "nothing\n"
      << "  --status               every module's heartbeat, last error and today's sales; exits "
         "0\n"
      << "                         when every module with autorun 1 is alive, 1 otherwise\n"
      << "  --set-autorun NAME     set the module's autorun to 1, as before launching it (the\n"
      << "                         service tovalinkd@NAME does this before every start)\n"
      << "\n"
      << "The database is named by dbsetting.txt in the program's folder:\n"
      << "  ipserver=HOST, dbname=MASKED, user=MASKED, pass=MASKED\n"
      << "Port N is $TOVALINK_PORT_DIR/COM<N> when that variable is set, else /dev/ttyS<N-1>.\n";
}

int RunToolOption(const Options& options, const std::string& program, std::ostream& out,
                  std::ostream& err) {
  switch (options.kind) {
    case OptionKind::Help:
      PrintUsage(out, program);
      return 0;
    case OptionKind::Version:
      out << program << " " << TOVALINK_VERSION << "\n";
      return 0;
    case OptionKind::Mask:
      try {
        out << MaskSetting(options.text) << "\n";
        return 0;
      } catch (const std::invalid_argument& error) {
        err << program << ": " << error.what() << "\n";
        return 2;
      }
    case OptionKind::Settings: {
      Form form;
      Database db;
      const StartupOutcome outcome =
          RunStartup(form, db, ProgramFolder(), options.start_argument);
      out << SettingsReport(form);
      return outcome == StartupOutcome::NoSettingsFile || outcome == StartupOutcome::QueryFailed
                 ? 1
                 : 0;
    }
    case OptionKind::ExplainReply: {
      Form form;
      Database db;
      const StartupOutcome outcome = RunStartup(form, db, ProgramFolder(), "");
      if (outcome == StartupOutcome::NoSettingsFile || outcome == StartupOutcome::QueryFailed) {
        for (const std::string& message : form.Messages()) err << message << "\n";
        return 1;
      }
      RealClock clock;
      try {
        ExplainReply(db, clock, options.text, options.destination, out);
      } catch (const std::exception& error) {
        err << program << ": " << error.what() << "\n";
        return 1;
      }
      return 0;
    }
    case OptionKind::Status: {
      Form form;
      Database db;
      const StartupOutcome outcome = RunStartup(form, db, ProgramFolder(), "");
      for (const std::string& message : form.Messages()) err << message << "\n";
      if (outcome == StartupOutcome::NoSettingsFile || outcome == StartupOutcome::QueryFailed) {
        return 1;
      }
      RealClock clock;
      try {
        const OutletStatus status = ReadOutletStatus(db, clock);
        PrintOutletStatus(status, out);
        return StatusExitCode(status);
      } catch (const std::exception& error) {
        err << program << ": " << error.what() << "\n";
        return 1;
      }
    }
    case OptionKind::SetAutorun: {
      Form form;
      Database db;
      const StartupOutcome outcome = RunStartup(form, db, ProgramFolder(), "");
      for (const std::string& message : form.Messages()) err << message << "\n";
      if (outcome == StartupOutcome::NoSettingsFile || outcome == StartupOutcome::QueryFailed) {
        return 1;
      }
      try {
        SetAutorun(db, options.text);
        return 0;
      } catch (const std::exception& error) {
        err << program << ": " << error.what() << "\n";
        return 1;
      }
    }
    case OptionKind::Invalid:
      err << program << ": " << options.error << "\n";
      PrintUsage(err, program);
      return 2;
    case OptionKind::Run:
      break;
  }
  return 2;
}

}  // namespace tovalink
