#include "modem/serial_port.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <thread>

#include "core/clock.h"
#include "core/errors.h"
#include "core/form.h"
#include "modem/exchange.h"
#include "sim/sim_harness.h"

namespace tovalink {
namespace {

using testing::HasSubstr;

TEST(SerialSettings, BaudIs115200OnlyForExactlyThatText) {
  EXPECT_EQ(SettingsFromBoxes("115200", "2").baud, 115200);
  for (const char* other : {"9600", "115200 ", "57600", "", "abc"}) {
    EXPECT_EQ(SettingsFromBoxes(other, "2").baud, 9600) << other;
  }
  EXPECT_EQ(SettingsFromBoxes("9600", "1").handshake, "1");
}

TEST(PortPath, NamesTheDeviceOfAPortNumber) {
  unsetenv("TOVALINK_PORT_DIR");
  EXPECT_EQ(PortPath("1"), "/dev/ttyS0");
  EXPECT_EQ(PortPath("4"), "/dev/ttyS3");
  for (const char* bad : {"", "0", "x", "-1", "1a", "1234"}) EXPECT_EQ(PortPath(bad), "") << bad;
  setenv("TOVALINK_PORT_DIR", "/tmp/ports", 1);
  EXPECT_EQ(PortPath("4"), "/tmp/ports/COM4");
  EXPECT_EQ(PortPath("04"), "/tmp/ports/COM4");
  unsetenv("TOVALINK_PORT_DIR");
}

TEST(TermiosPort, RefusesWhatIsNotAUsableTerminal) {
  TermiosPort port;
  for (const char* path : {"", "/nonexistent/COM1", "/dev/null"}) {
    EXPECT_THROW(port.Open(path, {}), PortError) << path;
    EXPECT_FALSE(port.IsOpen());
  }
  EXPECT_THROW(port.Write("AT\r"), PortError);
  port.Close();  // closing a closed port is harmless
}

// The real line: TermiosPort on modemsim's pseudo-terminal, with the exchange on a real clock.
TEST(TermiosPort, ExchangesWithTheSimulatorAndHoldsThePortExclusively) {
  SimHarness sim;
  TermiosPort port;
  port.Open(sim.PortPath(), SettingsFromBoxes("115200", "2"));
  ASSERT_TRUE(port.IsOpen());

  Form form;
  form.StopRequested = false;
  form.cport = "1";
  RealClock clock;
  std::vector<std::string> aborts;
  Exchange exchange(port, form, clock, [&](const std::string& message, const std::string&) {
    aborts.push_back(message);
  });
  std::string reply;
  exchange.SendAT("ATE0\r", 2, "OK\r\n", "ERROR", reply);
  EXPECT_THAT(reply, HasSubstr("OK\r\n"));
  exchange.SendAT("AT+CMGF=0\r", 2, "OK\r\n", "ERROR", reply);
  EXPECT_EQ(reply, "\r\nOK\r\n");  // no echo any more
  EXPECT_TRUE(aborts.empty());

  TermiosPort second;
  EXPECT_THROW(second.Open(sim.PortPath(), {}), PortError);

  // Once closed, the line is free again.
  port.Close();
  port.Close();
  EXPECT_FALSE(port.IsOpen());
  second.Open(sim.PortPath(), {});
  EXPECT_TRUE(second.IsOpen());
  EXPECT_TRUE(sim.WaitFor("RX", "AT+CMGF=0"));
}

TEST(TermiosPort, WritesFailOnceTheDeviceIsGone) {
  SimHarness sim;
  TermiosPort port;
  port.Open(sim.PortPath(), SettingsFromBoxes("9600", "1"));
  port.Write("AT\r");
  EXPECT_EQ(sim.Stop(), 0);
  bool failed = false;
  for (int n = 0; n < 100 && !failed; ++n) {
    try {
      port.Write("AT\r");
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } catch (const PortError&) {
      failed = true;
    }
  }
  EXPECT_TRUE(failed);
  port.Close();
}

}  // namespace
}  // namespace tovalink
