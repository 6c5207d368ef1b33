#include "sim/dial_codes.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

#include "sim/fake_sim_io.h"
#include "sim/simulator.h"

namespace tovalink::sim {
namespace {

struct DialCodesTest : testing::Test {
  void Start(const std::string& json) {
    simulator = std::make_unique<Simulator>(ParseScenario(json), io);
    simulator->Start();
  }
  std::string Ask(const std::string& bytes) {
    io.Take();
    simulator->Feed(bytes);
    return io.Take();
  }
  std::string Wait(int64_t ms) {
    io.Take();
    io.Advance(ms);
    return io.Take();
  }
  FakeSimIo io;
  std::unique_ptr<Simulator> simulator;
};

// A PIN prompt and the network's answers to what is typed; the code and the PIN come bare,
// as the module sends them.
const char kPinSession[] = R"json({"echo": false, "dial_rules": [
    {"code": "\\*151\\*1\\*1\\*3\\*(\\d)\\*(\\d+)\\*1#", "names": ["menu", "destination"],
     "ack": "\r\nOK\r\n", "delay_ms": 500, "ussd": "Silakan masukkan PIN",
     "answers": [
       {"answer": "1234", "state": 0, "delay_ms": 700,
        "ussd": "Transfer {menu} ke {destination} BERHASIL SN {serial}"},
       {"answer": "0000", "state": 1, "ussd": "PIN salah. 0.Kembali"}]}]})json";

TEST_F(DialCodesTest, APinSessionTakesTheAnswersTheNetworkExpects) {
  Start(kPinSession);
  EXPECT_EQ(Ask("AT+CUSD=1,*151*1*1*3*4*0812*1#\r"), "\r\nOK\r\n");
  EXPECT_EQ(Wait(500), "\r\n+CUSD: 1,\"Silakan masukkan PIN\",15\r\n");
  EXPECT_EQ(Ask("AT+CUSD=1,1234\r"), "");
  EXPECT_EQ(Wait(700), "\r\n+CUSD: 0,\"Transfer 4 ke 0812 BERHASIL SN 100000000001\",15\r\n");
  // The network ended the session with its "0": closing it answers only "OK".
  EXPECT_EQ(Ask("AT+CUSD=2\r"), "\r\nOK\r\n");

  // An answer that keeps the session open ("state" 1) is closed with "+CUSD: 2".
  Ask("AT+CUSD=1,\"*151*1*1*3*1*0899*1#\",15\r");
  Wait(500);
  EXPECT_EQ(Ask("AT+CUSD=1,0000\r"), "\r\n+CUSD: 1,\"PIN salah. 0.Kembali\",15\r\n");
  EXPECT_EQ(Ask("AT+CUSD=2\r"), "\r\nOK\r\n\r\n+CUSD: 2\r\n");

  // An answer the network does not expect ends the session.
  Ask("AT+CUSD=1,*151*1*1*3*1*0899*1#\r");
  Wait(500);
  EXPECT_EQ(Ask("AT+CUSD=1,99\r"), "\r\n+CUSD: 4\r\n");
  // Without a session, a PIN is just an unknown code.
  EXPECT_EQ(Ask("AT+CUSD=1,1234\r"), "\r\nERROR\r\n");
  EXPECT_EQ(Ask("AT+CUSD=1\r"), "\r\nOK\r\n");

  EXPECT_EQ(io.Lines("USSD"),
            (std::vector<std::string>{
                "OPEN|*151*1*1*3*4*0812*1#", "ANSWER|1234", "CLOSED|by the network", "CLOSE|none",
                "OPEN|*151*1*1*3*1*0899*1#", "ANSWER|0000", "OPEN|0000", "CLOSE|session",
                "OPEN|*151*1*1*3*1*0899*1#", "ANSWER|99", "CLOSED|unexpected answer"}));
  EXPECT_EQ(io.Lines("DIAL"),
            (std::vector<std::string>{"*151*1*1*3*4*0812*1#", "*151*1*1*3*1*0899*1#",
                                      "*151*1*1*3*1*0899*1#", "1234"}));
}

TEST_F(DialCodesTest, APromptCanBeMissedAGivenNumberOfTimes) {
  // The rule listed first answers twice without asking for anything; then the prompt comes.
  Start(R"json({"echo": false, "dial_rules": [
      {"code": "\\*151\\*.*", "times": 2, "ussd": "Maaf, sistem sedang sibuk"},
      {"code": "\\*151\\*.*", "ussd": "Masukan PIN", "answers": [{"answer": ".*",
       "ussd": "OK"}]}]})json");
  EXPECT_EQ(Ask("AT+CUSD=1,*151*1#\r"), "\r\n+CUSD: 0,\"Maaf, sistem sedang sibuk\",15\r\n");
  EXPECT_EQ(Ask("AT+CUSD=2\r"), "\r\nOK\r\n");
  EXPECT_EQ(Ask("AT+CUSD=1,*151*1#\r"), "\r\n+CUSD: 0,\"Maaf, sistem sedang sibuk\",15\r\n");
  EXPECT_EQ(Ask("AT+CUSD=1,*151*1#\r"), "\r\n+CUSD: 1,\"Masukan PIN\",15\r\n");
}

TEST_F(DialCodesTest, AWalletCodeIsTakenAndAnsweredLaterByAnSms) {
  Start(R"json({"echo": false, "commands": [{"prefix": "AT+CUSD=2", "reply": "\r\nOK\r\n"}],
      "dial_rules": [
      {"code": "\\*101\\*(\\d+)\\*(\\d+)\\*(\\d+)#", "names": ["amount", "destination", "pin"],
       "ack": "\r\nOK\r\n", "ussd": "Diproses", "delay_ms": 300,
       "sms": {"from": "DOMPET", "delay_ms": 2000,
               "text": "Transfer {amount} ke {destination} BERHASIL SN {serial}"}},
      {"code": "\\*555#", "reply": "\r\n+CUSD: 0,\"Open\"", "answers": [{"answer": "1"}]}]})json");
  EXPECT_EQ(Ask("ATD*101*10*0812345*1234#;\r"), "\r\nOK\r\n");
  EXPECT_EQ(Wait(300), "\r\n+CUSD: 0,\"Diproses\",15\r\n");
  EXPECT_EQ(Wait(1699), "");
  EXPECT_EQ(Wait(1), "\r\n+CMTI: \"SM\",1\r\n");
  EXPECT_EQ(simulator->Store("SM").at(1).sender, "DOMPET");
  EXPECT_EQ(simulator->Store("SM").at(1).text, "Transfer 10 ke 0812345 BERHASIL SN 100000000001");
  EXPECT_EQ(Ask("ATD*102#\r"), "\r\nERROR\r\n");
  // A command rule that answers "AT+CUSD=2" still ends the session.
  EXPECT_EQ(Ask("ATD*555#\r"), "\r\n+CUSD: 0,\"Open\",15\r\n");
  EXPECT_EQ(Ask("AT+CUSD=2\r"), "\r\nOK\r\n");
  EXPECT_EQ(Ask("AT+CUSD=1,1\r"), "\r\nERROR\r\n");
  EXPECT_EQ(io.Lines("USSD").back(), "CLOSED|by the module");
}

TEST(DialRules, MistakesInAnswersAreNamed) {
  auto message = [](const std::string& json) {
    try {
      ParseScenario(json);
    } catch (const std::runtime_error& error) {
      return std::string(error.what());
    }
    return std::string("accepted");
  };
  EXPECT_EQ(message(R"json({"dial_rules": [{"code": "1", "answers": {"answer": "1"}}]})json"),
            "dial_rules: \"answers\" must be a list");
  EXPECT_NE(message(R"json({"dial_rules": [{"answers": [{"answer": "("}]}]})json")
                .find("bad regular expression in dial_rules answers"),
            std::string::npos);
}

}  // namespace
}  // namespace tovalink::sim
