#include "testsupport/listing.h"

#include "sim/gsm_pdu.h"

namespace tovalink {

std::string PduListing(const std::vector<ListedPdu>& entries, const std::string& head) {
  std::string listing = head;
  for (const ListedPdu& entry : entries) {
    listing += "+CMGL: " + std::to_string(entry.index) + ",1,," +
               std::to_string(gsmpdu::TpduLength(entry.pdu)) + "\r\n" + entry.pdu + "\r\n";
  }
  return listing + "\r\nOK\r\n";
}

std::vector<ListedPdu> Numbered(const std::vector<std::string>& pdus, int first_index) {
  std::vector<ListedPdu> entries;
  for (const std::string& pdu : pdus) entries.push_back({first_index++, pdu});
  return entries;
}

std::vector<std::string> DeliverPdus(
    const std::vector<std::pair<std::string, std::string>>& messages) {
  std::vector<std::string> pdus;
  for (const auto& [sender, text] : messages) {
    for (std::string& pdu : gsmpdu::EncodeDeliver(sender, text, gsmpdu::Coding::Gsm7)) {
      pdus.push_back(std::move(pdu));
    }
  }
  return pdus;
}

std::string MessageListing(const std::vector<std::pair<std::string, std::string>>& messages) {
  return PduListing(Numbered(DeliverPdus(messages)));
}

}  // namespace tovalink
