// The field trace: its line format, its bounded file, and the port that records it.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/errors.h"
#include "modem/scripted_port.h"
#include "modem/trace_file.h"
#include "modem/trace_format.h"
#include "modem/tracing_port.h"

namespace tovalink {
namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class TraceFolder {
 public:
  TraceFolder() {
    char pattern[] = "/tmp/tovalink-trace-XXXXXX";
    path_ = mkdtemp(pattern);
  }
  ~TraceFolder() { std::filesystem::remove_all(path_); }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

TEST(TraceFormat, EveryByteComesBackFromItsLine) {
  const std::string all_bytes = [] {
    std::string bytes;
    for (int c = 0; c < 256; ++c) bytes += static_cast<char>(c);
    return bytes;
  }();
  const TraceEvent events[] = {
      {"2026-03-02 09:30:00.000", 0, TraceKind::Open, {"/dev/tovalink/COM7", "115200", "1"}},
      {"2026-03-02 09:30:00.001", 1, TraceKind::Write, {"AT+CMGS=33\r"}},
      {"2026-03-02 09:30:00.050", 50, TraceKind::Read, {"\r\n> "}},
      {"2026-03-02 09:30:00.051", 51, TraceKind::Write, {"0031000B81\x1A"}},
      {"2026-03-02 09:30:00.400", 400, TraceKind::Read, {all_bytes}},
      {"2026-03-02 09:30:00.400", 400, TraceKind::Read, {"back\\slash \\x41 tab\there"}},
      {"2026-03-02 09:30:01.000", 1000, TraceKind::Line, {"RLSDCHANGE"}},
      {"2026-03-02 09:30:01.000", 1000, TraceKind::WriteFailed, {"write failed: EIO"}},
      {"2026-03-02 09:30:01.000", 1000, TraceKind::Gone, {}},
      {"2026-03-02 09:30:02.000", 2000, TraceKind::Close, {}},
  };
  std::string text = "# a header line\n\n";
  for (const TraceEvent& event : events) {
    const std::string line = FormatTraceLine(event);
    EXPECT_EQ(line.find_first_of("\r\x1A"), std::string::npos) << line;
    EXPECT_EQ(line.find('\n'), line.size() - 1) << line;
    text += line;
  }
  EXPECT_EQ(FormatTraceLine(events[1]), "2026-03-02 09:30:00.001\t1\tWRITE\tAT+CMGS=33\\r\n");
  EXPECT_EQ(FormatTraceLine(events[5]),
            "2026-03-02 09:30:00.400\t400\tREAD\tback\\\\slash \\\\x41 tab\\there\n");
  std::istringstream in(text + "2026-03-02 09:30:02.001\t2001\tREA");  // a cut last line
  const Trace trace = ReadTrace(in);
  EXPECT_EQ(trace.events, std::vector<TraceEvent>(std::begin(events), std::end(events)));
  EXPECT_EQ(trace.unreadable, 1u);

  for (const char* line :
       {"", "# comment", "2026-03-02 09:30:00.001\t1\tWRITE", "2026-03-02 09:30:00\t1\tWRITE\tx",
        "2026-03-02 09:30:00.001\t-1\tREAD\tx", "2026-03-02 09:30:00.001\t1\tSEND\tx",
        "2026-03-02 09:30:00.001\tx\tCLOSE", "2026-03-02 09:30:00.001\t1\tOPEN\t/dev/x\t9600"}) {
    EXPECT_FALSE(ParseTraceLine(line)) << line;
  }
  // An escape that no writer makes is kept as it stands.
  EXPECT_EQ(UnescapeTraceField("a\\qb\\x4\\x4G\\"), "a\\qb\\x4\\x4G\\");
}

TEST(TraceFormat, ADialogueIsItsCommandsWithWhatFollowedEach) {
  std::istringstream in(
      "2026-03-02 09:30:00.000\t0\tOPEN\tCOM7\t9600\t1\n"
      "2026-03-02 09:30:00.001\t1\tREAD\tRING\n"
      "2026-03-02 09:30:00.002\t2\tWRITE\tAT+CMGL=4\\r\n"
      "2026-03-02 09:30:00.050\t50\tREAD\t\\r\\n+CMGL: 1,1,,5\\r\\n\n"
      "2026-03-02 09:30:00.060\t60\tREAD\t00AB\\r\\nOK\\r\\n\n"
      "2026-03-02 09:30:01.000\t1000\tLINE\t80FULL\n"
      "2026-03-02 09:30:02.000\t2000\tWRITE\tAT+CMGD=1\\r\n"
      "2026-03-02 09:30:02.100\t2100\tCLOSE\n");
  const TraceDialogue dialogue = DialogueOf(ReadTrace(in).events);
  ASSERT_EQ(dialogue.before_first_write.size(), 2u);
  EXPECT_EQ(dialogue.before_first_write[1].bytes(), "RING");
  ASSERT_EQ(dialogue.exchanges.size(), 2u);
  EXPECT_EQ(dialogue.exchanges[0].write.bytes(), "AT+CMGL=4\r");
  EXPECT_EQ(dialogue.exchanges[0].Reply(), "\r\n+CMGL: 1,1,,5\r\n00AB\r\nOK\r\n");
  EXPECT_EQ(dialogue.exchanges[0].after.size(), 3u);
  EXPECT_EQ(dialogue.exchanges[1].Reply(), "");
  EXPECT_EQ(dialogue.exchanges[1].after[0].kind, TraceKind::Close);
}

TEST(TraceFormat, TimesAPersonGives) {
  const char* when = "2026-03-02 09:30:15.250";
  struct Case {
    const char* time;
    std::optional<int> order;
  };
  for (const Case& c :
       {Case{"09:30", 0}, Case{"09:30:15", 0}, Case{"09:31", -1}, Case{"09:29:59", 1},
        Case{"2026-03-02", 0}, Case{"2026-03-01 23:00", 1}, Case{"2026-03-02 09:30:16", -1},
        Case{"9:30", std::nullopt}, Case{"", std::nullopt}, Case{"09:30:15.250", std::nullopt},
        Case{"2026-03-02T09:30", std::nullopt}}) {
    EXPECT_EQ(CompareTraceTime(when, c.time), c.order) << c.time;
  }
}

TEST(TraceFile, KeepsTwoBoundedFilesOfTheLatestLines) {
  TraceFolder folder;
  const std::string path = folder.File("M1.trace");
  const std::string header = "# header\n";
  { std::ofstream(path) << "# an earlier run\nold line\n"; }
  TraceFile file(path, 200, header);
  std::string all;
  for (int n = 0; n < 40; ++n) {
    const std::string line = "line " + std::to_string(n) + " of the dialogue\n";
    all += line;
    EXPECT_EQ(file.Append(line), "");
  }
  const std::string current = ReadAll(path);
  const std::string older = ReadAll(path + ".1");
  EXPECT_LE(current.size(), 200u);
  EXPECT_LE(older.size(), 200u);
  EXPECT_EQ(current.substr(0, header.size()), header);
  EXPECT_EQ(older.substr(0, header.size()), header);
  // The two files hold the latest lines in order, none lost between them.
  const std::string kept = older.substr(header.size()) + current.substr(header.size());
  EXPECT_EQ(all.substr(all.size() - kept.size()), kept);
  EXPECT_GT(kept.size(), 200u);

  // A restarted module appends to what its previous run left.
  {
    TraceFile again(path, 4096, header);
    EXPECT_EQ(again.Append("after restart\n"), "");
  }
  EXPECT_EQ(ReadAll(path), current + header + "after restart\n");

  TraceFile nowhere(folder.File("missing/M1.trace"), 200, header);
  EXPECT_EQ(nowhere.Append("x\n"),
            "cannot open " + folder.File("missing/M1.trace") + ": No such file or directory");
}

TEST(TracingPort, RecordsTheDialogueWithItsTimesAndForwardsIt) {
  VirtualClock clock;
  clock.SetLocal(2026, 3, 2, 9, 30, 0);
  ScriptedPort device(clock);
  TraceFolder folder;
  std::vector<std::string> problems;
  TracingPort port(
      device, clock,
      [&] {
        return TraceSettings{folder.File("M1.trace"), 1 << 20, "M1"};
      },
      [&](const std::string& text) { problems.push_back(text); });
  std::string received;
  std::vector<LineEvent> lines;
  port.SetReceiveHandler([&](const std::string& bytes) { received += bytes; });
  port.SetLineHandler([&](LineEvent event) { lines.push_back(event); });

  device.SetFailOpen(true);
  EXPECT_THROW(port.Open("/dev/tovalink/COM7", {115200, "1"}), PortError);
  device.SetFailOpen(false);
  port.Open("/dev/tovalink/COM7", {115200, "1"});
  EXPECT_TRUE(port.IsOpen());
  clock.AdvanceMs(5);
  port.Write("AT+CMGL=4\r");
  clock.AdvanceMs(40);
  device.Push("\r\nOK");
  clock.AdvanceMs(7);
  device.Push("\r\n");
  device.RaiseLine(LineEvent::CarrierDetectChanged);
  device.Drain();
  device.SetGone(true);
  EXPECT_TRUE(port.Gone());
  EXPECT_TRUE(port.Gone());  // recorded once
  EXPECT_THROW(port.Write("AT\r"), PortError);
  clock.AdvanceMs(1000);
  port.Close();
  port.Close();  // a closed port closes without a record

  EXPECT_EQ(received, "\r\nOK\r\n");
  EXPECT_EQ(lines, std::vector<LineEvent>{LineEvent::CarrierDetectChanged});
  EXPECT_EQ(device.Written(), (std::vector<std::string>{"AT+CMGL=4\r"}));
  EXPECT_EQ(port.TracePath(), folder.File("M1.trace"));
  const std::string trace = ReadAll(folder.File("M1.trace"));
  EXPECT_EQ(trace.substr(0, trace.find("\n2026")),
            TraceHeader("M1").substr(0, TraceHeader("M1").size() - 1));
  EXPECT_EQ(
      trace.substr(trace.find("\n2026") + 1),
      "2026-03-02 09:30:00.000\t0\tOPENFAIL\t/dev/tovalink/COM7\tcannot open /dev/tovalink/COM7\n"
      "2026-03-02 09:30:00.000\t0\tOPEN\t/dev/tovalink/COM7\t115200\t1\n"
      "2026-03-02 09:30:00.005\t5\tWRITE\tAT+CMGL=4\\r\n"
      "2026-03-02 09:30:00.045\t45\tREAD\t\\r\\nOK\n"
      "2026-03-02 09:30:00.052\t52\tREAD\t\\r\\n\n"
      "2026-03-02 09:30:00.052\t52\tLINE\tRLSDCHANGE\n"
      "2026-03-02 09:30:00.052\t52\tGONE\n"
      "2026-03-02 09:30:00.052\t52\tWRITE\tAT\\r\n"
      "2026-03-02 09:30:00.052\t52\tWRITEFAIL\tport no longer usable\n"
      "2026-03-02 09:30:01.052\t1052\tCLOSE\n");
  EXPECT_TRUE(problems.empty());
}

TEST(TracingPort, ATraceThatCannotBeWrittenIsToldOnceAndNeverStopsThePort) {
  VirtualClock clock;
  ScriptedPort device(clock);
  TraceFolder folder;
  std::vector<std::string> problems;
  const std::string path = folder.File("later/M1.trace");
  TracingPort port(
      device, clock,
      [&] {
        return TraceSettings{path, 1 << 20, "M1"};
      },
      [&](const std::string& text) { problems.push_back(text); });
  port.Open("COM7", {});
  port.Write("AT\r");
  port.Write("AT\r");
  EXPECT_EQ(device.Written().size(), 2u);
  std::filesystem::create_directory(folder.File("later"));
  port.Write("ATE0\r");
  EXPECT_EQ(problems, (std::vector<std::string>{
                          "Trace not written: cannot open " + path + ": No such file or directory",
                          "Trace written again: " + path}));
  EXPECT_NE(ReadAll(path).find("\tWRITE\tATE0\\r\n"), std::string::npos);

  // Without a path nothing is recorded and everything still passes.
  TracingPort untraced(
      device, clock, [] { return TraceSettings{}; }, nullptr);
  untraced.Close();
  untraced.Open("COM7", {});
  untraced.Write("AT\r");
  EXPECT_EQ(untraced.TracePath(), "");
  EXPECT_EQ(device.Written().size(), 4u);
}

}  // namespace
}  // namespace tovalink
