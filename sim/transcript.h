#pragma once
// One line of the simulated modem's transcript, as the end-to-end harness reads it from
// modemsim's file and as the in-process port keeps it.

#include <cstdint>
#include <string>
#include <vector>

namespace tovalink {

struct TranscriptLine {
  int64_t ms = 0;  // since the simulator started (real or virtual milliseconds)
  std::string kind;
  std::vector<std::string> fields;
  // The first field, or "".
  std::string text() const { return fields.empty() ? std::string() : fields[0]; }
};

}  // namespace tovalink
