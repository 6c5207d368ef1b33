#include "modem/serial_port.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

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
  EXPECT_FALSE(port.Gone());
  EXPECT_EQ(sim.Stop(), 0);
  for (int n = 0; n < 100 && !port.Gone(); ++n) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_TRUE(port.Gone());
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

std::set<std::string> Threads() {
  std::set<std::string> threads;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
    threads.insert(entry.path().filename());
  }
  return threads;
}

// How often a thread of this process went to sleep by itself: a thread woken by a timer adds
// one every time, a thread that waits for an event only when the event comes.
long WakeUps(const std::string& thread) {
  std::ifstream status("/proc/self/task/" + thread + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("voluntary_ctxt_switches:", 0) == 0) return std::stol(line.substr(24));
  }
  return -1;
}

TEST(TermiosPort, AnIdleLineWakesNobodyAndBytesStillArrive) {
  const int other_side = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(other_side, 0);
  ASSERT_EQ(grantpt(other_side), 0);
  ASSERT_EQ(unlockpt(other_side), 0);

  std::mutex mutex;
  std::condition_variable arrived;
  std::string received;
  TermiosPort port;
  port.SetReceiveHandler([&](const std::string& bytes) {
    std::lock_guard lock(mutex);
    received += bytes;
    arrived.notify_all();
  });
  const std::set<std::string> before = Threads();
  port.Open(ptsname(other_side), SettingsFromBoxes("115200", "1"));
  std::string reader;
  for (const std::string& thread : Threads()) {
    if (before.count(thread) == 0) reader = thread;
  }
  ASSERT_FALSE(reader.empty());

  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the reader is waiting
  const long first = WakeUps(reader);
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  EXPECT_LE(WakeUps(reader) - first, 1) << "the reader wakes while the line is idle";

  ASSERT_EQ(write(other_side, "\r\nOK\r\n", 6), 6);
  {
    std::unique_lock lock(mutex);
    EXPECT_TRUE(arrived.wait_for(lock, std::chrono::seconds(10), [&] { return received.size() >= 6; }));
    EXPECT_EQ(received, "\r\nOK\r\n");
  }
  port.Close();  // wakes the reader, which ends
  EXPECT_EQ(Threads().count(reader), 0u);
  close(other_side);
}

// The input queue filling up while the handler is busy: "80FULL" once it holds more than 80 %
// of its size, and once only until it has drained; every byte still arrives.
TEST(TermiosPort, AQueueThatFillsWhileTheHandlerIsBusyIsReported) {
  const int other_side = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(other_side, 0);
  ASSERT_EQ(grantpt(other_side), 0);
  ASSERT_EQ(unlockpt(other_side), 0);

  std::mutex mutex;
  std::condition_variable changed;
  std::string received;
  bool held = true;  // the first delivery waits until the test lets it go
  std::vector<LineEvent> events;
  TermiosPort port;
  port.SetReceiveHandler([&](const std::string& bytes) {
    std::unique_lock lock(mutex);
    received += bytes;
    changed.notify_all();
    changed.wait(lock, [&] { return !held; });
  });
  port.SetLineHandler([&](LineEvent event) {
    std::lock_guard lock(mutex);
    events.push_back(event);
  });
  port.Open(ptsname(other_side), SettingsFromBoxes("115200", "1"));
  ASSERT_EQ(write(other_side, "+", 1), 1);
  {
    std::unique_lock lock(mutex);
    ASSERT_TRUE(
        changed.wait_for(lock, std::chrono::seconds(10), [&] { return !received.empty(); }));
  }
  const std::string flood(3500, 'x');  // 85 % of the queue
  ASSERT_EQ(write(other_side, flood.data(), flood.size()), static_cast<ssize_t>(flood.size()));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // queued behind the handler
  {
    std::lock_guard lock(mutex);
    held = false;
  }
  changed.notify_all();
  {
    std::unique_lock lock(mutex);
    ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(10),
                                 [&] { return received.size() == 1 + flood.size(); }));
  }
  ASSERT_EQ(write(other_side, "\r\nOK\r\n", 6), 6);
  {
    std::unique_lock lock(mutex);
    ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(10),
                                 [&] { return received.size() == 7 + flood.size(); }));
    EXPECT_EQ(received, "+" + flood + "\r\nOK\r\n");
    EXPECT_EQ(events, std::vector<LineEvent>{LineEvent::InputAlmostFull});
  }
  port.Close();
  close(other_side);
}

}  // namespace
}  // namespace tovalink
