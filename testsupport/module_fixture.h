#pragma once
// The fixture of the engine's in-process tests: one module ("M1" on port "5", PIN "1234", a
// waiting time of 2 s) with a scripted modem on the virtual clock and a fresh real database,
// the clock at 2026-03-02 09:30:00. Every command that begins with "AT" is answered "OK" and
// SMS submissions are accepted, unless a test says otherwise with port.On.
//
// Channel tests call a channel's members with `module`; worker tests run a whole worker on
// the test's own thread with RunWorker.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/channel.h"
#include "engine/module.h"
#include "engine/worker.h"
#include "engine/sale_in_hand.h"
#include "modem/scripted_port.h"
#include "store/sale_journal.h"
#include "testsupport/process.h"
#include "testsupport/test_database.h"

namespace tovalink {

class ModuleFixture : public ::testing::Test {
 protected:
  ModuleFixture();

  // The modem type as the `cmodem` box holds it: its profile, DialSuffix and DialReplyEnd.
  void UseModem(const std::string& modem_type);
  // The SMS texts the module submitted, decoded by the simulator's own codec.
  std::vector<std::string> SubmittedTexts();
  // Runs a worker with `channel` (default: the channel of `form.ctipeprov`) on this thread;
  // STOP is pressed at the virtual moment `stop_at_ms` from now.
  void RunWorker(int64_t stop_at_ms, std::unique_ptr<Channel> channel = nullptr);
  // The worker of RunWorker while it runs, nullptr otherwise.
  Worker* RunningWorker() { return running_; }
  // Called once RunWorker's worker has ended, before it goes away: a test that gave the worker
  // to another thread (a STOP from elsewhere) waits for that thread here.
  std::function<void()> before_worker_goes;
  // A channel test's sale in hand: `sale`, taken as the worker takes it (its journal knows
  // it), without a statement; it lives as long as the fixture.
  SaleInHand& InHand(const Sale& sale);

  TestDatabase t;
  Database& db = t.db();
  TempFolder work;                    // the module's working folder
  SaleJournal journal{work.path(), "M1"};
  VirtualClock clock;
  Form form;
  ScriptedPort port{clock};
  std::vector<std::string> aborted;  // every message given to AbortModule
  Exchange exchange{port, form, clock, [this](const std::string& message, const std::string&) {
                      AbortModule(message);
                    }};
  RecordingEnd end;
  Module module{form,
                db,
                clock,
                exchange,
                [this](const std::string& message, const std::string&) { AbortModule(message); },
                end,
                "M1",
                "5",
                ModemProfileFor("WAVECOM")};

 private:
  // AbortModule as the exchange and the engine see it: records the message and, as in the
  // program, ends the module (its worker takes no further step) after giving the sale in hand
  // its outcome.
  void AbortModule(const std::string& message);

  Worker* running_ = nullptr;  // the worker of RunWorker while it runs
  std::vector<std::unique_ptr<SaleInHand>> sales_;  // of InHand
};

}  // namespace tovalink
