#pragma once
// tovalinkd --status: the technician's one screen of the outlet. It reads every module's row of
// modulaktif and the sales, writes nothing, and its exit status serves as a monitoring check.
//
// A module is alive while its row says statrun 1 and its heartbeat `waktu` is recent. The
// heartbeat is a time of day without a date, so its age is counted across midnight; a
// heartbeat that stopped a whole number of days ago cannot be told from a fresh one, and a
// module that died without writing statrun 0 (killed, or its window closed) shows as stale.

#include <cstdint>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "core/clock.h"
#include "store/database.h"

namespace tovalink {

// A module beats every 2 s; it is stale once its heartbeat is older than this. Five missed
// beats: a tick may wait behind the worker's long statements on the shared connection or on a
// loaded machine, and a dead module is still seen within seconds, well inside any monitoring
// interval.
inline constexpr int kStaleAfterSeconds = 10;

enum class ModuleState {
  Alive,    // statrun 1, heartbeat within kStaleAfterSeconds
  Stale,    // statrun 1, heartbeat older or unreadable: hung, cut off from the database, or dead
  Stopped,  // statrun 0
  NoRow,    // sales are addressed to this name, but modulaktif has no row for it
};

// A sale in hand this long without an outcome is stuck: longer than the longest a sale takes
// with a modem that answers (a toolkit walk's five attempts, an MKIOS stock reading), so a
// crash, a cut-off server or a fault left it; someone must look at it.
inline constexpr int kStuckAfterSeconds = 10 * 60;

// Today's sales of one module by status, and the sales of any day still waiting (flag 0).
struct SaleCounts {
  int sukses = 0;
  int gagal = 0;
  int pending = 0;
  int unsettled = 0;                  // status "": waiting, or taken and not settled yet
  std::map<std::string, int> others;  // any other status text
  int waiting = 0;
  int in_hand = 0;  // taken (flag 1) and without a status, any day
};

// A sale taken without an outcome (flag 1, status ""), of any day: in hand now, or left so.
struct SaleInHandStatus {
  std::string module;
  int64_t idx = 0;
  std::string product;
  std::string destination;
  std::string since;         // when it began (tglwaktuproses), or else when it was written
  std::optional<int> age;    // seconds since then; none when that time does not read
  std::string respond;
};

struct ModuleStatus {
  std::string name;
  std::string port;           // comm
  std::string provider_type;  // caradial
  std::string waktu;          // the last heartbeat, "hh:mm:ss"
  std::string autorun;        // as stored; "" for NULL
  std::string last_error;     // lokasifile of a module that ended on a fatal error (autorun 2)
  ModuleState state = ModuleState::NoRow;
  std::optional<int> heartbeat_age;  // seconds; none when waktu is not a time of day
  SaleCounts sales;
};

struct OutletStatus {
  std::string date;                   // "yyyy-mm-dd" of the reading
  std::string time;                   // "hh:mm:ss"
  std::vector<ModuleStatus> modules;  // rows by name, then names without a row
  std::vector<SaleInHandStatus> in_hand;  // by module, then idx
};

// The age in seconds of a heartbeat "hh:mm:ss" read at `second_of_day`, counted back across
// midnight; a heartbeat a few seconds ahead of the reader's clock counts as fresh (0). None
// when the text is not a time of day.
std::optional<int> HeartbeatAge(const std::string& waktu, int second_of_day);

// Reads the modules and the sales; only SELECT statements. Raises DatabaseError.
OutletStatus ReadOutletStatus(Database& db, Clock& clock);

// The screen: one line per module, the last error of each module that ended on one, and the
// verdict of the monitoring check. Texts from the database are shown with control bytes
// escaped.
void PrintOutletStatus(const OutletStatus& status, std::ostream& out);

// 0 when every module whose autorun is 1 is alive and no sale has been in hand without an
// outcome for longer than kStuckAfterSeconds; 1 otherwise.
int StatusExitCode(const OutletStatus& status);

}  // namespace tovalink
