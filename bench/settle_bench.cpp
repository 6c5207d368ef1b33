// settle_bench: how fast replies are settled against an outlet database of realistic size,
// without and then with the recommended indexes of schema/indexes.sql.
//
// It makes a database of its own on the throwaway server (socket from TOVALINK_DB_SOCKET,
// user root), fills `penjualanproduk` with sales spread over 30 days (today's open, earlier
// days settled) and `settinggetsn` with rules for 50 products, then settles replies that each
// name one of today's open sales, and prints replies per second. The database is dropped at
// the end unless --keep is given.
//
//   settle_bench [--sales N] [--rules N] [--replies N] [--keep]
//   defaults:     1000000      500         1000

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/clock.h"
#include "settle/settle_reply.h"
#include "store/database.h"
#include "store/text.h"
#include "testsupport/test_database.h"

namespace tovalink {
namespace {

constexpr int kProducts = 50;
constexpr int kDays = 30;
// Sales of one number recur: the numbers run through this many values.
constexpr int kNumbers = 300000;
const char* const kMarkers[] = {"ke ", "No HP ", "tujuan "};

struct Options {
  long sales = 1000000;
  int rules = 500;
  int replies = 1000;
  bool keep = false;
};

Options ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&]() -> long {
      if (i + 1 >= argc) throw std::runtime_error(arg + " needs a number");
      return std::stol(argv[++i]);
    };
    if (arg == "--sales") {
      options.sales = value();
    } else if (arg == "--rules") {
      options.rules = static_cast<int>(value());
    } else if (arg == "--replies") {
      options.replies = static_cast<int>(value());
    } else if (arg == "--keep") {
      options.keep = true;
    } else {
      throw std::runtime_error(
          "usage: settle_bench [--sales N] [--rules N] [--replies N] [--keep]");
    }
  }
  // Each reply settles a distinct open sale of today, and two rounds are run.
  const long needed = 2L * options.replies * kDays;
  if (options.sales < needed) {
    throw std::runtime_error("--sales must be at least " + std::to_string(needed) + " for " +
                             std::to_string(options.replies) + " replies");
  }
  if (options.replies * 2L * kDays > kNumbers) throw std::runtime_error("too many --replies");
  return options;
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

void FillSales(Database& db, long count, const std::string& today) {
  // Sale s is dated s % 30 days before today; today's sales are open, older ones settled
  // with a reply of the usual length.
  const long step = 100000;
  for (long first = 1; first <= count; first += step) {
    const long last = std::min(count, first + step - 1);
    db.ExecSql(
        "INSERT INTO penjualanproduk (idx,modem,flag,idproduk,barcode,tanggal,waktu,jumlah,"
        "status,respond,sn,sn_token) SELECT seq, CONCAT('M', seq % 4), 1, "
        "CONCAT('P', LPAD(seq % " +
        std::to_string(kProducts) +
        ", 3, '0')), "
        "CONCAT('08', LPAD(seq % " +
        std::to_string(kNumbers) +
        ", 10, '0')), "
        "DATE_SUB('" +
        today + "', INTERVAL seq % " + std::to_string(kDays) +
        " DAY), "
        "SEC_TO_TIME(seq % 86400), 1, IF(seq % " +
        std::to_string(kDays) +
        " = 0, '', 'SUKSES'), "
        "IF(seq % " +
        std::to_string(kDays) + " = 0, NULL, CONCAT('Pulsa P', LPAD(seq % " +
        std::to_string(kProducts) + ", 3, '0'), ' ke 08', LPAD(seq % " + std::to_string(kNumbers) +
        ", 10, '0'), ' SUKSES V0 SN:', seq, '.')), "
        "IF(seq % " +
        std::to_string(kDays) +
        " = 0, '', seq), "
        "IF(seq % " +
        std::to_string(kDays) +
        " = 0, '', seq) "
        "FROM seq_" +
        std::to_string(first) + "_to_" + std::to_string(last));
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

// Settles replies for sales k = first .. first + count - 1 and returns replies per second.
double Round(Database& db, Clock& clock, long first, int count) {
  const auto start = std::chrono::steady_clock::now();
  int in_hand = 0;
  for (long k = first; k < first + count; ++k) {
    char number[16];
    std::snprintf(number, sizeof number, "08%010ld", kDays * k % kNumbers);
    if (SettleReply(db, clock, Reply(k), number, 1) == Settlement::Succeeded) ++in_hand;
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("  %d replies in %.2f s, %d settled the sale in hand\n", count, seconds, in_hand);
  return count / seconds;
}

int Main(int argc, char** argv) {
  // Progress lines show at once even when the output goes to a file.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  const Options options = ParseOptions(argc, argv);
  TestDatabase::Socket();  // points the client library at the throwaway server
  const std::string name = "settle_bench_" + std::to_string(getpid());

  Database admin;
  admin.Connect({"localhost", "", "root", ""});
  admin.ExecSql("DROP DATABASE IF EXISTS " + name);
  admin.ExecSql("CREATE DATABASE " + name + " CHARACTER SET latin1");
  Database db;
  db.Connect({"localhost", name, "root", ""});
  RunScript(db, SourceFile("schema/outlet.sql"));

  VirtualClock clock;
  const std::string today = clock.Date();
  std::printf("filling %ld sales over %d days and %d rules...\n", options.sales, kDays,
              options.rules);
  const auto fill_start = std::chrono::steady_clock::now();
  FillSales(db, options.sales, today);
  FillRules(db, options.rules);
  db.ExecSql("ANALYZE TABLE penjualanproduk, settinggetsn");
  std::printf("  filled in %.1f s\n",
              std::chrono::duration<double>(std::chrono::steady_clock::now() - fill_start).count());

  std::printf("without indexes:\n");
  const double plain = Round(db, clock, 1, options.replies);
  RunScript(db, SourceFile("schema/indexes.sql"));
  db.ExecSql("ANALYZE TABLE penjualanproduk, settinggetsn");
  std::printf("with schema/indexes.sql:\n");
  const double indexed = Round(db, clock, 1 + options.replies, options.replies);
  std::printf("replies per second: %.1f without indexes, %.1f with indexes\n", plain, indexed);

  if (!options.keep) admin.ExecSql("DROP DATABASE " + name);
  return 0;
}

}  // namespace
}  // namespace tovalink

int main(int argc, char** argv) {
  try {
    return tovalink::Main(argc, argv);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "settle_bench: %s\n", error.what());
    return 1;
  }
}
