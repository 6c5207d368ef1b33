#pragma once
// Running one of the project's programs from a test, as a person or a script would.

#include <map>
#include <string>
#include <vector>

namespace tovalink {

struct ProgramResult {
  int status = -1;  // exit status, or 128 + signal
  std::string out;
  std::string err;
};

// Runs `argv` to its end with the extra environment variables set, collecting its output. A
// program runs in `working_folder`, or, when none is given and `argv[0]` is absolute, in its
// folder (a test's copy of a program keeps its working files in the test's folder).
ProgramResult RunProgram(const std::vector<std::string>& argv,
                         const std::map<std::string, std::string>& environment = {},
                         const std::string& working_folder = "");

// A running program: started at once, stopped with a signal (SIGTERM by default) when asked or
// when the object goes away. Its standard error is collected into a file.
//
// A module run this way tells its whole story: TOVALINK_LOG_LEVEL is "debug" and its field
// trace (TOVALINK_TRACE) is a file of its own, TracePath(), removed with the object, unless
// the test or the test's own environment sets them.
class RunningProgram {
 public:
  RunningProgram(const std::vector<std::string>& argv,
                 const std::map<std::string, std::string>& environment = {},
                 const std::string& working_folder = "");
  ~RunningProgram();
  RunningProgram(const RunningProgram&) = delete;
  RunningProgram& operator=(const RunningProgram&) = delete;

  // Waits up to `timeout_ms` for the program to end; returns its status or -1 if it still runs.
  int Wait(int timeout_ms);
  void Signal(int signal_number);
  bool Running();
  std::string Err() const;  // what it wrote to standard error so far
  int pid() const { return pid_; }
  // The module's trace file (its older half is TracePath() + ".1"), "" when the test chose it.
  const std::string& TracePath() const { return trace_path_; }

 private:
  int pid_ = -1;
  int status_ = -1;
  std::string err_path_;
  std::string trace_path_;
};

// Copies a built program into `folder` (start-up reads dbsetting.txt beside the program).
std::string CopyProgram(const std::string& program_path, const std::string& folder);

// A fresh temporary folder, removed when the object goes away.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// A MariaDB server of a test's own, started with scripts/mariadb in a temporary folder, for
// scenarios that stop and restart the server without disturbing the shared one. Starting a
// fresh one takes a few seconds; it is stopped when the object goes away.
class ThrowawayServer {
 public:
  ThrowawayServer();  // raises std::runtime_error with the script's output when it fails
  ~ThrowawayServer();
  ThrowawayServer(const ThrowawayServer&) = delete;
  ThrowawayServer& operator=(const ThrowawayServer&) = delete;

  std::string Socket() const { return folder_.path() + "/mysqld.sock"; }
  void Stop();   // returns once the server process has ended
  void Start();  // returns once it answers again

 private:
  void Script(const std::string& command);
  TempFolder folder_;
  bool running_ = false;
};

// Writes a dbsetting.txt into `folder` naming `database` on the local server, to be reached
// as `user` with `password` (masked values).
void WriteSettingsFile(const std::string& folder, const std::string& database,
                       const std::string& user = "root", const std::string& password = "");

}  // namespace tovalink
