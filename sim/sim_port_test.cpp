#include "sim/sim_port.h"

#include <gtest/gtest.h>

#include <thread>

#include "core/errors.h"
#include "sim/exchange_fixture.h"

namespace tovalink::sim {
namespace {

using SimulatedPortTest = ExchangeFixture;

TEST_F(SimulatedPortTest, AnswersReachTheExchangeAtTheirVirtualMoments) {
  Start(R"json({"dial_rules": [{"code": "\\*555#", "ack": "\r\nOK\r\n",
      "reply": "\r\n+CUSD: 0,\"Sisa pulsa\"", "delay_ms": 250}],
      "messages": [{"store": "ME", "from": "628123", "text": "halo", "delay_ms": 4000}]})json");
  // Echo until ATE0, as a modem does: the worker's first ATE0 is echoed, answered at once.
  EXPECT_EQ(port->Lines("TX").front(), "A");
  EXPECT_EQ(Send("AT\r", 2), "\r\nOK\r\n");
  EXPECT_EQ(elapsed_ms, 0);  // at once
  EXPECT_EQ(Send("ATD*555#\r", 30, ",15\r\n"), "\r\nOK\r\n\r\n+CUSD: 0,\"Sisa pulsa\",15\r\n");
  EXPECT_EQ(elapsed_ms, 250);  // due at 250 ms, taken up then
  // A message placed later is announced while the module waits for it.
  EXPECT_EQ(Send("AT+CMGF=0\r", 20, "CMT"), "\r\nOK\r\n\r\n+CMTI: \"ME\",1\r\n");
  EXPECT_EQ(elapsed_ms, 3750);  // from 250 ms to the message at 4000 ms
  EXPECT_EQ(port->Store("ME").at(1).text, "halo");
  EXPECT_EQ(port->Lines("DIAL"), std::vector<std::string>{"*555#"});
  EXPECT_EQ(port->Transcript().back().kind, "TX");
  EXPECT_EQ(port->Transcript().back().ms, 4000);
}

TEST_F(SimulatedPortTest, ALineThatFailsKeepsTheSimulatorDeaf) {
  Start("");
  port->SetFailWrites(true);
  EXPECT_THROW(port->Write("AT\r"), PortError);
  EXPECT_EQ(Send("AT+CMGF=0\r", 2), "");
  EXPECT_EQ(aborts, std::vector<std::string>{"Error ATCOMMAND AT+CMGF=0\r"});
  port->SetFailWrites(false);
  port->Close();
  EXPECT_THROW(port->Write("AT\r"), PortError);
  EXPECT_EQ(port->Lines("RX"), std::vector<std::string>{"ATE0"});
  port->SetFailOpen(true);
  EXPECT_THROW(port->Open("COM5", {}), PortError);
}

TEST_F(SimulatedPortTest, ASleeperOnAnotherThreadDeliversWhileTheWorkerWrites) {
  // The worker writes while a second thread sleeps on the same clock and runs the
  // simulator's later actions: neither may block the other.
  Start(R"json({"messages": [{"from": "628123", "text": "x", "delay_ms": 50}]})json");
  std::thread sleeper([this] {
    for (int n = 0; n < 200; ++n) clock.SleepMs(10);
  });
  for (int n = 0; n < 50; ++n) Send("AT\r", 2);
  sleeper.join();
  EXPECT_EQ(port->Lines("RX").size(), 51u);
  EXPECT_EQ(port->Store("SM").size(), 1u);
}

}  // namespace
}  // namespace tovalink::sim
