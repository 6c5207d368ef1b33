#include "sms/send_sms.h"

#include <mutex>
#include <random>
#include <vector>

#include "sms/pdu_encode.h"
#include "store/text.h"

namespace tovalink {

int NextConcatenationReference() {
  static std::mutex mutex;
  static std::mt19937 generator{std::random_device{}()};
  static int previous = 0;
  const std::lock_guard<std::mutex> lock(mutex);
  std::uniform_int_distribution<int> draw(1, 79);
  int reference = draw(generator);
  while (reference == previous) reference = draw(generator);
  previous = reference;
  return reference;
}

SmsResult SendSms(Exchange& exchange, const std::string& number, const std::string& text) {
  const std::string cleaned = ReplaceAll(ReplaceAll(number, " ", ""), "+62", "0");
  for (const char c : cleaned) {
    if (c < '0' || c > '9') return SmsResult::Failed;
  }
  const std::vector<std::string> pdus =
      EncodePdu(cleaned, ReplaceAll(text, "\r\n", "\r"), NextConcatenationReference());
  if (pdus.empty()) return SmsResult::Sent;

  std::string reply;
  for (const std::string& pdu : pdus) {
    // The length counts the octets after the service-centre part ("00").
    const size_t length = (pdu.size() - 2) / 2;
    reply.clear();
    exchange.SendAT("AT+CMGS=" + std::to_string(length) + "\r", 10, ">", "ERROR", reply);
    // The PDU goes out whatever the prompt reply was: the answer to the PDU decides.
    reply.clear();
    exchange.SendAT(pdu + "\x1A", 20, "OK\r\n", "ERROR", reply);
  }
  // Only a confirmed last part counts as sent: a timed-out part may never have left the modem.
  if (reply.find("ERROR") != std::string::npos) return SmsResult::Failed;
  if (reply.find("+CMGS") != std::string::npos || reply.find("OK") != std::string::npos) {
    return SmsResult::Sent;
  }
  // No answer because STOP came: the exchange sent nothing, which is no failure of the modem.
  return exchange.Stopped() ? SmsResult::Stopped : SmsResult::Failed;
}

}  // namespace tovalink
