#include "sim/sim_harness.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "modem/trace_format.h"

namespace tovalink {

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace

SimHarness::SimHarness(SimOptions options) : options_(std::move(options)) {
  if (options_.modemsim.empty()) options_.modemsim = TOVALINK_MODEMSIM;
  char pattern[] = "/tmp/modemsim-XXXXXX";
  if (mkdtemp(pattern) == nullptr) throw std::runtime_error("cannot make a folder for modemsim");
  dir_ = pattern;
  std::string scenario_path;
  if (!options_.scenario_json.empty()) {
    scenario_path = dir_ + "/scenario.json";
    std::ofstream(scenario_path, std::ios::binary) << options_.scenario_json;
  }
  const std::string output = dir_ + "/modemsim.out";
  const std::string port = std::to_string(options_.port);
  const std::string transcript = TranscriptPath();

  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("cannot start modemsim");
  if (pid_ == 0) {
    const int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out >= 0) {
      dup2(out, 1);
      dup2(out, 2);
    }
    std::vector<const char*> args = {
        options_.modemsim.c_str(), "--dir", dir_.c_str(), "--port", port.c_str(), "--transcript",
        transcript.c_str()};
    if (!scenario_path.empty()) {
      args.push_back("--scenario");
      args.push_back(scenario_path.c_str());
    }
    if (!options_.replay_trace.empty()) {
      args.push_back("--replay");
      args.push_back(options_.replay_trace.c_str());
    }
    args.push_back(nullptr);
    execv(options_.modemsim.c_str(), const_cast<char* const*>(args.data()));
    _exit(127);
  }

  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(options_.start_timeout_ms);
  for (;;) {
    struct stat link {};
    if (lstat(PortPath().c_str(), &link) == 0 &&
        ReadAll(transcript).find("\tREADY\t") != std::string::npos) {
      return;
    }
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      const std::string said = ReadAll(output);
      std::filesystem::remove_all(dir_);
      throw std::runtime_error("modemsim ended at start: " + said);
    }
    if (std::chrono::steady_clock::now() > deadline) {
      Stop();
      std::filesystem::remove_all(dir_);
      throw std::runtime_error("modemsim did not link its port in time");
    }
    SleepMs(10);
  }
}

namespace {
SimOptions OptionsFor(const std::string& scenario_json, int port) {
  SimOptions options;
  options.scenario_json = scenario_json;
  options.port = port;
  return options;
}
}  // namespace

SimHarness::SimHarness(const std::string& scenario_json, int port)
    : SimHarness(OptionsFor(scenario_json, port)) {}

SimHarness::~SimHarness() {
  Stop();
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

std::string SimHarness::PortPath() const { return dir_ + "/COM" + std::to_string(options_.port); }

std::string SimHarness::TranscriptPath() const { return dir_ + "/transcript.log"; }

int SimHarness::Stop() {
  if (pid_ <= 0) return exit_status_;
  kill(pid_, SIGTERM);
  int status = 0;
  for (int waited = 0;; waited += 10) {
    if (waitpid(pid_, &status, WNOHANG) == pid_) break;
    if (waited == 5000) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
      break;
    }
    SleepMs(10);
  }
  pid_ = -1;
  exit_status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return exit_status_;
}

std::string SimHarness::Unescape(const std::string& field) { return UnescapeTraceField(field); }

std::vector<TranscriptLine> SimHarness::Transcript() const {
  std::vector<TranscriptLine> lines;
  std::istringstream in(ReadAll(TranscriptPath()));
  std::string text;
  while (std::getline(in, text)) {
    std::vector<std::string> parts;
    size_t at = 0;
    for (;;) {
      const size_t tab = text.find('\t', at);
      parts.push_back(text.substr(at, tab == std::string::npos ? std::string::npos : tab - at));
      if (tab == std::string::npos) break;
      at = tab + 1;
    }
    if (parts.size() < 2) continue;  // a line still being written
    TranscriptLine line;
    line.ms = std::atoll(parts[0].c_str());
    line.kind = parts[1];
    for (size_t n = 2; n < parts.size(); ++n) line.fields.push_back(Unescape(parts[n]));
    lines.push_back(std::move(line));
  }
  return lines;
}

bool SimHarness::WaitFor(const std::string& kind, const std::string& text, int timeout_ms) const {
  for (int waited = 0;; waited += 10) {
    for (const TranscriptLine& line : Transcript()) {
      if (line.kind == kind && line.text().find(text) != std::string::npos) return true;
    }
    if (waited >= timeout_ms) return false;
    SleepMs(10);
  }
}

}  // namespace tovalink
