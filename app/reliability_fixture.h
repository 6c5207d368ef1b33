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
  // The host server, product and reply rules of AddHostModule.
  static constexpr const char* kHostRows =
      "INSERT INTO produk (idproduk, denom) VALUES ('X10', 10000);"
      "INSERT INTO hostserver (idserver, metodetrx, formattrx, smscenter, metodeceksaldo,"
      " formatceksaldo) VALUES ('HOSTA', 'SMS', '<kode>.<hptujuan>.<pin>', '08111000111',"
      " 'SMS', 'SAL.<pin>');"
      "INSERT INTO hostproduk VALUES ('X10', 'HOSTA', 'P10');"
      "INSERT INTO settinggetsn (idproduk, tipepesan, awalmsisdn, awalsn, akhirsn, pesanproduk,"
      " pesansuksesgagal) VALUES ('X10', 'SUKSES', ' ke ', 'SN: ', '. Saldo', 'Isi P10', 'SUKSES'),"
      " ('X10', 'GAGAL', ' ke ', '', '', 'Isi P10', 'GAGAL');";

  OutletTest() : OutletTest(TestDatabase::Socket()) {}
  // The database on the server listening on `socket` (a test's own ThrowawayServer).
  explicit OutletTest(const std::string& socket) : t(socket), socket_(socket) {}

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

  // A host-server module `name` on port 7 selling product X10 by SMS to 08111000111 (code
  // P10), waiting `waiting_seconds` for a reply, with the success and failure rules of the
  // replies HostScenario() sends.
  void AddHostModule(const std::string& name = "M1", int waiting_seconds = 2) {
    const std::string row = "'" + name + "', '7', 'HOSTA', 'WAVECOM', '1234', '" +
                            std::to_string(waiting_seconds) + "', 1, 0, ''";
    t.Run(
        "INSERT INTO modulaktif (namamodul, comm, caradial, tipemodem, pin, waktutunggu,"
        " autorun, ceksaldo, lokasifile) VALUES (" +
        row + ");" + kHostRows);
  }
  // Today's sales of X10 for `module`, to Destination(n) for n from `first`, `count` of them.
  void AddSales(const std::string& module, int first, int count) {
    std::string script;
    for (int n = first; n < first + count; ++n) {
      script +=
          "INSERT INTO penjualanproduk (modem, flag, idproduk, barcode, tanggal, jumlah,"
          " status) VALUES ('" +
          module + "', 0, 'X10', '" + Destination(n) + "', CURDATE(), 1, '');";
    }
    t.Run(script);
  }
  static std::string Destination(int n) {
    std::string digits = std::to_string(n);
    return "08120000" + std::string(digits.size() < 4 ? 4 - digits.size() : 0, '0') + digits;
  }
  // The operator of AddHostModule: every sale succeeds after `delay_ms`, with a serial number
  // of its own; a balance request gets its balance.
  static std::string HostScenario(int delay_ms = 300) {
    return R"({"sms_rules": [
      {"to": "08111000111", "text": "^P10\\.(0812\\d+)\\.",
       "sms": {"text": "SUKSES Isi P10 ke {1} SN: {serial}. Saldo 9", "delay_ms": )" +
           std::to_string(delay_ms) + R"(, "store": "ME"}},
      {"to": "08111000111", "text": "^SAL\\.",
       "sms": {"text": "Saldo anda 90000", "delay_ms": 200, "store": "ME"}}]})";
  }

  // Polls a query until it gives `expected` or the time is up; returns the last value.
  std::string WaitForValue(const std::string& query, const std::string& expected,
                           int timeout_ms = 30000) {
    return t.WaitForValue(query, expected, timeout_ms);
  }

  // Waits (real time) until `sim` has deleted `count` messages; true when it has.
  static bool WaitForDeletes(const SimHarness& sim, int count, int timeout_ms = 30000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
      int deleted = 0;
      for (const TranscriptLine& line : sim.Transcript()) deleted += line.kind == "DELETE";
      if (deleted >= count) return true;
      if (std::chrono::steady_clock::now() >= deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  }

  // A text of the scenario (UTF-8) as the module stores it: characters up to U+00FF as one
  // byte each (Windows-1252 agrees with them there); others are left as they are.
  static std::string SingleBytes(const std::string& utf8) {
    std::string bytes;
    for (size_t i = 0; i < utf8.size(); ++i) {
      const auto lead = static_cast<unsigned char>(utf8[i]);
      if ((lead == 0xC2 || lead == 0xC3) && i + 1 < utf8.size()) {
        bytes += static_cast<char>(((lead & 0x03) << 6) | (utf8[i + 1] & 0x3F));
        ++i;
      } else {
        bytes += utf8[i];
      }
    }
    return bytes;
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
            EXPECT_NE(logged.find(SqlSafe(SingleBytes(text)).substr(0, 60)), std::string::npos)
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
  std::string socket_;
  std::vector<std::unique_ptr<SimHarness>> sims_;
};

}  // namespace tovalink
