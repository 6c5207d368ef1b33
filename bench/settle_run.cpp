#include "bench/settle_run.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <stdexcept>

#include "core/clock.h"
#include "settle/settle_reply.h"
#include "store/database.h"
#include "testsupport/test_database.h"

namespace tovalink {

namespace {

constexpr int kProducts = 50;
constexpr int kDays = 30;
// Sales of one number recur: the numbers run through this many values.
constexpr int kNumbers = 300000;
const char* const kMarkers[] = {"ke ", "No HP ", "tujuan "};
// The measured replies are settled in this many rounds; the middle one counts.
constexpr int kRounds = 3;

using SteadyClock = std::chrono::steady_clock;

double SecondsSince(SteadyClock::time_point start) {
  return std::chrono::duration<double>(SteadyClock::now() - start).count();
}

std::string Product(int p) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "P%03d", p % kProducts);
  return buffer;
}

void FillRules(Database& db, int count) {
  // Per product alternately a success and a failure rule, with five wordings each, behind
  // the three number markers; the reply below matches one success wording.
  std::string values;
  for (int i = 0; i < count; ++i) {
    const int product = i % kProducts;
    const int variant = i / kProducts / 2;
    const bool success = (i / kProducts) % 2 == 0;
    const std::string marker = kMarkers[variant % 3];
    if (!values.empty()) values += ",";
    values += "('" + Product(product) + "','" + (success ? "SUKSES" : "GAGAL") + "','" + marker +
              "','SN:','.','Pulsa " + Product(product) + "','" +
              (success ? "SUKSES V" : "GAGAL V") + std::to_string(variant) + "','')";
  }
  db.ExecSql(
      "INSERT INTO settinggetsn (idproduk,tipepesan,awalmsisdn,awalsn,akhirsn,pesanproduk,"
      "pesansuksesgagal,katajumlah) VALUES " +
      values);
}

void FillSales(Database& db, long count, const std::string& today, std::ostream& progress) {
  // Sale s is dated s % 30 days before today; today's sales are open, older ones settled
  // with a reply of the usual length.
  const long step = 100000;
  const std::string days = std::to_string(kDays);
  const std::string products = std::to_string(kProducts);
  const std::string numbers = std::to_string(kNumbers);
  for (long first = 1; first <= count; first += step) {
    const long last = std::min(count, first + step - 1);
    db.ExecSql(
        "INSERT INTO penjualanproduk (idx,modem,flag,idproduk,barcode,tanggal,waktu,jumlah,"
        "status,respond,sn,sn_token) SELECT seq, CONCAT('M', seq % 4), 1, "
        "CONCAT('P', LPAD(seq % " +
        products +
        ", 3, '0')), "
        "CONCAT('08', LPAD(seq % " +
        numbers +
        ", 10, '0')), "
        "DATE_SUB('" +
        today + "', INTERVAL seq % " + days +
        " DAY), "
        "SEC_TO_TIME(seq % 86400), 1, IF(seq % " +
        days +
        " = 0, '', 'SUKSES'), "
        "IF(seq % " +
        days + " = 0, NULL, CONCAT('Pulsa P', LPAD(seq % " + products +
        ", 3, '0'), ' ke 08', LPAD(seq % " + numbers +
        ", 10, '0'), ' SUKSES V0 SN:', seq, "
        "'.')), IF(seq % " +
        days + " = 0, '', seq), IF(seq % " + days +
        " = 0, '', seq) "
        "FROM seq_" +
        std::to_string(first) + "_to_" + std::to_string(last));
    if (count > step) progress << "  " << last << " of " << count << " sales\n" << std::flush;
  }
}

// The reply for today's sale with index 30 * k: it names the number without its leading
// zero behind the first marker and carries the first success wording of its product.
std::string Reply(long k) {
  const long seq = kDays * k;
  char number[16];
  std::snprintf(number, sizeof number, "%010ld", seq % kNumbers);
  return "Pulsa " + Product(static_cast<int>(seq % kProducts)) + " ke 8" + number +
         " SUKSES V0 SN:" + std::to_string(seq) + ". Sisa saldo 1.234.567";
}

std::string Destination(long k) {
  char number[16];
  std::snprintf(number, sizeof number, "08%010ld", kDays * k % kNumbers);
  return number;
}

// CPU time of this process (user and system), in microseconds: the module's own share of a
// settlement, apart from the server's work and the waiting for it.
double ProcessCpuMicroseconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e6 + usage.ru_utime.tv_usec +
         usage.ru_stime.tv_usec;
}

struct RoundResult {
  double replies_per_second = 0;
  double module_cpu_microseconds = 0;  // per reply
};

// Settles the replies for sales k = first .. first + count - 1.
RoundResult Round(Database& db, Clock& clock, long first, int count, int& in_hand,
                  std::ostream& progress) {
  const auto start = SteadyClock::now();
  const double cpu_start = ProcessCpuMicroseconds();
  in_hand = 0;
  for (long k = first; k < first + count; ++k) {
    if (SettleReply(db, clock, Reply(k), Destination(k), 1) == Settlement::Succeeded) ++in_hand;
  }
  const double seconds = SecondsSince(start);
  RoundResult result;
  result.replies_per_second = count / seconds;
  result.module_cpu_microseconds = (ProcessCpuMicroseconds() - cpu_start) / count;
  char line[160];
  std::snprintf(line, sizeof line,
                "  %d replies in %.2f s, %d settled the sale in hand; %.1f us of module CPU "
                "each\n",
                count, seconds, in_hand, result.module_cpu_microseconds);
  progress << line << std::flush;
  return result;
}

std::vector<std::string> Explain(Database& db, const std::string& statement) {
  std::vector<std::string> lines;
  Rows rows = db.OpenSql("EXPLAIN " + statement);
  std::string header;
  for (const std::string& column : rows.Columns()) header += (header.empty() ? "" : " | ") + column;
  lines.push_back(header);
  for (; !rows.Eof(); rows.Next()) {
    std::string line;
    for (size_t i = 0; i < rows.Columns().size(); ++i) {
      line += (i == 0 ? "" : " | ") + rows.Text(static_cast<int>(i));
    }
    lines.push_back(line);
  }
  return lines;
}

// Takes the settlement of replies k = first .. apart: the statements one reply issues, each
// timed alone, and whole replies timed the same way.
void Profile(Database& db, Clock& clock, long first, int repeats, SettleResult& result) {
  db.StartStatementLog();
  const SettleDecision decision = DecideReply(db, clock, Reply(first), Destination(first), 1);
  std::vector<std::string> reads = db.TakeStatementLog();
  for (const std::string& statement : reads) {
    StatementProfile profile;
    profile.statement = statement;
    const auto start = SteadyClock::now();
    for (int n = 0; n < repeats; ++n) profile.rows = db.OpenSql(statement).Count();
    profile.microseconds = SecondsSince(start) * 1e6 / repeats;
    profile.explain = Explain(db, statement);
    result.statements.push_back(profile);
  }

  // The UPDATE settles a sale, so each timing settles a different one.
  std::vector<std::string> updates;
  for (long k = first; k < first + repeats; ++k) {
    updates.push_back(DecideReply(db, clock, Reply(k), Destination(k), 1).update);
  }
  db.TakeStatementLog();
  StatementProfile update;
  update.statement = decision.update;
  update.explain = Explain(db, decision.update);
  const auto start = SteadyClock::now();
  for (const std::string& statement : updates) {
    if (!statement.empty()) db.ExecSql(statement);
  }
  update.microseconds = SecondsSince(start) * 1e6 / repeats;
  update.rows = 1;
  result.statements.push_back(update);

  const auto whole = SteadyClock::now();
  for (long k = first + repeats; k < first + 2L * repeats; ++k) {
    SettleReply(db, clock, Reply(k), Destination(k), 1);
  }
  result.reply_microseconds = SecondsSince(whole) * 1e6 / repeats;

  // The server's own time for each statement of a few replies, as they come in a reply.
  db.ExecSql("SET profiling=1");
  const auto profiled = SteadyClock::now();
  for (long k = first + 2L * repeats; k < first + 2L * repeats + 3; ++k) {
    SettleReply(db, clock, Reply(k), Destination(k), 1);
  }
  const double profiled_us = SecondsSince(profiled) * 1e6;
  db.ExecSql("SET profiling=0");
  double server_us = 0;
  for (Rows rows = db.OpenSql("SHOW PROFILES"); !rows.Eof(); rows.Next()) {
    result.server_profile.push_back(rows.Text("Duration") + " s  " + rows.Text("Query"));
    server_us += std::stod(rows.Text("Duration")) * 1e6;
  }
  result.server_profile.push_back("server " + std::to_string(server_us) + " us of " +
                                  std::to_string(profiled_us) + " us");
}

}  // namespace

SettleResult RunSettleBench(const SettleBenchOptions& options, std::ostream& progress) {
  // Each reply settles a distinct open sale of today (index 30 * k).
  const long used = static_cast<long>(options.unindexed_replies) + options.replies +
                    2L * options.statement_repeats + 4;
  if (options.replies < kRounds || options.statement_repeats < 1 || options.unindexed_replies < 0) {
    throw std::runtime_error("--replies must be at least " + std::to_string(kRounds) +
                             " and --repeats at least 1");
  }
  if (options.sales < used * kDays) {
    throw std::runtime_error("--sales must be at least " + std::to_string(used * kDays) +
                             " for these replies");
  }
  if (used * kDays > kNumbers) throw std::runtime_error("too many replies");

  TestDatabase::Socket();  // points the client library at the throwaway server
  const std::string name = "settle_bench_" + std::to_string(getpid());
  Database admin;
  admin.Connect({"localhost", "", "root", ""});
  admin.ExecSql("DROP DATABASE IF EXISTS " + name);
  admin.ExecSql("CREATE DATABASE " + name + " CHARACTER SET latin1");
  SettleResult result;
  try {
    Database db;
    db.Connect({"localhost", name, "root", ""});
    RunScript(db, SourceFile("schema/outlet.sql"));

    RealClock clock;
    const std::string today = clock.Date();
    progress << "filling " << options.sales << " sales over " << kDays << " days and "
             << options.rules << " rules...\n"
             << std::flush;
    const auto fill_start = SteadyClock::now();
    FillSales(db, options.sales, today, progress);
    FillRules(db, options.rules);
    db.OpenSql("ANALYZE TABLE penjualanproduk, settinggetsn");
    result.fill_seconds = SecondsSince(fill_start);

    long next = 1;
    if (options.unindexed_replies > 0) {
      progress << "without indexes:\n";
      result.unindexed_replies_per_second =
          Round(db, clock, next, options.unindexed_replies, result.settled_in_hand, progress)
              .replies_per_second;
      next += options.unindexed_replies;
    }
    RunScript(db, SourceFile("schema/indexes.sql"));
    db.OpenSql("ANALYZE TABLE penjualanproduk, settinggetsn");
    progress << "with schema/indexes.sql:\n";
    // Three rounds, and the middle one counts: a round lasts well under a second, and one
    // that another program's burst slowed down should not stand for the whole.
    std::vector<RoundResult> rounds;
    result.settled_in_hand = 0;
    for (int round = 0; round < kRounds; ++round) {
      const int count = options.replies / kRounds + (round < options.replies % kRounds ? 1 : 0);
      int in_hand = 0;
      rounds.push_back(Round(db, clock, next, count, in_hand, progress));
      result.settled_in_hand += in_hand;
      next += count;
    }
    std::sort(rounds.begin(), rounds.end(), [](const RoundResult& a, const RoundResult& b) {
      return a.replies_per_second < b.replies_per_second;
    });
    result.replies_per_second = rounds[kRounds / 2].replies_per_second;
    result.module_cpu_microseconds = rounds[kRounds / 2].module_cpu_microseconds;
    Profile(db, clock, next, options.statement_repeats, result);
  } catch (...) {
    if (!options.keep) admin.ExecSql("DROP DATABASE IF EXISTS " + name);
    throw;
  }
  if (!options.keep) admin.ExecSql("DROP DATABASE " + name);
  return result;
}

void PrintSettleProfile(const SettleResult& result, std::ostream& out) {
  double statements = 0;
  for (const StatementProfile& profile : result.statements) {
    char line[96];
    std::snprintf(line, sizeof line, "  %8.1f us  %d rows  ", profile.microseconds, profile.rows);
    out << line << profile.statement << "\n";
    for (const std::string& explain : profile.explain) out << "               " << explain << "\n";
    statements += profile.microseconds;
  }
  char line[160];
  std::snprintf(line, sizeof line,
                "  %8.1f us  one reply settled whole; %.1f us of it outside the statements\n",
                result.reply_microseconds, result.reply_microseconds - statements);
  out << line;
  for (const std::string& entry : result.server_profile) out << "  " << entry << "\n";
}

}  // namespace tovalink
