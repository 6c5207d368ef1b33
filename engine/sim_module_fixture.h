#pragma once
// The fixture of the SIM-toolkit tests: one module ("M1" on port "5", PIN "1234", a waiting
// time of 5 s, a WAVECOM modem) over the simulated modem in process (sim::SimulatedPort) on
// the virtual clock, and a fresh real database; the clock at 2026-03-02 09:30:00.
//
// A toolkit answers each command by what came before it, which a modem scripted command by
// command cannot show; the simulator keeps that state as a modem does, and its transcript
// tells what the toolkit made of the module's dialogue.
//
// As in the program, AbortModule ends the module: the engine then sees Module::Ending().

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "engine/module.h"
#include "engine/sale_in_hand.h"
#include "modem/exchange.h"
#include "sim/sim_port.h"
#include "store/sale_journal.h"
#include "testsupport/process.h"
#include "testsupport/test_database.h"

namespace tovalink {

// A SIM card with the operator's M-TRONIK menu, as modemsim's scenario: main menu
// "M-TRONIK" > "Isi Pulsa" > destination > "Nominal Bebas" (item 6) > amount > the product
// ("REGULER", "SMS", "GPRS") > PIN > the text shown > the SIM's SMS, answered 3 s later by
// "M-Tronik" with 'Isi {product} {amount} ke {destination} BERHASIL. SN: {serial}.'; and
// the balance walk "M-TRONIK" > "Info" (item 3) > "Saldo" > "Saldo Deposit" > PIN, answered
// 2 s later with 'Saldo deposit Rp 1.240.000'. Tests change it where they need another SIM.
inline nlohmann::json MtronikSim() {
  return nlohmann::json::parse(R"json({"echo": true, "stk": {
    "menu": {"title": "Telkomsel", "items": [{"label": "M-TRONIK", "next": "mtronik"}, "Info"]},
    "nodes": {
      "mtronik": {"select": "M-TRONIK", "items": [{"label": "Isi Pulsa", "next": "tujuan"},
                  "Transfer Deposit", {"label": "Info", "next": "info"}]},
      "tujuan": {"input": "No HP Tujuan:", "name": "destination", "digits": true, "min": 6,
                 "max": 16, "next": "jenis"},
      "jenis": {"select": "Isi Pulsa", "items": ["Simpati 5rb", "Simpati 10rb", "As 5rb",
                "As 10rb", "Halo", {"label": "Nominal Bebas", "next": "nominal"}]},
      "nominal": {"input": "Nominal (Rp):", "name": "amount", "digits": true, "min": 4,
                  "max": 7, "next": "produk"},
      "produk": {"select": "Jenis Isi Ulang", "name": "product", "items": [
                 {"label": "REGULER", "next": "pin"}, {"label": "SMS", "next": "pin"},
                 {"label": "GPRS", "next": "pin"}]},
      "pin": {"input": "PIN M-TRONIK:", "name": "pin", "digits": true, "hidden": true,
              "min": 4, "max": 6, "next": "konfirmasi"},
      "konfirmasi": {"display": "Isi {product} Rp {amount} ke {destination} diproses",
                     "next": "kirim"},
      "kirim": {"send_sms": "Mengirim permintaan", "after_ms": 1500,
                "sms": {"from": "M-Tronik", "store": "listed", "delay_ms": 3000,
                        "text": "Isi {product} {amount} ke {destination} BERHASIL. SN: {serial}."}},
      "info": {"select": "Info", "items": [{"label": "Saldo", "next": "saldo"}, "Riwayat"]},
      "saldo": {"select": "Saldo", "items": [{"label": "Saldo Deposit", "next": "saldo_pin"},
                "Saldo Bonus"]},
      "saldo_pin": {"input": "PIN M-TRONIK:", "name": "pin", "digits": true, "hidden": true,
                    "min": 4, "max": 6, "next": "saldo_kirim"},
      "saldo_kirim": {"send_sms": "Cek saldo", "after_ms": 1500,
                      "sms": {"from": "M-Tronik", "store": "listed", "delay_ms": 2000,
                              "text": "Saldo deposit Rp 1.240.000"}}}}})json");
}

class SimModuleFixture : public ::testing::Test {
 protected:
  SimModuleFixture() {
    clock.SetLocal(2026, 3, 2, 9, 30, 0);
    form.csumber = "M1";
    form.cport = "5";
    form.epin = "1234";
    form.etunggu = "5";
    form.cmodem = "WAVECOM";
    t.Run("INSERT INTO modulaktif (namamodul, comm) VALUES ('M1', '5');");
  }

  // Plays `scenario_json` (modemsim --help) and switches echo off as the worker does; the
  // module's modem type is `modem_type`.
  // A test may start again: the module, its exchange and the modem are made afresh, and what
  // was aborted is forgotten.
  void Start(const std::string& scenario_json, const std::string& modem_type = "WAVECOM") {
    sales_.clear();
    module.reset();
    exchange.reset();
    aborted.clear();
    ended = false;
    port = std::make_unique<sim::SimulatedPort>(clock, scenario_json);
    port->Open("COM5", {});
    form.StopRequested = false;
    form.cmodem = modem_type;
    exchange = std::make_unique<Exchange>(
        *port, form, clock, [this](const std::string& message, const std::string& port_text) {
          Abort(message, port_text);
        });
    module = std::make_unique<Module>(
        Module{form, db, clock, *exchange,
               [this](const std::string& message, const std::string& port_text) {
                 Abort(message, port_text);
               },
               end, "M1", "5", ModemProfileFor(modem_type), &ended});
    std::string ignored;
    exchange->SendAT("ATE0\r", 2, "OK\r\n", "ERROR", ignored);
    written_before_ = port->Written().size();
  }

  // A test's sale in hand: `sale`, taken as the worker takes it (its journal knows it), without
  // a statement; it lives until the next Start.
  SaleInHand& InHand(const Sale& sale) {
    sales_.push_back(std::make_unique<SaleInHand>(*module, journal, sale));
    sales_.back()->Take([] { return SaleInHand::TakeAnswer::Taken; });
    return *sales_.back();
  }

  // The module's writes since Start, in order.
  std::vector<std::string> Written() const {
    const std::vector<std::string> all = port->Written();
    return std::vector<std::string>(all.begin() + static_cast<std::ptrdiff_t>(written_before_),
                                    all.end());
  }

  // The toolkit's events ("SELECT", "INPUT", "RESTART", "REFUSED", ...) with their fields.
  std::vector<std::string> ToolkitEvents() const {
    std::vector<std::string> events;
    for (const std::string& line : port->Lines("STK")) events.push_back(line);
    return events;
  }

  // The milliseconds of the virtual clock at which each write beginning with `prefix` came.
  std::vector<int64_t> WrittenAt(const std::string& prefix) const {
    std::vector<int64_t> moments;
    for (const TranscriptLine& line : port->Transcript()) {
      if (line.kind == "RX" && line.text().rfind(prefix, 0) == 0) moments.push_back(line.ms);
    }
    return moments;
  }

  TestDatabase t;
  Database& db = t.db();
  TempFolder work;  // the module's working folder
  SaleJournal journal{work.path(), "M1"};
  VirtualClock clock;
  Form form;
  RecordingEnd end;
  std::atomic<bool> ended{false};
  std::unique_ptr<sim::SimulatedPort> port;
  std::unique_ptr<Exchange> exchange;
  std::unique_ptr<Module> module;
  std::vector<std::string> aborted;  // every message given to AbortModule, with ":" and port

 private:
  // As in the program: the module ends, and the sale in hand gets its outcome.
  void Abort(const std::string& message, const std::string& port_text) {
    aborted.push_back(message + ":" + port_text);
    ended = true;
    if (!sales_.empty()) sales_.back()->CutOff("modul berhenti (" + message + ")");
  }

  size_t written_before_ = 0;
  std::vector<std::unique_ptr<SaleInHand>> sales_;  // of InHand
};

}  // namespace tovalink
