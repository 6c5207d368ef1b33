// The journal's priorities, its level and its two styles; the settings that choose the level
// and place the trace.
#include "app/journal_log.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <thread>

#include "app/log_settings.h"
#include "modem/trace_format.h"
#include "sim/sim_harness.h"
#include "testsupport/process.h"
#include "testsupport/test_database.h"

namespace tovalink {
namespace {

TEST(JournalLogTest, EachDisplayHasItsPriority) {
  struct Case {
    FormChange change;
    std::optional<LogPriority> priority;
    std::string text;
  };
  using P = LogPriority;
  using D = FormDisplay;
  const Case cases[] = {
      {{D::Message, 0, "", "Modem ERROR COM7"}, P::Error, "message: Modem ERROR COM7"},
      {{D::Message, 0, "", "Peringatan: dbsetting.txt dapat dibaca pengguna lain"},
       P::Warning,
       "message: Peringatan: dbsetting.txt dapat dibaca pengguna lain"},
      {{D::StatusPanel, 0, "", "Database terputus: gone"},
       P::Error,
       "status0: Database terputus: gone"},
      {{D::StatusPanel, 0, "", "Status modul tidak tertulis: gone"}, P::Error, ""},
      {{D::StatusPanel, 0, "", "Transaksi 12 tanpa status: gone"}, P::Error, ""},
      {{D::StatusPanel, 0, "", "ERRINSERT logtrxsms"}, P::Error, ""},
      {{D::StatusPanel, 0, "", "ERROR BACA SMS"}, P::Error, ""},
      {{D::StatusPanel, 0, "", "Indeks belum ada: penjualanproduk (modem, flag)"}, P::Warning, ""},
      {{D::StatusPanel, 0, "", "Pengawasan modul gagal: denied"}, P::Warning, ""},
      {{D::StatusPanel, 0, "", "Gangguan koneksi, Harap program diulangi"}, P::Warning, ""},
      {{D::StatusPanel, 0, "", "Database tersambung kembali setelah 8 s"}, P::Notice, ""},
      {{D::StatusPanel, 0, "", "Transaksi 12 diambil"}, P::Notice, ""},
      {{D::StatusPanel, 0, "", ""}, P::Debug, "status0: "},
      {{D::StatusPanel, 1, "", "AT+CMGL=4\r"}, P::Debug, "status1: AT+CMGL=4\r"},
      {{D::StatusPanel, 2, "", "\r\nOK\r\n"}, P::Debug, ""},
      {{D::Memo1, 0, "", "START ATE0\r"}, P::Debug, "memo1: START ATE0\r"},
      {{D::Memo1, 0, "", "80FULL"}, P::Warning, ""},
      {{D::Memo1, 0, "", "RLSDCHANGE"}, P::Info, ""},
      {{D::Stock, 0, "S10", "34"}, P::Info, "stock S10: 34"},
      {{D::Msaldo, 0, "", "Saldo 90000"}, P::Debug, "msaldo: Saldo 90000"},
      {{D::Gmk, 0, "", "shown"}, P::Debug, "gmk: shown"},
      {{D::Method, 0, "", "ALL_SIMPATI"}, P::Debug, "cmethod: ALL_SIMPATI"},
      {{D::Buttons, 0, "", ""}, std::nullopt, ""},
      // Form::Log lines keep their caller's priority and their bare text.
      {{D::Log, 5, "", "Transaksi 12 SUKSES SN 55"}, P::Notice, "Transaksi 12 SUKSES SN 55"},
      {{D::Log, 3, "", "x"}, P::Error, "x"},
      {{D::Log, 7, "", "y"}, P::Debug, "y"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PriorityOf(c.change), c.priority) << c.change.text;
    if (!c.text.empty()) {
      EXPECT_EQ(LineText(c.change), c.text);
    }
  }
}

TEST(JournalLogTest, LevelAndStyles) {
  VirtualClock clock;
  clock.SetLocal(2026, 3, 2, 9, 30, 0);
  const FormChange lost{FormDisplay::StatusPanel, 0, "", "Database terputus: gone"};
  const FormChange command{FormDisplay::StatusPanel, 1, "", "AT+CMGL=4\r"};
  const FormChange sold{FormDisplay::Log, 5, "", "Transaksi 12 SUKSES"};
  const FormChange stock{FormDisplay::Stock, 0, "S10", "34"};

  std::ostringstream journal;
  JournalLog to_journal(journal, clock, kDefaultLogLevel, LogStyle::Journal);
  for (const FormChange& change : {lost, command, sold, stock}) to_journal.Show(change);
  EXPECT_EQ(journal.str(), "<3>status0: Database terputus: gone\n<5>Transaksi 12 SUKSES\n");

  std::ostringstream terminal;
  JournalLog to_terminal(terminal, clock, LogPriority::Debug, LogStyle::Plain);
  for (const FormChange& change : {lost, command, stock}) to_terminal.Show(change);
  EXPECT_EQ(terminal.str(),
            "2026-03-02 09:30:00 error status0: Database terputus: gone\n"
            "2026-03-02 09:30:00 debug status1: AT+CMGL=4\\r\n"
            "2026-03-02 09:30:00 info stock S10: 34\n");

  std::ostringstream quiet;
  JournalLog errors_only(quiet, clock, LogPriority::Error, LogStyle::Journal);
  errors_only.Show(sold);
  errors_only.Write(LogPriority::Warning, "w");
  errors_only.Write(LogPriority::Error, "e");
  EXPECT_EQ(quiet.str(), "<3>e\n");
}

TEST(JournalLogTest, TextsStayOnOneLineAsUtf8) {
  EXPECT_EQ(JournalText("a\r\nb\x1A\tc\x7F"), "a\\r\\nb\\x1A\\x09c\\x7F");
  // Windows-1252 bytes as their characters; the five unassigned ones as escapes.
  EXPECT_EQ(JournalText("caf\xE9 \x80 \x81"), "caf\xC3\xA9 \xE2\x82\xAC \\x81");
  EXPECT_EQ(JournalText("100% \\ ok"), "100% \\ ok");
}

TEST(JournalLogTest, SettingsFromTheEnvironment) {
  auto read = [](std::map<std::string, std::string> values) {
    return ReadLogSettings([values](const char* name) -> const char* {
      auto found = values.find(name);
      return found == values.end() ? nullptr : found->second.c_str();
    });
  };
  const LogSettings defaults = read({});
  EXPECT_EQ(defaults.level, LogPriority::Notice);
  EXPECT_EQ(defaults.trace_bytes, 8 * 1024 * 1024);
  EXPECT_TRUE(defaults.problems.empty());

  struct Level {
    const char* text;
    std::optional<LogPriority> level;
  };
  for (const Level& c : std::initializer_list<Level>{{"debug", LogPriority::Debug},
                                                     {"DEBUG", LogPriority::Debug},
                                                     {"7", LogPriority::Debug},
                                                     {"warn", LogPriority::Warning},
                                                     {"err", LogPriority::Error},
                                                     {"info", LogPriority::Info},
                                                     {"verbose", std::nullopt},
                                                     {"2", std::nullopt}}) {
    EXPECT_EQ(ParseLogLevel(c.text), c.level) << c.text;
  }

  const LogSettings wrong =
      read({{"TOVALINK_LOG_LEVEL", "verbose"}, {"TOVALINK_TRACE_SIZE", "10"}});
  EXPECT_EQ(wrong.level, LogPriority::Notice);
  EXPECT_EQ(wrong.trace_bytes, kDefaultTraceBytes);
  EXPECT_EQ(wrong.problems,
            (std::vector<std::string>{
                "TOVALINK_LOG_LEVEL=verbose is not a level (error, warning, notice, info, "
                "debug); notice is used",
                "TOVALINK_TRACE_SIZE=10 is not a size from 64K to 1024M; 8M is used"}));

  struct Size {
    const char* text;
    int64_t bytes;
  };
  for (const Size& c : std::initializer_list<Size>{{"512K", 512 * 1024},
                                                   {"2m", 2 * 1024 * 1024},
                                                   {"70000", 70000},
                                                   {"2048M", -1},
                                                   {"M", -1},
                                                   {"1.5M", -1},
                                                   {"-100K", -1}}) {
    const LogSettings settings = read({{"TOVALINK_TRACE_SIZE", c.text}});
    EXPECT_EQ(settings.trace_bytes, c.bytes < 0 ? kDefaultTraceBytes : c.bytes) << c.text;
    EXPECT_EQ(settings.problems.size(), c.bytes < 0 ? 1u : 0u) << c.text;
  }

  // Where the trace goes: the working folder by default, into a folder, a file, or nowhere.
  TempFolder folder;
  struct Place {
    std::string trace;
    std::string module;
    std::string path;
  };
  for (const Place& c : std::initializer_list<Place>{
           {"", "HOST1", "HOST1.trace"},
           {"", "TOKO 1/../x", "TOKO_1_.._x.trace"},
           {"", ".hidden", "_hidden.trace"},
           {"", "", "module.trace"},
           {folder.path(), "M1", folder.path() + "/M1.trace"},
           {folder.path() + "/mine.log", "M1", folder.path() + "/mine.log"},
           {"off", "M1", ""}}) {
    EXPECT_EQ(TraceSettingsFor(read({{"TOVALINK_TRACE", c.trace}}), c.module).path, c.path)
        << c.trace << " " << c.module;
  }
}

TEST(JournalLogTest, TheJournalIsToldFromATerminalByItsStream) {
  struct stat err {};
  ASSERT_EQ(fstat(2, &err), 0);
  const std::string mine = std::to_string(err.st_dev) + ":" + std::to_string(err.st_ino);
  const char* before = std::getenv("JOURNAL_STREAM");
  const std::string kept = before == nullptr ? "" : before;
  unsetenv("JOURNAL_STREAM");
  EXPECT_EQ(StandardErrorStyle(), LogStyle::Plain);
  setenv("JOURNAL_STREAM", mine.c_str(), 1);
  EXPECT_EQ(StandardErrorStyle(), LogStyle::Journal);
  // A service whose standard error was sent elsewhere keeps the variable of its stdout.
  setenv("JOURNAL_STREAM", (mine + "1").c_str(), 1);
  EXPECT_EQ(StandardErrorStyle(), LogStyle::Plain);
  if (before == nullptr) {
    unsetenv("JOURNAL_STREAM");
  } else {
    setenv("JOURNAL_STREAM", kept.c_str(), 1);
  }
}

// tovalinkd as the service runs it: the default level, the trace in its working folder.
TEST(JournalEndToEndTest, AnIdleModuleSaysLittleWithPrioritiesAndTracesItsDialogue) {
  TestDatabase t;
  t.Run(
      "INSERT INTO modulaktif (namamodul, comm, caradial, tipemodem, autorun) VALUES"
      " ('M1', '7', 'HOSTA', 'WAVECOM', 1);");
  TempFolder folder;
  const std::string program = CopyProgram(TOVALINKD_PATH, folder.path());
  WriteSettingsFile(folder.path(), t.Name());
  SimHarness sim("", 7);
  RunningProgram module({program, "namamodul=M1"},
                        {{"MYSQL_UNIX_PORT", TestDatabase::Socket()},
                         {"TOVALINK_PORT_DIR", sim.Dir()},
                         {"TOVALINK_LOG_LEVEL", ""},
                         {"TOVALINK_TRACE", ""}},
                        folder.path());
  // Some five idle cycles, each a listing of the store.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  for (int listings = 0; listings < 5;) {
    ASSERT_TRUE(module.Running()) << module.Err();
    ASSERT_LT(std::chrono::steady_clock::now(), deadline) << listings << " listings";
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    listings = 0;
    for (const TranscriptLine& line : sim.Transcript()) {
      listings += line.kind == "RX" && line.text() == "AT+CMGL=4";
    }
  }
  module.Signal(SIGTERM);
  ASSERT_EQ(module.Wait(5000), 0) << module.Err();

  // Each line: the date, the time, the priority and the text; none of the dialogue.
  const std::regex stamped(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d (error|warning|notice) (.*))");
  std::vector<std::string> texts;
  std::istringstream lines(module.Err());
  for (std::string line; std::getline(lines, line);) {
    std::smatch match;
    ASSERT_TRUE(std::regex_match(line, match, stamped)) << line;
    texts.push_back(match[1].str() + " " + match[2].str().substr(0, 30));
  }
  EXPECT_EQ(texts, (std::vector<std::string>{"notice START M1 port 7",
                                             "warning status0: Indeks belum ada: pen",
                                             "notice SIGTERM", "notice STOP M1"}));

  std::ifstream in(folder.path() + "/M1.trace");
  const std::vector<TraceEvent> events = ReadTrace(in).events;
  ASSERT_GE(events.size(), 4u);
  EXPECT_EQ(events.front().kind, TraceKind::Open);
  EXPECT_EQ(events.front().fields[0], sim.PortPath());
  EXPECT_EQ(events[1].kind, TraceKind::Write);
  EXPECT_EQ(events[1].bytes(), "ATE0\r");
  EXPECT_EQ(events.back().kind, TraceKind::Close);
  // What the modem heard is what the trace says the module wrote, in order (the simulator
  // notes a command without its CR).
  std::vector<std::string> written, heard;
  for (const TraceEvent& event : events) {
    if (event.kind != TraceKind::Write) continue;
    const std::string& bytes = event.bytes();
    written.push_back(bytes.back() == '\r' ? bytes.substr(0, bytes.size() - 1) : bytes);
  }
  for (const TranscriptLine& line : sim.Transcript()) {
    if (line.kind == "RX") heard.push_back(line.text());
  }
  EXPECT_EQ(written, heard);
}

}  // namespace
}  // namespace tovalink
