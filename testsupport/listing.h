#pragma once
// Message listings as a modem in PDU mode answers "AT+CMGL=4\r", built with the simulator's
// own PDU codec, so that the module's reader is checked against an independent writer.

#include <string>
#include <utility>
#include <vector>

namespace tovalink {

struct ListedPdu {
  int index = 1;
  std::string pdu;  // an SMS-DELIVER PDU as hex text, with its "00" service-centre part
};

// "+CMGL: <index>,1,,<length>" and the PDU for each entry, after `head` (the echo of the
// command, or a line end), closed by "\r\nOK\r\n".
std::string PduListing(const std::vector<ListedPdu>& entries, const std::string& head = "\r\n");

// The PDUs numbered from `first_index` in order.
std::vector<ListedPdu> Numbered(const std::vector<std::string>& pdus, int first_index = 1);

// The 7-bit SMS-DELIVER PDUs of (sender, text) messages, a long text cut into its parts.
std::vector<std::string> DeliverPdus(
    const std::vector<std::pair<std::string, std::string>>& messages);

// The listing of (sender, text) messages numbered from 1: the usual case.
std::string MessageListing(const std::vector<std::pair<std::string, std::string>>& messages);

}  // namespace tovalink
