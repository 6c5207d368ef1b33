#pragma once
// The outlet database: one MariaDB connection shared by the user-interface thread and the
// worker, with buffered result rows.
//
// Every statement runs under one re-entrant connection lock, held from placing the statement
// until its rows are fetched (mysql_store_result). Rows are then read without the lock, so a
// thread may run further statements while it walks the rows of an outer query, and the two
// threads' statements never interleave.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

typedef struct st_mysql MYSQL;

namespace tovalink {

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
};

class Database {
 public:
  Database();
  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  // (Re)opens the connection: character set latin1 and a session SQL mode without
  // ANSI_QUOTES and without the strict modes, whatever the server's default. The port and
  // socket are the client library's defaults (MYSQL_UNIX_PORT, MYSQL_TCP_PORT). Raises
  // DatabaseError with the library's text on failure.
  void Connect(const ConnectionSettings& settings);
  bool Connected() const;

  // Runs a query and returns its fetched rows, current row the first.
  Rows OpenSql(const std::string& statement);
  // Runs a statement that returns no rows.
  void ExecSql(const std::string& statement);

  // The value escaped for a place between double quotes (mysql_real_escape_string): ordinary
  // values come out unchanged; quotes, backslashes and control bytes can no longer break or
  // change the statement.
  std::string Escape(std::string_view value) const;

  // Statement log for tests: once started, the text of every statement, in order.
  void StartStatementLog();
  std::vector<std::string> TakeStatementLog();

 private:
  void Run(const std::string& statement);  // REQUIRES: mutex_ held

  mutable std::recursive_mutex mutex_;
  MYSQL* connection_ = nullptr;  // GUARDED_BY(mutex_)
  bool connected_ = false;       // GUARDED_BY(mutex_)
  bool logging_ = false;         // GUARDED_BY(mutex_)
  std::vector<std::string> log_; // GUARDED_BY(mutex_)
};

}  // namespace tovalink
