#include "testsupport/process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "store/settings_file.h"
#include "testsupport/test_database.h"

namespace tovalink {

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

int Spawn(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
          const std::string& folder, const std::string& out_path, const std::string& err_path) {
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    for (const auto& [name, value] : env) setenv(name.c_str(), value.c_str(), 1);
    // Without a folder of its own, a program runs beside itself: a test's copy of a module
    // then keeps its working files (the sale journal, debugall.txt) in the test's folder.
    std::string working = folder;
    if (working.empty() && !argv.empty() && !argv[0].empty() && argv[0][0] == '/') {
      working = argv[0].substr(0, argv[0].rfind('/'));
    }
    if (!working.empty() && chdir(working.c_str()) != 0) _exit(126);
    const int in = open("/dev/null", O_RDONLY);
    const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  return pid;
}

int Decode(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

}  // namespace

ProgramResult RunProgram(const std::vector<std::string>& argv,
                         const std::map<std::string, std::string>& environment,
                         const std::string& working_folder) {
  TempFolder scratch;
  const std::string out_path = scratch.path() + "/out";
  const std::string err_path = scratch.path() + "/err";
  const int pid = Spawn(argv, environment, working_folder, out_path, err_path);
  int status = 0;
  waitpid(pid, &status, 0);
  return {Decode(status), ReadFile(out_path), ReadFile(err_path)};
}

RunningProgram::RunningProgram(const std::vector<std::string>& argv,
                               const std::map<std::string, std::string>& environment,
                               const std::string& working_folder) {
  char name[] = "/tmp/tovalink_err_XXXXXX";
  const int fd = mkstemp(name);
  if (fd >= 0) close(fd);
  err_path_ = name;
  std::map<std::string, std::string> with_defaults = environment;
  auto set_unless_given = [&](const std::string& variable, const std::string& value) {
    if (with_defaults.count(variable) == 0 && std::getenv(variable.c_str()) == nullptr) {
      with_defaults[variable] = value;
      return true;
    }
    return false;
  };
  set_unless_given("TOVALINK_LOG_LEVEL", "debug");
  if (set_unless_given("TOVALINK_TRACE", err_path_ + ".trace")) trace_path_ = err_path_ + ".trace";
  pid_ = Spawn(argv, with_defaults, working_folder, "/dev/null", err_path_);
}

RunningProgram::~RunningProgram() {
  if (Running()) {
    Signal(SIGKILL);
    Wait(5000);
  }
  std::remove(err_path_.c_str());
  if (!trace_path_.empty()) {
    std::remove(trace_path_.c_str());
    std::remove((trace_path_ + ".1").c_str());
  }
}

int RunningProgram::Wait(int timeout_ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (status_ < 0) {
    int status = 0;
    const pid_t done = waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      status_ = Decode(status);
      break;
    }
    if (std::chrono::steady_clock::now() >= deadline) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return status_;
}

void RunningProgram::Signal(int signal_number) {
  if (status_ < 0) kill(pid_, signal_number);
}

bool RunningProgram::Running() { return Wait(0) < 0; }

std::string RunningProgram::Err() const { return ReadFile(err_path_); }

std::string CopyProgram(const std::string& program_path, const std::string& folder) {
  const std::filesystem::path target =
      std::filesystem::path(folder) / std::filesystem::path(program_path).filename();
  std::filesystem::copy_file(program_path, target,
                             std::filesystem::copy_options::overwrite_existing);
  return target.string();
}

TempFolder::TempFolder() {
  char name[] = "/tmp/tovalink_XXXXXX";
  if (mkdtemp(name) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = name;
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

void WriteSettingsFile(const std::string& folder, const std::string& database,
                       const std::string& user, const std::string& password) {
  std::ofstream file(folder + "/" + kSettingsFileName, std::ios::binary);
  file << "ipserver=localhost\r\ndbname=" << MaskSetting(database)
       << "\r\nuser=" << MaskSetting(user) << "\r\npass=" << MaskSetting(password) << "\r\n";
}

ThrowawayServer::ThrowawayServer() { Start(); }

ThrowawayServer::~ThrowawayServer() {
  try {
    if (running_) Stop();
  } catch (const std::exception&) {
    // The script kills what does not stop; nothing is left to do here.
  }
}

void ThrowawayServer::Script(const std::string& command) {
  const ProgramResult result =
      RunProgram({"/bin/bash", SourcePath("scripts/mariadb"), command, folder_.path()});
  if (result.status != 0) {
    throw std::runtime_error("scripts/mariadb " + command + " failed: " + result.out + result.err);
  }
}

void ThrowawayServer::Start() {
  try {
    Script("start");
  } catch (const std::runtime_error&) {
    // A fresh server on a loaded machine may answer only after the script stopped waiting
    // for it: the second call finds it answering, or starts it again and says why not.
    Script("start");
  }
  running_ = true;
}

void ThrowawayServer::Stop() {
  Script("stop");
  running_ = false;
}

}  // namespace tovalink
