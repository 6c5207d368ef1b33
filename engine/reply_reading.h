#pragma once
// Reading the operator's replies. Every channel, the supplier requests and the worker's inbox
// pass do the same with the messages of a listing: log each one, settle it, delete it from
// the modem. What differs between them is named in ReplyOptions, so that there is one reader
// and no copies of it.
//
// A message is deleted only after its log row and its settlement have been written: when a
// statement fails, the error reaches the caller and the message stays in the modem's store
// for the next reading.
//
// Runs on the worker thread.

#include <string>
#include <vector>

#include "engine/module.h"
#include "settle/settle_reply.h"
#include "sms/inbox.h"

namespace tovalink {

// How a message's text is cleaned before it is logged and settled.
enum class TextCleaning {
  AsListed,       // as the listing reader gave it (ReadInbox has made it safe already)
  SqlSafe,        // SqlSafe again: the CDMA listings give texts with line ends and slashes
  WithoutQuotes,  // every double and single quote removed
};

// Texts holding "aaaaaaaaa" are the filler some operators send; the worker's first pass leaves
// them unread (but deletes them).
enum class FillerMessages { Read, Skip };

// "BEF PARSING" and "AF PARSING" in msaldo around each settlement (the worker's first pass).
enum class ParsingDisplay { Hidden, Shown };

// What a failing log row does: reach the caller, or show "ERRINSERT logtrxsms" in the first
// status-bar panel and go on to settle and delete the message (the wallet's reading).
enum class LogFailure { Raise, ShowAndGoOn };

// Whether CollectReplies first waits for the modem's new-message indication, or lists the
// store at once (a dial has just waited for it).
enum class NewMessageWait { Wait, Skip };

// What a listing that cannot be read does: reach the caller, or show "ERROR BACA SMS" in the
// first status-bar panel and count as a listing without messages (the wallet's reading).
enum class ListingFailure { Raise, ShowAndGoOn };

class SaleInHand;

struct ReplyOptions {
  // The sale whose replies these are (it is told when one settles it); none for the inbox
  // pass and the supplier requests, which settle with the destination "xxxxxx".
  SaleInHand* in_hand = nullptr;
  int expected_count = 1;  // the count the sale in hand must have
  TextCleaning cleaning = TextCleaning::AsListed;
  FillerMessages filler = FillerMessages::Read;
  ParsingDisplay parsing = ParsingDisplay::Hidden;
  LogFailure log_failure = LogFailure::Raise;
  int delete_timeout_seconds = 1;  // of "AT+CMGD="
  NewMessageWait wait = NewMessageWait::Wait;              // CollectReplies only
  ListingFailure listing_failure = ListingFailure::Raise;  // CollectReplies only
};

struct ReplyReading {
  // The first result that settled the sale in hand, NotSettled when none did.
  Settlement result = Settlement::NotSettled;
  std::string last_text;  // the text of the last message listed, as listed; "" without one
  std::string listing;    // the raw listing (CollectReplies)
  size_t messages = 0;    // how many messages were read, each of them deleted
};

// Logs and settles each message in listing order, unless its sender is an operator notice or
// it is a skipped filler, and deletes every one of them.
ReplyReading ReadReplies(Module& module, const std::vector<ReceivedMessage>& messages,
                         const ReplyOptions& options);

// The module's waiting time (`etunggu`) in whole seconds: the timeout of every wait for an
// operator's answer. Raises std::runtime_error when it is not a whole number.
int WaitingTime(const Module& module);

// "AT+CMGF=0\r" with the module's waiting time (`etunggu`, whole seconds) as timeout: returns
// as soon as the modem announces a new message ("CMT") or when the time is up. Raises
// std::runtime_error when the waiting time is not a whole number.
void WaitForNewMessage(Module& module);

// "AT+CMGL=4\r" (10 s): the listing of every stored message.
std::string ListMessages(Module& module);

// The usual round after a request: WaitForNewMessage (unless options.wait says Skip),
// ListMessages, ReadInbox, ReadReplies.
ReplyReading CollectReplies(Module& module, const ReplyOptions& options);

}  // namespace tovalink
