#pragma once
// The indexes schema/indexes.sql recommends, and the check at START whether the outlet's
// database has them. The module creates no index itself; without these, every cycle's poll
// and every reply's settlement read whole tables, which an outlet notices only once its
// tables are large. Runs on the user-interface thread.

#include <string>
#include <vector>

#include "core/form.h"
#include "store/database.h"

namespace tovalink {

struct RecommendedIndex {
  std::string table;
  std::vector<std::string> columns;  // in index order
  std::string Describe() const;      // "penjualanproduk (modem, flag)"
};

// The indexes of schema/indexes.sql, in its order.
const std::vector<RecommendedIndex>& RecommendedIndexes();

// The recommended indexes the connected database lacks. An index counts under any name when
// its first columns are the recommended ones in their order. Raises DatabaseError.
std::vector<RecommendedIndex> MissingIndexes(Database& db);

// Where the warning's log line goes: the daemon's displays are its log lines already; the
// window has no such log and writes the line to standard error.
enum class IndexWarningLog { Displays, StandardError };

// Says once, in the status bar's first panel (and as a log line), which recommended indexes
// are missing and which file adds them; says nothing when none is. A failing check is said
// the same way and does not stop the module.
void WarnOfMissingIndexes(Form& form, Database& db, IndexWarningLog log);

}  // namespace tovalink
