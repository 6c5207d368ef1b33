#include "bench/module_run.h"

#include <signal.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
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

// Module BENCH1 of one provider type on a WAVECOM modem, with a short waiting time.
std::string ModuleRow(const std::string& provider_type, const std::string& method) {
  return "INSERT INTO modulaktif (namamodul, comm, autoretur, handshake, tipemodem, caradial,"
         " metodetrx, pin, waktutunggu, autorun) VALUES ('BENCH1', '7', '115200', '1', 'WAVECOM', "
         "'" +
         provider_type + "', '" + method + "', '1234', '6', 1);";
}

// A host-format module whose supplier HOSTA takes sales by SMS, and the rules of its replies.
const char* const kHostRows = R"(
INSERT INTO produk (idproduk, namaproduk, denom) VALUES ('X10', 'Pulsa 10.000', 10000);
INSERT INTO hostserver (idserver, metodetrx, formattrx, smscenter, metodeceksaldo, formatceksaldo)
  VALUES ('HOSTA', 'SMS', '<kode>.<hptujuan>.<pin>', '08111000111', 'SMS', 'SAL.<pin>');
INSERT INTO hostproduk (idproduk, idserver, idprodukhost) VALUES ('X10', 'HOSTA', 'P10');
INSERT INTO settinggetsn (idproduk, tipepesan, awalmsisdn, awalsn, akhirsn, pesanproduk,
                          pesansuksesgagal, katajumlah)
  VALUES ('X10', 'SUKSES', ' ke ', 'SN: ', '. Saldo', 'Isi P10', 'SUKSES', ''),
         ('X10', 'GAGAL', ' ke ', '', '', 'Isi P10', 'GAGAL', '');
)";

// AT+CMGF=0 is how a channel waits for the operator's SMS, and its answer here carries the
// indication. The replies are stored unannounced, so that no indication arrives between two
// exchanges (where it would be lost and the wait would run to its timeout).
const char* const kAnnouncingCmgf =
    R"({"exact": "AT+CMGF=0", "reply": "\r\nOK\r\n\r\n+CMTI: \"ME\",1\r\n"})";

// The supplier answers every sale of P10 at once with success.
std::string InstantSupplier() {
  nlohmann::json scenario = nlohmann::json::parse(R"({
    "sms_rules": [{"to": "08111000111", "text": "^P10\\.(08[0-9]+)\\.",
                   "sms": {"text": "SUKSES Isi P10 ke {1} SN: {serial}. Saldo 1.250.000",
                           "store": "ME", "announce": false}}]})");
  scenario["commands"] = nlohmann::json::array({nlohmann::json::parse(kAnnouncingCmgf)});
  return scenario.dump();
}

// The example SIM of schema/ with every delay of the operator and the SIM taken out.
std::string AtOnce(const std::string& file, const std::function<void(nlohmann::json&)>& change) {
  nlohmann::json scenario = nlohmann::json::parse(SourceFile(file));
  change(scenario);
  return scenario.dump();
}

std::string InstantToolkit() {
  return AtOnce("schema/mtronik-scenario.json", [](nlohmann::json& scenario) {
    scenario["commands"] = nlohmann::json::array({nlohmann::json::parse(kAnnouncingCmgf)});
    nlohmann::json& stk = scenario["stk"];
    stk["announce_delay_ms"] = 0;
    stk["restart_delay_ms"] = 0;
    nlohmann::json& send = stk["nodes"]["kirim"];
    send["after_ms"] = 0;
    send["sms"]["delay_ms"] = 0;
    send["sms"]["announce"] = false;
  });
}

std::string InstantWallet() {
  return AtOnce("schema/dompet-scenario.json", [](nlohmann::json& scenario) {
    for (nlohmann::json& rule : scenario["dial_rules"]) {
      rule["delay_ms"] = 0;
      if (rule.contains("answers")) {
        for (nlohmann::json& answer : rule["answers"]) answer["delay_ms"] = 0;
      }
    }
  });
}

std::string InstantStock() {
  return AtOnce("schema/mkios-scenario.json", [](nlohmann::json& scenario) {
    nlohmann::json& stock = scenario["stock"];
    stock["busy"] = 0;
    stock["outcomes"] = nlohmann::json::array();
    stock["delay_ms"] = 0;
    stock["vouchers"]["V10"] = 100000;
  });
}

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
  ModuleRig(const std::string& program, ModuleFrontEnd front_end, const std::string& rows,
            const std::string& scenario, const std::string& sales_script)
      : sim_(scenario, kPort) {
    database_.Run(SourceFile("schema/indexes.sql"));
    database_.Run(rows);
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

  // The database server's process, from the file its pid_file variable names; 0 when that
  // cannot be read (the server's figures are then left out).
  int ServerPid() {
    int pid = 0;
    std::ifstream(database_.Value("SELECT @@pid_file")) >> pid;
    return pid;
  }

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

// Every thread of `pid`: its name, its time on a processor (the first field of its
// schedstat) and its voluntary switches.
std::map<int, TaskReading> ReadTasks(int pid) {
  std::map<int, TaskReading> tasks;
  const std::string folder = "/proc/" + std::to_string(pid) + "/task";
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    TaskReading task;
    if (!(std::ifstream(entry.path() / "schedstat") >> task.run_ns)) continue;  // just ended
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

// The CPU time of a process's threads between a first reading and later ones. A thread that
// begins after the first reading counts from zero; one that ends between two readings keeps
// what the last reading that saw it gave.
class ThreadsWatch {
 public:
  explicit ThreadsWatch(int pid) : pid_(pid), first_(ReadTasks(pid)) { latest_ = first_; }
  // What the threads had used by the first reading.
  double CpuMsBefore() const {
    double total = 0;
    for (const auto& [tid, task] : first_) total += static_cast<double>(task.run_ns) / 1e6;
    return total;
  }
  void Read() {
    for (auto& [tid, task] : ReadTasks(pid_)) latest_[tid] = task;
  }
  std::vector<ThreadCost> Threads() const {
    std::vector<ThreadCost> threads;
    for (const auto& [tid, task] : latest_) {
      const auto earlier = first_.find(tid);
      ThreadCost thread;
      thread.name = tid == pid_ ? "main" : task.name;
      const long long before = earlier == first_.end() ? 0 : earlier->second.run_ns;
      thread.cpu_ms = static_cast<double>(task.run_ns - before) / 1e6;
      thread.wakeups = task.wakeups - (earlier == first_.end() ? 0 : earlier->second.wakeups);
      threads.push_back(thread);
    }
    return threads;
  }
  double CpuMs() const {
    double total = 0;
    for (const ThreadCost& thread : Threads()) total += thread.cpu_ms;
    return total;
  }

 private:
  int pid_;
  std::map<int, TaskReading> first_;
  std::map<int, TaskReading> latest_;
};

double PeakResidentMb(int pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6)) / 1024;
  }
  return 0;
}

long CountRx(const SimHarness& sim, const std::string& prefix = "") {
  long count = 0;
  for (const TranscriptLine& line : sim.Transcript()) {
    count += line.kind == "RX" && line.text().rfind(prefix, 0) == 0 ? 1 : 0;
  }
  return count;
}

long long ThreadCpuNs() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return now.tv_sec * 1'000'000'000LL + now.tv_nsec;
}

// A thread that does nothing but sleep 100 ms at a time: what one wake-up costs on this
// machine, measured beside the module.
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

const std::vector<SaleChannel>& SaleChannels() {
  static const std::vector<SaleChannel> channels = {
      {"sms", "host-format SMS", ModuleRow("HOSTA", "") + kHostRows, "X10", InstantSupplier(),
       "AT+CMGS=", 0},
      // A sale through the M-TRONIK menu pauses 100 ms before it reads the destination's
      // input; a sale settled "SUKSES" asks for no balance.
      {"mtronik", "M-TRONIK (WAVECOM toolkit)",
       ModuleRow("MTRONIK", "") +
           "INSERT INTO produk (idproduk, denom) VALUES ('I10', 10);"
           "INSERT INTO settinggetsn (idproduk, tipepesan, awalmsisdn, awalsn, akhirsn,"
           " pesanproduk, pesansuksesgagal) VALUES"
           " ('I10', 'SUKSES', ' ke ', 'SN: ', '.', 'Isi Pulsa', 'BERHASIL');",
       "I10", InstantToolkit(), "AT+WIND=15", 100},
      // The USSD sale: the code, the PIN, the session closed, the store listed.
      {"dompet", "DOMPET (DIAL151, USSD)",
       ModuleRow("DOMPET", "DIAL151") +
           "INSERT INTO produk (idproduk, denom) VALUES ('D10', 10);"
           "INSERT INTO settinggetsn (idproduk, tipepesan, awalmsisdn, awalsn, akhirsn,"
           " pesanproduk, pesansuksesgagal) VALUES"
           " ('D10', 'SUKSES', 'ke ', 'SN ', '.', 'Transfer pulsa', 'BERHASIL');",
       "D10", InstantWallet(), "AT+CUSD=1,*151", 0},
      // One dial code whose answer carries the success phrase: no stock reading follows.
      {"mkios", "MKIOS (voucher stock)",
       ModuleRow("MKIOS", "") +
           "INSERT INTO produk (idproduk, denom) VALUES ('S10', 10);"
           "INSERT INTO settinggetsn (idproduk, tipepesan, awalsn, akhirsn, pesansuksesgagal)"
           " VALUES ('S10', 'SUKSES', 'SN:', '.', 'BERHASIL');",
       "S10", InstantStock(), "ATD*777*", 0},
  };
  return channels;
}

SaleTiming TimeSales(const std::vector<TranscriptLine>& transcript,
                     const std::string& sale_begins) {
  std::vector<size_t> starts;
  for (size_t n = 0; n < transcript.size(); ++n) {
    if (transcript[n].kind == "RX" && transcript[n].text().rfind(sale_begins, 0) == 0) {
      starts.push_back(n);
    }
  }
  SaleTiming timing;
  if (starts.size() < 2) return timing;
  timing.sales = static_cast<int>(starts.size()) - 1;
  timing.span_ms = transcript[starts.back()].ms - transcript[starts.front()].ms;
  const TranscriptLine* command = nullptr;  // the RX being answered
  const TranscriptLine* answer = nullptr;   // its last TX so far
  auto close = [&] {
    if (command != nullptr && answer != nullptr) timing.modem_ms += answer->ms - command->ms;
  };
  for (size_t n = starts.front(); n < starts.back(); ++n) {
    const TranscriptLine& line = transcript[n];
    if (line.kind == "RX") {
      close();
      command = &line;
      answer = nullptr;
      ++timing.exchanges;
    } else if (line.kind == "TX") {
      answer = &line;
    }
  }
  close();
  return timing;
}

SaleTime MeasureSaleTime(const std::string& tovalinkd, const SaleChannel& channel, int sales,
                         std::ostream& progress) {
  if (sales < 2) throw std::runtime_error("a sale time needs at least 2 sales");
  // The sales wait before the module starts, so that its first cycle takes them one after
  // another.
  std::string script =
      "INSERT INTO penjualanproduk (modem, idproduk, barcode, tanggal, waktu, jumlah) VALUES ";
  for (int n = 0; n < sales; ++n) {
    char number[16];
    std::snprintf(number, sizeof number, "0812%08d", n);
    script += std::string(n == 0 ? "" : ",") + "('BENCH1', '" + channel.product + "', '" + number +
              "', CURDATE(), CURTIME(), 1)";
  }
  ModuleRig rig(tovalinkd, ModuleFrontEnd::Daemon, channel.rows, channel.scenario, script + ";");
  const int server_pid = rig.ServerPid();

  // The CPU figures run from the first sale's first command to the last settlement.
  const auto start = SteadyClock::now();
  const double allowed = 30 + 10.0 * sales;
  while (!rig.sim().WaitFor("RX", channel.sale_begins, 100)) {
    if (!rig.module().Running()) rig.Fail("the module ended");
    if (SecondsSince(start) > allowed) rig.Fail("no sale began");
  }
  ThreadsWatch module(rig.module().pid());
  std::unique_ptr<ThreadsWatch> server;
  if (server_pid > 0) server = std::make_unique<ThreadsWatch>(server_pid);
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
    module.Read();
    if (server) server->Read();
    Sleep(0.05);
  }
  module.Read();
  if (server) server->Read();
  rig.module().Signal(SIGTERM);
  rig.module().Wait(5000);

  const SaleTiming timing = TimeSales(rig.sim().Transcript(), channel.sale_begins);
  if (timing.sales < 1) rig.Fail("the transcript holds fewer than two sales");
  SaleTime result;
  result.sales_timed = timing.sales;
  result.exchanges_per_sale = static_cast<double>(timing.exchanges) / timing.sales;
  result.ms_per_sale = static_cast<double>(timing.span_ms) / timing.sales;
  result.modem_ms_per_sale = static_cast<double>(timing.modem_ms) / timing.sales;
  result.floor_ms_per_sale = static_cast<double>(channel.pauses_ms) + result.modem_ms_per_sale;
  // The transcript counts whole milliseconds: a modem that answers in microseconds leaves a
  // channel without pauses a floor below what it can tell, so such a floor counts as 1 ms.
  const double floor_ms = std::max(result.floor_ms_per_sale, 1.0);
  result.over_floor_percent = (result.ms_per_sale - result.floor_ms_per_sale) / floor_ms * 100;
  result.module_cpu_ms_per_sale = module.CpuMs() / sales;
  if (server) result.server_cpu_ms_per_sale = server->CpuMs() / sales;
  return result;
}

IdleCost MeasureIdle(const std::string& program, ModuleFrontEnd front_end, double seconds,
                     std::ostream& progress) {
  const SaleChannel& channel = SaleChannels().front();
  ModuleRig rig(program, front_end, channel.rows, "", "");
  // The first listing of the store means start-up and initialisation are over; a moment more
  // lets the first cycle's statements and displays pass.
  if (!rig.sim().WaitFor("RX", "AT+CMGL=4", 30000)) rig.Fail("the module never listed its store");
  Sleep(2);
  const int pid = rig.module().pid();

  ThreadsWatch watch(pid);
  ThreadsWatch modemsim(rig.sim().Pid());
  const long rx_before = CountRx(rig.sim());
  const long cycles_before = CountRx(rig.sim(), "AT+CPMS=");
  BareWakeups bare;
  const auto start = SteadyClock::now();
  for (double left = seconds; left > 0; left -= 10) {
    Sleep(std::min(left, 10.0));
    watch.Read();
    modemsim.Read();
    if (left > 10)
      progress << "  " << SecondsSince(start) << " s of " << seconds << "\n" << std::flush;
  }
  const double elapsed = SecondsSince(start);
  const long rx_after = CountRx(rig.sim());
  const long cycles_after = CountRx(rig.sim(), "AT+CPMS=");
  IdleCost cost;
  cost.bare_wakeup_microseconds = bare.Stop();
  cost.peak_resident_mb = PeakResidentMb(pid);
  if (!rig.module().Running()) rig.Fail("the module ended while idle");

  cost.seconds = elapsed;
  cost.threads = watch.Threads();
  long wakeups = 0;
  for (const ThreadCost& thread : cost.threads) wakeups += thread.wakeups;
  cost.cpu_seconds_per_minute = watch.CpuMs() / 1e3 * 60 / elapsed;
  cost.startup_cpu_ms = watch.CpuMsBefore();
  for (const ThreadCost& thread : cost.threads) {
    if (thread.name == "main")
      cost.main_thread_cpu_seconds_per_minute = thread.cpu_ms / 1e3 * 60 / elapsed;
  }
  cost.modemsim_cpu_seconds_per_minute = modemsim.CpuMs() / 1e3 * 60 / elapsed;
  cost.wakeups_per_second = static_cast<double>(wakeups) / elapsed;
  cost.at_commands_per_minute = static_cast<double>(rx_after - rx_before) * 60 / elapsed;
  cost.cycles = static_cast<double>(cycles_after - cycles_before);
  return cost;
}

}  // namespace tovalink
