// The journal's priorities, its level and its two styles; the settings that choose the level
// and place the trace.
#include "app/journal_log.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "app/log_settings.h"
#include "testsupport/process.h"

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

}  // namespace
}  // namespace tovalink
