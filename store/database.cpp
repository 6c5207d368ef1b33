#include "store/database.h"

#include <mysql.h>

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

Database::Database() = default;

Database::~Database() {
  std::lock_guard lock(mutex_);
  if (connection_ != nullptr) mysql_close(connection_);
}

void Database::Connect(const ConnectionSettings& settings) {
  std::lock_guard lock(mutex_);
  if (connection_ != nullptr) mysql_close(connection_);
  connected_ = false;
  connection_ = mysql_init(nullptr);
  if (connection_ == nullptr) throw DatabaseError("out of memory");
  // latin1 is the server's Windows-1252: the bytes exchanged with the modem are the bytes
  // stored, and a byte such as 0xE9 is not refused as bad UTF-8.
  mysql_options(connection_, MYSQL_SET_CHARSET_NAME, "latin1");
  // The outlet's statements are written for the traditional, non-strict mode: double-quoted
  // texts, and an empty text into logtrxsms' generated first column making a new key.
  mysql_options(connection_, MYSQL_INIT_COMMAND, "SET SESSION sql_mode='NO_ENGINE_SUBSTITUTION'");
  const char* host = settings.host.empty() ? nullptr : settings.host.c_str();
  const char* database = settings.database.empty() ? nullptr : settings.database.c_str();
  if (mysql_real_connect(connection_, host, settings.user.c_str(), settings.password.c_str(),
                         database, 0, nullptr, 0) == nullptr) {
    const std::string error = mysql_error(connection_);
    mysql_close(connection_);
    connection_ = nullptr;
    throw DatabaseError(error);
  }
  connected_ = true;
}

bool Database::Connected() const {
  std::lock_guard lock(mutex_);
  return connected_;
}

void Database::Run(const std::string& statement) {
  if (logging_) log_.push_back(statement);
  if (connection_ == nullptr) throw DatabaseError("MySQL server has gone away");
  if (mysql_real_query(connection_, statement.data(), statement.size()) != 0) {
    throw DatabaseError(mysql_error(connection_));
  }
}

Rows Database::OpenSql(const std::string& statement) {
  std::vector<std::string> columns;
  std::vector<std::vector<std::string>> values;
  std::vector<std::vector<bool>> nulls;
  {
    std::lock_guard lock(mutex_);
    Run(statement);
    MYSQL_RES* result = mysql_store_result(connection_);
    if (result == nullptr) {
      if (mysql_field_count(connection_) != 0) throw DatabaseError(mysql_error(connection_));
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
}

void Database::ExecSql(const std::string& statement) {
  std::lock_guard lock(mutex_);
  Run(statement);
  // A statement that unexpectedly returns rows must not leave them pending on the connection.
  if (MYSQL_RES* result = mysql_store_result(connection_)) mysql_free_result(result);
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
