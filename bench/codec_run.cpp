#include "bench/codec_run.h"

#include <sched.h>

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "core/clock.h"
#include "sms/inbox.h"
#include "sms/pdu_decode.h"
#include "testsupport/listing.h"

namespace tovalink {

namespace {

using SteadyClock = std::chrono::steady_clock;

// Header and PDU lines as ReadInbox hands them to DecodePdu: the PDU line keeps the LF left
// by cutting the listing at CR.
struct PduCase {
  std::string header;
  std::string line;
};

std::vector<PduCase> SinglePartCases() {
  const std::string reply = DeliverPdus({{"6281234567890",
                                          "SUKSES Isi P10 ke 081234567801 SN: 1234567890123. "
                                          "Saldo 1.250.000"}})
                                .front();
  return {
      {"+CMGL: 1,1,,24", "\n" + reply},
      // "Hello" from 0812345677, and "Hi" with a euro sign in UCS2 from a short code.
      {"+CMGL: 17,1,,24",
       "\n0004"
       "0B912618325476F7"
       "0000"
       "62805080010223"
       "05C8329BFD06"},
      {"+CMGL: 3,1,,24",
       "\n0004"
       "03A121F3"
       "0008"
       "62805080010223"
       "060048006920AC"},
  };
}

std::string InboxListing() {
  std::vector<std::pair<std::string, std::string>> messages;
  for (int n = 0; n < 8; ++n) {
    messages.emplace_back("62811100011" + std::to_string(n),
                          "SUKSES Isi P10 ke 08123456780" + std::to_string(n) +
                              " SN: 1234567890123. Saldo 1.250.000");
  }
  messages.emplace_back("6281110001199", std::string(200, 'x') + " sebuah pesan panjang");
  return MessageListing(messages);
}

// Runs `body` (which does `per_call` units of work) for about `seconds`, three times, and
// returns the best rate in units per second.
template <typename Body>
double BestRate(double seconds, double per_call, Body body) {
  double best = 0;
  for (int round = 0; round < 3; ++round) {
    long calls = 0;
    const auto start = SteadyClock::now();
    double elapsed = 0;
    while (elapsed < seconds) {
      for (int n = 0; n < 100; ++n) body();
      calls += 100;
      elapsed = std::chrono::duration<double>(SteadyClock::now() - start).count();
    }
    best = std::max(best, calls * per_call / elapsed);
  }
  return best;
}

}  // namespace

CodecResult RunCodecBench(double seconds, std::ostream& progress) {
  // One core: the figure is a single thread's, not the machine's.
  const int cpu = sched_getcpu();
  if (cpu >= 0) {
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(cpu, &one);
    sched_setaffinity(0, sizeof one, &one);
  }

  const std::vector<PduCase> cases = SinglePartCases();
  for (const PduCase& c : cases) {
    DecodedPdu out;
    if (!DecodePdu(c.header, c.line, out)) throw std::runtime_error("a vector did not decode");
  }
  CodecResult result;
  size_t next = 0;
  DecodedPdu out;
  long sink = 0;
  result.decodes_per_second = BestRate(seconds, 1, [&] {
    const PduCase& c = cases[next];
    next = next + 1 == cases.size() ? 0 : next + 1;
    out = DecodedPdu();
    DecodePdu(c.header, c.line, out);
    sink += static_cast<long>(out.text.size());
  });
  progress << "  DecodePdu: " << static_cast<long>(result.decodes_per_second)
           << " single-part messages/s\n";

  const std::string listing = InboxListing();
  RealClock clock;
  const size_t messages = ReadInbox(listing, clock).size();
  if (messages != 10) throw std::runtime_error("the listing did not read as 10 messages");
  result.inbox_messages_per_second = BestRate(seconds, static_cast<double>(messages), [&] {
    sink += static_cast<long>(ReadInbox(listing, clock).size());
  });
  progress << "  ReadInbox: " << static_cast<long>(result.inbox_messages_per_second)
           << " messages/s\n";
  if (sink == 0) progress << "";  // keeps the work from being optimised away
  return result;
}

}  // namespace tovalink
