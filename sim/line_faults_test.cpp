#include "sim/line_faults.h"

#include <gtest/gtest.h>

#include <memory>

#include "sim/fake_sim_io.h"
#include "sim/simulator.h"

namespace tovalink::sim {
namespace {

struct LineFaultsTest : testing::Test {
  void Start(const std::string& json) {
    const Scenario scenario = ParseScenario(json);
    line = std::make_unique<LineFaults>(scenario.line, io);
    simulator = std::make_unique<Simulator>(scenario, *line);
    simulator->Start();
    line->Start();
  }
  std::string Ask(const std::string& bytes) {
    io.Take();
    simulator->Feed(bytes);
    return io.Take();
  }
  FakeSimIo io;
  std::unique_ptr<LineFaults> line;
  std::unique_ptr<Simulator> simulator;
};

TEST_F(LineFaultsTest, PiecesGoOutInOrderAtTheirPaceWithNulsBetween) {
  Start(R"({"echo": false, "line": {"chunk_size": 3, "chunk_gap_ms": 50, "nul_every": 4}})");
  simulator->Feed("AT\r");
  simulator->Feed("AT+XYZ\r");  // its answer waits behind the first one's pieces
  io.Advance(1000);
  ASSERT_EQ(io.sent.size(), 6u);
  for (size_t n = 0; n < io.sent.size(); ++n) {
    EXPECT_EQ(io.sent[n].first, static_cast<int64_t>(50 * n)) << n;
    EXPECT_LE(io.sent[n].second.size(), 3u) << n;
  }
  EXPECT_EQ(io.Take(), std::string("\r\nOK\0\r\n"
                                   "\r\n\0ERRO\0R\r\n",
                                   18));
}

TEST_F(LineFaultsTest, NoiseComesAtItsIntervals) {
  Start(R"({"echo": false, "line": {"noise": "\u0000#$%\r\n", "noise_ms": 300}})");
  io.Advance(1000);
  ASSERT_EQ(io.sent.size(), 3u);
  EXPECT_EQ(io.sent[2], std::make_pair(int64_t{900}, std::string("\0#$%\r\n", 6)));
}

TEST_F(LineFaultsTest, ASilentModemNeitherCarriesOutNorAnswersUntilItsTimeIsUp) {
  Start(R"({"echo": false,
            "messages": [{"store": "ME", "from": "628123", "text": "hi", "announce": false}],
            "line": {"silent": {"at": "AT+CMGD", "nth": 1, "for_ms": 2000}}})");
  EXPECT_EQ(Ask("AT+CMGD=1\r"), "");
  EXPECT_EQ(Ask("AT\r"), "");
  EXPECT_EQ(simulator->Store("ME").size(), 1u);  // the deletion never reached the modem
  io.Advance(2000);
  EXPECT_EQ(Ask("AT+CMGD=1\r"), "\r\nOK\r\n");
  EXPECT_TRUE(simulator->Store("ME").empty());
  EXPECT_EQ(io.Lines("NOTE"), (std::vector<std::string>{"silent for 2000 ms", "unheard", "unheard",
                                                        "answering again"}));
}

TEST_F(LineFaultsTest, SilenceForGoodStartsAtTheNthCommandOfAnyKind) {
  Start(R"({"echo": false, "line": {"silent": {"nth": 3}}})");
  EXPECT_EQ(Ask("AT\r"), "\r\nOK\r\n");
  EXPECT_EQ(Ask("AT\r"), "\r\nOK\r\n");
  EXPECT_EQ(Ask("AT\r"), "");
  io.Advance(600'000);
  EXPECT_EQ(Ask("AT\r"), "");
  EXPECT_TRUE(line->Silent());
}

TEST_F(LineFaultsTest, AVanishedModemAnswersNothingMore) {
  Start(R"({"echo": false, "line": {"vanish": {"at": "ATD", "nth": 2}}})");
  EXPECT_EQ(Ask("ATD*1#\r"), "\r\nERROR\r\n");
  EXPECT_FALSE(line->Vanished());
  EXPECT_EQ(Ask("ATD*1#\r"), "");
  EXPECT_TRUE(line->Vanished());
  EXPECT_EQ(Ask("AT\r"), "");
  EXPECT_EQ(io.Lines("NOTE"), std::vector<std::string>{"vanished: the terminal is closed"});
}

TEST_F(LineFaultsTest, WrongSectionsAreRefusedWithTheirReason) {
  const std::pair<const char*, const char*> cases[] = {
      {R"({"line": []})", "\"line\" must be an object"},
      {R"({"line": {"noise": "x"}})", "line: \"noise\" needs \"noise_ms\" above 0"},
      {R"({"line": {"silent": {"nth": 0}}})", "line silent: nth must be 1 or more"},
  };
  for (const auto& [json, message] : cases) {
    try {
      ParseScenario(json);
      ADD_FAILURE() << json;
    } catch (const std::runtime_error& error) {
      EXPECT_EQ(std::string(error.what()), message) << json;
    }
  }
}

}  // namespace
}  // namespace tovalink::sim
