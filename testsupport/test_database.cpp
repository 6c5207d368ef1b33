#include "testsupport/test_database.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "store/text.h"

namespace tovalink {

std::string SourcePath(const std::string& relative_path) {
  return std::string(TOVALINK_SOURCE_DIR) + "/" + relative_path;
}

std::string SourceFile(const std::string& relative_path) {
  const std::string path = SourcePath(relative_path);
  std::ifstream file(path, std::ios::binary);
  if (!file) throw std::runtime_error("cannot read " + path);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

std::string TestDatabase::Socket() {
  const char* socket = std::getenv("TOVALINK_DB_SOCKET");
  if (socket == nullptr || *socket == '\0') {
    throw std::runtime_error(
        "TOVALINK_DB_SOCKET is not set: start the throwaway server with scripts/mariadb start "
        "and export the variable it prints (scripts/test does this)");
  }
  // The client library reaches "localhost" through the socket MYSQL_UNIX_PORT names, which is
  // also how the module itself is pointed at the throwaway server.
  setenv("MYSQL_UNIX_PORT", socket, 1);
  return socket;
}

TestDatabase::TestDatabase() : TestDatabase(Socket()) {}

TestDatabase::TestDatabase(const std::string& socket) : socket_(socket) {
  static std::atomic<int> counter{0};
  name_ = "tv_" + std::to_string(getpid()) + "_" + std::to_string(counter++);
  admin_.Connect({"localhost", "", "root", "", socket_});
  admin_.ExecSql("DROP DATABASE IF EXISTS " + name_);
  admin_.ExecSql("CREATE DATABASE " + name_ + " CHARACTER SET latin1");
  admin_.ExecSql("USE " + name_);
  Run(SourceFile("schema/outlet.sql"));
  db_.Connect(Settings());
}

std::string TestDatabase::ModuleUser(const std::string& password) {
  const std::string user = "g_" + name_;
  std::string grants = SourceFile("schema/grants.sql");
  grants = ReplaceAll(grants, "`outlet`", "`" + name_ + "`");
  grants = ReplaceAll(grants, "'tovalink'@'localhost'", "'" + user + "'@'localhost'");
  Run("CREATE OR REPLACE USER '" + user + "'@'localhost' IDENTIFIED BY '" + password + "';");
  Run(grants);
  return user;
}

void TestDatabase::Reconnect() {
  admin_.Connect({"localhost", name_, "root", "", socket_});
  db_.Connect(Settings());
}

TestDatabase::~TestDatabase() {
  try {
    admin_.ExecSql("DROP DATABASE IF EXISTS " + name_);
  } catch (const std::exception&) {
    // A test that broke the server leaves its database behind; the next run starts afresh.
  }
}

ConnectionSettings TestDatabase::Settings() const {
  return {"localhost", name_, "root", "", socket_};
}

void RunScript(Database& db, const std::string& script) {
  std::string statement;
  char quote = 0;
  for (size_t i = 0; i < script.size(); ++i) {
    const char c = script[i];
    if (quote == 0 && c == '-' && i + 1 < script.size() && script[i + 1] == '-') {
      while (i < script.size() && script[i] != '\n') ++i;
      continue;
    }
    if (quote != 0 && c == '\\' && i + 1 < script.size()) {
      statement += c;
      statement += script[++i];
      continue;
    }
    if (c == '\'' || c == '"') {
      if (quote == 0) {
        quote = c;
      } else if (quote == c) {
        quote = 0;
      }
    }
    if (quote == 0 && c == ';') {
      if (!Trim(statement).empty()) db.ExecSql(statement);
      statement.clear();
      continue;
    }
    statement += c;
  }
  if (!Trim(statement).empty()) db.ExecSql(statement);
}

void TestDatabase::Run(const std::string& script) { RunScript(admin_, script); }

std::string TestDatabase::Value(const std::string& query) {
  Rows rows = admin_.OpenSql(query);
  if (rows.Count() == 0) return {};
  return rows.Text(0);
}

std::string TestDatabase::WaitForValue(const std::string& query, const std::string& expected,
                                       int timeout_ms) {
  std::string value;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (std::chrono::steady_clock::now() < deadline) {
    value = Value(query);
    if (value == expected) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return value;
}

std::string TestDatabase::Dump(const std::string& query) {
  Rows rows = admin_.OpenSql(query);
  std::string out;
  for (; !rows.Eof(); rows.Next()) {
    if (!out.empty()) out += "\n";
    for (size_t i = 0; i < rows.Columns().size(); ++i) {
      if (i > 0) out += "|";
      out += rows.Text(static_cast<int>(i));
    }
  }
  return out;
}

}  // namespace tovalink
