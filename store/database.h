#pragma once
// The outlet database: one MariaDB connection shared by the user-interface thread and the
// worker, with buffered result rows.
//
// Every statement runs under one re-entrant connection lock, held from placing the statement
// until its rows are fetched (mysql_store_result). Rows are then read without the lock, so a
// thread may run further statements while it walks the rows of an outer query, and the two
// threads' statements never interleave.
//
// A lost connection (the server restarted or went away, the network dropped, a connection
// refused) is told apart from a failing statement: it raises ConnectionLost, and the
// connection is closed. Once KeepConnection has been called, the connection is opened again
// with the settings of the last Connect, with the same session settings (latin1, the SQL
// mode), by the threads that wait for it (ConnectionWait): at once, then after pauses of
// 1 s doubling up to 30 s while the server stays away. The new connection is opened outside
// the connection lock, so no other thread's statement waits behind a connect. Other threads
// never wait and never reconnect: their statements fail at once while the connection is
// lost. (A statement that the server holds, stalled, still holds the lock for up to the read
// timeout; module control's own statements run on a thread of their own for that reason,
// app/errands.h.)
//
// Repeating a statement after a loss: a statement sent just before the connection dropped
// may or may not have been applied by the server; there is no way to ask afterwards. So a
// waiting thread repeats a statement only where its caller allows it (IfConnectionLost):
// every statement of the module may be repeated without harm (its SELECTs, and UPDATEs that
// write fixed values into one row), except that
//   - the take of a sale ("... SET flag=1 WHERE idx=N AND flag=0") is not repeated: its
//     changed-row count says whether this program may execute the sale, and a repeat after an
//     applied take would say 0. Its caller raises and decides from the row (engine/worker.h);
//   - a log row (INSERT INTO logtrxsms) is repeated: in the rare case that the server applied
//     it and only its answer was lost, the exchange is logged twice. A duplicate log row is
//     preferred to a lost one: no money depends on it, and the message itself is deleted from
//     the modem only once its log and settlement have succeeded.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "core/clock.h"
#include "core/errors.h"

typedef struct st_mysql MYSQL;

namespace tovalink {

// A statement failed because the connection to the server is gone, not because of the
// statement. what() is the client library's (or the server's) text.
class ConnectionLost : public DatabaseError {
 public:
  // Whether the failed statement may have taken effect: one that was sent when the
  // connection dropped may have been applied; one that found no connection never left this
  // program.
  enum class Fate { NotSent, MaybeApplied };
  ConnectionLost(const std::string& message, Fate fate) : DatabaseError(message), fate_(fate) {}
  Fate fate() const { return fate_; }

 private:
  Fate fate_;
};

// What one statement does when the connection is lost under it.
enum class IfConnectionLost {
  Repeat,  // on a thread that waits for the connection (ConnectionWait): wait, then run again
  Raise,   // raise ConnectionLost at once
};

// What the connection reports to its observer: lost (detail: the library's text) and back
// (detail: how long it was away, "8 s").
enum class ConnectionEvent { Lost, Back };
using ConnectionObserver = std::function<void(ConnectionEvent event, const std::string& detail)>;

class Database;

// While an object of this class lives, statements that `db` runs on the thread that made it
// wait for a lost connection: between attempts to reconnect they call `pause`, which sleeps a
// little (on the caller's clock) and returns false to give up (the module is ending); giving
// up raises the ConnectionLost. Objects nest; each belongs to its thread.
class ConnectionWait {
 public:
  ConnectionWait(Database& db, std::function<bool()> pause);
  ~ConnectionWait();
  ConnectionWait(const ConnectionWait&) = delete;
  ConnectionWait& operator=(const ConnectionWait&) = delete;

  // The wait of this thread for `db`, nullptr when there is none.
  static const ConnectionWait* OnThisThread(const Database& db);
  bool Pause() const { return pause_(); }

 private:
  const Database& db_;
  std::function<bool()> pause_;
  const ConnectionWait* outer_;
};

// The fetched rows of one query, with a current row. Columns are read by name (as the
// server names them, compared without regard to letter case) or by position (0 = first).
class Rows {
 public:
  Rows() = default;
  Rows(std::vector<std::string> columns, std::vector<std::vector<std::string>> values,
       std::vector<std::vector<bool>> nulls);

  int Count() const { return static_cast<int>(values_.size()); }
  bool Eof() const { return current_ >= values_.size(); }
  void Next() { ++current_; }

  // The current row's column as text; NULL reads as "". Raises DatabaseError for an unknown
  // column or a read past the last row.
  std::string Text(std::string_view column) const;
  std::string Text(int position) const;
  bool IsNull(std::string_view column) const;
  // As an integer or a floating-point number; NULL or a value that does not convert raises
  // ConversionError.
  int64_t Int(std::string_view column) const;
  double Float(std::string_view column) const;

  const std::vector<std::string>& Columns() const { return columns_; }

 private:
  int Position(std::string_view column) const;
  // The current row's cell; REQUIRES a current row and a valid position (raises otherwise).
  const std::string& Cell(int position) const;
  bool CellIsNull(int position) const;

  std::vector<std::string> columns_;
  std::vector<std::vector<std::string>> values_;
  std::vector<std::vector<bool>> nulls_;
  size_t current_ = 0;
};

struct ConnectionSettings {
  std::string host;
  std::string database;
  std::string user;
  std::string password;
  std::string socket = {};  // the server's unix socket; "" for the client library's default
};

class Database {
 public:
  Database();
  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  // (Re)opens the connection: character set latin1 and a session SQL mode without
  // ANSI_QUOTES and without the strict modes, whatever the server's default. The port and
  // socket are the client library's defaults (MYSQL_UNIX_PORT, MYSQL_TCP_PORT) unless the
  // settings name a socket. Connecting gives up after 10 s, and a statement whose answer
  // does not come within 60 s counts as a lost connection. Raises DatabaseError with the
  // library's text on failure. The settings are kept for reconnecting.
  void Connect(const ConnectionSettings& settings);
  bool Connected() const;

  // From now on a lost connection is reopened by the threads that wait for it (see the top
  // of this file), its pauses measured on `clock`; `observer` hears once of each loss and
  // once of each return, on the thread that saw it, outside the connection lock. The clock
  // must outlive the Database.
  void KeepConnection(Clock& clock, ConnectionObserver observer);
  // On a thread with a ConnectionWait: returns once the connection is there (reconnecting as
  // the pauses allow), or false when the wait gave up. Elsewhere, and before KeepConnection:
  // whether it is there. (Without KeepConnection nothing reconnects, and statements raise
  // ConnectionLost on every thread.)
  bool WaitForConnection();

  // Runs a query and returns its fetched rows, current row the first.
  Rows OpenSql(const std::string& statement, IfConnectionLost lost = IfConnectionLost::Repeat);
  // Runs a statement that returns no rows; returns the number of rows it changed (rows that
  // matched but already held the new values do not count).
  uint64_t ExecSql(const std::string& statement, IfConnectionLost lost = IfConnectionLost::Repeat);

  // The value escaped for a place between double quotes (mysql_real_escape_string): ordinary
  // values come out unchanged; quotes, backslashes and control bytes can no longer break or
  // change the statement.
  std::string Escape(std::string_view value) const;

  // Statement log for tests: once started, the text of every statement sent, in order (a
  // statement repeated after a lost connection appears once per attempt that was sent; one
  // that found no connection was never sent).
  void StartStatementLog();
  std::vector<std::string> TakeStatementLog();

  // Fault injection for tests: a connection whose server goes away mid-statement. `fault` is
  // asked about every statement, on the thread that runs it, just before it is sent and just
  // after the server has applied it; answering Drop closes the connection there and raises
  // ConnectionLost (MaybeApplied), as a dropped connection would. An empty function: none.
  enum class FaultPoint { BeforeSending, AfterApplying };
  enum class Fault { None, Drop };
  using FaultFunction = std::function<Fault(const std::string& statement, FaultPoint point)>;
  void InjectFaults(FaultFunction fault);

 private:
  struct Event {
    ConnectionEvent event;
    std::string detail;
  };

  // Runs `body` under the connection lock, repeating it after a lost connection as `lost`
  // and the thread's ConnectionWait allow; reports connection events after each attempt.
  template <typename Body>
  auto Attempt(IfConnectionLost lost, Body body) -> decltype(body());
  // EXCLUDES: mutex_. On a thread that waits for the connection (ConnectionWait), once the
  // pauses allow: opens a new connection outside the lock and puts it in place.
  void ReconnectIfDue();
  // REQUIRES: mutex_ held. Raises ConnectionLost(NotSent) when there is no connection.
  void EnsureConnection();
  // A new connection with `settings` and the session settings, or DatabaseError.
  static MYSQL* OpenConnection(const ConnectionSettings& settings);
  // REQUIRES: mutex_ held. Opens connection_ with settings_, or raises DatabaseError.
  void Open();
  // REQUIRES: mutex_ held. Raises the library's error of the last call: ConnectionLost
  // (MaybeApplied) after closing the connection when the error says the connection is gone,
  // DatabaseError otherwise.
  [[noreturn]] void RaiseError();
  // REQUIRES: mutex_ held. Closes the connection and raises ConnectionLost (MaybeApplied).
  [[noreturn]] void Lose(const std::string& reason);
  // REQUIRES: mutex_ held. Drops the connection when the injected fault says so.
  void MaybeFault(const std::string& statement, FaultPoint point);
  void Run(const std::string& statement);  // REQUIRES: mutex_ held
  bool Reconnecting() const;
  void DeliverEvents();

  mutable std::recursive_mutex mutex_;
  MYSQL* connection_ = nullptr;  // GUARDED_BY(mutex_)
  bool connected_ = false;       // GUARDED_BY(mutex_)
  bool logging_ = false;         // GUARDED_BY(mutex_)
  std::vector<std::string> log_; // GUARDED_BY(mutex_)

  // Reconnection, all GUARDED_BY(mutex_).
  bool have_settings_ = false;
  ConnectionSettings settings_;
  Clock* clock_ = nullptr;  // set by KeepConnection: reconnecting is on
  ConnectionObserver observer_;
  std::string lost_reason_;  // the text of the loss or of the last failed attempt
  int64_t lost_at_ms_ = 0;   // on clock_'s monotonic reading
  int64_t next_attempt_ms_ = 0;
  int64_t pause_ms_ = 0;
  bool reported_lost_ = false;  // the observer heard of the current loss
  std::vector<Event> events_;   // waiting for DeliverEvents
  FaultFunction fault_;         // GUARDED_BY(mutex_)
};

}  // namespace tovalink
