#pragma once
// The rule tester: shows an operator why a reply text would or would not settle a sale,
// without settling anything.

#include <ostream>
#include <string>

#include "core/clock.h"
#include "settle/settle_reply.h"
#include "store/database.h"

namespace tovalink {

// Decides what `text` would settle for the sale in hand `destination` (kNoSaleInHand for
// none, with the expected count of the inbox pass, 0; any other destination with the
// channels' expected count, 1) and prints the steps as "key=value" lines: each marker pair
// and why it was skipped, the numbers searched, the candidate sales, each rule with the
// tests it failed, the match ("match=none", or "match=SUKSES idx=N sn=..." /
// "match=GAGAL idx=N") with the statement it would run, and "result=0|1|2".
// Reads only; database errors reach the caller.
void ExplainReply(Database& db, Clock& clock, const std::string& text,
                  const std::string& destination, std::ostream& out);

}  // namespace tovalink
