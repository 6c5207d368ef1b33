#pragma once
// The fixture of the end-to-end tests of the module under faults and load: tovalinkd copied
// beside its own dbsetting.txt, a fresh outlet database on the real MariaDB, and simulated
// modems on pseudo-terminals, all on the real clock. Audit() is the check every scenario ends
// with: no sale's request went out twice, no taken sale is left without an outcome, and no
// message the modems held was lost.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "sim/sim_harness.h"
#include "store/text.h"
#include "testsupport/process.h"
#include "testsupport/test_database.h"

namespace tovalink {

class OutletTest : public ::testing::Test {
 protected:
  void SetUp() override {
    program_ = CopyProgram(TOVALINKD_PATH, folder_.path());
    WriteSettingsFile(folder_.path(), t.Name());
  }

  // Starts a simulated modem on COM<port> playing `scenario` (JSON, "" for none); it lives
  // until the test ends, and Requests() and Audit() read its transcript.
  SimHarness& StartSim(const std::string& scenario, int port = 7) {
    SimOptions options;
    options.port = port;
    options.scenario_json = scenario;
    sims_.push_back(std::make_unique<SimHarness>(options));
    return *sims_.back();
  }

  // Starts tovalinkd with the start argument `argument` against `sim`'s port folder, the copy
  // in this test's folder unless `folder` names another copy (with a dbsetting.txt of its own).
  std::unique_ptr<RunningProgram> StartModule(const std::string& argument, const SimHarness& sim,
                                              const std::string& folder = "") {
    return std::make_unique<RunningProgram>(
        std::vector<std::string>{folder.empty() ? program_ : folder + "/tovalinkd", argument},
        std::map<std::string, std::string>{{"MYSQL_UNIX_PORT", socket_},
                                           {"TOVALINK_PORT_DIR", sim.Dir()}});
  }

  // Polls a query until it gives `expected` or the time is up; returns the last value.
  std::string WaitForValue(const std::string& query, const std::string& expected,
                           int timeout_ms = 30000) {
    return t.WaitForValue(query, expected, timeout_ms);
  }

  // What the modems were asked to send for the sales: dialled codes and SMS (number|text).
  std::vector<std::string> Requests() const {
    std::vector<std::string> requests;
    for (const auto& sim : sims_) {
      for (const TranscriptLine& line : sim->Transcript()) {
        if (line.kind == "DIAL") requests.push_back(line.text());
        if (line.kind == "SMS" && line.fields.size() >= 2) {
          requests.push_back(line.fields[0] + "|" + line.fields[1]);
        }
      }
    }
    return requests;
  }

  // The audit after every scenario, once the modules have ended:
  //  - no request went out twice (each sale's request names its own destination);
  //  - every sale taken has an outcome;
  //  - every message the modems held was deleted, and every one but an operator notice has a
  //    log row with its text (the parts of a long message are logged as one).
  void Audit(const std::vector<std::string>& repeatable = {}) {
    std::map<std::string, int> counts;
    for (const std::string& request : Requests()) ++counts[request];
    for (const auto& [request, count] : counts) {
      const bool may_repeat =
          std::find(repeatable.begin(), repeatable.end(), request) != repeatable.end();
      EXPECT_TRUE(count == 1 || may_repeat) << request << " sent " << count << " times";
    }
    EXPECT_EQ(t.Dump("SELECT idx, barcode FROM penjualanproduk WHERE flag=1 AND status=''"), "")
        << "taken without an outcome";
    const std::string logged = t.Dump("SELECT pesan FROM logtrxsms");
    for (const auto& sim : sims_) {
      std::map<std::string, int> stored;  // "store|index" -> stored minus deleted
      for (const TranscriptLine& line : sim->Transcript()) {
        if (line.kind == "STORE" && line.fields.size() >= 4) {
          ++stored[line.fields[0] + "|" + line.fields[1]];
          const std::string& sender = line.fields[2];
          const std::string& text = line.fields[3];
          if (sender.rfind("62962", 0) != 0) {
            EXPECT_NE(logged.find(SqlSafe(text).substr(0, 60)), std::string::npos)
                << "not logged: " << text;
          }
        }
        if (line.kind == "DELETE" && line.fields.size() >= 2) {
          --stored[line.fields[0] + "|" + line.fields[1]];
        }
      }
      for (const auto& [place, count] : stored) {
        EXPECT_LE(count, 0) << "message at " << place << " never deleted";
      }
    }
  }

  TestDatabase t;
  TempFolder folder_;
  std::string program_;
  std::string socket_ = TestDatabase::Socket();
  std::vector<std::unique_ptr<SimHarness>> sims_;
};

}  // namespace tovalink
