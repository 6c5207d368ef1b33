// pdutool: a technician's look at the module's SMS codec. It decodes a received PDU as the
// module reads it, encodes a text as the module sends it, and reads a whole listing.
// Texts on the command line and on the screen are UTF-8; the codec works on Windows-1252.

#include <cstdint>
#include <cstdio>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "core/clock.h"
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

int Inbox(const std::vector<std::string>& args) {
  const bool cdma = args.size() == 2 && args[1] == "--cdma";
  if (args.size() > 2 || (args.size() == 2 && !cdma)) {
    PrintUsage(std::cerr);
    return 2;
  }
  const std::string listing{std::istreambuf_iterator<char>(std::cin),
                            std::istreambuf_iterator<char>()};
  tovalink::RealClock clock;
  const std::vector<tovalink::ReceivedMessage> messages =
      cdma ? tovalink::ReadInboxCdma(listing) : tovalink::ReadInbox(listing, clock);
  std::cout << "count=" << messages.size() << "\n";
  for (const tovalink::ReceivedMessage& message : messages) {
    std::cout << "index=" << message.index << "\n"
              << "sender=" << message.sender << "\n"
              << "text=" << Cp1252ToUtf8(message.text) << "\n"
              << "text_hex=" << HexBytes(message.text) << "\n";
  }
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
