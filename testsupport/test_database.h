#pragma once
// A fresh outlet database for one test, made from schema/outlet.sql on the throwaway MariaDB
// server whose socket TOVALINK_DB_SOCKET names (scripts/mariadb starts it; scripts/test sets
// the variable). The database is dropped again when the object goes away.

#include <string>

#include "store/database.h"

namespace tovalink {

class TestDatabase {
 public:
  TestDatabase();
  explicit TestDatabase(const std::string& socket);
  ~TestDatabase();
  TestDatabase(const TestDatabase&) = delete;
  TestDatabase& operator=(const TestDatabase&) = delete;

  // The module's connection to the fresh database.
  Database& db() { return db_; }
  const std::string& Name() const { return name_; }
  // Settings that reach the fresh database (host "localhost" over the server's socket).
  ConnectionSettings Settings() const;
  // The socket of the shared throwaway server (TOVALINK_DB_SOCKET).
  static std::string Socket();
  // Opens this object's connections again, after the test restarted their server.
  void Reconnect();

  // Runs a script of statements separated by ";" at the ends of lines, on a connection of
  // its own (not logged in db()'s statement log).
  void Run(const std::string& script);
  // The first column of the first row of a query, "" when there is none.
  std::string Value(const std::string& query);
  // All rows of a query, columns joined by "|", rows by "\n".
  std::string Dump(const std::string& query);
  // Creates a user of the server with exactly the rights that schema/grants.sql gives the
  // modules, on this database, and returns its name; its password is `password`.
  std::string ModuleUser(const std::string& password);
  // Polls Value(query) every 100 ms (real time) until it gives `expected` or `timeout_ms`
  // have passed; returns the last value, for the failure message.
  std::string WaitForValue(const std::string& query, const std::string& expected, int timeout_ms);

 private:
  std::string socket_;
  std::string name_;
  Database admin_;
  Database db_;
};

// The text of a file under the source tree, such as "schema/outlet.sql".
std::string SourceFile(const std::string& relative_path);
// The path of a file under the source tree, such as "scripts/mariadb".
std::string SourcePath(const std::string& relative_path);

// Runs a script of statements on `db`: statements end at a ";" outside quotes, and "--"
// comments run to the end of their line.
void RunScript(Database& db, const std::string& script);

}  // namespace tovalink
