#include "engine/reply_reading.h"

#include <stdexcept>

#include "engine/sale_in_hand.h"
#include "store/text.h"

namespace tovalink {

namespace {

std::string Cleaned(const std::string& text, TextCleaning cleaning) {
  switch (cleaning) {
    case TextCleaning::AsListed:
      return text;
    case TextCleaning::SqlSafe:
      return SqlSafe(text);
    case TextCleaning::WithoutQuotes:
      return ReplaceAll(ReplaceAll(text, "\"", ""), "'", "");
  }
  return text;
}

bool IsFiller(const std::string& text) { return text.find("aaaaaaaaa") != std::string::npos; }

// Settles a reply with no sale in hand, naming in the journal the sale it settled.
Settlement SettleUnattended(Module& module, const std::string& text, int expected_count) {
  const SettleDecision decision =
      DecideReply(module.db, module.clock, text, kNoSaleInHand, expected_count);
  if (decision.update.empty()) return decision.result;
  module.db.ExecSql(decision.update);
  module.form.Log(LogPriority::Notice, "Transaksi " + std::to_string(decision.idx) + " " +
                                           decision.tipepesan +
                                           (decision.sn.empty() ? "" : " SN " + decision.sn));
  return decision.result;
}

}  // namespace

ReplyReading ReadReplies(Module& module, const std::vector<ReceivedMessage>& messages,
                         const ReplyOptions& options) {
  ReplyReading reading;
  for (const ReceivedMessage& message : messages) {
    if (module.Ending()) break;
    reading.last_text = message.text;
    const bool skipped = IsOperatorNotice(message.sender) ||
                         (options.filler == FillerMessages::Skip && IsFiller(message.text));
    if (!skipped) {
      const std::string text = Cleaned(message.text, options.cleaning);
      try {
        LogExchange(module, message.sender, text);
      } catch (const std::exception&) {
        if (options.log_failure == LogFailure::Raise) throw;
        module.form.SetStatusPanel(0, "ERRINSERT logtrxsms");
      }
      if (options.parsing == ParsingDisplay::Shown) module.form.SetMsaldo("BEF PARSING");
      KeepFirst(reading.result, options.in_hand != nullptr
                                    ? options.in_hand->Settle(text)
                                    : SettleUnattended(module, text, options.expected_count));
      if (options.parsing == ParsingDisplay::Shown) module.form.SetMsaldo("AF PARSING");
    }
    std::string ignored;
    module.exchange.SendAT("AT+CMGD=" + std::to_string(message.index) + "\r",
                           options.delete_timeout_seconds, "OK\r\n", "ERROR", ignored);
    ++reading.messages;
  }
  return reading;
}

int WaitingTime(const Module& module) {
  int waiting = 0;
  if (!ReadWholeNumber(module.form.etunggu, waiting)) {
    throw std::runtime_error("waktutunggu \"" + module.form.etunggu + "\" is not a whole number");
  }
  return waiting;
}

void WaitForNewMessage(Module& module) {
  std::string ignored;
  module.exchange.SendAT("AT+CMGF=0\r", WaitingTime(module), "CMT", "ERROR", ignored);
}

std::string ListMessages(Module& module) {
  std::string listing;
  module.exchange.SendAT("AT+CMGL=4\r", 10, "OK\r\n", "ERROR", listing);
  return listing;
}

ReplyReading CollectReplies(Module& module, const ReplyOptions& options) {
  if (options.wait == NewMessageWait::Wait) WaitForNewMessage(module);
  const std::string listing = ListMessages(module);
  std::vector<ReceivedMessage> messages;
  try {
    messages = ReadInbox(listing, module.clock);
  } catch (const std::exception&) {
    if (options.listing_failure == ListingFailure::Raise) throw;
    module.form.SetStatusPanel(0, "ERROR BACA SMS");
  }
  ReplyReading reading = ReadReplies(module, messages, options);
  reading.listing = listing;
  return reading;
}

}  // namespace tovalink
