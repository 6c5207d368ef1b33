// The field trace end to end: the demo's outlet (its four modules with their example SIMs,
// its rows and its sales) recorded through modemsim, and each module's trace played back
// by modemsim --replay to a fresh module on a fresh database holding the same rows. The
// dialogue and the rows come out the same; a changed setting or rule is caught at the command
// where the dialogue departs.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "modem/trace_format.h"
#include "sim/sim_harness.h"
#include "testsupport/process.h"
#include "testsupport/test_database.h"

namespace tovalink {
namespace {

struct DemoModule {
  const char* name;
  int port;  // its comm in schema/sample.sql
  const char* scenario;
};
constexpr DemoModule kModules[] = {{"HOST1", 7, "schema/demo-scenario.json"},
                                   {"MTRONIK1", 8, "schema/mtronik-scenario.json"},
                                   {"DOMPET1", 9, "schema/dompet-scenario.json"},
                                   {"MKIOS1", 10, "schema/mkios-scenario.json"}};

// Seven of the ten sales of scripts/demo, every outcome among them: HOST1's success, failure
// and sale without a reply (PENDING after its waiting time), a sale of each SIM menu, and
// MKIOS1's sale with the success phrase and its sale judged by the stock alone.
constexpr const char* kSales =
    "INSERT INTO penjualanproduk (modem, idproduk, barcode, tanggal, waktu, jumlah) VALUES"
    " ('HOST1', 'X10', '081234567801', CURDATE(), CURTIME(), 1),"
    " ('HOST1', 'X5', '081234567802', CURDATE(), CURTIME(), 1),"
    " ('HOST1', 'X25', '081234567803', CURDATE(), CURTIME(), 1),"
    " ('MTRONIK1', 'M10', '081234567811', CURDATE(), CURTIME(), 1),"
    " ('DOMPET1', 'D5', '081234567821', CURDATE(), CURTIME(), 1),"
    " ('MKIOS1', 'S10', '081234567831', CURDATE(), CURTIME(), 1),"
    " ('MKIOS1', 'S10', '081234567832', CURDATE(), CURTIME(), 1);";

// An outlet of the demo: a fresh database with its rows and sales, and a copy of tovalinkd
// beside a dbsetting.txt naming it; `change` is run after the rows.
class Outlet {
 public:
  explicit Outlet(const std::string& change = "") {
    for (const char* file : {"schema/indexes.sql", "schema/sample.sql"}) t.Run(SourceFile(file));
    t.Run(kSales);
    if (!change.empty()) t.Run(change);
    program_ = CopyProgram(TOVALINKD_PATH, folder_.path());
    WriteSettingsFile(folder_.path(), t.Name());
  }

  // Starts module `name` against the modem of `sim`, its trace TracePath(name).
  RunningProgram& Start(const std::string& name, const SimHarness& sim) {
    modules_[name] = std::make_unique<RunningProgram>(
        std::vector<std::string>{program_, "namamodul=" + name},
        std::map<std::string, std::string>{{"MYSQL_UNIX_PORT", TestDatabase::Socket()},
                                           {"TOVALINK_PORT_DIR", sim.Dir()},
                                           {"TOVALINK_TRACE", TracePath(name)}});
    return *modules_[name];
  }
  std::string TracePath(const std::string& name) const {
    return folder_.path() + "/" + name + ".trace";
  }
  // STOP for every module (SIGTERM), waited for.
  void StopAll() {
    for (auto& [name, module] : modules_) module->Signal(SIGTERM);
    for (auto& [name, module] : modules_) EXPECT_EQ(module->Wait(10000), 0) << module->Err();
  }

  // What the modules wrote to the outlet's tables, without the times of the day.
  std::string Rows() {
    return t.Dump(
               "SELECT idx, modem, flag, idproduk, barcode, tanggal, jumlah, status, respond,"
               " sn, sn_token, tglwaktuproses IS NULL FROM penjualanproduk ORDER BY idx") +
           "\n" +
           t.Dump("SELECT modul, pengirim, pesan, baru FROM logtrxsms ORDER BY modul, idlog") +
           "\n" +
           t.Dump(
               "SELECT namamodul, statrun, autorun, lokasifile, ceksaldo FROM modulaktif"
               " ORDER BY namamodul");
  }

  TestDatabase t;

 private:
  TempFolder folder_;
  std::string program_;
  std::map<std::string, std::unique_ptr<RunningProgram>> modules_;
};

std::unique_ptr<SimHarness> StartSim(int port, const std::string& scenario_json,
                                     const std::string& replay_trace = "") {
  SimOptions options;
  options.port = port;
  options.scenario_json = scenario_json;
  options.replay_trace = replay_trace;
  return std::make_unique<SimHarness>(options);
}

// The commands of a trace as the module wrote them, in order.
std::vector<std::string> RecordedCommands(const std::string& trace_path) {
  std::ifstream in(trace_path, std::ios::binary);
  std::vector<std::string> commands;
  for (const TraceEvent& event : ReadTrace(in).events) {
    if (event.kind == TraceKind::Write) commands.push_back(event.bytes());
  }
  return commands;
}

std::vector<std::string> Fields(const SimHarness& sim, const std::string& kind) {
  std::vector<std::string> found;
  for (const TranscriptLine& line : sim.Transcript()) {
    if (line.kind != kind) continue;
    std::string joined;
    for (const std::string& field : line.fields) joined += (joined.empty() ? "" : "|") + field;
    found.push_back(joined);
  }
  return found;
}

// The replay's report of a departure without its recorded time: DEPART, the command's number,
// the recorded command and the one written.
std::vector<std::string> Departure(const SimHarness& sim) {
  for (const TranscriptLine& line : sim.Transcript()) {
    if (line.kind != "REPLAY" || line.text() != "DEPART" || line.fields.size() != 5) continue;
    return {line.fields[0], line.fields[1], line.fields[3], line.fields[4]};
  }
  return {};
}

// The 1-based number of the n-th (1-based) command that begins with `prefix`, and the command.
std::pair<size_t, std::string> NthCommand(const std::vector<std::string>& commands,
                                          const std::string& prefix, int n) {
  for (size_t k = 0; k < commands.size(); ++k) {
    if (commands[k].rfind(prefix, 0) == 0 && --n == 0) return {k + 1, commands[k]};
  }
  return {0, ""};
}

TEST(ReplayEndToEndTest, TheDemoOutletReplaysToTheSameDialogueAndRowsAndCatchesAChange) {
  // At the outlet: the four modules sell through their SIMs.
  Outlet outlet;
  std::map<std::string, std::unique_ptr<SimHarness>> modems;
  for (const DemoModule& module : kModules) {
    modems[module.name] = StartSim(module.port, SourceFile(module.scenario));
    outlet.Start(module.name, *modems[module.name]);
  }
  ASSERT_EQ(
      outlet.t.WaitForValue("SELECT COUNT(*) FROM penjualanproduk WHERE status=''", "0", 90000),
      "0");
  // A cycle more, so that the balance requests after the last sales are in the recording.
  std::this_thread::sleep_for(std::chrono::seconds(3));
  outlet.StopAll();
  const std::string rows = outlet.Rows();
  std::map<std::string, std::string> traces;
  for (const DemoModule& module : kModules) {
    traces[module.name] = outlet.TracePath(module.name);
    ASSERT_FALSE(RecordedCommands(traces[module.name]).empty()) << module.name;
  }

  // At a desk: the same rows, each module against the replay of its own trace; and HOST1
  // twice more, once with another product code for the supplier (a setting) and once
  // without the rule that reads its success replies.
  Outlet desk;
  Outlet other_code(
      "UPDATE hostproduk SET idprodukhost='P10B' WHERE idproduk='X10' AND"
      " idserver='HOSTA';");
  Outlet no_rule("DELETE FROM settinggetsn WHERE idproduk='X10' AND tipepesan='SUKSES';");
  std::map<std::string, std::unique_ptr<SimHarness>> replays;
  for (const DemoModule& module : kModules) {
    replays[module.name] = StartSim(module.port, "", traces[module.name]);
    desk.Start(module.name, *replays[module.name]);
  }
  const std::unique_ptr<SimHarness> other_code_modem = StartSim(7, "", traces["HOST1"]);
  other_code.Start("HOST1", *other_code_modem);
  const std::unique_ptr<SimHarness> no_rule_modem = StartSim(7, "", traces["HOST1"]);
  no_rule.Start("HOST1", *no_rule_modem);

  for (const DemoModule& module : kModules) {
    EXPECT_TRUE(replays[module.name]->WaitFor("REPLAY", "", 90000)) << module.name;
  }
  EXPECT_TRUE(other_code_modem->WaitFor("REPLAY", "DEPART", 30000));
  EXPECT_TRUE(no_rule_modem->WaitFor("REPLAY", "DEPART", 30000));
  desk.StopAll();
  other_code.StopAll();
  no_rule.StopAll();

  for (const DemoModule& module : kModules) {
    const std::vector<std::string> recorded = RecordedCommands(traces[module.name]);
    const std::vector<std::string> replay = Fields(*replays[module.name], "REPLAY");
    ASSERT_FALSE(replay.empty()) << module.name;
    EXPECT_EQ(replay[0], "END|" + std::to_string(recorded.size())) << module.name;
    EXPECT_EQ(Fields(*replays[module.name], "RX"), recorded) << module.name;
  }
  EXPECT_EQ(desk.Rows(), rows);

  const std::vector<std::string> host = RecordedCommands(traces["HOST1"]);
  // Another code makes another SMS, one character longer: the first submission departs.
  const auto [first_sms, first_command] = NthCommand(host, "AT+CMGS=", 1);
  EXPECT_EQ(Departure(*other_code_modem),
            (std::vector<std::string>{"DEPART", std::to_string(first_sms), first_command,
                                      "AT+CMGS=34\r"}));
  // Without the rule the first sale stays unsettled, so the module asks for its balance
  // ("SAL.1234", a submission of 21 octets) where the outlet's module went on to the second
  // sale.
  const auto [second_sms, second_command] = NthCommand(host, "AT+CMGS=", 2);
  EXPECT_EQ(Departure(*no_rule_modem),
            (std::vector<std::string>{"DEPART", std::to_string(second_sms), second_command,
                                      "AT+CMGS=21\r"}));
}

}  // namespace
}  // namespace tovalink
