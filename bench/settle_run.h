#pragma once
// How fast replies are settled against an outlet database of realistic size.
//
// It makes a database of its own on the throwaway server (socket from TOVALINK_DB_SOCKET,
// user root), fills `penjualanproduk` with sales spread over 30 days (today's open, earlier
// days settled) and `settinggetsn` with rules for 50 products, then settles replies that each
// name one of today's open sales: a few before the recommended indexes are added (to show
// what an outlet without them pays) and the measured rounds after. Last, it takes one more
// reply apart: each statement its settlement issues, timed alone and EXPLAINed.
//
// Runs on the calling thread; progress lines go to `progress`.

#include <ostream>
#include <string>
#include <vector>

namespace tovalink {

struct SettleBenchOptions {
  long sales = 1000000;
  int rules = 500;
  int replies = 1500;           // settled with the indexes, in three rounds; the middle counts
  int unindexed_replies = 20;   // settled before the indexes are added; 0 for none
  int statement_repeats = 200;  // how often each statement of the profile is timed
  bool keep = false;            // keep the database afterwards
};

struct StatementProfile {
  std::string statement;
  double microseconds = 0;  // one run, fetching its rows, averaged over the repeats
  int rows = 0;
  std::vector<std::string> explain;  // EXPLAIN's rows, columns joined by " | "
};

struct SettleResult {
  double fill_seconds = 0;
  double replies_per_second = 0;            // with the indexes, the middle round
  double unindexed_replies_per_second = 0;  // 0 when none were settled
  // CPU time of the module's own work per reply of the middle round (the client library
  // included): the rest of a reply's time is the server's and the wait for it.
  double module_cpu_microseconds = 0;
  int settled_in_hand = 0;  // replies of the measured rounds that settled their own sale
  // The statements of one reply's settlement, in the order it issues them; the last is its
  // UPDATE. The rest of a reply's time is the module's own work between statements.
  std::vector<StatementProfile> statements;
  double reply_microseconds = 0;  // the same reply settled whole, averaged like the statements
  // The server's own time for each statement of three replies, as SHOW PROFILES gives it.
  std::vector<std::string> server_profile;
};

// Throws std::runtime_error for options that cannot work and DatabaseError when the server
// fails.
SettleResult RunSettleBench(const SettleBenchOptions& options, std::ostream& progress);

void PrintSettleProfile(const SettleResult& result, std::ostream& out);

}  // namespace tovalink
