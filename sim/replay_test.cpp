// modemsim --replay's player on a hand-turned clock: which bytes go out when, and where a
// module that does something else is caught.
#include "sim/replay.h"

#include <gtest/gtest.h>

#include <sstream>

#include "sim/fake_sim_io.h"

namespace tovalink::sim {
namespace {

// Two runs of a module: the first opens, echoes, answers two commands (the second in two
// chunks, with a line event and bytes after the close that nobody heard); the second run
// begins at 10:00.
const char kTrace[] =
    "# Tovalink field trace, format 1\n"
    "2026-03-02 09:30:00.000\t0\tOPEN\t/dev/tovalink/COM7\t115200\t1\n"
    "2026-03-02 09:30:00.001\t1\tREAD\tRING\\r\\n\n"
    "2026-03-02 09:30:00.010\t10\tWRITE\tATE0\\r\n"
    "2026-03-02 09:30:00.030\t30\tREAD\tATE0\\r\\r\\nOK\\r\\n\n"
    "2026-03-02 09:30:00.100\t100\tWRITE\tAT+CMGL=4\\r\n"
    "2026-03-02 09:30:00.150\t150\tREAD\t\\r\\n+CMGL: 1,1,,5\\r\\n\n"
    "2026-03-02 09:30:00.150\t150\tLINE\tRLSDCHANGE\n"
    "2026-03-02 09:30:02.100\t2100\tREAD\t00AB\\r\\nOK\\r\\n\n"
    "2026-03-02 09:30:03.000\t3000\tCLOSE\n"
    "2026-03-02 09:30:03.500\t3500\tREAD\tlate\n"
    "# Tovalink field trace, format 1\n"
    "2026-03-02 10:00:00.000\t0\tOPEN\t/dev/tovalink/COM7\t115200\t1\n"
    "2026-03-02 10:00:00.010\t10\tWRITE\tATE0\\r\n"
    "2026-03-02 10:00:00.020\t20\tREAD\t\\r\\nOK\\r\\n\n";

std::vector<TraceEvent> Events() {
  std::istringstream in(kTrace);
  return ReadTrace(in).events;
}

class ReplayTest : public ::testing::Test {
 protected:
  explicit ReplayTest()
      : replay(RunFrom(Events(), ""), io,
               [this](const std::string& text) { said.push_back(text); }) {}
  FakeSimIo io;
  std::vector<std::string> said;
  Replay replay;
};

TEST_F(ReplayTest, AnswersEachRecordedCommandWithItsBytesAndDelays) {
  EXPECT_EQ(replay.Commands(), 3u);
  replay.Feed("AT");
  io.Advance(1000);
  EXPECT_EQ(io.Take(), "");  // half a command gets nothing
  replay.Feed("E0\r");
  io.Advance(19);
  EXPECT_EQ(io.Take(), "");
  io.Advance(1);
  EXPECT_EQ(io.Take(), "ATE0\r\r\nOK\r\n");

  replay.Feed("AT+CMGL=4\r");
  io.Advance(50);
  EXPECT_EQ(io.Take(), "\r\n+CMGL: 1,1,,5\r\n");
  io.Advance(1949);
  EXPECT_EQ(io.Take(), "");
  io.Advance(1);
  EXPECT_EQ(io.Take(), "00AB\r\nOK\r\n");
  io.Advance(10000);
  EXPECT_EQ(io.Take(), "");  // what came after the close was never heard

  // The second run's command: the recording is played out.
  replay.Feed("ATE0\rAT\r");
  io.Advance(10);
  EXPECT_EQ(io.Take(), "\r\nOK\r\n");
  EXPECT_EQ(replay.state(), Replay::State::Ended);
  EXPECT_EQ(io.Lines("RX"), (std::vector<std::string>{"ATE0\r", "AT+CMGL=4\r", "ATE0\r"}));
  EXPECT_EQ(io.Lines("REPLAY"), (std::vector<std::string>{"END|3", "BEYOND|AT\r"}));
  EXPECT_EQ(said, std::vector<std::string>{
                      "the whole recording was played: 3 commands, each as recorded"});
}

TEST_F(ReplayTest, TheFirstCommandThatDiffersIsReportedWithBothTexts) {
  replay.Feed("ATE0\r");
  io.Advance(100);
  // Comes in two pieces, as a terminal may deliver it; reported once it is whole.
  replay.Feed("AT+CMGL=");
  replay.Feed("1\r");
  EXPECT_EQ(replay.state(), Replay::State::Departed);
  const std::string sentence =
      "the module departs from the recording at command 2 of 3 (recorded at "
      "2026-03-02 09:30:00.100): the recording has \"AT+CMGL=4\\r\", the module wrote "
      "\"AT+CMGL=1\\r\"";
  EXPECT_EQ(said, std::vector<std::string>{sentence});
  EXPECT_EQ(replay.Summary(), sentence);
  ASSERT_EQ(io.lines.back().first, "REPLAY");
  EXPECT_EQ(io.lines.back().second,
            (std::vector<std::string>{"DEPART", "2", "2026-03-02 09:30:00.100", "AT+CMGL=4\r",
                                      "AT+CMGL=1\r"}));
  io.Take();
  replay.Feed("AT+CMGL=4\r");
  io.Advance(5000);
  EXPECT_EQ(io.Take(), "");  // nothing more is answered

  // A command cut short (no CR) is reported as it stands after a moment.
  FakeSimIo other;
  Replay cut(RunFrom(Events(), "10:00"), other, nullptr);
  cut.Feed("ATZ");
  EXPECT_EQ(cut.state(), Replay::State::Departing);
  other.Advance(300);
  EXPECT_EQ(cut.state(), Replay::State::Departed);
  EXPECT_EQ(other.lines.back().second.back(), "ATZ");
}

TEST(ReplayCommand, ALongSmsIsTheSameWhateverItsReference) {
  // One part of a long text: 16-bit reference 0005 (digits 28 to 31), part 1 of 2.
  const std::string part = "007100048180210000AA0A06080400050201C8329B\x1A";
  std::istringstream in("2026-03-02 09:30:00.000\t0\tOPEN\tCOM7\t115200\t1\n" +
                        FormatTraceLine({"2026-03-02 09:30:00.010", 10, TraceKind::Write, {part}}) +
                        "2026-03-02 09:30:00.500\t500\tREAD\t\\r\\n+CMGS: 7\\r\\nOK\\r\\n\n");
  const std::vector<TraceEvent> run = ReadTrace(in).events;
  struct Case {
    std::string written;
    Replay::State state;
  };
  std::string other_reference = part;
  other_reference.replace(28, 4, "004F");
  std::string other_text = part;
  other_text.replace(36, 2, "C9");
  std::string other_part = part;
  other_part.replace(34, 2, "02");
  for (const Case& c :
       {Case{part, Replay::State::Ended}, Case{other_reference, Replay::State::Ended},
        Case{other_text, Replay::State::Departed}, Case{other_part, Replay::State::Departed}}) {
    FakeSimIo io;
    Replay replay(run, io, nullptr);
    replay.Feed(c.written);
    EXPECT_EQ(replay.state(), c.state) << c.written;
    io.Advance(500);
    EXPECT_EQ(io.Take(), c.state == Replay::State::Ended ? "\r\n+CMGS: 7\r\nOK\r\n" : "");
  }
}

TEST(ReplayRun, ChosenByTheTimeOfItsOpening) {
  const std::vector<TraceEvent> events = Events();
  struct Case {
    const char* from;
    size_t first;  // index of the run's first event in `events`
  };
  for (const Case& c : {Case{"", 0}, Case{"09:30", 0}, Case{"09:31", 10},
                        Case{"2026-03-02 10:00:00", 10}, Case{"2026-03-02", 0}}) {
    const std::vector<TraceEvent> run = RunFrom(events, c.from);
    ASSERT_EQ(run.size(), events.size() - c.first) << c.from;
    EXPECT_EQ(run.front(), events[c.first]) << c.from;
  }
  EXPECT_THROW(RunFrom(events, "11:00"), std::runtime_error);
  EXPECT_THROW(RunFrom(events, "9.30"), std::runtime_error);
  // A file that rotation cut has no opening: it plays from its start.
  const std::vector<TraceEvent> cut(events.begin() + 2, events.begin() + 9);
  EXPECT_EQ(RunFrom(cut, "").size(), cut.size());
}

}  // namespace
}  // namespace tovalink::sim
