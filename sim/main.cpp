// modemsim: a simulated modem on a pseudo-terminal, linked as <dir>/COM<N>, that plays an
// operator from a scenario file, or the modem of a field trace, and writes a transcript of
// the dialogue.

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
#include <memory>
#include <sstream>
#include <string>

#include "modem/trace_format.h"
#include "sim/line_faults.h"
#include "sim/replay.h"
#include "sim/scenario.h"
#include "sim/simulator.h"

namespace {

using tovalink::sim::EscapeField;

volatile sig_atomic_t g_stop = 0;
void OnSignal(int) { g_stop = 1; }

const char kUsage[] =
    R"(usage: modemsim [--dir DIR] [--port N] [--scenario FILE.json] [--transcript FILE]
       modemsim [--dir DIR] [--port N] --replay TRACE [--from TIME] [--transcript FILE]

A simulated modem on a pseudo-terminal. It links the terminal as DIR/COM<N>, answers the AT
commands of the module (echo until "ATE0", the set-up commands, the message stores "ME" and
"SM" with PDU listings and deletion, SMS submission, keypad strings, dial and USSD codes, the
SIM-toolkit menu), "ERROR" to what it does not know, and plays the operator from the
scenario. SIGTERM or SIGINT stops it and removes the link.

With --replay it plays instead the modem of a module's field trace (the file NAME.trace in
the module's working folder): each command the module writes is compared with the next
command of the recording and answered with the bytes the real modem sent after it, with
their recorded delays. The first command that differs is reported, on standard output and
in the transcript, with both texts; from then on nothing is answered. A trace may hold
several runs of its module: the replay plays the one that begins at the first opening of the
port, or at the first at or after --from. When it stops, modemsim prints how far the module
followed the recording, and exits 1 when it departed from it.

Options:
  --dir DIR            folder of the link (default: $TOVALINK_PORT_DIR, else the current
                       folder); created when missing
  --port N             the port number: the link is COM<N> (default 1)
  --scenario FILE      a JSON scenario (below); without one the modem answers its defaults
  --replay TRACE       a module's field trace to play back (instead of a scenario)
  --from TIME          with --replay: the run that begins at the first opening of the port
                       at or after TIME (hh:mm, hh:mm:ss or "yyyy-mm-dd hh:mm:ss")
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
  stock), REPLAY (DEPART number recorded-time recorded-command written-command | END
  commands | BEYOND bytes written after the departure or the end).
  Fields escape \\, \t, \r, \n and other bytes outside printable ASCII as \xNN.

Field trace (written by the module; one line per event, "#" lines are comments):
  <yyyy-mm-dd hh:mm:ss.mmm>\t<ms since the trace began>\t<EVENT>[\t<field>...]
  events: OPEN device baud handshake | OPENFAIL device error | CLOSE | WRITE bytes |
  WRITEFAIL error | READ bytes (one chunk received) | LINE RLSDCHANGE-or-80FULL | GONE.
  Fields escape as the transcript's.

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
  std::string replay_path;
  std::string replay_from;
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
    } else if (arg == "--replay") {
      replay_path = value();
    } else if (arg == "--from") {
      replay_from = value();
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
  if (!replay_path.empty() && !scenario_path.empty()) {
    std::cerr << "modemsim: --replay plays a recording, --scenario an operator: give one\n";
    return 2;
  }
  if (!replay_from.empty() && replay_path.empty()) {
    std::cerr << "modemsim: --from chooses the run of a --replay\n";
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
  std::vector<tovalink::TraceEvent> run;
  if (!replay_path.empty()) {
    std::ifstream in(replay_path, std::ios::binary);
    if (!in) {
      std::cerr << "modemsim: cannot read " << replay_path << "\n";
      return 2;
    }
    const tovalink::Trace trace = tovalink::ReadTrace(in);
    try {
      run = tovalink::sim::RunFrom(trace.events, replay_from);
    } catch (const std::exception& error) {
      std::cerr << "modemsim: " << replay_path << ": " << error.what() << "\n";
      return 2;
    }
    if (trace.unreadable > 0) {
      std::cerr << "modemsim: " << replay_path << ": " << trace.unreadable
                << " lines are not trace events and are left out\n";
    }
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
  // The operator of a scenario behind its line, or the recorded modem of a trace.
  std::unique_ptr<tovalink::sim::LineFaults> line;
  std::unique_ptr<tovalink::sim::Simulator> simulator;
  std::unique_ptr<tovalink::sim::Replay> replay;
  if (replay_path.empty()) {
    line = std::make_unique<tovalink::sim::LineFaults>(scenario.line, io);
    simulator = std::make_unique<tovalink::sim::Simulator>(std::move(scenario), *line);
  } else {
    replay = std::make_unique<tovalink::sim::Replay>(run, io, [](const std::string& sentence) {
      std::cout << "modemsim: " << sentence << std::endl;
    });
  }
  io.Record("READY", {link, terminal});
  std::cout << "modemsim: " << link << " -> " << terminal << std::endl;
  if (replay) {
    std::cout << "modemsim: replaying " << replay->Commands() << " commands of " << replay_path
              << (run.empty() ? std::string() : " from " + run.front().when) << std::endl;
  } else {
    simulator->Start();
    line->Start();
  }

  char buffer[4096];
  bool linked = true;
  while (g_stop == 0) {
    if (line && line->Vanished()) {
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
      if (got > 0) {
        const std::string bytes(buffer, static_cast<size_t>(got));
        if (replay) {
          replay->Feed(bytes);
        } else {
          simulator->Feed(bytes);
        }
      }
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
  if (replay) {
    std::cout << "modemsim: " << replay->Summary() << std::endl;
    return replay->state() == tovalink::sim::Replay::State::Departed ? 1 : 0;
  }
  return 0;
}
