#include "bench/module_run.h"

#include <signal.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>
#include <thread>

#include "sim/sim_harness.h"
#include "testsupport/process.h"
#include "testsupport/test_database.h"

namespace tovalink {

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr int kPort = 7;
const char* const kStartArgument = "namamodul=BENCH1#comm=7#pin=1";

// A host-format module whose supplier HOSTA takes sales by SMS, and the rules of its replies.
const char* const kOutletRows = R"(
INSERT INTO modulaktif (namamodul, comm, autoretur, handshake, tipemodem, caradial, metodetrx,
                        pin, waktutunggu, autorun)
  VALUES ('BENCH1', '7', '115200', '1', 'WAVECOM', 'HOSTA', '', '1234', '6', 1);
INSERT INTO produk (idproduk, namaproduk, denom) VALUES ('X10', 'Pulsa 10.000', 10000);
INSERT INTO hostserver (idserver, metodetrx, formattrx, smscenter, metodeceksaldo, formatceksaldo)
  VALUES ('HOSTA', 'SMS', '<kode>.<hptujuan>.<pin>', '08111000111', 'SMS', 'SAL.<pin>');
INSERT INTO hostproduk (idproduk, idserver, idprodukhost) VALUES ('X10', 'HOSTA', 'P10');
INSERT INTO settinggetsn (idproduk, tipepesan, awalmsisdn, awalsn, akhirsn, pesanproduk,
                          pesansuksesgagal, katajumlah)
  VALUES ('X10', 'SUKSES', ' ke ', 'SN: ', '. Saldo', 'Isi P10', 'SUKSES', ''),
         ('X10', 'GAGAL', ' ke ', '', '', 'Isi P10', 'GAGAL', '');
)";

// The supplier answers every sale of P10 at once with
// success, and the modem announces the reply as soon as the module asks for it: AT+CMGF=0 is
// how the module waits for a new message, and its answer carries the indication. The reply is
// stored unannounced, so no indication arrives between two exchanges (where it would be lost
// and the wait would run to its timeout).
const char* const kInstantSupplier = R"({
  "commands": [{"exact": "AT+CMGF=0", "reply": "\r\nOK\r\n\r\n+CMTI: \"ME\",1\r\n"}],
  "sms_rules": [{"to": "08111000111", "text": "^P10\\.(08[0-9]+)\\.",
                 "sms": {"text": "SUKSES Isi P10 ke {1} SN: {serial}. Saldo 1.250.000",
                         "store": "ME", "announce": false}}]
})";

void Sleep(double seconds) { std::this_thread::sleep_for(std::chrono::duration<double>(seconds)); }

double SecondsSince(SteadyClock::time_point start) {
  return std::chrono::duration<double>(SteadyClock::now() - start).count();
}

// The last lines of a program's standard error, for a failure message.
std::string Tail(const std::string& text) {
  size_t at = text.size();
  for (int lines = 0; lines < 8 && at > 0; ++lines) at = text.rfind('\n', at - 1);
  return at == std::string::npos ? text : text.substr(at);
}

// A fresh outlet database with the recommended indexes and the module's rows, modemsim on
// COM7 and the module started beside its own dbsetting.txt.
class ModuleRig {
 public:
  ModuleRig(const std::string& program, ModuleFrontEnd front_end, const std::string& scenario,
            const std::string& sales_script)
      : sim_(scenario, kPort) {
    database_.Run(SourceFile("schema/indexes.sql"));
    database_.Run(kOutletRows);
    if (!sales_script.empty()) database_.Run(sales_script);
    const std::string copy = CopyProgram(program, folder_.path());
    WriteSettingsFile(folder_.path(), database_.Name());
    std::map<std::string, std::string> environment = {{"MYSQL_UNIX_PORT", TestDatabase::Socket()},
                                                      {"TOVALINK_PORT_DIR", sim_.Dir()}};
    if (front_end == ModuleFrontEnd::Window) environment["QT_QPA_PLATFORM"] = "offscreen";
    module_ = std::make_unique<RunningProgram>(std::vector<std::string>{copy, kStartArgument},
                                               environment, folder_.path());
  }
  ~ModuleRig() {
    if (module_->Running()) {
      module_->Signal(SIGTERM);
      module_->Wait(5000);
    }
  }
  ModuleRig(const ModuleRig&) = delete;
  ModuleRig& operator=(const ModuleRig&) = delete;

  TestDatabase& database() { return database_; }
  SimHarness& sim() { return sim_; }
  RunningProgram& module() { return *module_; }

  void Fail(const std::string& what) {
    throw std::runtime_error(what + "; the module's last lines:" + Tail(module_->Err()));
  }

 private:
  TestDatabase database_;
  SimHarness sim_;
  TempFolder folder_;
  std::unique_ptr<RunningProgram> module_;
};

struct TaskReading {
  std::string name;
  long long run_ns = 0;
  long wakeups = 0;
};

// Every thread of `pid`: its name, its time on a processor and its voluntary switches.
std::map<int, TaskReading> ReadTasks(int pid) {
  std::map<int, TaskReading> tasks;
  const std::string folder = "/proc/" + std::to_string(pid) + "/task";
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    TaskReading task;
    std::ifstream(entry.path() / "schedstat") >> task.run_ns;
    std::ifstream status(entry.path() / "status");
    std::string line;
    while (std::getline(status, line)) {
      if (line.rfind("Name:", 0) == 0) task.name = line.substr(line.find_first_not_of(" \t", 5));
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0) task.wakeups = std::stol(line.substr(24));
    }
    tasks[std::stoi(entry.path().filename())] = task;
  }
  return tasks;
}

double PeakResidentMb(int pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6)) / 1024;
  }
  return 0;
}

long CountRx(const SimHarness& sim) {
  long count = 0;
  for (const TranscriptLine& line : sim.Transcript()) count += line.kind == "RX" ? 1 : 0;
  return count;
}

long long ThreadCpuNs() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return now.tv_sec * 1'000'000'000LL + now.tv_nsec;
}

// A thread that does nothing but sleep 100 ms at a time, as the exchange does: what one
// wake-up costs on this machine, measured beside the module.
class BareWakeups {
 public:
  BareWakeups()
      : thread_([this] {
          const long long start = ThreadCpuNs();
          long count = 0;
          while (!stop_) {
            Sleep(0.1);
            ++count;
          }
          microseconds_ = count == 0 ? 0 : (ThreadCpuNs() - start) / 1000.0 / count;
        }) {}
  // Stops the thread and returns the CPU time per wake-up, in microseconds.
  double Stop() {
    stop_ = true;
    thread_.join();
    return microseconds_;
  }
  ~BareWakeups() {
    if (thread_.joinable()) Stop();
  }
  BareWakeups(const BareWakeups&) = delete;
  BareWakeups& operator=(const BareWakeups&) = delete;

 private:
  std::atomic<bool> stop_{false};
  double microseconds_ = 0;
  std::thread thread_;
};

}  // namespace

SaleTiming TimeSales(const std::vector<TranscriptLine>& transcript) {
  std::vector<size_t> starts;
  for (size_t n = 0; n < transcript.size(); ++n) {
    if (transcript[n].kind == "RX" && transcript[n].text().rfind("AT+CMGS=", 0) == 0) {
      starts.push_back(n);
    }
  }
  SaleTiming timing;
  if (starts.size() < 2) return timing;
  timing.sales = static_cast<int>(starts.size()) - 1;
  timing.span_ms = transcript[starts.back()].ms - transcript[starts.front()].ms;
  for (size_t n = starts.front(); n < starts.back(); ++n) {
    timing.exchanges += transcript[n].kind == "RX" ? 1 : 0;
  }
  return timing;
}

SaleOverhead MeasureSaleOverhead(const std::string& tovalinkd, int sales, std::ostream& progress) {
  if (sales < 2) throw std::runtime_error("the sale overhead needs at least 2 sales");
  // The sales wait before the module starts, so that its first cycle takes them all.
  std::string script =
      "INSERT INTO penjualanproduk (modem, idproduk, barcode, tanggal, waktu, jumlah) VALUES ";
  for (int n = 0; n < sales; ++n) {
    char number[16];
    std::snprintf(number, sizeof number, "0812%08d", n);
    script += std::string(n == 0 ? "" : ",") + "('BENCH1', 'X10', '" + number +
              "', CURDATE(), CURTIME(), 1)";
  }
  ModuleRig rig(tovalinkd, ModuleFrontEnd::Daemon, kInstantSupplier, script + ";");

  const auto start = SteadyClock::now();
  const double allowed = 30 + 3.0 * sales;
  std::string settled;
  int shown = -1;
  for (;;) {
    settled = rig.database().Value("SELECT COUNT(*) FROM penjualanproduk WHERE status='SUKSES'");
    if (settled == std::to_string(sales)) break;
    if (!rig.module().Running()) rig.Fail("the module ended");
    if (SecondsSince(start) > allowed) rig.Fail("only " + settled + " sales were settled in time");
    const int done = std::atoi(settled.c_str());
    if (done / 10 != shown / 10) {
      progress << "  " << done << " of " << sales << " sales settled\n" << std::flush;
      shown = done;
    }
    Sleep(0.25);
  }
  rig.module().Signal(SIGTERM);
  rig.module().Wait(5000);

  const SaleTiming timing = TimeSales(rig.sim().Transcript());
  if (timing.sales < 1) rig.Fail("the transcript holds fewer than two sales");
  SaleOverhead result;
  result.sales_timed = timing.sales;
  result.exchanges_per_sale = static_cast<double>(timing.exchanges) / timing.sales;
  result.ms_per_sale = static_cast<double>(timing.span_ms) / timing.sales;
  result.floor_ms_per_sale = result.exchanges_per_sale * kExchangePollMs;
  result.overhead_percent =
      (result.ms_per_sale - result.floor_ms_per_sale) / result.floor_ms_per_sale * 100;
  return result;
}

IdleCost MeasureIdle(const std::string& program, ModuleFrontEnd front_end, double seconds,
                     std::ostream& progress) {
  ModuleRig rig(program, front_end, "", "");
  // The first listing of the store means start-up and initialisation are over; a moment more
  // lets the first cycle's statements and displays pass.
  if (!rig.sim().WaitFor("RX", "AT+CMGL=4", 30000)) rig.Fail("the module never listed its store");
  Sleep(2);
  const int pid = rig.module().pid();

  const std::map<int, TaskReading> before = ReadTasks(pid);
  const long rx_before = CountRx(rig.sim());
  BareWakeups bare;
  const auto start = SteadyClock::now();
  for (double left = seconds; left > 0; left -= 10) {
    Sleep(std::min(left, 10.0));
    if (left > 10)
      progress << "  " << SecondsSince(start) << " s of " << seconds << "\n" << std::flush;
  }
  const std::map<int, TaskReading> after = ReadTasks(pid);
  const double elapsed = SecondsSince(start);
  const long rx_after = CountRx(rig.sim());
  IdleCost cost;
  cost.bare_wakeup_microseconds = bare.Stop();
  cost.peak_resident_mb = PeakResidentMb(pid);
  if (!rig.module().Running()) rig.Fail("the module ended while idle");

  cost.seconds = elapsed;
  long long run_ns = 0;
  long wakeups = 0;
  for (const auto& [tid, task] : after) {
    const auto earlier = before.find(tid);
    ThreadCost thread;
    thread.name = tid == pid ? "main" : task.name;
    thread.cpu_ms = (task.run_ns - (earlier == before.end() ? 0 : earlier->second.run_ns)) / 1e6;
    thread.wakeups = task.wakeups - (earlier == before.end() ? 0 : earlier->second.wakeups);
    run_ns += static_cast<long long>(thread.cpu_ms * 1e6);
    wakeups += thread.wakeups;
    cost.threads.push_back(thread);
  }
  cost.cpu_seconds_per_minute = run_ns / 1e9 * 60 / elapsed;
  cost.wakeups_per_second = wakeups / elapsed;
  cost.at_commands_per_minute = (rx_after - rx_before) * 60 / elapsed;
  return cost;
}

}  // namespace tovalink
