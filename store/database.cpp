#include "store/database.h"

#include <errmsg.h>
#include <mysql.h>
#include <mysqld_error.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "core/errors.h"
#include "store/text.h"

namespace tovalink {

Rows::Rows(std::vector<std::string> columns, std::vector<std::vector<std::string>> values,
           std::vector<std::vector<bool>> nulls)
    : columns_(std::move(columns)), values_(std::move(values)), nulls_(std::move(nulls)) {}

int Rows::Position(std::string_view column) const {
  const std::string wanted = LowerAscii(column);
  for (size_t i = 0; i < columns_.size(); ++i) {
    if (LowerAscii(columns_[i]) == wanted) return static_cast<int>(i);
  }
  throw DatabaseError("Unknown column '" + std::string(column) + "'");
}

const std::string& Rows::Cell(int position) const {
  if (Eof()) throw DatabaseError("no current row");
  if (position < 0 || static_cast<size_t>(position) >= columns_.size()) {
    throw DatabaseError("column position " + std::to_string(position) + " out of range");
  }
  return values_[current_][position];
}

bool Rows::CellIsNull(int position) const {
  Cell(position);  // the same checks
  return nulls_[current_][position];
}

std::string Rows::Text(std::string_view column) const { return Text(Position(column)); }

std::string Rows::Text(int position) const {
  const std::string& value = Cell(position);
  return CellIsNull(position) ? std::string() : value;
}

bool Rows::IsNull(std::string_view column) const { return CellIsNull(Position(column)); }

int64_t Rows::Int(std::string_view column) const {
  const int position = Position(column);
  const std::string& value = Cell(position);
  if (CellIsNull(position)) throw ConversionError("column " + std::string(column) + " is NULL");
  const std::string trimmed = Trim(value);
  char* end = nullptr;
  errno = 0;
  const long long number = std::strtoll(trimmed.c_str(), &end, 10);
  if (trimmed.empty() || *end != '\0' || errno == ERANGE) {
    throw ConversionError("'" + value + "' is not a valid integer value");
  }
  return number;
}

double Rows::Float(std::string_view column) const {
  const int position = Position(column);
  const std::string& value = Cell(position);
  if (CellIsNull(position)) throw ConversionError("column " + std::string(column) + " is NULL");
  const std::string trimmed = Trim(value);
  char* end = nullptr;
  errno = 0;
  const double number = std::strtod(trimmed.c_str(), &end);
  if (trimmed.empty() || *end != '\0' || errno == ERANGE) {
    throw ConversionError("'" + value + "' is not a valid floating point value");
  }
  return number;
}

namespace {

thread_local const ConnectionWait* t_wait = nullptr;

constexpr int64_t kFirstPauseMs = 1000;
constexpr int64_t kLongestPauseMs = 30'000;
constexpr unsigned kConnectTimeoutSeconds = 10;
constexpr unsigned kAnswerTimeoutSeconds = 60;

// The errors that say the connection is gone rather than that the statement is wrong: the
// client library's for a refused, dropped or timed-out connection, and the server's when it
// shuts down or ends the connection.
bool IsConnectionError(unsigned code) {
  switch (code) {
    case CR_SOCKET_CREATE_ERROR:
    case CR_CONNECTION_ERROR:
    case CR_CONN_HOST_ERROR:
    case CR_IPSOCK_ERROR:
    case CR_SERVER_GONE_ERROR:
    case CR_SERVER_HANDSHAKE_ERR:
    case CR_SERVER_LOST:
    case CR_SERVER_LOST_EXTENDED:
    case CR_ERR_NET_READ:
    case CR_ERR_NET_WRITE:
    case ER_CON_COUNT_ERROR:
    case ER_SERVER_SHUTDOWN:
    case ER_NEW_ABORTING_CONNECTION:
    case ER_CONNECTION_KILLED:
      return true;
    default:
      return false;
  }
}

}  // namespace

ConnectionWait::ConnectionWait(Database& db, std::function<bool()> pause)
    : db_(db), pause_(std::move(pause)), outer_(t_wait) {
  t_wait = this;
}

ConnectionWait::~ConnectionWait() { t_wait = outer_; }

const ConnectionWait* ConnectionWait::OnThisThread(const Database& db) {
  for (const ConnectionWait* wait = t_wait; wait != nullptr; wait = wait->outer_) {
    if (&wait->db_ == &db) return wait;
  }
  return nullptr;
}

Database::Database() = default;

Database::~Database() {
  std::lock_guard lock(mutex_);
  if (connection_ != nullptr) mysql_close(connection_);
}

MYSQL* Database::OpenConnection(const ConnectionSettings& settings) {
  MYSQL* connection = mysql_init(nullptr);
  if (connection == nullptr) throw DatabaseError("out of memory");
  // latin1 is the server's Windows-1252: the bytes exchanged with the modem are the bytes
  // stored, and a byte such as 0xE9 is not refused as bad UTF-8.
  mysql_options(connection, MYSQL_SET_CHARSET_NAME, "latin1");
  // The outlet's statements are written for the traditional, non-strict mode: double-quoted
  // texts, and an empty text into logtrxsms' generated first column making a new key.
  mysql_options(connection, MYSQL_INIT_COMMAND, "SET SESSION sql_mode='NO_ENGINE_SUBSTITUTION'");
  // A server that does not answer at all (a network without the far end) must end in a lost
  // connection, not in a statement that waits for ever.
  mysql_options(connection, MYSQL_OPT_CONNECT_TIMEOUT, &kConnectTimeoutSeconds);
  mysql_options(connection, MYSQL_OPT_READ_TIMEOUT, &kAnswerTimeoutSeconds);
  mysql_options(connection, MYSQL_OPT_WRITE_TIMEOUT, &kAnswerTimeoutSeconds);
  const char* host = settings.host.empty() ? nullptr : settings.host.c_str();
  const char* database = settings.database.empty() ? nullptr : settings.database.c_str();
  const char* socket = settings.socket.empty() ? nullptr : settings.socket.c_str();
  if (mysql_real_connect(connection, host, settings.user.c_str(), settings.password.c_str(),
                         database, 0, socket, 0) == nullptr) {
    const std::string error = mysql_error(connection);
    mysql_close(connection);
    throw DatabaseError(error);
  }
  return connection;
}

void Database::Open() {
  connection_ = OpenConnection(settings_);
  connected_ = true;
}

void Database::Connect(const ConnectionSettings& settings) {
  std::lock_guard lock(mutex_);
  if (connection_ != nullptr) mysql_close(connection_);
  connection_ = nullptr;
  connected_ = false;
  settings_ = settings;
  have_settings_ = true;
  reported_lost_ = false;
  lost_reason_.clear();
  Open();
}

bool Database::Connected() const {
  std::lock_guard lock(mutex_);
  return connected_;
}

void Database::KeepConnection(Clock& clock, ConnectionObserver observer) {
  std::lock_guard lock(mutex_);
  clock_ = &clock;
  observer_ = std::move(observer);
  next_attempt_ms_ = clock.MonotonicMs();
  pause_ms_ = kFirstPauseMs;
}

bool Database::Reconnecting() const {
  std::lock_guard lock(mutex_);
  return clock_ != nullptr && have_settings_;
}

void Database::ReconnectIfDue() {
  if (ConnectionWait::OnThisThread(*this) == nullptr) return;
  ConnectionSettings settings;
  {
    std::lock_guard lock(mutex_);
    if (connection_ != nullptr || !have_settings_ || clock_ == nullptr ||
        clock_->MonotonicMs() < next_attempt_ms_) {
      return;
    }
    settings = settings_;
    // Whoever else looks meanwhile finds the attempt under way and waits for its pause.
    next_attempt_ms_ = clock_->MonotonicMs() + pause_ms_;
  }
  // Outside the connection lock: connecting to a server that does not answer takes up to the
  // connect timeout, and no other thread's statement may wait behind that.
  MYSQL* fresh = nullptr;
  std::string error;
  try {
    fresh = OpenConnection(settings);
  } catch (const DatabaseError& failure) {
    error = failure.what();
  }
  std::lock_guard lock(mutex_);
  if (fresh == nullptr) {
    lost_reason_ = error;
    next_attempt_ms_ = clock_->MonotonicMs() + pause_ms_;
    pause_ms_ = std::min(pause_ms_ * 2, kLongestPauseMs);
    return;
  }
  if (connection_ != nullptr) {
    mysql_close(fresh);  // connected meanwhile by Connect
    return;
  }
  connection_ = fresh;
  connected_ = true;
  pause_ms_ = kFirstPauseMs;
  if (reported_lost_) {
    const int64_t away_ms = clock_->MonotonicMs() - lost_at_ms_;
    events_.push_back({ConnectionEvent::Back, std::to_string(away_ms / 1000) + " s"});
    reported_lost_ = false;
  }
  lost_reason_.clear();
}

void Database::EnsureConnection() {
  if (connection_ != nullptr) return;
  throw ConnectionLost(lost_reason_.empty() ? "MySQL server has gone away" : lost_reason_,
                       ConnectionLost::Fate::NotSent);
}

void Database::RaiseError() {
  const unsigned code = mysql_errno(connection_);
  const std::string error = mysql_error(connection_);
  if (!IsConnectionError(code)) throw DatabaseError(error);
  Lose(error);
}

void Database::Lose(const std::string& error) {
  mysql_close(connection_);
  connection_ = nullptr;
  connected_ = false;
  lost_reason_ = error;
  if (clock_ != nullptr) {
    lost_at_ms_ = clock_->MonotonicMs();
    // The first attempt at once: a connection that the server dropped alone (a restart that
    // is over, an idle timeout) comes back without a pause.
    next_attempt_ms_ = lost_at_ms_;
    pause_ms_ = kFirstPauseMs;
  }
  if (!reported_lost_) {
    events_.push_back({ConnectionEvent::Lost, error});
    reported_lost_ = true;
  }
  throw ConnectionLost(error, ConnectionLost::Fate::MaybeApplied);
}

void Database::MaybeFault(const std::string& statement, FaultPoint point) {
  if (fault_ && fault_(statement, point) == Fault::Drop) {
    Lose("Lost connection to server during query (injected)");
  }
}

void Database::InjectFaults(FaultFunction fault) {
  std::lock_guard lock(mutex_);
  fault_ = std::move(fault);
}

void Database::Run(const std::string& statement) {
  EnsureConnection();
  if (logging_) log_.push_back(statement);
  MaybeFault(statement, FaultPoint::BeforeSending);
  if (mysql_real_query(connection_, statement.data(), statement.size()) != 0) RaiseError();
  MaybeFault(statement, FaultPoint::AfterApplying);
}

void Database::DeliverEvents() {
  std::vector<Event> events;
  ConnectionObserver observer;
  {
    std::lock_guard lock(mutex_);
    if (events_.empty()) return;
    events.swap(events_);
    observer = observer_;
  }
  if (!observer) return;
  for (const Event& event : events) observer(event.event, event.detail);
}

template <typename Body>
auto Database::Attempt(IfConnectionLost lost, Body body) -> decltype(body()) {
  for (;;) {
    try {
      ReconnectIfDue();
      auto result = body();
      DeliverEvents();
      return result;
    } catch (const ConnectionLost&) {
      DeliverEvents();
      if (lost == IfConnectionLost::Raise) throw;
      const ConnectionWait* wait = ConnectionWait::OnThisThread(*this);
      if (wait == nullptr || !Reconnecting() || !wait->Pause()) throw;
    }
  }
}

bool Database::WaitForConnection() {
  const ConnectionWait* wait = ConnectionWait::OnThisThread(*this);
  for (;;) {
    try {
      ReconnectIfDue();
      {
        std::lock_guard lock(mutex_);
        EnsureConnection();
      }
      DeliverEvents();
      return true;
    } catch (const ConnectionLost&) {
      DeliverEvents();
      if (wait == nullptr || !Reconnecting() || !wait->Pause()) return false;
    }
  }
}

Rows Database::OpenSql(const std::string& statement, IfConnectionLost lost) {
  return Attempt(lost, [&] {
    std::vector<std::string> columns;
    std::vector<std::vector<std::string>> values;
    std::vector<std::vector<bool>> nulls;
    {
      std::lock_guard lock(mutex_);
      Run(statement);
      MYSQL_RES* result = mysql_store_result(connection_);
      if (result == nullptr) {
        if (mysql_field_count(connection_) != 0) RaiseError();
        return Rows();
      }
      const unsigned count = mysql_num_fields(result);
      MYSQL_FIELD* fields = mysql_fetch_fields(result);
      for (unsigned i = 0; i < count; ++i) columns.emplace_back(fields[i].name);
      while (MYSQL_ROW row = mysql_fetch_row(result)) {
        unsigned long* lengths = mysql_fetch_lengths(result);
        std::vector<std::string> row_values(count);
        std::vector<bool> row_nulls(count);
        for (unsigned i = 0; i < count; ++i) {
          row_nulls[i] = row[i] == nullptr;
          if (row[i] != nullptr) row_values[i].assign(row[i], lengths[i]);
        }
        values.push_back(std::move(row_values));
        nulls.push_back(std::move(row_nulls));
      }
      mysql_free_result(result);
    }
    return Rows(std::move(columns), std::move(values), std::move(nulls));
  });
}

uint64_t Database::ExecSql(const std::string& statement, IfConnectionLost lost) {
  return Attempt(lost, [&] {
    std::lock_guard lock(mutex_);
    Run(statement);
    const my_ulonglong changed = mysql_affected_rows(connection_);
    // A statement that unexpectedly returns rows must not leave them pending on the connection.
    if (MYSQL_RES* result = mysql_store_result(connection_)) mysql_free_result(result);
    return changed == static_cast<my_ulonglong>(-1) ? uint64_t{0} : uint64_t{changed};
  });
}

std::string Database::Escape(std::string_view value) const {
  std::string escaped(value.size() * 2 + 1, '\0');
  unsigned long length = 0;
  {
    std::lock_guard lock(mutex_);
    if (connection_ != nullptr) {
      length = mysql_real_escape_string(connection_, escaped.data(), value.data(),
                                        static_cast<unsigned long>(value.size()));
    } else {
      length = mysql_escape_string(escaped.data(), value.data(),
                                   static_cast<unsigned long>(value.size()));
    }
  }
  escaped.resize(length);
  return escaped;
}

void Database::StartStatementLog() {
  std::lock_guard lock(mutex_);
  logging_ = true;
  log_.clear();
}

std::vector<std::string> Database::TakeStatementLog() {
  std::lock_guard lock(mutex_);
  std::vector<std::string> taken;
  taken.swap(log_);
  return taken;
}

}  // namespace tovalink
