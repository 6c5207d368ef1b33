#include "sim/simulator.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>

#include "sim/fake_sim_io.h"

namespace tovalink::sim {
namespace {

using FakeIo = FakeSimIo;

struct SimulatorTest : testing::Test {
  void Start(const std::string& json = "{}") {
    simulator = std::make_unique<Simulator>(ParseScenario(json), io);
    simulator->Start();
  }
  std::string Ask(const std::string& bytes) {
    io.Take();
    simulator->Feed(bytes);
    return io.Take();
  }
  FakeIo io;
  std::unique_ptr<Simulator> simulator;
};

TEST_F(SimulatorTest, EchoesUntilAte0AndAcceptsTheSetUpCommands) {
  Start();
  EXPECT_EQ(Ask("AT\r"), "AT\r\r\nOK\r\n");
  EXPECT_EQ(Ask("ATE0\r"), "ATE0\r\r\nOK\r\n");
  for (const char* command : {"AT\r", "AT+CMGF=0\r", "AT+CNMI=0,1,0,0,0\r", "AT+CNMI = 1,1,0,2\r",
                              "AT+CMEC=2\r", "AT+CSMS=0\r", "AT+STSF=2,\"5FFFFFFF7F\"\r",
                              "AT+STSF=1\r", "AT+CUSD=1\r", "AT+WIND=255\r", "AT+CFUN=1\r"}) {
    EXPECT_EQ(Ask(command), "\r\nOK\r\n") << command;
  }
  EXPECT_EQ(Ask("AT+XYZ\r"), "\r\nERROR\r\n");
  EXPECT_EQ(Ask("AT+CK"), "");  // nothing until the CR
  EXPECT_EQ(Ask("PD=\"12*3\";\r"), "\r\nOK\r\n");
  EXPECT_EQ(io.records.back(), "KEYS:12*3");
}

TEST_F(SimulatorTest, StoresListAndDeleteTheirOwnMessages) {
  Start(R"json({"echo": false, "messages": [
      {"store": "SM", "from": "628123", "text": "Trx SUKSES", "announce": false},
      {"store": "ME", "from": "628999", "text": "saldo"},
      {"store": "listed", "from": "628777", "text": "later", "delay_ms": 1000}]})json");
  EXPECT_EQ(io.Take(), "\r\n+CMTI: \"ME\",1\r\n");
  EXPECT_EQ(Ask("AT+CPMS=\"SM\"\r"), "\r\n+CPMS: 1,30,1,30,1,30\r\n\r\nOK\r\n");
  const std::string pdu = simulator->Store("SM").at(1).pdu;
  EXPECT_EQ(Ask("AT+CMGL=4\r"), "\r\n+CMGL: 1,0,," + std::to_string(gsmpdu::TpduLength(pdu)) +
                                    "\r\n" + pdu + "\r\n\r\nOK\r\n");
  EXPECT_EQ(simulator->Store("SM").at(1).status, 1);  // listed once: read
  EXPECT_EQ(Ask("AT+CMGD=1\r"), "\r\nOK\r\n");
  EXPECT_EQ(Ask("AT+CMGD=1\r"), "\r\n+CMS ERROR: 321\r\n");
  EXPECT_EQ(Ask("AT+CMGL=4\r"), "\r\n\r\nOK\r\n");
  io.Advance(1000);  // "listed": where AT+CMGL looks now
  EXPECT_EQ(io.Take(), "\r\n+CMTI: \"SM\",1\r\n");
  EXPECT_EQ(simulator->Store("SM").at(1).text, "later");
  EXPECT_EQ(Ask("AT+CPMS=\"ME\"\r"), "\r\n+CPMS: 1,50,1,50,1,50\r\n\r\nOK\r\n");
  EXPECT_NE(Ask("AT+CMGL=4\r").find("+CMGL: 1,0,,"), std::string::npos);
}

TEST_F(SimulatorTest, NumbersTooLongForAnIndexAreRefusedNotFatal) {
  Start(R"json({"echo": false, "dial_rules": [{"code": "1", "reply": "{99999999999}"}]})json");
  struct Case {
    const char* command;
    const char* answer;
  };
  for (const Case& c :
       {Case{"AT+CMGR=99999999999\r", "\r\n+CMS ERROR: 321\r\n"},
        Case{"AT+CMGD=99999999999\r", "\r\n+CMS ERROR: 321\r\n"},
        Case{"AT+CMGD=1,99999999999\r", "\r\n+CMS ERROR: 321\r\n"},
        Case{"AT+CMGL=99999999999\r", "\r\n+CMS ERROR: 302\r\n"},
        Case{"AT+CMGS=99999999999\r", "\r\nERROR\r\n"}, Case{"ATD1\r", "{99999999999},15\r\n"}}) {
    EXPECT_EQ(Ask(c.command), c.answer) << c.command;
  }
}

TEST_F(SimulatorTest, PlacesMultiPartMessagesLaterAndAnnouncesEachPart) {
  Start(R"json({"echo": false, "messages": [{"from": "628123", "text": "Sisa saldo Rp 10.000",
      "multipart": true, "part_size": 8, "reference": 9, "only_parts": [1, 3],
      "delay_ms": 500}]})json");
  EXPECT_EQ(io.Take(), "");
  io.Advance(500);
  EXPECT_EQ(io.Take(), "\r\n+CMTI: \"SM\",1\r\n\r\n+CMTI: \"SM\",2\r\n");
  ASSERT_EQ(simulator->Store("SM").size(), 2u);
  EXPECT_NE(simulator->Store("SM").at(2).pdu.find("050003090303"), std::string::npos);
}

TEST_F(SimulatorTest, SubmissionIsDecodedAnsweredAndRepliedToByTheOperator) {
  Start(R"json({"echo": false, "sms_rules": [{"to": "\\+4670.*", "text": "hello(\\w+)",
      "sms": {"text": "ok {1} SN:{serial} for {number}", "delay_ms": 2000}}]})json");
  EXPECT_EQ(Ask("AT+CMGS=23\r"), "\r\n> ");
  EXPECT_EQ(Ask("0011000B916407281553F80000AA0AE8329BFD4697D9EC37\x1A"),
            "\r\n+CMGS: 1\r\n\r\nOK\r\n");
  EXPECT_EQ(io.records[io.records.size() - 1], "SMS:+46708251358|hellohello");
  io.Advance(1999);
  EXPECT_EQ(io.Take(), "");
  io.Advance(1);
  EXPECT_EQ(io.Take(), "\r\n+CMTI: \"SM\",1\r\n");
  EXPECT_EQ(simulator->Store("SM").at(1).text, "ok hello SN:100000000001 for +46708251358");
  EXPECT_EQ(simulator->Store("SM").at(1).sender, "+46708251358");
  EXPECT_EQ(Ask("AT+CMGS=5\r"), "\r\n> ");
  EXPECT_EQ(Ask("0011ZZ\x1A"), "\r\n+CMS ERROR: 304\r\n");
}

TEST_F(SimulatorTest, PartsOfASubmissionAreJoinedBeforeTheRulesSeeThem) {
  Start(R"json({"echo": false, "sms_rules": [{"to": "\\+62811234567", "text": "x{150}y",
      "sms": {"from": "62811", "text": "joined"}}]})json");
  // The parts as a phone sends them: the deliver parts' user data behind a submit header.
  const auto parts =
      gsmpdu::EncodeDeliver("6200", std::string(150, 'x') + "yz", gsmpdu::Coding::Gsm7,
                            gsmpdu::DeliverOptions{5, true, 100});
  ASSERT_EQ(parts.size(), 2u);
  for (auto part = parts.rbegin(); part != parts.rend(); ++part) {
    // SUBMIT with the header flag, reference 0, to +62811234567, the part's user data.
    auto octet = [&](size_t at) { return std::stoi(part->substr(at * 2, 2), nullptr, 16); };
    const size_t address = 1 + static_cast<size_t>(octet(0)) + 1;
    const size_t length_at = address + 2 + static_cast<size_t>(octet(address) + 1) / 2 + 2 + 7;
    const std::string user_data = part->substr(length_at * 2);
    const std::string pdu = "0041000B912618214365F70000" + user_data;
    EXPECT_EQ(Ask("AT+CMGS=" + std::to_string(gsmpdu::TpduLength(pdu)) + "\r"), "\r\n> ");
    EXPECT_NE(Ask(pdu + "\x1A").find("OK"), std::string::npos);
  }
  std::vector<std::string> sms;
  for (const std::string& record : io.records) {
    if (record.rfind("SMS", 0) == 0) sms.push_back(record.substr(0, 30));
  }
  EXPECT_EQ(sms, (std::vector<std::string>{"SMSPART:+62811234567|xxxxxxxxx",
                                           "SMSPART:+62811234567|xxxxxxxxx",
                                           "SMS:+62811234567|xxxxxxxxxxxxx"}));
  io.Advance(0);
  EXPECT_EQ(simulator->Store("SM").at(1).text, "joined");
}

TEST_F(SimulatorTest, DialCodesAnswerByRule) {
  Start(R"json({"echo": false, "dial_rules": [
      {"code": "\\*776\\*(\\d+)#;?", "ack": "\r\nOK\r\n",
       "reply": "\r\n+CUSD: 0,\"Stok S5=10 pin {1}\"", "delay_ms": 3000},
      {"code": "\\*888#", "reply": "\r\n+CUSD: 0,\"Pulsa\"", "end": "\r\n\r\nOK\r\n"}]})json");
  EXPECT_EQ(Ask("ATD*776*1234#\r"), "\r\nOK\r\n");
  io.Advance(3000);
  EXPECT_EQ(io.Take(), "\r\n+CUSD: 0,\"Stok S5=10 pin 1234\",15\r\n");
  EXPECT_EQ(Ask("AT+CUSD=1,\"*888#\",15\r"), "\r\n+CUSD: 0,\"Pulsa\"\r\n\r\nOK\r\n");
  EXPECT_EQ(Ask("ATD*999#;\r"), "\r\nERROR\r\n");
  EXPECT_EQ(io.records.back(), "DIAL:*999#");
}

TEST_F(SimulatorTest, CommandRulesShapeTheAnswer) {
  Start(R"json({"commands": [
      {"exact": "ATE0", "silent": true, "times": 1},
      {"prefix": "AT+CSQ", "reply": "\r\n\u0000+CSQ: 9,0\r\n\r\nOK\r\n", "delay_ms": 100,
       "chunks": [2, 3], "chunk_size": 4, "chunk_gap_ms": 50}]})json");
  EXPECT_EQ(Ask("ATE0\r"), "ATE0\r");  // echo only: the first ATE0 goes unanswered
  EXPECT_EQ(Ask("ATE0\r"), "ATE0\r\r\nOK\r\n");
  simulator->Feed("AT+CSQ\r");
  io.Advance(1000);
  std::vector<std::pair<int64_t, std::string>> expected = {{100, std::string("\r\n", 2)},
                                                           {150, std::string("\0+C", 3)},
                                                           {200, "SQ: "},
                                                           {250, "9,0\r"},
                                                           {300, "\n\r\nO"},
                                                           {350, "K\r\n"}};
  EXPECT_EQ(io.sent, expected);
}

TEST_F(SimulatorTest, ScenarioMistakesAreReportedReadably) {
  auto message = [](const std::string& json) {
    try {
      ParseScenario(json);
    } catch (const std::runtime_error& error) {
      return std::string(error.what());
    }
    return std::string("accepted");
  };
  EXPECT_NE(message("{").find("not JSON"), std::string::npos);
  EXPECT_NE(message("[]").find("JSON object"), std::string::npos);
  EXPECT_NE(message(R"json({"dial_rules": [{"code": "("}]})json").find("dial_rules"),
            std::string::npos);
  EXPECT_NE(message(R"json({"messages": [{"coding": "utf9"}]})json").find("utf9"),
            std::string::npos);
  EXPECT_NE(message(R"json({"echo": "yes"})json").find("wrong value"), std::string::npos);
}

TEST(ExampleScenarios, AllOfSchemaAreReadable) {
  int read = 0;
  for (const auto& entry : std::filesystem::directory_iterator(TOVALINK_SOURCE_DIR "/schema")) {
    const std::string name = entry.path().filename().string();
    if (name.size() < 14 || name.compare(name.size() - 14, 14, "-scenario.json") != 0) continue;
    std::ifstream in(entry.path());
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_NO_THROW(ParseScenario(text.str())) << name;
    ++read;
  }
  EXPECT_GE(read, 2);
}

}  // namespace
}  // namespace tovalink::sim
