#pragma once
// For the simulator's tests: the module's own exchange over the in-process simulated modem,
// so a test can send the module's commands with its tokens and timeouts and see what the
// module would see, on a virtual clock; with the few readings of replies the module makes.

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "core/clock.h"
#include "core/form.h"
#include "engine/stk_menu.h"
#include "modem/exchange.h"
#include "sim/sim_port.h"

namespace tovalink::sim {

// How the module finds an item in a toolkit menu.
inline std::string ItemNumber(const std::string& reply, const std::string& name) {
  return FindStkItem(reply, name);
}

// An example scenario of schema/, as text.
inline std::string ReadExample(const std::string& name) {
  std::ifstream in(std::string(TOVALINK_SOURCE_DIR "/schema/") + name);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Every digit of a text, in order (as the module reads the toolkit's "+STIN: n").
inline std::string Digits(const std::string& text) {
  std::string digits;
  for (char c : text) {
    if (c >= '0' && c <= '9') digits += c;
  }
  return digits;
}

class ExchangeFixture : public testing::Test {
 protected:
  // Opens the port on `scenario_json` and switches echo off as the worker does at start.
  void Start(const std::string& scenario_json) {
    port = std::make_unique<SimulatedPort>(clock, scenario_json);
    port->Open("COM5", {});
    form.StopRequested = false;
    form.cport = "5";
    exchange = std::make_unique<Exchange>(
        *port, form, clock,
        [this](const std::string& message, const std::string&) { aborts.push_back(message); });
    Send("ATE0\r", 2);
  }

  // One SendAT; `elapsed_ms` holds how long it took on the virtual clock.
  std::string Send(const std::string& command, int timeout, const std::string& ok = "OK\r\n",
                   const std::string& error = "ERROR") {
    std::string reply;
    const int64_t start = clock.NowMs();
    exchange->SendAT(command, timeout, ok, error, reply);
    elapsed_ms = clock.NowMs() - start;
    return reply;
  }

  // One SendAT whose success token must arrive before its timeout.
  std::string Expect(const std::string& command, int timeout, const std::string& ok = "OK\r\n",
                     const std::string& error = "ERROR") {
    const std::string reply = Send(command, timeout, ok, error);
    EXPECT_NE(reply.find(ok), std::string::npos) << command << " got " << reply;
    EXPECT_EQ(reply.find("ERROR"), std::string::npos) << command << " got " << reply;
    EXPECT_LT(elapsed_ms, timeout * 1000) << command;
    return reply;
  }

  // The STK transcript lines' first two fields, in order.
  std::vector<std::string> ToolkitEvents() const {
    std::vector<std::string> events;
    for (const TranscriptLine& line : port->Transcript()) {
      if (line.kind != "STK") continue;
      events.push_back(line.fields[0] + (line.fields.size() > 1 ? " " + line.fields[1] : ""));
    }
    return events;
  }

  VirtualClock clock;
  Form form;
  std::unique_ptr<SimulatedPort> port;
  std::unique_ptr<Exchange> exchange;
  std::vector<std::string> aborts;
  int64_t elapsed_ms = 0;
};

}  // namespace tovalink::sim
