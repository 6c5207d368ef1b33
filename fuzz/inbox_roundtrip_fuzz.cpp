// Messages written by the simulator's own PDU codec (written apart from the module's), listed
// in any order and read back with ReadInbox. What must hold: every message comes back once,
// under its index, with its national sender, and the first listed part of each message holds
// the whole text in part order (as the module's single-byte text shows each GSM character)
// while its other parts come back empty.
//
// Input fields: the listing's options (number of messages, reference, order, one reference
// for all senders), then for each message its options (coding, multi-part, characters per
// part), its sender's digits and its text's bytes.
// Texts avoid what the reading is known to take otherwise: in a multi-part message a character
// below septet 5 marks the end of the header, and a message of more than 19 parts has a header
// septet above it.

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "core/clock.h"
#include "fuzz/fuzz_support.h"
#include "sim/gsm_pdu.h"
#include "sms/cp1252.h"
#include "sms/inbox.h"
#include "store/text.h"

namespace tovalink::fuzz {
namespace {

// The bytes the module shows where a single-byte text cannot hold the GSM character.
const std::map<int, unsigned char> kDepartures = {
    {9, 0xE7},  {10, 0x20}, {13, 0x20}, {16, 0xC6}, {18, 0xD5},  {19, 0xCD},  {20, 0xC3},
    {21, 0xD0}, {22, 0xD0}, {23, 0xD0}, {24, 0xD0}, {25, 0xD0},  {26, 0xD0},  {28, 0xD0},
    {29, 0xD0}, {64, 0x5F}, {93, 0x4E}, {96, 0xA8}, {125, 0x6E}, {127, 0x61},
};

// The extension characters (UTF-8) and what the module shows for each.
const std::pair<const char*, const char*> kExtensions[] = {
    {"^", "^"},   {"{", "{"},    {"}", "}"},
    {"\\", "\\"}, {"[", "["},    {"~", "~"},
    {"]", "]"},   {"|", "\x5F"}, {"\xE2\x82\xAC", "\xE8"},
};

struct Message {
  std::string sender;    // as sent, international
  std::string national;  // as the module must give it
  std::string utf8;      // the text as sent
  std::string shown;     // the text as the module must give it, before SqlSafe
  gsmpdu::Coding coding = gsmpdu::Coding::Gsm7;
  bool multipart = false;
  int part_size = 0;
};

Message MakeMessage(Fields& fields) {
  Message message;
  const std::string options = fields.Next() + std::string(2, '\0');
  const std::string digits = fields.Next();
  const std::string bytes = fields.Next();
  const auto flags = static_cast<unsigned char>(options[0]);
  message.coding = (flags & 1) ? gsmpdu::Coding::Ucs2 : gsmpdu::Coding::Gsm7;
  message.multipart = message.coding == gsmpdu::Coding::Gsm7 && (flags & 2);
  // Two septets at least, so that no part has to cut an escape from its partner.
  message.part_size = 2 + static_cast<unsigned char>(options[1]) % 152;

  std::string number = "8";
  for (size_t k = 0; k < digits.size() && k < 10; ++k) {
    number += static_cast<char>('0' + static_cast<unsigned char>(digits[k]) % 10);
  }
  while (number.size() < 4) number += '1';
  message.sender = "+62" + number;
  message.national = "0" + number;

  for (size_t k = 0; k < bytes.size(); ++k) {
    const auto byte = static_cast<unsigned char>(bytes[k]);
    if (message.coding == gsmpdu::Coding::Ucs2) {
      if (k >= 60) break;  // one part: the module does not join UCS2 parts
      if (byte == 0) {
        message.utf8 += "\xE2\x82\xAC";
        message.shown += '\xAC';  // the low byte of U+20AC
      } else {
        // The character U+00XX, whose low byte is the byte itself.
        if (byte < 0x80) {
          message.utf8 += static_cast<char>(byte);
        } else {
          message.utf8 += static_cast<char>(0xC0 | (byte >> 6));
          message.utf8 += static_cast<char>(0x80 | (byte & 0x3F));
        }
        message.shown += static_cast<char>(byte);
      }
      continue;
    }
    if (byte >= 0xF7) {
      const auto& extension = kExtensions[byte - 0xF7];
      message.utf8 += extension.first;
      message.shown += extension.second;
      continue;
    }
    int septet = byte & 0x7F;
    if (septet == 27) septet = 32;
    if (message.multipart && septet < 5) septet += 5;
    // A text whose first octets read 05 00 would be taken for a multi-part message.
    if (k == 0 && septet == 5) septet = 6;
    message.utf8 += gsmpdu::DecodeGsm7({static_cast<uint8_t>(septet)});
    const auto departure = kDepartures.find(septet);
    message.shown += departure != kDepartures.end()
                         ? std::string(1, static_cast<char>(departure->second))
                         : Utf8ToCp1252(gsmpdu::DecodeGsm7({static_cast<uint8_t>(septet)}));
  }
  return message;
}

}  // namespace
}  // namespace tovalink::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tovalink;
  using fuzz::Require;
  fuzz::Fields fields(data, size);
  const std::string options = fields.Next() + std::string(4, '\0');
  const int count = 1 + static_cast<unsigned char>(options[0]) % 4;
  const int reference = static_cast<unsigned char>(options[1]);
  unsigned order = static_cast<unsigned char>(options[2]);
  // Senders number their own messages, so two senders may use one reference.
  const bool shared_reference = static_cast<unsigned char>(options[3]) & 1;

  struct Listed {
    size_t message;
    size_t part;
    std::string pdu;
  };
  std::vector<fuzz::Message> messages;
  std::vector<Listed> listed;
  for (int m = 0; m < count; ++m) {
    fuzz::Message message = fuzz::MakeMessage(fields);
    if (message.utf8.empty()) return 0;
    gsmpdu::DeliverOptions deliver;
    deliver.reference = shared_reference ? reference : (reference + m) % 256;
    for (const fuzz::Message& other : messages) {
      // One sender's two messages under one reference cannot be told apart by anyone.
      if (shared_reference && other.sender == message.sender) return 0;
    }
    deliver.force_multipart = message.multipart;
    if (message.multipart) deliver.part_size = message.part_size;
    std::vector<std::string> pdus;
    try {
      pdus = gsmpdu::EncodeDeliver(message.sender, message.utf8, message.coding, deliver);
    } catch (const std::runtime_error&) {
      return 0;  // more than 255 parts: no sender can write such a message
    }
    // A lone part waits for its other parts (tested apart); long messages are out of range.
    if (pdus.size() > 19 || (message.multipart && pdus.size() < 2)) return 0;
    if (message.coding == gsmpdu::Coding::Ucs2 && pdus.size() != 1) return 0;
    // A text too long for one part is cut even when no parts were asked for; its characters
    // were not kept clear of the header's end.
    if (!message.multipart && pdus.size() > 1) return 0;
    for (size_t part = 0; part < pdus.size(); ++part) {
      listed.push_back({messages.size(), part, pdus[part]});
    }
    messages.push_back(message);
  }
  // Any order: rotate and swap by the listing's options.
  for (size_t k = listed.size(); k > 1; --k) {
    std::swap(listed[k - 1], listed[order % k]);
    order = order * 1103515245u + 12345u;
  }

  std::string listing = "AT+CMGL=4\r\r\n";
  for (size_t k = 0; k < listed.size(); ++k) {
    listing += "+CMGL: " + std::to_string(k + 1) + ",1,," +
               std::to_string(gsmpdu::TpduLength(listed[k].pdu)) + "\r\n" + listed[k].pdu + "\r\n";
  }
  listing += "\r\nOK\r\n";

  VirtualClock clock;
  const std::vector<ReceivedMessage> read = ReadInbox(listing, clock);
  Require(read.size() == listed.size(), "every part comes back", listing);
  std::vector<bool> seen(messages.size(), false);
  for (size_t k = 0; k < read.size(); ++k) {
    const fuzz::Message& message = messages[listed[k].message];
    Require(read[k].index == static_cast<int>(k + 1), "index");
    Require(read[k].sender == message.national, "sender", read[k].sender, message.national);
    const bool first = !seen[listed[k].message];
    seen[listed[k].message] = true;
    const std::string expected = first ? SqlSafe(message.shown) : "";
    Require(read[k].text == expected, "text", read[k].text, expected);
  }
  return 0;
}
