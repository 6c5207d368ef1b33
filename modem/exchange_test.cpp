#include "modem/exchange.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include "modem/scripted_port.h"

namespace tovalink {
namespace {

class ExchangeTest : public testing::Test {
 protected:
  void SetUp() override {
    form.StopRequested = false;
    form.cport = "4";
    port.Open("COM4", {});
    exchange = std::make_unique<Exchange>(
        port, form, clock, [this](const std::string& message, const std::string& port_text) {
          aborts.emplace_back(message, port_text);
        });
  }

  // Runs one exchange and returns the reply and the virtual milliseconds it took.
  std::pair<std::string, int64_t> Send(const std::string& command, int timeout,
                                       std::string reply = {}) {
    const int64_t start = clock.NowMs();
    exchange->SendAT(command, timeout, "OK\r\n", "ERROR", reply);
    return {reply, clock.NowMs() - start};
  }

  VirtualClock clock;
  Form form;
  ScriptedPort port{clock};
  std::vector<std::pair<std::string, std::string>> aborts;
  std::unique_ptr<Exchange> exchange;
};

TEST_F(ExchangeTest, TokenEndsTheWaitAtOnce) {
  port.On("AT+CMGF=0\r", "\r\nOK\r\n");
  auto [reply, elapsed] = Send("AT+CMGF=0\r", 2);
  EXPECT_EQ(reply, "\r\nOK\r\n");
  EXPECT_EQ(elapsed, 0);
  EXPECT_EQ(port.Written(), std::vector<std::string>{"AT+CMGF=0\r"});
  EXPECT_EQ(form.Memo1(), "START AT+CMGF=0\r\r\n");
  EXPECT_EQ(form.StatusPanel(1), "AT+CMGF=0\r");
  EXPECT_EQ(form.StatusPanel(2), "\r\nOK\r\n");
}

TEST_F(ExchangeTest, ErrorAnywhereInALineEndsTheWait) {
  port.On("AT+CPMS", "\r\n+CMS ERROR: 302\r\n");
  auto [reply, elapsed] = Send("AT+CPMS=\"XX\"\r", 10);
  EXPECT_EQ(reply, "\r\n+CMS ERROR: 302\r\n");
  EXPECT_EQ(elapsed, 0);
}

TEST_F(ExchangeTest, TokenSplitAcrossChunksIsSeenOnceComplete) {
  // One byte every 30 ms: the token is complete at 150 ms, between two polls, and taken up
  // then.
  port.On("AT\r", ScriptedPort::Answer{"\r\nOK\r\n", 0, 1, 30});
  auto [reply, elapsed] = Send("AT\r", 5);
  EXPECT_EQ(reply, "\r\nOK\r\n");
  EXPECT_EQ(elapsed, 150);
}

TEST_F(ExchangeTest, TokenEndsTheWaitAtItsOwnMoment) {
  struct Case {
    int64_t delay_ms;  // from the write to the answer
    const char* answer;
    int timeout;
  };
  const Case cases[] = {
      {40, "\r\nOK\r\n", 2},              // before the first poll
      {250, "\r\nOK\r\n", 2},             // between two polls
      {700, "\r\n+CME ERROR: 3\r\n", 2},  // the error token as early as the success token
      {2950, "\r\nOK\r\n", 2},            // past the timeout, before the poll that ends the wait
      {9990, "\r\nOK\r\n", 20},           // just inside the silence rule
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.delay_ms);
    port.Clear();
    clock.SetLocal(2026, 1, 5, 10, 0, 0);  // written on the second: the polls fall on 100s
    port.On("AT+CUSD", ScriptedPort::Answer{c.answer, c.delay_ms});
    auto [reply, elapsed] = Send("AT+CUSD=1\r", c.timeout);
    EXPECT_EQ(reply, c.answer);
    EXPECT_EQ(elapsed, c.delay_ms);
  }
}

// A modem that answers inside the write itself: the token is in the buffer before the wait
// begins, and the wait does not sleep at all.
TEST_F(ExchangeTest, ATokenThatCameWithTheWriteEndsTheWaitWithoutSleeping) {
  class EagerPort : public SerialPort {
   public:
    explicit EagerPort(ScriptedPort& inner) : inner_(inner) {}
    void Open(const std::string& path, const SerialSettings& settings) override {
      inner_.Open(path, settings);
    }
    void Close() override { inner_.Close(); }
    bool IsOpen() const override { return inner_.IsOpen(); }
    void Write(const std::string& bytes) override {
      inner_.Write(bytes);
      inner_.Push("\r\nOK\r\n");  // delivered to the handler before Write returns
    }
    void SetReceiveHandler(ReceiveHandler handler) override {
      inner_.SetReceiveHandler(std::move(handler));
    }
    void SetLineHandler(LineHandler handler) override { inner_.SetLineHandler(std::move(handler)); }

   private:
    ScriptedPort& inner_;
  };
  exchange.reset();
  EagerPort eager(port);
  Exchange live(eager, form, clock, [](const std::string&, const std::string&) {});
  clock.ResetSlept();
  std::string reply;
  live.SendAT("AT\r", 2, "OK\r\n", "ERROR", reply);
  EXPECT_EQ(reply, "\r\nOK\r\n");
  EXPECT_EQ(clock.SleptMs(), 0);
}

// The deadlines and the silence rule are looked at every 100 ms from the write, as they
// always were: a wait without its token ends at exactly the same poll.
TEST_F(ExchangeTest, WaitsEndByDeadlinesCutToWholeSeconds) {
  struct Case {
    const char* name;
    int64_t start_ms;    // milliseconds into the second at which the command is written
    const char* answer;  // "" for a silent modem
    int timeout;
    int64_t min_ms, max_ms;  // what the whole-second rule allows
    int64_t exact_ms;        // the poll at which it ends
  };
  const Case cases[] = {
      {"silent, 20 s timeout, silence rule", 0, "", 20, 10000, 11100, 11000},
      {"silent, 20 s timeout, mid-second", 600, "", 20, 10000, 11100, 10400},
      {"partial reply, 2 s timeout", 0, "\r\n+CUS", 2, 2000, 3100, 3000},
      {"partial reply, 2 s timeout, mid-second", 900, "\r\n+CUS", 2, 2000, 3100, 2100},
      {"partial reply outlives the silence rule", 0, "\r\n+CUS", 15, 15000, 16100, 16000},
      {"silent, 5 s timeout", 300, "", 5, 5000, 6100, 5700},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    port.Clear();
    clock.SetLocal(2026, 1, 5, 10, 0, 0, static_cast<int>(c.start_ms));
    if (*c.answer != '\0') port.On("AT+CUSD", ScriptedPort::Answer{c.answer, 300});
    auto [reply, elapsed] = Send("AT+CUSD=1,\"*888#\",15\r", c.timeout);
    EXPECT_EQ(reply, c.answer);
    EXPECT_GE(elapsed, c.min_ms);
    EXPECT_LE(elapsed, c.max_ms);
    EXPECT_EQ(elapsed, c.exact_ms);
  }
}

TEST_F(ExchangeTest, WaitAcrossMidnightLastsItsFullLength) {
  clock.SetLocal(2026, 1, 5, 23, 59, 58);
  port.On("ATD", ScriptedPort::Answer{"\r\nOK", 200});
  auto [reply, elapsed] = Send("ATD*776*1234#\r", 5);
  EXPECT_EQ(reply, "\r\nOK");
  EXPECT_GE(clock.NowMs(), Clock::Join({2026, 1, 6, 0, 0, 3, 0}));
  EXPECT_LE(elapsed, 6100);
}

TEST_F(ExchangeTest, WallClockStepsDoNotChangeTheWait) {
  // An NTP step back by an hour, or forward by one, in the middle of a 5-second wait for an
  // answer that never completes: the wait still ends 5 to 6 seconds after the write.
  for (const int64_t step : {-3'600'000, 3'600'000}) {
    port.Clear();
    port.On("ATD", ScriptedPort::Answer{"\r\nbusy", 200});
    clock.After(1000, [this, step] { clock.StepWall(step); });
    const int64_t start = clock.MonotonicMs();
    std::string reply;
    exchange->SendAT("ATD*776*1234#\r", 5, "OK\r\n", "ERROR", reply);
    const int64_t elapsed = clock.MonotonicMs() - start;
    EXPECT_EQ(reply, "\r\nbusy") << step;
    EXPECT_GE(elapsed, 5000) << step;
    EXPECT_LE(elapsed, 6100) << step;
  }
}

TEST_F(ExchangeTest, NulBytesAreRemovedFromTheReply) {
  port.On("AT+CSQ", std::string("\r\n\0+CSQ: 17,0\0\0\r\n\r\nOK\r\n", 23));
  auto [reply, elapsed] = Send("AT+CSQ\r", 2);
  EXPECT_EQ(reply, "\r\n+CSQ: 17,0\r\n\r\nOK\r\n");
  EXPECT_EQ(exchange->Snapshot().RxBuffer, reply);
}

TEST_F(ExchangeTest, ANulInsideATokenDoesNotHideIt) {
  port.On("AT+CMGF", std::string("\r\nO\0K\r\0\n", 8));
  auto [reply, elapsed] = Send("AT+CMGF=0\r", 10);
  EXPECT_EQ(reply, "\r\nOK\r\n");
  EXPECT_EQ(elapsed, 0);
}

TEST_F(ExchangeTest, AModemGoneUnderTheExchangeAbortsItsOwnCommandAtOnce) {
  port.On("ATD", ScriptedPort::Answer{"\r\n+CUS", 200});
  clock.After(1000, [this] { port.SetGone(true); });
  auto [reply, elapsed] = Send("ATD*123#\r", 30, "kept");
  EXPECT_EQ(reply, "kept");
  EXPECT_EQ(elapsed, 1000);
  EXPECT_EQ(
      aborts,
      (std::vector<std::pair<std::string, std::string>>{{"Error ATCOMMAND ATD*123#\r", "4"}}));
}

TEST_F(ExchangeTest, SlowDebugPollsEvery1500Ms) {
  form.cslow = true;
  port.On("AT\r", "\r\nOK\r\n");
  auto [reply, elapsed] = Send("AT\r", 2);
  EXPECT_EQ(reply, "\r\nOK\r\n");
  EXPECT_EQ(elapsed, 1500);
}

TEST_F(ExchangeTest, AfterStopNothingIsSentAndTheReplyIsKept) {
  form.StopRequested = true;
  port.On("AT\r", "\r\nOK\r\n");
  port.Push("stale");
  auto [reply, elapsed] = Send("AT\r", 2, "kept");
  EXPECT_EQ(reply, "kept");
  EXPECT_EQ(elapsed, 0);
  EXPECT_TRUE(port.Written().empty());
  EXPECT_EQ(form.Memo1(), "");
  EXPECT_EQ(exchange->Snapshot().RxBuffer, "");  // the start of an exchange still clears it
}

TEST_F(ExchangeTest, CharactersFromBeforeTheExchangeAreDiscarded) {
  port.Push("\r\nRING\r\n");
  port.On("AT\r", ScriptedPort::Answer{"\r\nOK\r\n", 50});
  EXPECT_EQ(Send("AT\r", 2).first, "\r\nOK\r\n");
}

TEST_F(ExchangeTest, PortFailureAbortsTheModuleAndKeepsTheReply) {
  struct Case {
    const char* name;
    const char* cport;
    bool close_port;
    std::vector<std::pair<std::string, std::string>> aborts;
  };
  const Case cases[] = {
      {"write fails", "4", false, {{"Error ATCOMMAND AT+CMGL=4\r", "4"}}},
      {"port closed", "4", true, {{"Error ATCOMMAND AT+CMGL=4\r", "4"}}},
      {"no port text: nothing to abort", "", false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    aborts.clear();
    form.cport = c.cport;
    port.SetFailWrites(!c.close_port);
    if (c.close_port) port.Close();
    auto [reply, elapsed] = Send("AT+CMGL=4\r", 10, "kept");
    EXPECT_EQ(reply, "kept");
    EXPECT_EQ(elapsed, 0);
    EXPECT_EQ(aborts, c.aborts);
    port.SetFailWrites(false);
    if (!port.IsOpen()) port.Open("COM4", {});
  }
}

TEST_F(ExchangeTest, LostBytesOfATokenLeaveAPartialReplyAtTheDeadline) {
  port.SetDropEvery(3);  // "\r\nOK\r\n" loses its "O" and its last "\n"
  port.On("AT+CMGF", "\r\nOK\r\n");
  auto [reply, elapsed] = Send("AT+CMGF=0\r", 2);
  EXPECT_EQ(reply, "\r\nK\r");
  EXPECT_GE(elapsed, 2000);
  EXPECT_LE(elapsed, 3100);
  EXPECT_TRUE(exchange->Snapshot().Waiting);  // stays set until the next exchange
}

TEST_F(ExchangeTest, PressKeysSleepsHalfASecondPerKey) {
  struct Case {
    std::string keys;
    int64_t slept_ms;  // "OK" comes at once: the key time alone
  };
  for (const Case& c : {Case{"", 0}, Case{"123456", 3000}, Case{"*", 500}}) {
    SCOPED_TRACE(c.keys);
    port.On("AT+CKPD", "\r\nOK\r\n");
    clock.ResetSlept();
    exchange->PressKeys(c.keys);
    EXPECT_EQ(port.Written().back(), "AT+CKPD=\"" + c.keys + "\";\r");
    EXPECT_EQ(clock.SleptMs(), c.slept_ms);
  }
}

TEST_F(ExchangeTest, LineStatusTracesGoToMemo1) {
  port.RaiseLine(LineEvent::CarrierDetectChanged);
  port.RaiseLine(LineEvent::InputAlmostFull);
  EXPECT_EQ(form.Memo1(), "RLSDCHANGE\r\n80FULL\r\n");
}

// Bytes arriving from another thread in many small chunks while the waiting loop polls (and
// strips NULs) on its own thread: none may be lost or reordered.
TEST_F(ExchangeTest, ChunksFromAnotherThreadAreNeverLost) {
  RealClock real;
  Exchange live(port, form, real, [](const std::string&, const std::string&) {});
  std::string expected;
  std::vector<std::string> chunks;
  for (int n = 0; n < 3000; ++n) {
    std::string chunk = std::to_string(n) + (n % 7 == 0 ? std::string(1, '\0') : "") + ",";
    chunks.push_back(chunk);
    if (n % 7 != 0)
      expected += chunk;
    else
      expected += std::to_string(n) + ",";
  }
  chunks.push_back("\r\nOK\r\n");
  expected += "\r\nOK\r\n";

  std::thread modem([&] {
    while (port.Written().empty()) std::this_thread::yield();
    for (const std::string& chunk : chunks) port.PushAsync(chunk);
  });
  std::string reply;
  live.SendAT("AT+CMGL=4\r", 20, "OK\r\n", "ERROR", reply);
  modem.join();
  EXPECT_EQ(reply, expected);
}

// Answers from another thread at any moment around the write: before the wait begins, just
// after, or a little later. No wake-up may be lost: every exchange ends with its whole answer
// and none waits for a poll (150 polls would take 15 s).
TEST_F(ExchangeTest, AnswersFromAnotherThreadEndEachWaitWithoutAPoll) {
  RealClock real;
  Exchange live(port, form, real, [](const std::string&, const std::string&) {});
  constexpr size_t kExchanges = 150;
  std::thread modem([&] {
    for (size_t n = 0; n < kExchanges; ++n) {
      while (port.Written().size() <= n) std::this_thread::yield();
      if (n % 3 == 1) std::this_thread::yield();
      if (n % 3 == 2) std::this_thread::sleep_for(std::chrono::microseconds(100 * (n % 7)));
      port.PushAsync(n % 2 == 0 ? "\r\nOK\r\n" : "\r\n+CMS ERROR: 500\r\n");
    }
  });
  const auto start = std::chrono::steady_clock::now();
  std::vector<std::string> wrong;
  for (size_t n = 0; n < kExchanges; ++n) {
    std::string reply;
    live.SendAT("AT+CSQ\r", 2, "OK\r\n", "ERROR", reply);
    if (reply != (n % 2 == 0 ? "\r\nOK\r\n" : "\r\n+CMS ERROR: 500\r\n")) {
      wrong.push_back(std::to_string(n) + ": " + reply);
    }
  }
  const auto elapsed = std::chrono::steady_clock::now() - start;
  modem.join();
  EXPECT_EQ(wrong, std::vector<std::string>{});
  EXPECT_LT(elapsed, std::chrono::milliseconds(kExchanges * 100 / 4));
}

}  // namespace
}  // namespace tovalink
