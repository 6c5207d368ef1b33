#include <gtest/gtest.h>

#include <sstream>

#include "bench/figures.h"
#include "bench/module_run.h"

namespace tovalink {
namespace {

TranscriptLine Rx(int64_t ms, const std::string& command) { return {ms, "RX", {command}}; }

TranscriptLine Tx(int64_t ms, const std::string& bytes) { return {ms, "TX", {bytes}}; }

TEST(TimeSales, SpansFromTheFirstSaleToTheLastAndTakesTheModemsShare) {
  const std::vector<TranscriptLine> transcript = {
      Rx(0, "ATE0\r"),
      Rx(100, "AT+CMGS=20\r"),
      Tx(105, "\r\n> "),
      Rx(201, "0011000B...\x1A"),
      Tx(202, "\r\n+CMGS: 7\r\n"),
      Tx(204, "\r\nOK\r\n"),  // the modem's share runs to its last answer
      Rx(303, "AT+CMGF=0\r"),
      Tx(303, "\r\nOK\r\n"),
      Rx(404, "AT+CMGL=4\r"),  // unanswered: nothing of the modem's
      Rx(506, "AT+CMGD=1\r"),
      Tx(507, "\r\nOK\r\n"),
      Rx(610, "AT+CMGS=20\r"),
      Tx(612, "\r\n> "),  // the next sale's
      Rx(711, "0011000B...\x1A"),
      Rx(2000, "AT+CPMS=\"SM\"\r"),
  };
  const SaleTiming timing = TimeSales(transcript, "AT+CMGS=");
  EXPECT_EQ(timing.sales, 1);
  EXPECT_EQ(timing.exchanges, 5);
  EXPECT_EQ(timing.span_ms, 510);
  EXPECT_EQ(timing.modem_ms, 5 + 3 + 0 + 0 + 1);
  EXPECT_EQ(TimeSales({Rx(0, "AT+CMGS=20\r")}, "AT+CMGS=").sales, 0);
  EXPECT_EQ(TimeSales(transcript, "AT+WIND=15").sales, 0);
}

TEST(Figures, RatioGoalAndChangeFromThePreviousRun) {
  Figures figures;
  figures.Add({"a", "at most", 0.03, "s/min", GoalKind::AtMost, 0.015});
  figures.Add({"b", "at least", 2500, "/s", GoalKind::AtLeast, 2000});
  figures.Add({"c", "shown only", 7, "x"});
  EXPECT_DOUBLE_EQ(*figures.Find("a")->Ratio(), 2);
  EXPECT_FALSE(*figures.Find("a")->Meets());
  EXPECT_TRUE(*figures.Find("b")->Meets());
  EXPECT_FALSE(figures.Find("c")->Ratio().has_value());

  const nlohmann::json previous = figures.ToJson(Machine{}, "before");
  figures.Add({"d", "new", 1, ""});
  std::ostringstream out;
  figures.Print(out, &previous);
  EXPECT_NE(out.str().find("MISSED"), std::string::npos);
  EXPECT_NE(out.str().find("2500 -> +0.0 %"), std::string::npos) << out.str();
  EXPECT_EQ(previous["figures"][0]["ratio"], 2.0);
  EXPECT_EQ(previous["figures"][1]["met"], true);
}

}  // namespace
}  // namespace tovalink
