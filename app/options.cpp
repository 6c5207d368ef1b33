#include "app/options.h"

#include <optional>
#include <sstream>
#include <stdexcept>

#include "app/launch.h"
#include "app/settings_report.h"
#include "app/startup.h"
#include "app/status.h"
#include "core/clock.h"
#include "core/form.h"
#include "settle/explain.h"
#include "settle/suggest_rule.h"
#include "settle/unmatched.h"
#include "sms/cp1252.h"
#include "store/database.h"

namespace tovalink {

namespace {

// A whole number from `least` to `most`, or nothing.
std::optional<int64_t> WholeNumber(const std::string& text, int64_t least, int64_t most) {
  if (text.empty() || text.size() > 12 ||
      text.find_first_not_of("0123456789") != std::string::npos) {
    return std::nullopt;
  }
  const int64_t value = std::stoll(text);
  if (value < least || value > most) return std::nullopt;
  return value;
}

// A text given at a terminal: UTF-8 becomes the module's single bytes; anything that is not
// UTF-8 of Windows-1252 characters is taken byte for byte.
std::string FromTerminal(const std::string& text) {
  const std::string single = Utf8ToCp1252(text);
  return Cp1252ToUtf8(single) == text ? single : text;
}

// Connects as start-up does; false (with the messages on `err`) when there is no database.
bool ConnectForTool(Form& form, Database& db, std::ostream& err) {
  const StartupOutcome outcome = RunStartup(form, db, ProgramFolder(), "");
  if (outcome == StartupOutcome::NoSettingsFile || outcome == StartupOutcome::QueryFailed) {
    for (const std::string& message : form.Messages()) err << message << "\n";
    return false;
  }
  return true;
}

}  // namespace

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
  } else if (first == "--unmatched") {
    if (expect(1, 2)) {
      options.kind = OptionKind::Unmatched;
      if (arguments.size() == 2) {
        const std::optional<int64_t> days = WholeNumber(arguments[1], 1, 366);
        if (days) {
          options.days = static_cast<int>(*days);
        } else {
          options.kind = OptionKind::Invalid;
          options.error = "--unmatched: DAYS is a number of days from 1 to 366, not " +
                          arguments[1];
        }
      }
    }
  } else if (first == "--suggest-rule") {
    if (expect(3, 5)) {
      options.kind = OptionKind::SuggestRule;
      options.text = arguments[1];
      const std::optional<int64_t> idx = WholeNumber(arguments[2], 1, INT64_C(999999999999));
      if (idx) {
        options.idx = *idx;
      } else {
        options.kind = OptionKind::Invalid;
        options.error = "--suggest-rule: IDX is the idx of a sale, not " + arguments[2];
      }
      // After the idx: the serial number and the outcome, in either order.
      for (size_t i = 3; i < arguments.size() && options.kind == OptionKind::SuggestRule; ++i) {
        const std::string& extra = arguments[i];
        std::string& slot = extra == "SUKSES" || extra == "GAGAL" ? options.tipepesan : options.sn;
        if (!slot.empty()) {
          options.kind = OptionKind::Invalid;
          options.error = "--suggest-rule: give at most one serial number and one of SUKSES "
                          "and GAGAL";
        }
        slot = extra;
      }
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
      << "       " << program << " --explain-reply TEXT [DESTINATION] | --unmatched [DAYS] |\n"
      << "       " << program << " --suggest-rule REPLY IDX [SN] [SUKSES|GAGAL] | --status |\n"
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
      << "  --unmatched [DAYS]     the replies of the last DAYS days (1: today) that settled no\n"
      << "                         sale, grouped by wording, with the open sales they answer\n"
      << "  --suggest-rule REPLY IDX [SN] [SUKSES|GAGAL]\n"
      << "                         propose a settinggetsn row from a reply and the sale it\n"
      << "                         answers, checked against the rules; exits 0 when it is ready\n"
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
      if (!ConnectForTool(form, db, err)) return 1;
      RealClock clock;
      try {
        ExplainReply(db, clock, options.text, options.destination, out);
      } catch (const std::exception& error) {
        err << program << ": " << error.what() << "\n";
        return 1;
      }
      return 0;
    }
    case OptionKind::Unmatched: {
      Form form;
      Database db;
      if (!ConnectForTool(form, db, err)) return 1;
      RealClock clock;
      try {
        std::ostringstream report;
        PrintUnmatched(FindUnmatched(db, clock, options.days), program, report);
        out << Cp1252ToUtf8(report.str());
        return 0;
      } catch (const std::exception& error) {
        err << program << ": " << error.what() << "\n";
        return 1;
      }
    }
    case OptionKind::SuggestRule: {
      Form form;
      Database db;
      if (!ConnectForTool(form, db, err)) return 1;
      try {
        const Suggestion suggestion = SuggestRule(
            db, {FromTerminal(options.text), options.idx, FromTerminal(options.sn),
                 options.tipepesan});
        std::ostringstream report;
        PrintSuggestion(suggestion, program, report);
        out << Cp1252ToUtf8(report.str());
        return suggestion.Ready() ? 0 : 1;
      } catch (const std::exception& error) {
        err << program << ": " << error.what() << "\n";
        return 1;
      }
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
