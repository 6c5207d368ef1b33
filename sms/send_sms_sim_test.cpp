// SendSms against the simulated modem on a pseudo-terminal, in real time.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/clock.h"
#include "core/form.h"
#include "modem/exchange.h"
#include "modem/serial_port.h"
#include "sim/sim_harness.h"
#include "sms/send_sms.h"

namespace tovalink {
namespace {

TEST(SendSmsSimTest, LongTextArrivesAsTwoPartsOfOneReference) {
  SimHarness sim;
  TermiosPort port;
  port.Open(sim.PortPath(), SettingsFromBoxes("115200", ""));
  Form form;
  form.StopRequested = false;
  form.cport = std::to_string(sim.Port());
  RealClock clock;
  std::vector<std::string> aborts;
  Exchange exchange(port, form, clock,
                    [&](const std::string& message, const std::string&) { aborts.push_back(message); });

  std::string reply;
  exchange.SendAT("AT+CMGF=0\r", 5, "OK\r\n", "ERROR", reply);
  std::string text;
  for (int k = 0; k < 200; ++k) text += static_cast<char>('a' + k % 26);
  EXPECT_EQ(SendSms(exchange, "+62 812 3456 789", text), SmsResult::Sent);
  ASSERT_TRUE(sim.WaitFor("SMS", "08123456789"));
  port.Close();

  std::vector<std::string> parts;
  std::string whole;
  for (const TranscriptLine& line : sim.Transcript()) {
    if (line.kind == "SMSPART" && line.fields.size() == 3) parts.push_back(line.fields[2]);
    if (line.kind == "SMS" && line.fields.size() >= 2) whole = line.fields[1];
  }
  ASSERT_EQ(parts.size(), 2u);
  const std::string reference = parts[0].substr(0, parts[0].find('/'));
  EXPECT_EQ(parts[0], reference + "/2/1");
  EXPECT_EQ(parts[1], reference + "/2/2");
  const int value = std::stoi(reference);
  EXPECT_GE(value, 1);
  EXPECT_LE(value, 79);
  EXPECT_EQ(whole, text);
  EXPECT_TRUE(aborts.empty());
}

}  // namespace
}  // namespace tovalink
