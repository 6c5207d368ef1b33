#include "settle/explain.h"

namespace tovalink {

void ExplainReply(Database& db, Clock& clock, const std::string& text,
                  const std::string& destination, std::ostream& out) {
  const int expected_count = destination == kNoSaleInHand ? 0 : 1;
  const SettleDecision decision =
      DecideReply(db, clock, text, destination, expected_count, TraceMode::kOn);
  for (const std::string& line : decision.trace) out << line << '\n';
}

}  // namespace tovalink
