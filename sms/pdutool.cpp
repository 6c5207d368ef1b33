// pdutool: a technician's look at the module's SMS codec. It decodes a received PDU as the
// module reads it, encodes a text as the module sends it, and reads a whole listing, given
// on standard input or taken from a module's field trace.
// Texts on the command line and on the screen are UTF-8; the codec works on Windows-1252.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "core/clock.h"
#include "modem/trace_format.h"
#include "sms/cp1252.h"
#include "sms/gsm_hex.h"
#include "sms/inbox.h"
#include "sms/pdu_decode.h"
#include "sms/pdu_encode.h"

namespace {

using tovalink::Cp1252ToUtf8;
using tovalink::HexOctet;
using tovalink::Utf8ToCp1252;

std::string HexBytes(const std::string& text) {
  std::string out;
  for (const char c : text) out += HexOctet(static_cast<unsigned char>(c));
  return out;
}

void PrintUsage(std::ostream& out) {
  out << "Usage:\n"
         "  pdutool decode PDU_HEX [HEADER_LINE]\n"
         "      Decodes a received SMS-DELIVER PDU as the module reads it from a listing.\n"
         "      HEADER_LINE is the listing line before the PDU (default \"+CMGL: 1,1,,0\").\n"
         "  pdutool encode NUMBER TEXT [REFERENCE]\n"
         "      Prints the SMS-SUBMIT PDUs the module sends for TEXT (UTF-8) to NUMBER, one\n"
         "      a line; REFERENCE (default 1) ties the parts of a long text together.\n"
         "  pdutool inbox [--cdma] < LISTING\n"
         "      Reads a whole \"AT+CMGL\" listing from standard input as the module does\n"
         "      (--cdma: the listing of a CDMA phone) and prints the messages it finds.\n"
         "  pdutool inbox --trace TRACE [--at TIME]\n"
         "      Reads the listing from a module's field trace (NAME.trace in its working\n"
         "      folder): the last one that holds messages, or the last such at or before\n"
         "      TIME (hh:mm, hh:mm:ss or \"yyyy-mm-dd hh:mm:ss\"). The command that asked\n"
         "      for it tells a CDMA phone's listing; the first line names the listing.\n"
         "  pdutool --help\n"
         "Texts are shown in UTF-8 and, byte by byte, in hexadecimal (text_hex, Windows-1252).\n";
}

int Decode(const std::vector<std::string>& args) {
  if (args.size() < 2 || args.size() > 3) {
    PrintUsage(std::cerr);
    return 2;
  }
  const std::string header = args.size() == 3 ? args[2] : "+CMGL: 1,1,,0";
  tovalink::DecodedPdu decoded;
  const bool complete = tovalink::DecodePdu(header, "\n" + args[1], decoded);
  std::cout << "index=" << decoded.index << "\n"
            << "sender=" << decoded.sender << "\n"
            << "text=" << Cp1252ToUtf8(decoded.text) << "\n"
            << "text_hex=" << HexBytes(decoded.text) << "\n"
            << "multipart=" << (decoded.multipart ? 1 : 0) << "\n"
            << "header=";
  for (size_t k = 0; k < decoded.header_values.size(); ++k) {
    std::cout << (k == 0 ? "" : ",") << decoded.header_values[k];
  }
  std::cout << "\n";
  if (!complete) {
    std::cerr << "pdutool: the PDU could not be decoded completely\n";
    return 1;
  }
  return 0;
}

int Encode(const std::vector<std::string>& args) {
  if (args.size() < 3 || args.size() > 4) {
    PrintUsage(std::cerr);
    return 2;
  }
  int reference = 1;
  if (args.size() == 4) {
    try {
      size_t used = 0;
      reference = std::stoi(args[3], &used);
      if (used != args[3].size()) throw std::invalid_argument(args[3]);
    } catch (const std::exception&) {
      std::cerr << "pdutool: REFERENCE must be a number\n";
      return 2;
    }
  }
  for (const std::string& pdu : tovalink::EncodePdu(args[1], Utf8ToCp1252(args[2]), reference)) {
    std::cout << pdu << "\n";
  }
  return 0;
}

// The reply to the last "AT+CMGL=" of the trace that lists messages, at or before `at` when
// given: its time, the command and the listing; an empty listing when there is none.
struct TracedListing {
  std::string when;
  std::string command;
  std::string listing;
};
TracedListing ListingFromTrace(const std::vector<tovalink::TraceEvent>& events,
                               const std::string& at) {
  TracedListing found;
  for (const tovalink::TraceExchange& exchange : tovalink::DialogueOf(events).exchanges) {
    const tovalink::TraceEvent& write = exchange.write;
    if (write.bytes().rfind("AT+CMGL=", 0) != 0) continue;
    if (!at.empty() && *tovalink::CompareTraceTime(write.when, at) > 0) break;
    std::string reply = exchange.Reply();
    if (reply.find("+CMGL:") == std::string::npos) continue;
    // The exchange drops the NUL bytes of a noisy line before the module reads a reply.
    reply.erase(std::remove(reply.begin(), reply.end(), '\0'), reply.end());
    found = {write.when, write.bytes(), reply};
  }
  return found;
}

void PrintMessages(const std::vector<tovalink::ReceivedMessage>& messages) {
  std::cout << "count=" << messages.size() << "\n";
  for (const tovalink::ReceivedMessage& message : messages) {
    std::cout << "index=" << message.index << "\n"
              << "sender=" << message.sender << "\n"
              << "text=" << Cp1252ToUtf8(message.text) << "\n"
              << "text_hex=" << HexBytes(message.text) << "\n";
  }
}

int InboxFromTrace(const std::string& path, const std::string& at) {
  if (!at.empty() && !tovalink::CompareTraceTime("", at)) {
    std::cerr << "pdutool: --at " << at << ": give hh:mm, hh:mm:ss or yyyy-mm-dd hh:mm:ss\n";
    return 2;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::cerr << "pdutool: cannot read " << path << "\n";
    return 1;
  }
  const TracedListing found = ListingFromTrace(tovalink::ReadTrace(in).events, at);
  if (found.command.empty()) {
    std::cerr << "pdutool: " << path << " holds no listing with messages"
              << (at.empty() ? std::string() : " at or before " + at) << "\n";
    return 1;
  }
  // A CDMA phone's listings are asked for with "AT+CMGL=0;" and "AT+CMGL=1;".
  const bool cdma = found.command.find(';') != std::string::npos;
  std::cout << "listed=" << found.when << " " << tovalink::EscapeTraceField(found.command) << "\n";
  tovalink::RealClock clock;
  PrintMessages(cdma ? tovalink::ReadInboxCdma(found.listing)
                     : tovalink::ReadInbox(found.listing, clock));
  return 0;
}

int Inbox(const std::vector<std::string>& args) {
  bool cdma = false;
  std::string trace;
  std::string at;
  for (size_t n = 1; n < args.size(); ++n) {
    if (args[n] == "--cdma") {
      cdma = true;
    } else if ((args[n] == "--trace" || args[n] == "--at") && n + 1 < args.size()) {
      (args[n] == "--trace" ? trace : at) = args[n + 1];
      ++n;
    } else {
      PrintUsage(std::cerr);
      return 2;
    }
  }
  if ((!at.empty() && trace.empty()) || (cdma && !trace.empty())) {
    PrintUsage(std::cerr);
    return 2;
  }
  if (!trace.empty()) return InboxFromTrace(trace, at);
  const std::string listing{std::istreambuf_iterator<char>(std::cin),
                            std::istreambuf_iterator<char>()};
  tovalink::RealClock clock;
  PrintMessages(cdma ? tovalink::ReadInboxCdma(listing) : tovalink::ReadInbox(listing, clock));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) {
    PrintUsage(std::cerr);
    return 2;
  }
  if (args[0] == "--help" || args[0] == "-h") {
    PrintUsage(std::cout);
    return 0;
  }
  if (args[0] == "decode") return Decode(args);
  if (args[0] == "encode") return Encode(args);
  if (args[0] == "inbox") return Inbox(args);
  std::cerr << "pdutool: unknown command \"" << args[0] << "\"\n";
  PrintUsage(std::cerr);
  return 2;
}
