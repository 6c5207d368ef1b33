#pragma once
// Throughput of the SMS codec on one core: DecodePdu on single-part messages (the tests'
// vectors: a 7-bit reply from an international sender, a short 7-bit text from a national
// sender, a UCS2 text) taken in turn, and ReadInbox on a listing of an operator's replies
// with one two-part message among them.
//
// Runs on the calling thread, which it keeps on the processor it started on.

#include <ostream>

namespace tovalink {

struct CodecResult {
  double decodes_per_second = 0;         // single-part DecodePdu calls
  double inbox_messages_per_second = 0;  // messages ReadInbox returned
};

// Each measurement runs for about `seconds`; the best of three is kept.
CodecResult RunCodecBench(double seconds, std::ostream& progress);

}  // namespace tovalink
