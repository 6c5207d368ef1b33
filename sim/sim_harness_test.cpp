#include "sim/sim_harness.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <stdexcept>

namespace tovalink {
namespace {

// Reads from the terminal until `until` has arrived or a second has passed.
std::string ReadUntil(int fd, const std::string& until) {
  std::string got;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  while (got.find(until) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
    pollfd in{fd, POLLIN, 0};
    if (poll(&in, 1, 50) > 0) {
      char buffer[256];
      const ssize_t n = read(fd, buffer, sizeof buffer);
      if (n > 0) got.append(buffer, static_cast<size_t>(n));
    }
  }
  return got;
}

TEST(SimHarness, RunsModemsimOnAPseudoTerminalWithATranscript) {
  std::string link;
  {
    SimHarness sim(R"({"messages": [{"from": "628123", "text": "caf\u00e9"}]})", 3);
    link = sim.PortPath();
    EXPECT_EQ(link, sim.Dir() + "/COM3");
    const int fd = open(link.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    termios tio{};
    tcgetattr(fd, &tio);
    cfmakeraw(&tio);
    tcsetattr(fd, TCSANOW, &tio);
    // The stored message's announcement, sent once the simulator was ready: it may come
    // before or after this open, so it is read rather than flushed away.
    EXPECT_EQ(ReadUntil(fd, "+CMTI: \"SM\",1\r\n"), "\r\n+CMTI: \"SM\",1\r\n");
    ASSERT_EQ(write(fd, "AT\r", 3), 3);
    EXPECT_EQ(ReadUntil(fd, "OK\r\n"), "AT\r\r\nOK\r\n");
    close(fd);

    EXPECT_EQ(sim.Stop(), 0);
    struct stat gone {};
    EXPECT_NE(lstat(link.c_str(), &gone), 0) << "the link is removed at stop";

    const auto lines = sim.Transcript();
    std::vector<std::string> seen;
    for (const TranscriptLine& line : lines) {
      if (line.kind != "READY") seen.push_back(line.kind + " " + line.text());
    }
    const std::vector<std::string> expected = {"STORE SM",      "TX \r\n+CMTI: \"SM\",1\r\n",
                                               "TX A",          "TX T",
                                               "TX \r",         "RX AT",
                                               "TX \r\nOK\r\n", "NOTE stopped"};
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(lines[1].fields.at(3), "caf\xC3\xA9");  // escaped in the file, UTF-8 again here
  }
}

TEST(SimHarness, AVanishingModemHangsUpItsTerminalAndTakesItsLink) {
  SimHarness sim(R"({"echo": false, "line": {"vanish": {"at": "AT+CMGL"}}})");
  const int fd = open(sim.PortPath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, "AT\r", 3), 3);
  EXPECT_EQ(ReadUntil(fd, "OK\r\n"), "\r\nOK\r\n");
  ASSERT_EQ(write(fd, "AT+CMGL=4\r", 10), 10);
  pollfd hangup{fd, POLLIN, 0};
  ASSERT_EQ(poll(&hangup, 1, 2000), 1);
  EXPECT_NE(hangup.revents & POLLHUP, 0);
  EXPECT_TRUE(sim.WaitFor("NOTE", "vanished"));
  struct stat gone {};
  for (int waited = 0; lstat(sim.PortPath().c_str(), &gone) == 0 && waited < 2000; waited += 10) {
    usleep(10'000);
  }
  EXPECT_NE(lstat(sim.PortPath().c_str(), &gone), 0) << "the link goes with the modem";
  close(fd);
  EXPECT_EQ(sim.Stop(), 0);
}

TEST(SimHarness, ABadScenarioStopsTheStartWithTheSimulatorsWords) {
  try {
    SimHarness sim("{\"echo\": 1");
    FAIL() << "started";
  } catch (const std::runtime_error& error) {
    EXPECT_NE(std::string(error.what()).find("not JSON"), std::string::npos) << error.what();
  }
}

TEST(SimHarness, HelpDocumentsOptionsAndScenario) {
  std::FILE* help = popen(TOVALINK_MODEMSIM_FOR_TEST " --help", "r");
  ASSERT_NE(help, nullptr);
  std::string text;
  char buffer[512];
  while (size_t n = fread(buffer, 1, sizeof buffer, help)) text.append(buffer, n);
  EXPECT_EQ(pclose(help), 0);
  for (const char* word :
       {"--dir", "--port", "--scenario", "--transcript", "--help", "\"commands\"", "\"messages\"",
        "\"sms_rules\"", "\"dial_rules\"", "{serial}", "SMSPART", "\"line\"", "\"vanish\""}) {
    EXPECT_NE(text.find(word), std::string::npos) << word;
  }
}

}  // namespace
}  // namespace tovalink
