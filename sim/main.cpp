// modemsim: a simulated modem on a pseudo-terminal, linked as <dir>/COM<N>, that plays an
// operator from a scenario file and writes a transcript of the dialogue.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>

#include "sim/line_faults.h"
#include "sim/scenario.h"
#include "sim/simulator.h"

namespace {

using tovalink::sim::EscapeField;

volatile sig_atomic_t g_stop = 0;
void OnSignal(int) { g_stop = 1; }

const char kUsage[] =
    R"(usage: modemsim [--dir DIR] [--port N] [--scenario FILE.json] [--transcript FILE]

A simulated modem on a pseudo-terminal. It links the terminal as DIR/COM<N>, answers the AT
commands of the module (echo until "ATE0", the set-up commands, the message stores "ME" and
"SM" with PDU listings and deletion, SMS submission, keypad strings, dial and USSD codes, the
SIM-toolkit menu), "ERROR" to what it does not know, and plays the operator from the
scenario. SIGTERM or SIGINT stops it and removes the link.

Options:
  --dir DIR            folder of the link (default: $TOVALINK_PORT_DIR, else the current
                       folder); created when missing
  --port N             the port number: the link is COM<N> (default 1)
  --scenario FILE      a JSON scenario (below); without one the modem answers its defaults
  --transcript FILE    the transcript (default: DIR/modemsim-COM<N>.log)
  --help               this text

Transcript: one line per event, flushed as written:
  <ms since start>\t<kind>\t<field>[\t<field>...]
  kinds: RX (a command received, or a submitted PDU with its Ctrl-Z), TX (bytes sent),
  KEYS (key string), DIAL (dialled or USSD code), SMSPART (number, text, ref/total/seq or
  "-"), SMS (number, whole text once all parts are in), STORE (store, index, sender, text,
  part/parts), DELETE (store, index or "all"), NOTE (text), READY (link, terminal),
  STK (a toolkit event, then its details: STIN? type | STGI type node | SELECT node id
  label | PROMPT node | INPUT node text | DISPLAYED node | ANNOUNCE type node | RESTART |
  HANG node | STALLED command | REFUSED command reason | INPUT CANCELLED node),
  USSD (a session event: OPEN code-or-answer | ANSWER text | CLOSE session-or-none |
  CLOSED why), STOCK (SALE form destination denomination outcome | ASK busy-or-read
  stock).
  Fields escape \\, \t, \r, \n and other bytes outside printable ASCII as \xNN.

)";

int64_t MonotonicMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

class PtyIo : public tovalink::sim::SimIo {
 public:
  PtyIo(int master, std::FILE* transcript) : master_(master), transcript_(transcript) {
    start_ms_ = MonotonicMs();
  }

  void Send(const std::string& bytes) override {
    if (bytes.empty()) return;
    Record("TX", {bytes});
    outgoing_ += bytes;
    Flush();
  }

  void After(int64_t delay_ms, std::function<void()> action) override {
    timers_.emplace(std::make_pair(MonotonicMs() + delay_ms, sequence_++), std::move(action));
  }

  void Record(const std::string& kind, const std::vector<std::string>& fields) override {
    if (transcript_ == nullptr) return;
    std::string line = std::to_string(MonotonicMs() - start_ms_) + "\t" + kind;
    for (const std::string& field : fields) line += "\t" + EscapeField(field);
    line += "\n";
    std::fputs(line.c_str(), transcript_);
    std::fflush(transcript_);
  }

  void Flush() {
    while (!outgoing_.empty()) {
      const ssize_t written = ::write(master_, outgoing_.data(), outgoing_.size());
      if (written <= 0) return;  // full: poll tells when it drains
      outgoing_.erase(0, static_cast<size_t>(written));
    }
  }

  bool HasOutgoing() const { return !outgoing_.empty(); }

  // Milliseconds until the next timer (-1: none), after running the due ones.
  int RunDue() {
    for (;;) {
      if (timers_.empty()) return -1;
      auto first = timers_.begin();
      const int64_t wait = first->first.first - MonotonicMs();
      if (wait > 0) return static_cast<int>(std::min<int64_t>(wait, 1000));
      auto action = std::move(first->second);
      timers_.erase(first);
      try {
        action();
      } catch (const std::exception& error) {
        // A message the operator cannot send (a text too long for one) is lost, not the line.
        Record("NOTE", {std::string("a later action failed: ") + error.what()});
      }
    }
  }

 private:
  int master_;
  std::FILE* transcript_;
  int64_t start_ms_ = 0;
  std::string outgoing_;
  uint64_t sequence_ = 0;
  std::multimap<std::pair<int64_t, uint64_t>, std::function<void()>> timers_;
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

int main(int argc, char** argv) {
  std::string dir;
  if (const char* env = std::getenv("TOVALINK_PORT_DIR"); env != nullptr) dir = env;
  int port = 1;
  std::string scenario_path;
  std::string transcript_path;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) {
        std::cerr << "modemsim: " << arg << " needs a value\n";
        std::exit(2);
      }
      return argv[++i];
    };
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage << tovalink::sim::ScenarioHelp();
      return 0;
    } else if (arg == "--dir") {
      dir = value();
    } else if (arg == "--port") {
      port = std::atoi(value().c_str());
    } else if (arg == "--scenario") {
      scenario_path = value();
    } else if (arg == "--transcript") {
      transcript_path = value();
    } else {
      std::cerr << "modemsim: unknown option " << arg << " (see --help)\n";
      return 2;
    }
  }
  if (port < 1) {
    std::cerr << "modemsim: --port must be a number from 1\n";
    return 2;
  }
  if (dir.empty()) dir = ".";
  mkdir(dir.c_str(), 0755);
  const std::string link = dir + "/COM" + std::to_string(port);
  if (transcript_path.empty())
    transcript_path = dir + "/modemsim-COM" + std::to_string(port) + ".log";

  tovalink::sim::Scenario scenario;
  try {
    if (!scenario_path.empty()) scenario = tovalink::sim::ParseScenario(ReadFile(scenario_path));
  } catch (const std::exception& error) {
    std::cerr << "modemsim: " << scenario_path << ": " << error.what() << "\n";
    return 2;
  }

  std::FILE* transcript = std::fopen(transcript_path.c_str(), "w");
  if (transcript == nullptr) {
    std::cerr << "modemsim: cannot write " << transcript_path << ": " << std::strerror(errno)
              << "\n";
    return 1;
  }

  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
    std::cerr << "modemsim: no pseudo-terminal: " << std::strerror(errno) << "\n";
    return 1;
  }
  const std::string terminal = ptsname(master);
  // Holding the terminal side open ourselves keeps the line alive between the module's opens
  // (otherwise the master reads EIO while no program has it open).
  const int keeper = ::open(terminal.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (keeper < 0) {
    std::cerr << "modemsim: cannot open " << terminal << ": " << std::strerror(errno) << "\n";
    return 1;
  }
  termios tio{};
  tcgetattr(keeper, &tio);
  cfmakeraw(&tio);
  tcsetattr(keeper, TCSANOW, &tio);
  fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);

  unlink(link.c_str());
  if (symlink(terminal.c_str(), link.c_str()) != 0) {
    std::cerr << "modemsim: cannot link " << link << ": " << std::strerror(errno) << "\n";
    return 1;
  }

  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);

  PtyIo io(master, transcript);
  tovalink::sim::LineFaults line(scenario.line, io);
  tovalink::sim::Simulator simulator(std::move(scenario), line);
  io.Record("READY", {link, terminal});
  std::cout << "modemsim: " << link << " -> " << terminal << std::endl;
  simulator.Start();
  line.Start();

  char buffer[4096];
  bool linked = true;
  while (g_stop == 0) {
    if (line.Vanished()) {
      // The modem is gone: the module's side of the terminal hangs up, and the link goes
      // with it, as the device node of a pulled-out modem does.
      if (linked) {
        ::close(keeper);
        ::close(master);
        unlink(link.c_str());
        linked = false;
      }
      ::poll(nullptr, 0, 100);
      continue;
    }
    const int wait = io.RunDue();
    pollfd fds{master, static_cast<short>(POLLIN | (io.HasOutgoing() ? POLLOUT : 0)), 0};
    const int ready = ::poll(&fds, 1, wait < 0 ? 1000 : wait);
    if (ready < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if ((fds.revents & POLLOUT) != 0) io.Flush();
    if ((fds.revents & POLLIN) != 0) {
      const ssize_t got = ::read(master, buffer, sizeof buffer);
      if (got > 0) simulator.Feed(std::string(buffer, static_cast<size_t>(got)));
    }
  }

  io.Record("NOTE", {"stopped"});
  if (linked) {
    // Remove the link only when it is still ours.
    char target[512];
    const ssize_t size = readlink(link.c_str(), target, sizeof target - 1);
    if (size > 0 && std::string(target, static_cast<size_t>(size)) == terminal) {
      unlink(link.c_str());
    }
    ::close(keeper);
    ::close(master);
  }
  std::fclose(transcript);
  return 0;
}
